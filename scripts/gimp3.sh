#!/usr/bin/env bash
# GIMP 3 as the oracle for the files of versions 14 on. Debian 12 has no
# GIMP 3; Debian 13 has 3.0.4. This makes a Debian 13 root once (debootstrap
# --variant=minbase trixie, in .cache/gimp3-root, which cleaning build/
# leaves alone), installs GIMP there and runs its batch mode:
#   scripts/gimp3.sh root     makes (or checks) the root and says its size
#   scripts/gimp3.sh files    makes tests/gimp3/: the files of
#                             tests/gimp3/make_files.scm and, beside each,
#                             GIMP 3's own flatten over black in expected/,
#                             then the pictures below
#   scripts/gimp3.sh visible  beside each file of tests/gimp3, GIMP 3's
#                             picture with its transparency: the image's
#                             "New from Visible" layer alone in 8-bit gamma,
#                             expected/NAME.visible.png (tests/gimp3/visible.scm)
#   scripts/gimp3.sh          root and files
# Not part of the test run: the files and pictures are committed. Needs
# root (debootstrap and chroot) and the network, once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
chroot_dir=${TESSEL_GIMP3_ROOT:-$root/.cache/gimp3-root}
out="$root/tests/gimp3"
what=${1:-all}
case "$what" in root|files|visible|all) ;; *) echo "usage: scripts/gimp3.sh [root|files|visible]" >&2; exit 2 ;; esac
[ "$(id -u)" = 0 ] || { echo "gimp3: debootstrap and chroot need root" >&2; exit 1; }

make_root() {
  if [ -x "$chroot_dir/usr/bin/gimp-console-3.0" ]; then
    echo "gimp3: root ready in $chroot_dir ($(du -sh "$chroot_dir" | cut -f1))"
    return
  fi
  command -v debootstrap >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends debootstrap
  local started=$SECONDS
  rm -rf "$chroot_dir.partial"
  mkdir -p "$(dirname "$chroot_dir")"
  # A mirror mid-sync fails one download now and then: try again.
  local tries=0
  until debootstrap --variant=minbase trixie "$chroot_dir.partial" http://deb.debian.org/debian >"$root/.cache/gimp3-debootstrap.log" 2>&1; do
    tries=$((tries + 1))
    if [ $tries -ge 3 ]; then
      tail -5 "$root/.cache/gimp3-debootstrap.log" >&2
      echo "gimp3: debootstrap of trixie failed three times (log in .cache/gimp3-debootstrap.log)" >&2
      exit 1
    fi
    rm -rf "$chroot_dir.partial"
    sleep 10
  done
  tries=0
  until chroot "$chroot_dir.partial" sh -c 'apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends gimp' >>"$root/.cache/gimp3-debootstrap.log" 2>&1; do
    tries=$((tries + 1))
    if [ $tries -ge 3 ]; then
      tail -5 "$root/.cache/gimp3-debootstrap.log" >&2
      echo "gimp3: installing GIMP in the root failed three times (log in .cache/gimp3-debootstrap.log)" >&2
      exit 1
    fi
    sleep 10
  done
  chroot "$chroot_dir.partial" apt-get clean
  mv "$chroot_dir.partial" "$chroot_dir"
  echo "gimp3: root made in $((SECONDS - started)) s, $(du -sh "$chroot_dir" | cut -f1), GIMP $(chroot "$chroot_dir" gimp-console-3.0 --version | awk '{print $NF}')"
}

# batch SCRIPT: GIMP 3's Script-Fu on SCRIPT inside the root, with OUT the
# folder it writes to (the root sees tests/gimp3 at /out).
batch() {
  mkdir -p "$chroot_dir/out" "$chroot_dir/tmp/home"
  mountpoint -q "$chroot_dir/out" || mount --bind "$out" "$chroot_dir/out"
  trap 'umount "$chroot_dir/out" 2>/dev/null || true' EXIT
  rm -rf "$chroot_dir/tmp/home" && mkdir -p "$chroot_dir/tmp/home"
  local log="$chroot_dir/tmp/batch.log"
  { echo '(define OUT "/out")'; cat "$out/common.scm" "$root/tests/gimp/modes.scm" "$1"; } |
    chroot "$chroot_dir" sh -c 'HOME=/tmp/home gimp-console-3.0 -i -n -d --batch-interpreter=plug-in-script-fu-eval -b -' >"$log" 2>&1 ||
    { cat "$log" >&2; exit 1; }
  if grep -q "Error" "$log"; then cat "$log" >&2; exit 1; fi
}

# The pictures with transparency of every file there.
visible() {
  { cat "$out/visible.scm"; for file in "$out"/*.xcf*; do echo "(visible \"$(basename "$file")\")"; done
    echo "(gimp-quit 0)"; } > "$chroot_dir/tmp/visible.scm"
  batch "$chroot_dir/tmp/visible.scm"
}

[ "$what" = files ] || [ "$what" = visible ] || make_root
if [ "$what" != root ]; then
  [ -x "$chroot_dir/usr/bin/gimp-console-3.0" ] || { echo "gimp3: no root yet; run scripts/gimp3.sh root" >&2; exit 1; }
  mkdir -p "$out/expected"
  [ "$what" = visible ] || batch "$out/make_files.scm"
  visible
  ls -l "$out"/*.xcf*
fi
