#!/usr/bin/env bash
# The picture of what transparency changes, for the README: three files of
# tests/gimp-alpha (a logo, sprites, holes), each as BASE's thumbnail (over
# black), as this tree's thumbnail (its transparency kept) and as GIMP's own
# picture of it (its "New from Visible" layer), side by side on a
# checkerboard, in docs/transparency.png.
# usage: scripts/transparency-figure.sh [BASE]   (default 907b092)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
base=${1:-907b092}
work="$root/build/figure"
mkdir -p "$work" docs
cmake --preset native >/dev/null
cmake --build --preset native --target tessel >/dev/null
baseline="$work/baseline"
source scripts/baseline.sh
build_baseline "$base" "$baseline" tessel
pictures=()
for name in logo sprites holes; do
  file="tests/gimp-alpha/$name.xcf"
  "$baseline/build/bin/tessel" thumbnail -s 160 "$file" "$work/$name-before.png"
  build/native/bin/tessel thumbnail -s 160 "$file" "$work/$name-now.png"
  pictures+=("$work/$name-before.png" "$work/$name-now.png" "tests/gimp-alpha/expected/$name.xcf.visible.png")
done
/usr/bin/python3 scripts/transparency_figure.py docs/transparency.png 3 "${pictures[@]}"
echo "docs/transparency.png: $(stat -c %s docs/transparency.png) bytes"
