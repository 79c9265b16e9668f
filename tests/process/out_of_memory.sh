#!/usr/bin/env bash
# Under an address-space limit a command that runs out of memory ends with the memory message
# and status 1, never a signal: every one on an 8000 x 8000 map under 400 MB; a smaller map under
# tighter limits may fit, or leave no room for worker threads. pack and unpack stream the map a
# piece at a time: they need room for the mapped input and a few pieces, not for the map again,
# and finish (status 0) with 320 MB above what starting takes.
# Usage: out_of_memory.sh VARNEL_CLI
set -uo pipefail
cli=$1 failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
# Square 24-bit BMPs whose bytes run through every value, which the Huffman coder cannot shrink.
printf "$(printf '\\x%02x' {0..255})" >"$work/bytes"
for _ in {1..20}; do cat "$work/bytes" "$work/bytes" >"$work/more" && mv "$work/more" "$work/bytes"; done
for side in 8000:map 2000:small; do
    size=$((${side%:*} ** 2 * 3)) bmp=$work/${side#*:}.bmp
    printf "BM$(le32 $((size + 54)))\\0\\0\\0\\0$(le32 54)$(le32 40)$(le32 ${side%:*})$(le32 ${side%:*})\\x01\\0\\x18\\0$(le32 0)$(le32 $size)$(le32 0)$(le32 0)$(le32 0)$(le32 0)" >"$bmp"
    head -c $size "$work/bytes" >>"$bmp"
done
coefficients=0,1000,0,-10000,-1000,0,0,50000,0,0,0,0,0,0,0,0
for made in map.cpf map.dpf small.dpf; do
    "$cli" pack --format "${made#*.}" --coef $coefficients "$work/${made%.*}.bmp" -o "$work/$made" >/dev/null || exit 1
done
"$cli" export "$work/map.cpf" --format geotiff -o "$work/map.tif" >/dev/null || exit 1

# The tight limits count from the address space the program and its libraries take to start:
# the launcher's for unpack, which it runs itself, the tool's (behind it) for everything else.
start_floor() {
    local floor=100000
    until (ulimit -v $floor; "$cli" "$@") >/dev/null 2>&1; do
        floor=$((floor + 10000))
        [ $floor -le 1000000 ] || { echo "FAIL: $cli $* does not start under 1 GB" >&2; return 1; }
    done
    echo $floor
}
floor=$(start_floor unpack --help) && tool_floor=$(start_floor pack --help) || exit 1
tight=$(for extra in 20000 40000 60000 80000 100000; do printf '%s,' $((floor + extra)); done)
streamed=$((floor + 320000)) tool_streamed=$((tool_floor + 320000))

# LIMITS (KB, comma-separated) STATUS (1, 0, or "any": 0 or 1) COMMAND...
while read -r limits want words; do
    for limit in ${limits//,/ }; do
        err=$(ulimit -v "$limit"; "$cli" ${words//@/$work/} 2>&1 >/dev/null)
        code=$?
        { [ "$want" != 0 ] && [ "$code" -eq 1 ] && grep -q 'memory' <<<"$err"; } || { [ "$want" != 1 ] && [ "$code" -eq 0 ]; } ||
            { echo "FAIL: $words under $limit KB -> status $code: ${err:0:300}"; failures=$((failures + 1)); }
    done
done <<EOF
400000 any unpack @map.cpf -o @out.bmp
400000 any unpack @map.dpf -o @out.bmp
$streamed 0 unpack @map.cpf -o @out.bmp
$streamed 0 unpack @map.dpf -o @out.bmp
400000 1 locate @map.cpf --pixel 10,10
400000 any pack --format cpf --coef $coefficients @map.bmp -o @out.cpf
400000 any pack --format dpf --coef $coefficients @map.bmp -o @out.dpf
$tool_streamed 0 pack --format cpf --coef $coefficients @map.bmp -o @out.cpf
$tool_streamed 0 pack --format dpf --coef $coefficients @map.bmp -o @out.dpf
400000 1 export @map.tif --format geotiff -o @out.tif
${tight%,} any unpack @small.dpf
EOF
[ "$failures" -eq 0 ] || { echo "$failures command(s) did not end as they should"; exit 1; }
