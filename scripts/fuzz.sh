#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60) on the
# generated seeds and the committed regression inputs. A finding is written
# to build/fuzz/findings/ and fails the run; keep it in
# fuzz/regressions/TARGET/, where every native test suite replays it.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(exports rle containers pixbuf)

# scripts/test.sh has run the setup already.
[ -n "${TESSEL_SETUP_DONE:-}" ] || bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mkdir -p build/fuzz/findings
status=0
for target in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== fuzz_$target for ${seconds}s"
  # glib's slice allocator on malloc, which the sanitizers watch.
  if ! G_SLICE=always-malloc build/fuzz/bin/fuzz_$target -max_total_time="$seconds" -dict=fuzz/xcf.dict -rss_limit_mb=2560 \
      -timeout=30 -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$target-" \
      "$corpus" "build/fuzz/seeds/$target" "fuzz/regressions/$target" \
      $([ "$target" = exports ] && echo tests/gimp tests/gimp3) 2> "build/fuzz/$target.log"; then
    status=1
    grep -E 'ERROR|SUMMARY|Test unit written' "build/fuzz/$target.log" || tail -20 "build/fuzz/$target.log"
  fi
  grep -E 'stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "build/fuzz/$target.log" || true
done
exit $status
