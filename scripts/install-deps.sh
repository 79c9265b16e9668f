#!/usr/bin/env bash
# Installs the Debian packages Varnel needs to build, run and test; with "fuzz", also what the
# fuzz targets need (fuzz/run.sh calls it so).
# Idempotent: when everything is present it installs nothing and prints nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config   # compiler and build system
  qt6-base-dev qt6-base-dev-tools    # Qt 6 Core, Gui, Widgets, PrintSupport and Test
  fonts-dejavu-core                  # a font for the status bar, labels and offscreen tests
  libtiff-dev                        # TIFF maps
  libpng-dev                         # PNG pictures inside icons, tried before Qt's reader decodes them
  libgeotiff-dev                     # GeoTIFF georeference keys
  libproj-dev proj-data              # UTM inverse projection of GeoTIFF frames
  libgdal-dev                        # control-point transformers (polynomials, thin-plate spline)
  gdal-bin                           # tests only: gdaltransform as a second opinion on the command line's read-out
  libgtest-dev libgmock-dev          # unit tests
  libbenchmark-dev                   # benchmarks in bench/
  libzstd-dev zstd                   # benchmarks only: the coder is timed against zstd's decompression
  xvfb xdotool                       # the test that starts, kills and restarts a real varnel
  qt6-svg-dev                        # renders the icons' SVG drawings to PNG at build time
  file groff-base dpkg-dev           # checks of the install: icon sizes, manual pages, package dependencies
  desktop-file-utils appstream libxml2-utils shared-mime-info xdg-utils libfile-mimeinfo-perl
)
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)  # clang 14 with its libFuzzer and sanitizer runtimes
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
