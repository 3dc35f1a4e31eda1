# The build of another revision to compare against, sourced by
# scripts/bench.sh, compare-builds.sh and transparency-figure.sh.

# build_baseline REV DIR TARGET...: a release build of REV in DIR/build
# (its sources a worktree in DIR/src, kept while REV stays the same), with
# only TARGET... built.
build_baseline() {
  local rev=$1 dir=$2
  shift 2
  if [ "$(git -C "$dir/src" rev-parse HEAD 2>/dev/null)" != "$(git rev-parse "$rev")" ]; then
    rm -rf "$dir" && git worktree prune
    git worktree add --detach -f "$dir/src" "$rev" >/dev/null
  fi
  cmake -S "$dir/src" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_TESTS=OFF \
        -DTESSEL_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir/build" --target "$@" >/dev/null
}
