#!/usr/bin/env bash
# Makes the XCF files of tests/gimp/ with GIMP itself (Debian's gimp, in
# batch mode). Not part of the test run: the files are committed with their
# expected pictures.
#   - tests/gimp/make_files.scm: files of versions 0 to 3 (the legacy
#     modes); their pictures are tessel's, looked at and kept
#     (tests/gimp/expect.sh renders them).
#   - tests/gimp/make_modern.scm: files of versions 11 to 13 (every mode,
#     composite mode and space, groups, masks, every precision, gray and
#     indexed), each with GIMP's own flatten over black as its picture.
#   - some of those rewritten with zlib tiles (tests/gimp/zlib_tiles.py),
#     which GIMP's batch save never writes; GIMP loads each and flattens it
#     again (the suite holds that picture to the RLE file's, pixel for
#     pixel).
#   - tests/gimp-alpha/make_files.scm: files whose transparency matters
#     (a logo and sprites on nothing, holes, erasing modes, gray and indexed
#     pictures with alpha, LCH modes on grays), with their flatten over black.
#   - beside every file of tests/gimp and tests/gimp-alpha, GIMP's picture
#     with its transparency (tests/gimp/visible.scm): the image's "New from
#     Visible" layer in 8-bit gamma, expected/NAME.visible.png.
# usage: scripts/gimp-files.sh [all | alpha | visible]   (all: everything;
#        alpha: tests/gimp-alpha's files; visible: the pictures alone)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/tests/gimp"
what=${1:-all}
case "$what" in all|alpha|visible) ;; *) echo "usage: scripts/gimp-files.sh [all | alpha | visible]" >&2; exit 2 ;; esac
command -v gimp >/dev/null || { echo "gimp-files: GIMP is needed (apt-get install gimp)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "gimp-files: python3 is needed" >&2; exit 1; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$out/expected"
# GIMP keeps its settings in HOME: a fresh one, so that none of a user's apply.
batch() {  # batch SCRIPT [FOLDER]: runs a Script-Fu file with OUT set to the folder (tests/gimp)
  { echo "(define OUT \"${2:-$out}\")"; cat "$out/common.scm" "$out/modes.scm" "$1"; } | HOME="$home" gimp -i -n -d -f -b - > "$home/log" 2>&1 ||
    { cat "$home/log" >&2; exit 1; }
  if grep -q "Error" "$home/log"; then cat "$home/log" >&2; exit 1; fi
}
# visible FOLDER: GIMP's picture with its transparency of every file there.
visible() {
  { cat "$out/visible.scm"; for file in "$1"/*.xcf*; do echo "(visible \"$(basename "$file")\")"; done
    echo "(gimp-quit 0)"; } > "$home/visible.scm"
  batch "$home/visible.scm" "$1"
}
alpha="$root/tests/gimp-alpha"
mkdir -p "$alpha/expected"
if [ "$what" = visible ]; then
  visible "$out"
  visible "$alpha"
  exit 0
fi
if [ "$what" = alpha ]; then
  batch "$alpha/make_files.scm" "$alpha"
  visible "$alpha"
  ls -l "$alpha"/*.xcf*
  exit 0
fi
batch "$out/make_files.scm"
batch "$out/make_modern.scm"

for name in modern-modes modern-groups precision-u16-gamma; do
  python3 "$out/zlib_tiles.py" "$out/$name.xcf" "$out/$name-zlib.xcf"
  # GIMP's picture of the file it loads back (common.scm's expect).
  cat > "$home/reload.scm" <<SCM
(expect (car (gimp-file-load RUN-NONINTERACTIVE "$out/$name-zlib.xcf" "$name-zlib.xcf")) "$name-zlib.xcf")
(gimp-quit 0)
SCM
  batch "$home/reload.scm"
done
ls -l "$out"/*.xcf*
batch "$alpha/make_files.scm" "$alpha"
visible "$out"
visible "$alpha"
ls -l "$alpha"/*.xcf*
