#!/usr/bin/env bash
# Runs tessel's 32-bit Windows programs under Wine, by one of two routes:
#
#   plain     Debian's wine32 runs them directly; needs a kernel that runs
#             32-bit x86 code.
#   emulated  for kernels that run no 32-bit code: a 64-bit Wine prefix whose
#             32-bit side runs in qemu-i386 (user-mode emulation, taken from
#             Debian trixie's qemu-user package; nothing from trixie is
#             installed). Wine starts its 32-bit helpers through WINELOADER,
#             a script that hands them to the emulator.
#
# usage: scripts/wine.sh setup       choose and prepare the route (scripts/setup.sh calls it);
#                                    TESSEL_WINE_ROUTE=plain or emulated forces one
#        scripts/wine.sh check       say which route runs, and run a program by it
#        scripts/wine.sh run PROGRAM [ARGUMENTS...]
#                                    run a Windows program by the prepared route
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/apt.sh"
cache="$root/.cache"             # downloads, kept when build/ is cleaned
state="$root/build/wine"         # prefixes and the chosen route
qemu="$cache/qemu/qemu-i386"
# The emulator is pinned: the version that maps Wine's shared user data
# where Wine needs it (bookworm's 7.2 does not).
qemu_version="1:10.0.13+ds-0+deb13u1"

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# The variables every run gets, for the route in $1.
route_environment() {
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TESSEL_WINE_ROUTE="$1"
  export WINEPREFIX="$state/prefix-$1"
  if [ "$1" = plain ]; then
    export WINEARCH=win32
    unset WINESERVER WINELOADER WINELOADERNOEXEC
  else
    export WINESERVER=/usr/lib/wine/wineserver64 WINELOADERNOEXEC=1 WINELOADER="$state/wineloader"
    unset WINEARCH
  fi
}

# Runs a Windows program by the route in $1.
launch() {
  local route=$1
  shift
  if [ "$route" = plain ]; then
    wine "$@"
  else
    "$state/wineloader" "$@"
  fi
}

# A tiny 32-bit Windows program: whether a route runs one at all.
probe() {
  local route=$1
  mkdir -p "$state"
  if [ ! -f "$state/probe.exe" ]; then
    printf '#include <stdio.h>\nint main(void) { puts("tessel-probe"); return 0; }\n' > "$state/probe.c"
    i686-w64-mingw32-gcc -O2 -o "$state/probe.exe" "$state/probe.c"
  fi
  route_environment "$route"
  launch "$route" "$state/probe.exe" 2>/dev/null | tr -d '\r' | grep -qx tessel-probe
}

prepare_plain() {
  route_environment plain
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    echo "wine: preparing the plain route (a 32-bit prefix)"
    wineboot -i >/dev/null 2>&1 || true
  fi
  probe plain
}

fetch_qemu() {
  [ -x "$qemu" ] && "$qemu" --version | grep -q "${qemu_version#1:}" && return 0
  local apt_dir="$cache/apt-trixie"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$cache/qemu"
  echo "deb http://deb.debian.org/debian trixie main" > "$apt_dir/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
              -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
              -o "APT::Architectures=amd64" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
  echo "wine: fetching qemu-i386 from Debian trixie's qemu-user $qemu_version (the package is not installed)"
  apt_update "Debian trixie's package lists (for qemu-user)" apt-get "${opts[@]}" || return 1
  # apt checks the package against the signed index before keeping it.
  (cd "$apt_dir" && rm -f qemu-user_*.deb && apt-get "${opts[@]}" download -q "qemu-user=$qemu_version" >/dev/null)
  rm -rf "$apt_dir/x" && mkdir -p "$apt_dir/x"
  dpkg-deb -x "$apt_dir"/qemu-user_*.deb "$apt_dir/x"
  cp "$apt_dir/x/usr/bin/qemu-i386" "$qemu.new" && mv "$qemu.new" "$qemu"
  rm -rf "$apt_dir/x" "$apt_dir"/qemu-user_*.deb
}

prepare_emulated() {
  if ! dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q 'install ok installed'; then
    local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends wine64)
    as_root "${install[@]}" || as_root "${install[@]}" -t bookworm
  fi
  fetch_qemu
  mkdir -p "$state"
  printf '#!/bin/sh\nexec "%s" /usr/lib/wine/wine "$@"\n' "$qemu" > "$state/wineloader"
  chmod +x "$state/wineloader"
  route_environment emulated
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    echo "wine: preparing the emulated route (a 64-bit prefix, its 32-bit side through qemu-i386)"
    # The 32-bit half of the first start fails where no 32-bit code runs;
    # Wine's own 32-bit builtins are copied in instead.
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    cp /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll /usr/lib/i386-linux-gnu/wine/i386-windows/*.exe \
       "$WINEPREFIX/drive_c/windows/syswow64/"
  fi
  probe emulated
}

case "${1:-}" in
  setup)
    wanted=${TESSEL_WINE_ROUTE:-}
    case "$wanted" in
      plain|emulated|"") ;;
      *) echo "wine: TESSEL_WINE_ROUTE must be plain or emulated, not $wanted" >&2; exit 2 ;;
    esac
    route=
    if [ "$wanted" != emulated ]; then
      if prepare_plain; then
        route=plain
      elif [ "$wanted" = plain ]; then
        echo "wine: the plain route cannot run a 32-bit Windows program here" >&2
        exit 1
      else
        echo "wine: this machine runs no 32-bit Windows program directly; taking the emulated route"
      fi
    fi
    if [ -z "$route" ]; then
      prepare_emulated || { echo "wine: the emulated route cannot run a 32-bit Windows program either" >&2; exit 1; }
      route=emulated
    fi
    echo "$route" > "$state/route"
    echo "wine: $route route ready"
    ;;
  check)
    route=$(cat "$state/route" 2>/dev/null) || { echo "wine: no route prepared; run scripts/setup.sh" >&2; exit 1; }
    detail="$(/usr/lib/wine/wine64 --version 2>/dev/null || wine --version 2>/dev/null || true)"
    [ "$route" = emulated ] && detail="$detail, 32-bit code in $("$qemu" --version | head -n 1)"
    echo "wine route: $route ($detail)"
    probe "$route"
    ;;
  run)
    shift
    route=$(cat "$state/route" 2>/dev/null) || { echo "wine: no route prepared; run scripts/setup.sh" >&2; exit 1; }
    route_environment "$route"
    launch "$route" "$@"
    ;;
  *)
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
