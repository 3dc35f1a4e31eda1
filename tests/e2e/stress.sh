#!/usr/bin/env bash
# One host process calls GetPicture about a thousand times over good,
# truncated and damaged files of all three containers, from files and from
# memory, and checks that its memory does not grow. Under Wine the mix also
# holds a file whose layers need more memory than a 32-bit process has: it
# must come back as "out of memory" (code 4) while the host keeps going.
# usage: stress.sh NATIVE_BIN WORK_DIR [WIN32_BIN]
set -euo pipefail
native=$(cd "$1" && pwd)
work=$2
win=${3:+$(cd "$3" && pwd)}
rm -rf "$work" && mkdir -p "$work"
"$native/xcfgen" --stress "$work"
cd "$work"
if [ -z "$win" ]; then
  # Natively a 64-bit process would simply decode the 3 GiB file.
  grep -v '^beyond-32-bit' stress.txt > list.txt
  "$native/tessel" stress list.txt 20 | tee report.txt
else
  cp "$win/tessel.exe" "$win/tessel.spi" .
  wine tessel.exe stress stress.txt 18 | tr -d '\r' | tee report.txt
  grep -q 'code 4 (out of memory): 36' report.txt
fi
grep -q 'code 0 (success)' report.txt
