#!/usr/bin/env bash
# Installs what is needed, builds Varnel for installing under /usr and makes its Debian package;
# prints the package's path. Install it with: sudo apt install ./build-package/varnel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB >/dev/null)
ls "$PWD"/build-package/varnel_*.deb
