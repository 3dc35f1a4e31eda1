#!/usr/bin/env bash
# The current tree against an earlier build of itself, picture by picture:
# what a change to the drawing must leave as it was. Builds BASE's tool in
# a worktree under build/compare, and renders with both builds (to BMP, the
# viewer's bitmap) every file at hand: the generated samples, the files
# GIMP saved (tests/gimp, tests/gimp3), the fuzz regressions, the examples
# and COUNT random documents of each kind (the plug-in's versions; GIMP's,
# every version, precision, mode, space and composite mode). Each file's
# exit status, message and bitmap must be the same byte for byte, and so
# must its PNG picture (`render` to .png) where that is still the viewer's;
# those that are now GIMP's picture with its transparency are counted.
# usage: scripts/compare-builds.sh BASE [COUNT] [SEED]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
base=${1:?usage: compare-builds.sh BASE [COUNT] [SEED]}
count=${2:-2000}
seed=${3:-1}
work="$root/build/compare"
mkdir -p "$work"

cmake --preset native >/dev/null
cmake --build --preset native --target tessel xcfgen >/dev/null
current="$root/build/native/bin"
baseline="$work/baseline"
source scripts/baseline.sh
build_baseline "$base" "$baseline" tessel

# Every file under one name of its own.
corpus="$work/corpus"
rm -rf "$corpus" && mkdir -p "$corpus/random"
"$current/xcfgen" "$corpus"
"$current/xcfgen" --random "$count" "$seed" "$corpus/random"
mv "$corpus"/random/* "$corpus"/ && rmdir "$corpus/random"
i=0
for file in tests/gimp/*.xcf* tests/gimp3/*.xcf* tests/gimp-alpha/*.xcf* examples/*.xcf* fuzz/regressions/*/*; do
  [ -f "$file" ] || continue
  i=$((i + 1))
  cp "$file" "$corpus/f$i-$(basename "$file")"
done

render() {  # render BIN OUT: every file of the corpus to OUT/NAME.bmp and OUT/png/NAME.png, its status and message to OUT/NAME.txt
  rm -rf "$2" && mkdir -p "$2/png"
  (cd "$corpus" && ls | xargs -P 2 -I{} sh -c '"$1/tessel" render --threads 2 "$3" "$2/$3.bmp" 2>"$2/$3.txt";
                                              echo "exit $?" >> "$2/$3.txt";
                                              "$1/tessel" render --threads 2 "$3" "$2/png/$3.png" 2>/dev/null || true' _ "$1" "$2" {})
}
render "$baseline/build/bin" "$work/base"
render "$current" "$work/current"
# The current build's viewer pictures as PNG: where its picture of a file is
# that one (nothing in it can be transparent), the earlier build's PNG must
# be the same file.
rm -rf "$work/viewer" && mkdir -p "$work/viewer"
(cd "$corpus" && ls | xargs -P 2 -I{} sh -c '"$1/tessel" render --viewer --threads 2 "$3" "$2/$3.png" 2>/dev/null || true' _ \
   "$current" "$work/viewer" {})
same=0 alpha=0 failed=0
for png in "$work"/current/png/*.png; do
  name=$(basename "$png")
  [ -f "$work/base/png/$name" ] || continue
  if cmp -s "$png" "$work/viewer/$name"; then
    if cmp -s "$png" "$work/base/png/$name"; then same=$((same + 1)); else echo "compare: $name: the viewer's PNG differs" >&2; failed=1; fi
  else
    alpha=$((alpha + 1))
  fi
done
rm -rf "$work"/base/png "$work"/current/png "$work/viewer"
echo "compare: $same PNG pictures identical, $alpha now GIMP's picture with its transparency"
diff -r "$work/base" "$work/current" || failed=1
[ "$failed" = 0 ] || { echo "compare: the builds differ" >&2; exit 1; }
files=$(ls "$corpus" | wc -l)
echo "compare: $files files, $(ls "$work/current" | grep -c "\.bmp$") pictures and $(grep -L "exit 0" "$work"/current/*.txt | wc -l) refusals, identical to $base's"
