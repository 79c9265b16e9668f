#!/usr/bin/env bash
# Help, version and mistakes on both programs' command lines: the exit status, the stream and the
# first words of the answer, with no display at all (nothing may open a window or need X).
# Usage: command_lines.sh VARNEL VARNEL_CLI
set -uo pipefail
varnel=$1 cli=$2
map=$(dirname "$0")/../../samples/RGB.byte.tif
version=$(sed -n 's/^project(Varnel VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
failures=0

# expect STATUS STREAM PATTERN -- COMMAND...   (STREAM is out or err; PATTERN an extended regex
# the stream's first line must match; the other stream must stay empty)
expect() {
    local status=$1 stream=$2 pattern=$3
    shift 4
    local out err code
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" 2>/tmp/command_lines.$$)
    code=$?
    err=$(cat /tmp/command_lines.$$)
    rm -f /tmp/command_lines.$$
    local said=$out quiet=$err
    [ "$stream" = err ] && said=$err quiet=$out
    if [ "$code" -ne "$status" ] || ! head -1 <<<"$said" | grep -Eq "$pattern" || [ -n "$quiet" ]; then
        echo "FAIL: $* -> status $code (want $status)"
        echo "  stdout: ${out:0:300}"
        echo "  stderr: ${err:0:300}"
        failures=$((failures + 1))
    fi
}

expect 0 out '^Usage: varnel \[options\] \[file\]$'   -- "$varnel" --help
expect 0 out '^Usage: varnel '                        -- "$varnel" -h
expect 0 out "^varnel $version\$"                     -- "$varnel" --version
expect 0 out "^varnel $version\$"                     -- "$varnel" -platform offscreen --version
expect 2 err "^varnel: Unknown option 'frobnicate'"  -- "$varnel" --frobnicate map.jpg
expect 0 out '^usage: varnel-cli COMMAND ARGS'        -- "$cli" --help
expect 0 out "^varnel-cli $version\$"                 -- "$cli" --version
expect 2 err '^varnel-cli: unknown option --frob'     -- "$cli" --frob
expect 0 out '^usage: varnel-cli output WORKSPACE '   -- "$cli" output --help
expect 0 out '^usage: varnel-cli fit --width W '      -- "$cli" fit points.csv --help
# A wrong command line is status 2, whatever is wrong in it.
expect 2 err '^usage: varnel-cli COMMAND ARGS'        -- "$cli"
expect 2 err '^usage: varnel-cli COMMAND ARGS'        -- "$cli" frob
expect 2 err '^varnel-cli info: unknown option --frob' -- "$cli" info --frob x.pws
expect 2 err '^varnel-cli export: unknown option --frob' -- "$cli" export "$map" --frob=1 --format world -o x.wld
expect 2 err '^varnel-cli export: usage: varnel-cli export FILE' -- "$cli" export "$map" --format world
expect 2 err '^varnel-cli export: a world file describes the whole picture' -- "$cli" export "$map" --format world --range 0,1,0,1 -o x.wld
expect 2 err '^varnel-cli export: -o - writes text outputs only' -- "$cli" export "$map" --format geotiff -o -
# --name=value is --name value; -o - puts a text output alone on standard output.
expect 0 out '^#CRS: '                                -- "$cli" export "$map" --format=points -o -
expect 0 out '^latitude,longitude,'                   -- "$cli" export --format=csv -o - "$map"
# A world file: GDAL's pixel sizes of the sample and the centre of its first pixel; no .prj.
world=$("$cli" export "$map" --format world -o - 2>/tmp/command_lines.$$ | tr '\n' ' ')
[ "$world" = "300.03792667509481 0 0 -300.04178272980499 102135.01896333754 2826764.9791086349 " ] &&
    grep -q '\.prj' /tmp/command_lines.$$ || { echo "FAIL: export --format world -o - wrote: $world"; failures=$((failures + 1)); }

# No output replaces an input, by any name that leads to it (a link, a hard link, the .prj beside
# a world file): status 1, and every file stays as it was.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$map" "$work/map.tif" && cp "$map" "$work/m.prj" && ln -s map.tif "$work/link.tif" && ln "$work/map.tif" "$work/hard.tif"
coefficients=1,0,0,0,0,1,0,0,0,0,0,0,0,0,0,0
bmp=$(dirname "$0")/../data/pictures/bmp/pal8.bmp
cp "$bmp" "$work/pal8.bmp" && "$cli" pack --format gpf --coef $coefficients "$bmp" -o "$work/p.gpf" >/dev/null
while read -r -a words; do
    before=$(cd "$work" && md5sum *)
    refusal=$("$cli" "${words[@]/#@/$work/}" 2>&1 >/dev/null)
    code=$?
    [ "$code" -eq 1 ] && grep -q 'is the same file as the input' <<<"$refusal" && [ "$(cd "$work" && md5sum *)" = "$before" ] ||
        { echo "FAIL: ${words[*]} -> status $code: ${refusal:0:300}"; failures=$((failures + 1)); }
done <<EOF
export @map.tif --format world -o @map.tif
export @map.tif --format=geotiff -o @link.tif
export @link.tif --format=csv -o @hard.tif
export @m.prj --format world -o @m.wld
pack --format dpf --coef $coefficients @pal8.bmp -o @pal8.bmp
unpack @p.gpf -o @p.gpf
EOF

# A device, a FIFO or standard output is written into: -o /dev/stdout puts the file before the
# JSON, on a pipe and in a file the shell opened alike.
size=$(stat -c %s "$work/p.gpf")
for into in pipe file; do
    if [ $into = pipe ]; then
        "$cli" pack --format gpf --coef $coefficients "$bmp" -o /dev/stdout | cat >"$work/piped"
    else
        "$cli" pack --format gpf --coef $coefficients "$bmp" -o /dev/stdout >"$work/piped"
    fi
    head -c "$size" "$work/piped" | cmp -s - "$work/p.gpf" && tail -c +$((size + 1)) "$work/piped" | grep -q '^{"width"' ||
        { echo "FAIL: pack -o /dev/stdout into a $into wrote: $(head -c 100 "$work/piped" | od -c | head -2)"; failures=$((failures + 1)); }
done

# Every command's usage, from the command list: its --help starts with it, and a command given
# no arguments refuses with it (after a line saying what is missing, for some).
commands=$("$cli" --help | sed -n '/^commands:$/,/^options:$/{/^  /p}')
[ -n "$commands" ] || { echo "FAIL: varnel-cli --help lists no commands"; failures=$((failures + 1)); }
while IFS= read -r line; do
    usage="usage: varnel-cli ${line#  }"
    usage=${usage%%   *}
    name=${line#  }
    name=${name%% *}
    if [ "$("$cli" "$name" --help | head -1)" != "$usage" ]; then
        echo "FAIL: varnel-cli $name --help does not start with: $usage"
        failures=$((failures + 1))
    fi
    refusal=$(env -u DISPLAY "$cli" "$name" 2>&1 >/dev/null)
    code=$?
    if [ "$code" -ne 2 ] || ! grep -Fq -- "$usage" <<<"$refusal"; then
        echo "FAIL: varnel-cli $name without arguments -> status $code: ${refusal:0:300}"
        failures=$((failures + 1))
    fi
done <<<"$commands"

# --progress, before or after the command, writes whole percentages on standard error up to 100;
# without it standard error stays empty. The JSON answer is the same either way.
plain=$("$cli" geotiff "$map" 2>/tmp/command_lines.$$)
[ -s /tmp/command_lines.$$ ] && { echo "FAIL: geotiff without --progress wrote on stderr"; failures=$((failures + 1)); }
for where in before after; do
    if [ $where = before ]; then answer=$("$cli" --progress geotiff "$map" 2>/tmp/command_lines.$$)
    else answer=$("$cli" geotiff "$map" --progress 2>/tmp/command_lines.$$); fi
    if [ "$answer" != "$plain" ] || ! grep -Eqx '[0-9]{1,2}%' /tmp/command_lines.$$ ||
       [ "$(tail -1 /tmp/command_lines.$$)" != 100% ] || grep -Evqx '[0-9]{1,3}%' /tmp/command_lines.$$; then
        echo "FAIL: geotiff with --progress $where the command: $(head -c 200 /tmp/command_lines.$$)"
        failures=$((failures + 1))
    fi
done
rm -f /tmp/command_lines.$$

[ "$failures" -eq 0 ] || { echo "$failures command line(s) answered wrongly"; exit 1; }
