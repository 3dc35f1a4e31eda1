#!/usr/bin/env bash
# Runs arithmetic_dump natively and, through the Wine runner, as built for
# 32-bit Windows, and demands identical results.
# usage: compare_arithmetic.sh NATIVE_BIN WIN32_BIN WORK_DIR WINE_RUNNER
set -euo pipefail
native=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
work=$3
wine=$4
rm -rf "$work" && mkdir -p "$work"
cd "$work"
"$native/arithmetic_dump" native-rows.bin > native.txt
"$wine" run "$win/arithmetic_dump.exe" wine-rows.bin | tr -d '\r' > wine.txt
diff -u native.txt wine.txt
cmp native-rows.bin wine-rows.bin
cat wine.txt
echo "identical: $(awk '{s += $2} END {print s}' wine.txt) inputs, $(stat -c %s wine-rows.bin) row bytes"
