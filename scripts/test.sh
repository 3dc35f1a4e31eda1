#!/usr/bin/env bash
# Sets everything up and runs every test: the native suite, the sanitizer
# suite (AddressSanitizer + UndefinedBehaviorSanitizer), the threads under
# ThreadSanitizer, the build of the plain loops without the SSE2 kernels
# (its unit tests, and its bitmaps and colour arithmetic compared byte for
# byte with the SSE2 build's), the Windows suite under Wine (unit tests, the DLL's
# exports and imports, the host cases and the colour arithmetic compared
# byte for byte with the native build, a stress run), the packages (the
# Debian one driven by GNOME's thumbnail factory) and a one-minute smoke of
# each fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
export TESSEL_SETUP_DONE=1

# The Windows suite compares with the native build, so native comes first.
for preset in native debug-asan win32; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in native debug-asan win32; do
  if [ "$preset" = win32 ]; then
    echo "== win32: tests, under Wine by the $(cat build/wine/route) route"
  else
    echo "== $preset: tests"
  fi
  ctest --preset "$preset" -j 2
done

echo "== no-simd: the plain loops alone, byte for byte against the SSE2 build"
cmake --preset no-simd >/dev/null
cmake --build --preset no-simd --target tessel_tests tessel_driver arithmetic_dump xcfgen tessel
build/no-simd/bin/tessel_tests --gtest_brief=1
bash tests/e2e/compare_no_simd.sh build/native/bin build/no-simd/bin build/no-simd/compare

echo "== packages: the Debian package under GNOME's thumbnail factory, the Windows zip"
bash tests/e2e/packages.sh

echo "== tsan: concurrent calls and every thread count"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target tessel_tests tessel_pixbuf_tests
ctest --preset tsan -R 'Concurrency|Threads|CompositeReference'

echo "== fuzz smoke"
bash scripts/fuzz.sh "${TESSEL_FUZZ_SECONDS:-60}"
echo "== all suites passed"
