#!/usr/bin/env bash
# The settings file beside the plug-in, through the test driver and the
# real tessel.spi under Wine, each folder a copy of the two with its own
# tessel.ini:
#   - none, versions=0-3 and a damaged value: the plug-in's own answers
#     (IsSupported 0, code 2 for version 11), alike in all three, and the
#     damaged value told to the debugger;
#   - versions=all: IsSupported, GetPictureInfo and GetPicture for every
#     file of tests/gimp and tests/gimp3, the same as the native build
#     reading the same file beside itself, every bitmap the native tool's
#     viewer picture (tessel render --viewer) byte for byte;
#   - the photograph of version 11 and its 16-bit and float twins of
#     version 12 (6000 x 4000, six layers, three masks) in the 32-bit
#     process, each the native tool's viewer picture.
# usage: settings.sh NATIVE_BIN WORK_DIR WIN32_BIN WINE_RUNNER [--no-big]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
native=$(cd "$1" && pwd)
work=$2
win=$(cd "$3" && pwd)
wine=$4
big=${5:-}

rm -rf "$work" && mkdir -p "$work/files"
files="$work/files"
for file in "$here"/../gimp/*.xcf* "$here"/../gimp3/*.xcf*; do
  cp "$file" "$files/$(basename "$(dirname "$file")")-$(basename "$file")"
done
"$native/xcfgen" "$files" >/dev/null

# folder NAME [INI-LINE]: the driver and the plug-in of both builds, with a
# settings file where a line is given.
folder() {
  mkdir -p "$work/$1/wine/out" "$work/$1/native/out"
  cp "$win/tessel_driver.exe" "$win/tessel.spi" "$work/$1/wine/"
  cp "$native/tessel_driver" "$work/$1/native/"
  if [ $# -gt 1 ]; then
    printf '; written by the tests\r\n[tessel]\r\n%s\r\n' "$2" > "$work/$1/wine/tessel.ini"
    cp "$work/$1/wine/tessel.ini" "$work/$1/native/"
  fi
}
# run NAME LIST: the cases of LIST in both builds of folder NAME.
run() {
  (cd "$work/$1/native" && ./tessel_driver cases "../../$2" > ../native.txt)
  (cd "$work/$1/wine" && "$wine" run tessel_driver.exe cases "../../$2" | tr -d '\r' > ../wine.txt)
}

# The lists name the files from inside a folder, as Wine reads them too.
at=../../files
# The plug-in's own answers, whatever the file says otherwise.
v11=gimp-legacy-modes-v11.xcf
cat > "$work/off.txt" <<EOF
supported $at/$v11
info $at/$v11
render $at/$v11 out/v11.bmp
supported $at/example.xcf
info $at/example.xcf
EOF
folder none
folder off "versions=0-3"
folder damaged "versions=x"
for name in none off damaged; do run $name off.txt; done
grep -q '^handle: 0$' "$work/none/wine.txt"
grep -q "^tessel: .*$v11: .*(code 2)" "$work/none/wine.txt"
[ -z "$(ls "$work/none/wine/out")" ]
diff -u "$work/none/wine.txt" "$work/off/wine.txt"
grep -v '^debugger: ' "$work/damaged/wine.txt" | diff -u "$work/none/wine.txt" -
grep -q '^debugger: tessel: tessel.ini: versions "x" is none of 0-3, all$' "$work/damaged/wine.txt"
# Natively no debugger listens; the answers are the same.
for name in none off damaged; do diff -u "$work/none/wine.txt" "$work/$name/native.txt"; done
echo "settings: none, 0-3 and a damaged value answer as the plug-in always has; the damaged value was told"

# Every version, on the user's word.
folder all "versions=all"
: > "$work/all.txt"
for file in "$files"/gimp-* "$files"/gimp3-*; do
  name=$(basename "$file")
  printf 'supported %s\ninfo %s\nrender %s out/%s.bmp\n' "$at/$name" "$at/$name" "$at/$name" "$name" >> "$work/all.txt"
done
run all all.txt
diff -u "$work/all/native.txt" "$work/all/wine.txt"
diff -r "$work/all/native/out" "$work/all/wine/out"
# Every one claimed and drawn but the .xcf.xz, which the plug-in's
# patterns do not name: refused as data it does not read.
unclaimed=$(grep -B1 '^handle: 0$' "$work/all/wine.txt" | grep '^== supported' | grep -v '\.xz$' || true)
[ -z "$unclaimed" ] || { echo "not claimed: $unclaimed" >&2; exit 1; }
failed=$(grep -c '(code ' "$work/all/wine.txt" || true)
[ "$failed" = "$(grep -c '^== \(info\|render\) [^ ]*\.xz' "$work/all/wine.txt")" ] || { echo "$failed calls failed" >&2; exit 1; }
rendered=0
for file in "$files"/gimp-* "$files"/gimp3-*; do
  name=$(basename "$file")
  case "$name" in *.xz) continue ;; esac  # the plug-in's patterns name no .xcf.xz
  "$native/tessel" render --viewer "$file" "$work/all/tool-$name.bmp"
  cmp "$work/all/tool-$name.bmp" "$work/all/wine/out/$name.bmp"
  rendered=$((rendered + 1))
done
echo "settings: versions=all: $rendered files of GIMP 2.10 and GIMP 3 claimed and drawn under Wine as the native tool draws them"

[ "$big" = --no-big ] && exit 0
# The big documents in the 32-bit process: bands, not whole layers.
for photo in "v011 150" "v012 250" "v012 600"; do
  set -- $photo
  doc="$files/photo-$1-$2.xcf"
  "$native/tessel_benchgen" --photo "$1" "$2" "$doc"
  "$native/tessel" render --viewer "$doc" "$work/all/tool-photo.bmp"
  printf 'render %s out/photo.bmp\n' "$at/$(basename "$doc")" > "$work/big.txt"
  rm -f "$work/all/wine/out/photo.bmp"
  (cd "$work/all/wine" && "$wine" run tessel_driver.exe cases ../../big.txt | tr -d '\r' > ../big.txt)
  grep -q '^exit 0$' "$work/all/big.txt" || { cat "$work/all/big.txt" >&2; exit 1; }
  cmp "$work/all/tool-photo.bmp" "$work/all/wine/out/photo.bmp"
  echo "settings: $(basename "$doc") ($(stat -c %s "$doc") bytes) drawn in the 32-bit process as the native tool draws it"
  rm -f "$doc"
done
