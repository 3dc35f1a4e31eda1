#!/usr/bin/env bash
# Installs what tessel's builds and tests need on Debian 12.
#   scripts/setup.sh tool   the native tool alone (scripts/example.sh): a
#                           compiler, CMake, Ninja, zlib and libbzip2
#   scripts/setup.sh        everything scripts/test.sh runs: the test and
#                           benchmark libraries, clang for fuzzing, the
#                           packaging and GNOME's thumbnail factory, and the
#                           Windows tier: mingw-w64, Wine (with i386), the
#                           bzip2 sources that tessel.spi compiles in and the
#                           Wine route (scripts/wine.sh)
# Safe to run again: it only installs what is missing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/apt.sh"
tier=${1:-all}
case "$tier" in tool|all) ;; *) echo "usage: scripts/setup.sh [tool]" >&2; exit 2 ;; esac

packages=(cmake ninja-build g++ zlib1g-dev libbz2-dev liblzma-dev)
if [ "$tier" = all ]; then
  packages+=(
    pkg-config dpkg-dev libpng-dev libbabl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    help2man file bzip2 bubblewrap python3-gi gir1.2-gnomedesktop-3.0 shared-mime-info
    libgdk-pixbuf-2.0-dev gir1.2-gdkpixbuf-2.0 gir1.2-gtk-3.0 eog xvfb xauth
    g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
    wine wine32:i386
  )
fi

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$tier" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  # One index may fail while a mirror syncs (seen: bookworm-security's i386
  # list) and the packages still install from the others, so a failed
  # download is said here and decides only if the installing fails too.
  lists=ok
  apt_update "Debian's package lists" as_root env DEBIAN_FRONTEND=noninteractive apt-get || lists=failed
  install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends)
  # Without one arch's security index the i386 and amd64 halves of a
  # multi-arch package disagree on versions; the main suite's agree.
  if ! as_root "${install[@]}" "${missing[@]}" && ! as_root "${install[@]}" -t bookworm "${missing[@]}"; then
    if [ "$lists" = failed ]; then
      echo "setup: cannot install ${missing[*]}: Debian's mirror was not reached (see above); check the network connection or proxy, then run the command again" >&2
    else
      echo "setup: cannot install ${missing[*]} (apt said why above); run scripts/setup.sh again once that is mended" >&2
    fi
    exit 1
  fi
fi
[ "$tier" = tool ] && { echo "setup: ready for the native tool"; exit 0; }

# libbzip2 for the Windows build comes from Debian's own source package, at
# a pinned version whose files must have these hashes. It is kept in .cache/
# (which git ignores), so that cleaning build/ does not fetch it again.
# apt gets a private sources list and lists directory so the system's stay as they are.
bzip2_version=1.0.8-5
bzip2_dir="$root/.cache/bzip2-$bzip2_version"
bzip2_hashes="ab5a03176ee106d3f0fa90e381da478ddae405918153cca248e682cd0c4a2269  bzip2_1.0.8.orig.tar.gz
d68c6eba11d70e14319e24ef1451880a03023b2b75364646adb117086db36039  bzip2_1.0.8-5.debian.tar.bz2
ed9c40f4de3f9e064535e15eac1c61a0f606763db98f4579dbc04067b94a8944  bzip2_1.0.8-5.dsc"
if [ ! -f "$bzip2_dir/bzlib.h" ]; then
  apt_dir="$root/.cache/apt-bookworm-src"
  mkdir -p "$apt_dir/lists/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" > "$apt_dir/sources.list"
  apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
            -o "Dir::State::Lists=$apt_dir/lists" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
  apt_update "Debian's source index (for the bzip2 sources of tessel.spi)" apt-get "${apt_opts[@]}" || exit 1
  download="$apt_dir/download"
  rm -rf "$download" && mkdir -p "$download"
  (cd "$download" && apt-get "${apt_opts[@]}" source --download-only -q "bzip2=$bzip2_version" >/dev/null) ||
    { echo "setup: downloading the bzip2 $bzip2_version sources failed (apt said why above); check the network, then run scripts/setup.sh again" >&2; exit 1; }
  (cd "$download" && sha256sum --quiet -c - <<<"$bzip2_hashes") ||
    { echo "setup: the bzip2 $bzip2_version sources do not have the pinned hashes" >&2; exit 1; }
  rm -rf "$bzip2_dir"
  # The hashes above vouch for the files; dpkg-source need not look for a key.
  (cd "$download" && dpkg-source -q --no-check -x "bzip2_$bzip2_version.dsc" "$bzip2_dir" >/dev/null)
  rm -rf "$download" "$root/.cache"/bzip2_*.orig.tar.*
  [ -f "$bzip2_dir/bzlib.h" ] || { echo "setup: bzip2 source not found" >&2; exit 1; }
fi

# The route by which the Windows suite runs under Wine on this machine.
bash "$root/scripts/wine.sh" setup
echo "setup: ready"
