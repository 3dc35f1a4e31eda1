#!/usr/bin/env bash
# Installs what the native tool needs (nothing of the Windows tier), builds
# it and renders the bundled example through the plug-in's exports:
# build/example.png, and a thumbnail of it, build/example-thumbnail.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh tool
cmake --preset tool >/dev/null
cmake --build --preset tool --target tessel
tessel=build/tool/bin/tessel
"$tessel" about
"$tessel" info examples/example.xcf.bz2
"$tessel" render examples/example.xcf.bz2 build/example.png
"$tessel" thumbnail -s 128 examples/example.xcf.bz2 build/example-thumbnail.png
echo "wrote build/example.png and build/example-thumbnail.png"
