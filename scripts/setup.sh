#!/usr/bin/env bash
# Installs everything tessel's builds and tests need on Debian 12, fetches
# the bzip2 sources that the Windows build compiles into tessel.spi, and
# prepares the Wine route for the Windows suite (scripts/wine.sh).
# Safe to run again: it only installs what is missing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
third_party="$root/build/third_party"

packages=(
  cmake ninja-build g++ pkg-config dpkg-dev
  zlib1g-dev libbz2-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386
)

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync can fail one index (seen: bookworm-security's
  # i386 list); apt then keeps going with the others.
  for attempt in 1 2 3; do
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q && break
    echo "setup: apt-get update failed (attempt $attempt)" >&2
    sleep $((attempt * 5))
  done
  install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends)
  # Without one arch's security index the i386 and amd64 halves of a
  # multi-arch package disagree on versions; the main suite's agree.
  as_root "${install[@]}" "${missing[@]}" || as_root "${install[@]}" -t bookworm "${missing[@]}"
fi

# libbzip2 for the Windows build comes from Debian's own source package.
# apt gets a private sources list and lists directory so the system's stay as they are.
if [ ! -f "$third_party/bzip2/bzlib.h" ]; then
  apt_dir="$third_party/apt"
  mkdir -p "$apt_dir/lists/partial" "$third_party"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$apt_dir/sources.list"
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
            -o "Dir::State::Lists=$apt_dir/lists" -o "Debug::NoLocking=1")
  apt-get "${apt_opts[@]}" update -q
  rm -rf "$third_party/src" && mkdir -p "$third_party/src"
  (cd "$third_party/src" && apt-get "${apt_opts[@]}" source -q bzip2)
  src=$(find "$third_party/src" -maxdepth 1 -type d -name 'bzip2-*' | head -n 1)
  [ -n "$src" ] && [ -f "$src/bzlib.h" ] || { echo "setup: bzip2 source not found" >&2; exit 1; }
  rm -rf "$third_party/bzip2"
  mv "$src" "$third_party/bzip2"
  rm -rf "$third_party/src"
fi
# The route by which the Windows suite runs under Wine on this machine.
bash "$root/scripts/wine.sh" setup
echo "setup: ready"
