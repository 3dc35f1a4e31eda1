#!/usr/bin/env bash
# Sets everything up, builds tessel natively and renders the bundled example
# through the plug-in's exports: build/example.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target tessel
tessel=build/native/bin/tessel
"$tessel" about
"$tessel" info examples/example.xcf.bz2
"$tessel" render examples/example.xcf.bz2 build/example.png
echo "wrote build/example.png"
