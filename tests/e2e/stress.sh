#!/usr/bin/env bash
# One host process calls GetPicture about a thousand times over good,
# truncated and damaged files of all three containers, from files and from
# memory, those of version 11 among them (read: a tessel.ini beside the
# plug-in asks for every version), and checks that its memory does not grow and that no local-memory
# handle stays alive. The mix holds a file of 3 GiB of layers, which must
# render, since no layer is ever held whole; under Wine also a file whose
# bitmap alone needs more memory than a 32-bit process has: it must come
# back as "out of memory" (code 4) while the host keeps going. Last, the same check must
# catch one handle that the driver forgets on purpose.
# usage: stress.sh NATIVE_BIN WORK_DIR [WIN32_BIN WINE_RUNNER]
set -euo pipefail
native=$(cd "$1" && pwd)
work=$2
win=${3:+$(cd "$3" && pwd)}
wine=${4:-}
rm -rf "$work" && mkdir -p "$work"
"$native/xcfgen" --stress "$work"
cd "$work"
printf '[tessel]\nversions=all\n' > tessel.ini
if [ -z "$win" ]; then
  # Natively a 64-bit process would simply allocate the 3 GiB bitmap.
  grep -v '^beyond-32-bit' stress.txt > list.txt
  cp "$native/tessel_driver" .
  driver=(./tessel_driver)
  rounds=20
else
  cp "$win/tessel_driver.exe" "$win/tessel.spi" .
  cp stress.txt list.txt
  driver=("$wine" run tessel_driver.exe)
  rounds=18
fi
"${driver[@]}" stress list.txt "$rounds" | tr -d '\r' | tee report.txt
grep -q 'code 0 (success)' report.txt
# Version 11 is read, on the settings file's word: no file is refused for its version.
! grep -q 'code 2 ' report.txt
[ -z "$win" ] || grep -q 'code 4 (out of memory): 36' report.txt
grep -q 'local-memory handles alive: 0' report.txt

# The leak check must be able to fail: one delivered handle forgotten.
grep -v '^beyond-32-bit' stress.txt > small.txt
if "${driver[@]}" stress small.txt 1 --drop-handle > leak.txt 2>&1; then
  echo "a forgotten handle went unnoticed" >&2
  exit 1
fi
tr -d '\r' < leak.txt | grep 'local-memory handles'
tr -d '\r' < leak.txt | grep -q 'local-memory handles alive: 1'
echo "the forgotten handle was caught"
