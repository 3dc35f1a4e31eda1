#!/usr/bin/env bash
# The build of the plain loops alone (preset no-simd) against the SSE2
# build: every host case's output and bitmap, the colour arithmetic over
# its dense sample, and the tool's picture of every file GIMP saved
# (tests/gimp, tests/gimp3: GIMP's float arithmetic), byte for byte.
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
(cd "$work" && "$vector/arithmetic_dump" sse2-rows.bin --curves > sse2.txt &&
   "$plain/arithmetic_dump" plain-rows.bin --curves > plain.txt)
diff -u "$work/sse2.txt" "$work/plain.txt"
cmp "$work/sse2-rows.bin" "$work/plain-rows.bin"
gimp_files=0
for file in "$here"/../gimp/*.xcf* "$here"/../gimp3/*.xcf*; do
  "$vector/tessel" render "$file" "$work/gimp-sse2.bmp" 2>/dev/null
  "$plain/tessel" render "$file" "$work/gimp-plain.bmp" 2>/dev/null
  cmp "$work/gimp-sse2.bmp" "$work/gimp-plain.bmp" || { echo "no-simd: $(basename "$file") differs" >&2; exit 1; }
  gimp_files=$((gimp_files + 1))
done
echo "no-simd: $(grep -c '^== ' "$work/plain/native.txt") cases, $(ls "$work/plain/native/out" | wc -l) bitmaps," \
     "$(awk '{s += $2} END {print s}' "$work/plain.txt") arithmetic inputs and $gimp_files of GIMP's files identical to the SSE2 build"
