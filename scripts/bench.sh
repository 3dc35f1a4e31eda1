#!/usr/bin/env bash
# Measures tessel against an earlier build of itself, in one run (the
# machine's speed drifts from run to run): makes a 6000 x 4000 photograph of
# six layers and the small files, builds BASE (default 8c08311) beside the
# current tree, and prints for both builds the whole-process figures of
# `tessel render` to BMP and to PNG and of `tessel info` (/usr/bin/time:
# wall, user, sys, peak memory; the median of RUNS, default 5), and the
# time per GetPicture call from a file name.
# usage: scripts/bench.sh [BASE] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
base=${1:-8c08311}
runs=${2:-5}
work="$root/build/bench"
mkdir -p "$work"

[ -n "${TESSEL_SETUP_DONE:-}" ] || bash scripts/setup.sh >/dev/null
command -v /usr/bin/time >/dev/null 2>&1 || { echo "bench: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }

echo "== building the current tree and $base"
cmake --preset native >/dev/null
cmake --build --preset native --target tessel tessel_benchgen tessel_percall >/dev/null
current="$root/build/native"
baseline="$work/baseline"
if [ "$(git -C "$baseline/src" rev-parse HEAD 2>/dev/null)" != "$(git rev-parse "$base")" ]; then
  rm -rf "$baseline" && git worktree prune
  git worktree add --detach -f "$baseline/src" "$base" >/dev/null
fi
cmake -S "$baseline/src" -B "$baseline/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_TESTS=OFF \
      -DTESSEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$baseline/build" --target tessel tessel_core >/dev/null
# The per-call timer uses the exports alone, so one source serves both.
g++ -O2 -std=c++17 -I"$baseline/src" bench/percall.cpp "$baseline/build/libtessel_core.a" -lz -lbz2 -lpthread \
    -o "$baseline/build/tessel_percall"

echo "== making the files"
big="$work/photo-6000x4000.xcf"
small="$work/three-layers-1000x800.xcf"
[ -f "$big" ] || "$current/bin/tessel_benchgen" --viewer "$big"
[ -f "$small" ] || "$current/bin/tessel_benchgen" --small "$small"
example="$root/examples/example.xcf"
echo "$(basename "$big"): $(stat -c %s "$big") bytes"

# The median of RUNS runs of a command: "wall user sys peakKiB".
measure() {
  local samples=()
  for _ in $(seq "$runs"); do
    samples+=("$(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -n 1)")
  done
  printf '%s\n' "${samples[@]}" | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2)'
}

printf '\n%-30s %-10s %8s %8s %8s %10s\n' "whole process, median of $runs" build wall user sys "peak MiB"
declare -A wall
for task in "render BMP" "render PNG" "info"; do
  for build in base current; do
    if [ $build = base ]; then bin="$baseline/build/bin"; else bin="$current/bin"; fi
    case "$task" in
      "render BMP") args=(render "$big" "$work/out-$build.bmp") ;;
      "render PNG") args=(render "$big" "$work/out-$build.png") ;;
      info) args=(info "$big") ;;
    esac
    read -r w u s m < <(measure "$bin/tessel" "${args[@]}")
    wall["$task $build"]=$w
    printf '%-30s %-10s %7ss %7ss %7ss %10d\n' "$task" "$build" "$w" "$u" "$s" $((m / 1024))
  done
  awk -v a="${wall["$task base"]}" -v b="${wall["$task current"]}" -v t="$task" \
      'BEGIN { if (b > 0) printf "%-30s %-10s %7.2fx faster\n", t, "ratio", a / b }'
done
cmp -s "$work/out-base.bmp" "$work/out-current.bmp" && echo "the two builds' bitmaps are identical" ||
  { echo "bench: the bitmaps differ" >&2; exit 1; }
echo "PNG sizes: base $(stat -c %s "$work/out-base.png"), current $(stat -c %s "$work/out-current.png") bytes"

printf '\n%-30s %-10s %12s %12s\n' "GetPicture from a file name" build "median ms" "mean ms"
for file in "$big:5" "$example:200" "$small:200"; do
  path=${file%:*}
  calls=${file##*:}
  for build in base current; do
    if [ $build = base ]; then percall="$baseline/build/tessel_percall"; else percall="$current/bin/tessel_percall"; fi
    line=$("$percall" "$path" "$calls")
    median=$(sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' <<<"$line")
    mean=$(sed -n 's/.*mean \([0-9.]*\) ms.*/\1/p' <<<"$line")
    printf '%-30s %-10s %12s %12s\n' "$(basename "$path") x$calls" "$build" "$median" "$mean"
  done
done

if command -v strace >/dev/null 2>&1; then
  printf '\nread system calls of render BMP (strace -c):\n'
  for build in base current; do
    if [ $build = base ]; then bin="$baseline/build/bin"; else bin="$current/bin"; fi
    calls=$(strace -f -c -e trace=read,pread64 "$bin/tessel" render "$big" "$work/strace.bmp" 2>&1 >/dev/null |
            awk '$NF == "read" || $NF == "pread64" { n += $4 } END { print n + 0 }')
    printf '%-10s %10s\n' "$build" "$calls"
  done
fi
