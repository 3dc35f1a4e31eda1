# The benchmarks' timer, sourced by scripts/bench.sh and bench-gimp.sh.
# The median of RUNS runs of a command: "wall user sys peakKiB".
measure() {  # needs runs set
  local samples=()
  for _ in $(seq "$runs"); do
    samples+=("$(/usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -n 1)")
  done
  printf '%s\n' "${samples[@]}" | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2)'
}
