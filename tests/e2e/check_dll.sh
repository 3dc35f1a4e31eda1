#!/usr/bin/env bash
# Checks the built tessel.spi: exactly the five exports, undecorated, and no
# DLL imports but KERNEL32.dll and msvcrt.dll.
# usage: check_dll.sh tessel.spi OBJDUMP
set -euo pipefail
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}
dump=$("$objdump" -p "$dll")

imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | sort | tr '\n' ' ')
if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
  echo "unexpected imports: $imports" >&2
  exit 1
fi

exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
if [ "$exports" != "GetPicture GetPictureInfo GetPluginInfo GetPreview IsSupported " ]; then
  echo "unexpected exports: $exports" >&2
  exit 1
fi
grep -q 'Magic.*010b' <<<"$dump" || { echo "not a 32-bit PE image" >&2; exit 1; }
echo "imports: $imports"
echo "exports: $exports"
