#!/usr/bin/env bash
# Renders every GIMP-saved file here to expected/NAME.png with the given
# build's tessel. Run after scripts/gimp-files.sh, look at the pictures, and
# commit them: the suite then holds every later build to them.
# usage: tests/gimp/expect.sh BIN
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tessel="$(cd "$1" && pwd)/tessel"
mkdir -p "$here/expected"
for file in "$here"/*.xcf*; do
  "$tessel" render --viewer "$file" "$here/expected/$(basename "$file").png"
done
ls -l "$here/expected"
