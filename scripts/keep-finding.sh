#!/usr/bin/env bash
# Keeps an input that broke a build (a fuzz finding, or a file a test made
# that guards a fixed fault) where every native test suite replays it:
# fuzz/regressions/TARGET/NAME (by default the first 16 hex digits of its
# SHA-1). Replays it through the native build's TARGET harness at once.
# usage: scripts/keep-finding.sh TARGET FILE [NAME]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ] || [ ! -d "$root/fuzz/regressions/$1" ]; then
  echo "usage: scripts/keep-finding.sh TARGET FILE [NAME]; TARGET is one of: $(ls "$root/fuzz/regressions" | tr '\n' ' ')" >&2
  exit 2
fi
target=$1 file=$2
name=${3:-$(sha1sum "$file" | cut -c1-16)}
cp "$file" "$root/fuzz/regressions/$target/$name"
harness=$root/build/native/bin/fuzz_$target
if [ ! -x "$harness" ]; then
  cmake --preset native -S "$root" >/dev/null
  cmake --build "$root/build/native" --target "fuzz_$target"
fi
"$harness" "$root/fuzz/regressions/$target/$name"
echo "kept fuzz/regressions/$target/$name; commit it with the fix"
