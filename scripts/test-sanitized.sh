#!/usr/bin/env bash
# Builds the test programs once more with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs the suite there: a read past a buffer, a signed overflow or a
# conversion out of range fails the test that reaches it. The process tests, which start the
# programs themselves (crash recovery, command lines, memory limits, the install check), run in
# the normal build only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# -O1 with line tables only: half the compile time of -O2 -g, and the sanitizers' reports still
# name file and line.
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DVARNEL_SANITIZE=ON -DVARNEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize -j"$(nproc)" --target varnel_core_tests varnel_gui_tests
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)" -E '^(crash_recovery|command_lines|out_of_memory|install_check)$'
