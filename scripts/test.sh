#!/usr/bin/env bash
# Sets everything up and runs every test: the native suite, the sanitizer
# suite (AddressSanitizer + UndefinedBehaviorSanitizer) and the Windows
# suite under Wine (unit tests, the DLL's exports and imports, and the host
# cases compared byte for byte with the native build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh

export WINEPREFIX="$root/build/win32/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The Windows suite compares with the native build, so native comes first.
for preset in native debug-asan win32; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in native debug-asan win32; do
  echo "== $preset: tests"
  ctest --preset "$preset" -j 2
done
echo "== all suites passed"
