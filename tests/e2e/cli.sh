#!/usr/bin/env bash
# The tessel tool as people use it: several files rendered at once into a
# folder, a damaged one among them, and the answers to wrong usage.
# usage: cli.sh BIN WORK_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
gimp3=$(cd "$(dirname "${BASH_SOURCE[0]}")/../gimp3" && pwd)
work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$bin/xcfgen" .
tessel="$bin/tessel"
fail() { echo "cli: $*" >&2; exit 1; }

# Three files, the middle one damaged: the others are written, the damaged
# one is named with its code, and the exit status says that one failed.
cp example.xcf a.xcf
cp example.xcf.bz2 b.xcf.bz2
status=0
"$tessel" render a.xcf truncated.xcf b.xcf.bz2 -o out/ -j 2 2> errors.txt || status=$?
[ "$status" = 1 ] || fail "exit status $status, not 1"
[ "$(cat errors.txt)" = "tessel: truncated.xcf: reading the file failed: layer 7: the record ends before its size and type (code 6)" ] ||
  fail "$(cat errors.txt)"
[ "$(ls out)" = "$(printf 'a.png\nb.png')" ] || fail "out/ holds $(ls out | tr '\n' ' ')"
cmp out/a.png out/b.png || fail "the same picture from two containers differs"
"$tessel" render example.xcf single.png
cmp single.png out/a.png || fail "the one-file form writes another picture"

# A folder among the files, passed in memory: named with the system's
# reason, the others still rendered.
mkdir -p adir
status=0
"$tessel" render --memory -o out2 a.xcf adir b.xcf.bz2 2> errors.txt || status=$?
[ "$status" = 1 ] && [ "$(cat errors.txt)" = "tessel: adir: is a directory" ] || fail "adir: $status $(cat errors.txt)"
[ "$(ls out2)" = "$(printf 'a.png\nb.png')" ] || fail "out2/ holds $(ls out2 | tr '\n' ' ')"
for command in "info --memory adir" "supported adir"; do
  status=0
  # shellcheck disable=SC2086
  "$tessel" $command > /dev/null 2> errors.txt || status=$?
  [ "$status" = 1 ] && [ "$(cat errors.txt)" = "tessel: adir: is a directory" ] || fail "$command: $status $(cat errors.txt)"
done
# An output that cannot be written fails before anything is decoded,
# named as the picture, with the system's reason.
touch plain-file
status=0
"$tessel" render a.xcf plain-file/a.png 2> errors.txt || status=$?
[ "$status" = 1 ] && [ "$(cat errors.txt)" = "tessel: plain-file/a.png: cannot be written: Not a directory" ] ||
  fail "unwritable: $status $(cat errors.txt)"

# Thumbnails: PNG whatever the name, fitted into the size, never
# enlarged; a damaged file leaves nothing behind.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $2 * 65536 + $3 * 256 + $4 "x" $6 * 65536 + $7 * 256 + $8}'; }
"$tessel" thumbnail -s 100 b.xcf.bz2 thumb.out
[ "$(head -c 4 thumb.out | od -An -c | tr -d ' ')" = "211PNG" ] || fail "the thumbnail is no PNG"
[ "$(png_size thumb.out)" = 100x75 ] || fail "a thumbnail of 320 x 240 in 100 is $(png_size thumb.out)"
"$tessel" thumbnail -s 4000 a.xcf whole.png
[ "$(png_size whole.png)" = 320x240 ] || fail "a thumbnail of 320 x 240 in 4000 is $(png_size whole.png)"
status=0
"$tessel" thumbnail truncated.xcf broken.png 2> /dev/null || status=$?
[ "$status" = 1 ] && [ ! -e broken.png ] && [ ! -e broken.png.partial ] || fail "damaged thumbnail: $status"

# Wrong usage: status 2 and a pointer to the help.
for args in "render --offset" "render a.xcf" "info --offset 9z a.xcf" "render -j 0 -o out a.xcf" "frobnicate" \
            "render --offset -5 a.xcf o.bmp" "render --offset 5 --memory a.xcf o.bmp" "info --memory --offset 5 a.xcf" \
            "thumbnail -s 0 a.xcf t.png" "thumbnail a.xcf"; do
  status=0
  # shellcheck disable=SC2086
  "$tessel" $args > /dev/null 2> usage.txt || status=$?
  [ "$status" = 2 ] || fail "tessel $args: exit status $status, not 2"
  grep -q -- "--help\|usage:" usage.txt || fail "tessel $args: $(cat usage.txt)"
done
grep -q "requires an argument" <("$tessel" render --offset 2>&1 || true) || fail "a missing value is not named"
for command in "" about supported info render thumbnail; do
  # shellcheck disable=SC2086
  "$tessel" $command --help | grep -q "usage: tessel" || fail "tessel $command --help"
done
for command in supported info render thumbnail; do
  "$tessel" $command --help | grep -q "^exit status:" || fail "tessel $command --help says no exit status"
done
# Two files that would give one picture are refused before anything is done.
status=0
"$tessel" render -o twice a.xcf dir/a.xcf 2> /dev/null || status=$?
[ "$status" = 2 ] && [ ! -e twice ] || fail "two inputs named alike"
# A file GIMP 3 saved with two filters on a layer: the picture is drawn from
# the stored pixels and written, and the filters are said; info lists them.
# The same document as GIMP 3 compresses it to .xcf.xz draws the same.
"$tessel" render "$gimp3/gimp3-filters.xcf" filtered.png 2> errors.txt
[ "$(cat errors.txt)" = "tessel: $gimp3/gimp3-filters.xcf: layer 1 \"Sky\" has 2 filters (gegl:levels, gegl:gaussian-blur) that are not applied" ] ||
  fail "filters: $(cat errors.txt)"
[ -s filtered.png ] || fail "no picture for the filtered file"
"$tessel" info "$gimp3/gimp3-filters.xcf" | grep -qx 'filters: layer 1 "Sky": gegl:levels, gegl:gaussian-blur, not applied' ||
  fail "info does not list the filters"
"$tessel" render -o xz "$gimp3/gimp3-groups.xcf.xz"
"$tessel" render "$gimp3/gimp3-groups.xcf" plain.png
cmp xz/gimp3-groups.png plain.png || fail ".xcf.xz draws another picture"

echo "cli: as expected"
