#!/usr/bin/env bash
# Runs cases.txt through the native test driver and compares its output with
# expected.txt. Given a Windows build and the Wine runner, runs the same
# cases through tessel_driver.exe and the real tessel.spi and demands
# identical output, rendered bitmaps included.
# usage: run_cases.sh NATIVE_BIN WORK_DIR [WIN32_BIN WINE_RUNNER]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
native=$(cd "$1" && pwd)
work=$2
win=${3:+$(cd "$3" && pwd)}
wine=${4:-}

rm -rf "$work"
mkdir -p "$work/native/out"
"$native/xcfgen" "$work/native"
for file in "$here"/../gimp/*.xcf*; do cp "$file" "$work/native/gimp-$(basename "$file")"; done
cp "$here/cases.txt" "$work/native/"
(cd "$work/native" && "$native/tessel_driver" cases cases.txt > ../native.txt)
diff -u "$here/expected.txt" "$work/native.txt"
echo "native: $(grep -c '^== ' "$work/native.txt") cases as expected"

if [ -n "$win" ]; then
  mkdir -p "$work/wine"
  cp -r "$work/native/." "$work/wine/"
  rm -rf "$work/wine/out" && mkdir "$work/wine/out"
  cp "$win/tessel_driver.exe" "$win/tessel.spi" "$work/wine/"
  (cd "$work/wine" && "$wine" run tessel_driver.exe cases cases.txt | tr -d '\r' > ../wine.txt)
  diff -u "$work/native.txt" "$work/wine.txt"
  diff -r "$work/native/out" "$work/wine/out"
  echo "wine: $(grep -c '^== ' "$work/wine.txt") cases and $(ls "$work/wine/out" | wc -l) bitmaps identical to native"
fi
