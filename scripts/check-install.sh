#!/usr/bin/env bash
# Checks that Varnel installs as a desktop application should, from an already built build folder:
#  - `cmake --install` into a staging folder yields every file, and the desktop entry, the AppStream
#    metainfo, the MIME package and the manual pages pass their validators;
#  - the MIME package names each of Varnel's files by name and by content, and the desktop entry
#    makes Varnel the program that opens them;
#  - `cpack -G DEB` builds a package whose dependencies were read off the linked libraries, with its
#    copyright file and changelog, on which lintian (when installed) finds no error and no warning.
# With --system (as root; changes the machine) it then installs the package with apt, runs the
# installed programs, asks xdg-mime what a workspace is, and removes the package again.
# With --clean-debian (as root; downloads about 100 MB) it does the same in a fresh minimal Debian 12
# made with debootstrap, where apt must find every dependency the package names.
# Usage: scripts/check-install.sh [--system|--clean-debian] [BUILD_FOLDER]   (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
system=0 clean=0
case "${1:-}" in
--system) system=1; shift ;;
--clean-debian) clean=1; shift ;;
esac
build=$(realpath "${1:-build}")
source=$PWD
app_id=org.varnel.Varnel
version=$(sed -n 's/^project(Varnel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

work=$(mktemp -d)
root=
cleanup() {
    [ -n "$root" ] && umount "$root/proc" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "check-install: $*" >&2; failures=$((failures + 1)); }
step() { echo "== $*"; }

step "staging install"
stage=$work/stage
cmake --install "$build" --prefix "$stage" >/dev/null
expected=(
    bin/varnel bin/varnel-cli libexec/varnel/varnel-cli-tool libexec/varnel/varnel-cli-unpack
    share/applications/$app_id.desktop
    share/metainfo/$app_id.metainfo.xml
    share/mime/packages/$app_id.xml
    share/man/man1/varnel.1.gz share/man/man1/varnel-cli.1.gz
    share/doc/varnel/copyright share/doc/varnel/changelog.gz
    share/icons/hicolor/scalable/apps/$app_id.svg
    share/icons/hicolor/scalable/mimetypes/application-x-varnel-workspace.svg
    share/icons/hicolor/scalable/mimetypes/application-x-varnel-projection.svg
)
for size in 16 32 48 64 128 256; do
    expected+=(share/icons/hicolor/${size}x${size}/apps/$app_id.png
               share/icons/hicolor/${size}x${size}/mimetypes/application-x-varnel-workspace.png
               share/icons/hicolor/${size}x${size}/mimetypes/application-x-varnel-projection.png)
done
for file in "${expected[@]}"; do
    [ -s "$stage/$file" ] || fail "the install lacks $file"
done
for size in 16 32 48 64 128 256; do
    for png in "$stage"/share/icons/hicolor/${size}x${size}/*/*.png; do
        file -b "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not a $size-pixel PNG: $(file -b "$png")"
    done
done

step "validators"
# Hints too: two main categories put the entry twice in a menu.
complaints=$(desktop-file-validate "$stage/share/applications/$app_id.desktop" 2>&1 || true)
[ -z "$complaints" ] || fail "desktop-file-validate: $complaints"
grep -q '^GenericName=Map Geo-coder$' "$stage/share/applications/$app_id.desktop" || fail "the desktop entry's generic name"
# With the network checks: every address the metainfo names must answer (there is none to fetch).
appstreamcli validate --explain "$stage/share/metainfo/$app_id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; fail "appstreamcli validate"; }
grep -q "<release version=\"$version\"" "$stage/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo has no release entry for version $version"
xmllint --noout "$stage/share/mime/packages/$app_id.xml" || fail "xmllint on the MIME package"
for page in varnel varnel-cli; do
    warnings=$(zcat "$stage/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "the manual page $page.1 has groff warnings: $warnings"
    zcat "$stage/share/man/man1/$page.1.gz" | grep -q "Varnel $version" || fail "the manual page $page.1 names another version"
done
zcat "$stage/share/doc/varnel/changelog.gz" | head -1 | grep -q "^varnel ($version) " ||
    fail "the changelog's latest entry is not for version $version"

step "file types by name and by content"
# (update-mime-database remarks that the staging folder is not on the search path; it is below.)
update-mime-database "$stage/share/mime" >/dev/null 2>&1 || fail "update-mime-database on the staging folder"
update-desktop-database "$stage/share/applications"
cli=$stage/bin/varnel-cli
samples=$work/samples
mkdir -p "$samples"
cp tests/data/pictures/bmp/pal8.pws "$samples/x.pws"
coefficients=1,0,0,0,0,1,0,0,0,0,0,0,0,0,0,0
for flavour in gpf dpf cpf; do
    "$cli" pack --format $flavour --coef $coefficients tests/data/pictures/bmp/pal8.bmp -o "$samples/x.$flavour" >/dev/null
done
for file in x.pws x.gpf x.dpf x.cpf; do
    extension=${file#x.}
    type=application/x-varnel-$extension
    [ "$extension" = pws ] && type=application/x-varnel-workspace
    cp "$samples/$file" "$samples/unnamed-$extension.dat"
    for sample in "$file" "unnamed-$extension.dat"; do
        found=$(env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_DATA_HOME="$work/nohome" \
                    XDG_DATA_DIRS="$stage/share:/usr/share" xdg-mime query filetype "$samples/$sample")
        [ "$found" = "$type" ] || fail "xdg-mime names $sample $found, not $type"
    done
    opener=$(env -u XDG_CURRENT_DESKTOP XDG_DATA_HOME="$work/nohome" XDG_CONFIG_HOME="$work/noconfig" \
                 XDG_DATA_DIRS="$stage/share:/usr/share" xdg-mime query default "$type")
    [ "$opener" = "$app_id.desktop" ] || fail "xdg-mime opens $type with '$opener', not $app_id.desktop"
done

step "Debian package"
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/package/varnel_"$version"_*.deb 2>/dev/null | head -1)
if [ -z "$deb" ]; then
    fail "cpack made no varnel_${version}_*.deb"
else
    depends=$(dpkg-deb -f "$deb" Depends)
    for library in libqt6widgets6 libqt6printsupport6 libtiff6 libgeotiff5 libproj25 libgdal32 qt6-qpa-plugins; do
        grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
    done
    listing=$(dpkg-deb -c "$deb")
    for file in "${expected[@]}"; do
        grep -q "\./usr/$file\$" <<<"$listing" || fail "the package lacks /usr/$file"
    done
    if command -v lintian >/dev/null; then
        lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
            { grep -v 'root privileges' "$work/lintian.log"; fail "lintian finds errors or warnings in the package"; }
    fi
fi

# Installs the package with apt (on this machine, or in the fresh Debian under $1), tries the
# installed programs and the workspace file type, and removes the package again.
check_installed_package() {
    local on=(env) at=${1:-} place=$samples
    if [ -n "$at" ]; then
        on=(chroot "$at") place=/tmp
        cp "$samples/x.pws" "$at/tmp/"
    fi
    cp "$deb" "${at}$place/"
    "${on[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$place/$(basename "$deb")" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; fail "apt install of the package"; return; }
    [ "$("${on[@]}" varnel-cli --version)" = "varnel-cli $version" ] || fail "the installed varnel-cli --version"
    "${on[@]}" varnel-cli info "$place/x.pws" >/dev/null || fail "the installed varnel-cli info, which the tool behind it runs"
    [ "$("${on[@]}" env -u DISPLAY varnel --version)" = "varnel $version" ] || fail "the installed varnel --version"
    local found
    found=$("${on[@]}" sh -c "cd '$place' && env -u XDG_CURRENT_DESKTOP xdg-mime query filetype x.pws")
    [ "$found" = application/x-varnel-workspace ] || fail "xdg-mime query filetype x.pws names '$found' after the install"
    # The window comes up on the installed platform plugins and stays up on a workspace.
    local status=0
    "${on[@]}" timeout 5 varnel -platform offscreen "$place/x.pws" >/dev/null 2>&1 || status=$?
    [ "$status" -eq 124 ] || fail "the installed varnel ended with status $status instead of running"
    "${on[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq varnel >/dev/null 2>&1 || fail "apt remove varnel"
}

if [ "$system" -eq 1 ] && [ -n "${deb:-}" ]; then
    step "apt install of the package on this machine"
    [ "$(id -u)" -eq 0 ] || { fail "--system needs root"; exit 1; }
    check_installed_package
fi
if [ "$clean" -eq 1 ] && [ -n "${deb:-}" ]; then
    step "apt install of the package in a fresh Debian 12"
    [ "$(id -u)" -eq 0 ] || { fail "--clean-debian needs root"; exit 1; }
    command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    root=$work/debian
    debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1 ||
        { tail "$work/debootstrap.log"; fail "debootstrap"; exit 1; }
    cp /etc/resolv.conf "$root/etc/"
    mount -t proc proc "$root/proc"
    chroot "$root" apt-get update -qq
    # xdg-mime is the question asked; it comes with xdg-utils, as on any desktop.
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xdg-utils >/dev/null 2>&1
    check_installed_package "$root"
fi

[ "$failures" -eq 0 ] || { echo "check-install: $failures check(s) failed" >&2; exit 1; }
echo "check-install: all checks passed"
