#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/ and runs them one after another, each for the given number of seconds (default
# 1800), seeded from fuzz/seeds and the test data, with leak detection on. Findings (crash-*,
# leak-*, timeout-*, slow-unit-*, oom-*) go to build-fuzz/findings/TARGET/; each run's log to
# build-fuzz/logs/TARGET.log. Installs Debian's clang and libclang-rt-14-dev when they are missing
# (see fuzz/README.md).
#
#   fuzz/run.sh [SECONDS] [TARGET...]     TARGET: workspace projection huffman tiff picture metafile points
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(workspace projection huffman tiff picture metafile points)
shared=../shared/testdata

scripts/install-deps.sh fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_BUILD_FUZZ=ON \
  -DVARNEL_BUILD_TESTS=OFF -DVARNEL_BUILD_BENCH=OFF >/dev/null
for target in "${targets[@]}"; do
  cmake --build build-fuzz -j"${FUZZ_BUILD_JOBS:-1}" --target "$target-fuzzer" >/dev/null
done

# Seed folders per target (read in place; the shared metafiles are never copied into the project).
# The TIFF target starts from small pages of every layout it decodes, not from the whole scans in
# the test data: an input that decodes megapixels costs a hundred small ones.
seeds() {
  case "$1" in
    workspace)  echo fuzz/seeds/workspace tests/data/pictures/bmp/pal8.pws "$shared/hostile" ;;
    projection) echo fuzz/seeds/projection ;;
    huffman)    echo fuzz/seeds/huffman ;;
    tiff)       echo fuzz/seeds/tiff tests/data/tiff/multipage.tiff tests/data/geotiff/byte.tif \
                     tests/data/geotiff/rotated.tif tests/data/geotiff/transverse_mercator.tif \
                     tests/data/geotiff/dataset_namespace_metadata.tif "$shared/hostile" ;;
    picture)    echo tests/data/pictures/bmp tests/data/pictures/gif tests/data/pictures/ico tests/data/pictures/jpg "$shared/hostile" ;;
    metafile)   echo "$shared/pictures/emf" "$shared/pictures/wmf" ;;
    points)     echo fuzz/seeds/points ;;
  esac
}

# The longest input per target. The slow readers' work grows with the input, and a million
# inputs an hour asks for under 3.6 ms each: a few kilobytes reach every layout they read.
max_len() {
  case "$1" in
    huffman)         echo 4096 ;;
    projection|tiff) echo 16384 ;;
    *)               echo 65536 ;;
  esac
}

mkdir -p build-fuzz/logs
printf '%-12s %14s %8s %10s\n' target executions exec/s findings
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  # Seeds that are files are copied into the corpus; folders are read in place.
  existing=()
  for seed in $(seeds "$target"); do
    if [ -f "$seed" ]; then cp -n "$seed" "$corpus/"; elif [ -d "$seed" ]; then existing+=("$seed"); fi
  done
  dictionary=()
  [ -f "fuzz/dict/$target.dict" ] && dictionary=(-dict="fuzz/dict/$target.dict")
  log=build-fuzz/logs/$target.log
  # Leaks are looked for after every input that allocates more than it frees; the libraries'
  # own long-lived allocations are listed, each with why, in fuzz/lsan-suppressions.txt.
  ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=fuzz/lsan-suppressions.txt:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1 \
    nice -n 10 "build-fuzz/fuzz/$target-fuzzer" -max_total_time="$seconds" -timeout=10 -report_slow_units=5 \
      -rss_limit_mb=2048 -max_len="$(max_len "$target")" -detect_leaks=1 "${dictionary[@]}" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$corpus" "${existing[@]}" >"$log" 2>&1 || true
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  printf '%-12s %14s %8s %10s\n' "$target" "${runs:-?}" "$(( ${runs:-0} / seconds ))" "$(find "$findings" -type f | wc -l)"
done
