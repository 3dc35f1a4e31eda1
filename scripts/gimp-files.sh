#!/usr/bin/env bash
# Makes the XCF files of tests/gimp/ with GIMP itself (Debian's gimp, in
# batch mode), from tests/gimp/make_files.scm. Not part of the test run: the
# files are committed, and their expected pictures with them once looked at
# (bash scripts/gimp-files.sh, then tests/gimp/expect.sh to render them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/tests/gimp"
command -v gimp >/dev/null || { echo "gimp-files: GIMP is needed (apt-get install gimp)" >&2; exit 1; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# GIMP keeps its settings in HOME: a fresh one, so that none of a user's apply.
{ echo "(define OUT \"$out\")"; cat "$out/make_files.scm"; } |
  HOME="$home" gimp -i -n -d -f -b - > "$home/log" 2>&1 || { cat "$home/log" >&2; exit 1; }
grep -q "Error" "$home/log" && { cat "$home/log" >&2; exit 1; }
ls -l "$out"/*.xcf*
