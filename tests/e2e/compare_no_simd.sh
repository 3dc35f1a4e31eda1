#!/usr/bin/env bash
# The build of the plain loops alone (preset no-simd) against the SSE2
# build: every host case's output and bitmap, and the colour arithmetic
# over its dense sample, byte for byte.
# usage: compare_no_simd.sh SSE2_BIN NO_SIMD_BIN WORK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
vector=$(cd "$1" && pwd)
plain=$(cd "$2" && pwd)
work=$3
rm -rf "$work" && mkdir -p "$work"
bash "$here/run_cases.sh" "$vector" "$work/sse2" > /dev/null
bash "$here/run_cases.sh" "$plain" "$work/plain" > /dev/null
diff -u "$work/sse2/native.txt" "$work/plain/native.txt"
diff -r "$work/sse2/native/out" "$work/plain/native/out"
(cd "$work" && "$vector/arithmetic_dump" sse2-rows.bin > sse2.txt && "$plain/arithmetic_dump" plain-rows.bin > plain.txt)
diff -u "$work/sse2.txt" "$work/plain.txt"
cmp "$work/sse2-rows.bin" "$work/plain-rows.bin"
echo "no-simd: $(grep -c '^== ' "$work/plain/native.txt") cases, $(ls "$work/plain/native/out" | wc -l) bitmaps and" \
     "$(awk '{s += $2} END {print s}' "$work/plain.txt") arithmetic inputs identical to the SSE2 build"
