# Downloads through apt, for scripts/setup.sh and scripts/wine.sh (sourced).
# apt-get update exits 0 when a download fails, so its output is read.

# apt_update WHAT COMMAND...: runs `COMMAND update -q` up to three times
# (a mirror in the middle of a sync fails for a while) and, when a download
# still fails, says in one line what failed and what to do, and returns 1.
apt_update() {
  local what=$1 log failed attempt
  shift
  for attempt in 1 2 3; do
    log=$("$@" update -q 2>&1) && ! grep -qE '^(Err:|E:)|Failed to fetch|Some index files failed' <<<"$log" && return 0
    # "W: Failed to fetch URL  reason" says most; else apt's first error.
    failed=$(grep -m1 -E 'Failed to fetch|^E:' <<<"$log" | sed 's/^[WE]: //; s/^Failed to fetch //; s/  */ /g') || true
    [ -n "$failed" ] || failed=$(grep -m1 -v '^$' <<<"$log")
    [ "$attempt" = 3 ] || sleep $((attempt * 5))
  done
  echo "setup: downloading $what failed ($failed); check the network connection or proxy (http_proxy), then run the command again" >&2
  return 1
}
