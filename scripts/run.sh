#!/usr/bin/env bash
# Installs what is needed, builds, and starts Varnel on the bundled sample map.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/varnel "${1:-samples/RGB.byte.tif}"
