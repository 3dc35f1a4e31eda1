#!/usr/bin/env bash
# tessel against GIMP on the benchmarks' photograph (6000 x 4000, six layers:
# normal, multiply, screen, overlay, hard light, two masks), whole process,
# the median of RUNS (default 5) runs of /usr/bin/time:
#   - where GIMP 2.10 is installed: the photograph as it saves it (XCF
#     version 11, made once by bench/gimp_photo.scm), GIMP's own load and
#     flatten (gimp-console in batch mode) against `tessel render`, and the
#     two pictures compared (within one level);
#   - where scripts/gimp3.sh has made its Debian 13 root: the same with GIMP
#     3 (version 23, its own default spaces, made once by
#     bench/gimp3_photo.scm), and tessel's time on GIMP 3's file against its
#     time on GIMP 2.10's (the same layers, pixels and size).
# scripts/bench.sh runs this too.
# usage: scripts/bench-gimp.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-5}
work="$root/build/bench"
mkdir -p "$work"
[ -n "${TESSEL_SETUP_DONE:-}" ] || bash scripts/setup.sh >/dev/null
command -v /usr/bin/time >/dev/null 2>&1 || { echo "bench: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }
cmake --preset native >/dev/null
cmake --build --preset native --target tessel tessel_picture_difference >/dev/null
current="$root/build/native"
source scripts/measure.sh
row() { printf '%-34s %-8s %7ss %7ss %7ss %10d\n' "$1" "$2" "$3" "$4" "$5" $(($6 / 1024)); }
printf '\n%-34s %-8s %8s %8s %8s %10s\n' "against GIMP, median of $runs" who wall user sys "peak MiB"

# flatten_scm IMAGE-LOAD PNG: GIMP's load, an opaque black layer under
# everything, the flatten, and (where PNG is given) the picture exported.
flatten_scm() {
  cat <<SCM
(let* ((image $1)
       (black (car (gimp-layer-new image 6000 4000 RGB-IMAGE "black" 100 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer image black 0 (car (gimp-image-get-layers image)))
  (gimp-context-set-foreground '(0 0 0))
  (gimp-drawable-fill black FILL-FOREGROUND)
  (let ((flat (car (gimp-image-flatten image))))
    (if (> (string-length "$2") 0) (file-png-save2 RUN-NONINTERACTIVE image flat "$2" "x" 0 1 0 0 0 0 0 0 0)))
  (gimp-quit 0))
SCM
}

v11_wall=
if command -v gimp-console-2.10 >/dev/null; then
  photo="$work/photo-v11.xcf"
  home=$(mktemp -d)
  if [ ! -f "$photo" ]; then
    { echo "(define OUT \"$photo\")"; cat bench/gimp_photo.scm; } | HOME="$home" gimp-console-2.10 -i -n -d -f -b - >/dev/null 2>&1
  fi
  load="(car (gimp-file-load RUN-NONINTERACTIVE \"$photo\" \"photo-v11.xcf\"))"
  flatten_scm "$load" "" > "$home/flatten.scm"
  flatten_scm "$load" "$work/out-photo-v11-gimp.png" > "$home/export.scm"
  echo "$(basename "$photo"): $(stat -c %s "$photo") bytes, saved by GIMP $(gimp-console-2.10 --version | sed 's/.*version //')"
  read -r w u s m < <(measure sh -c "HOME='$home' gimp-console-2.10 -i -n -d -f -b - < '$home/flatten.scm' >/dev/null 2>&1")
  row "photo-v11, load and flatten" GIMP "$w" "$u" "$s" "$m"
  gimp_wall=$w
  read -r w u s m < <(measure "$current/bin/tessel" render "$photo" "$work/out-photo-v11.bmp")
  row "photo-v11, render to BMP" tessel "$w" "$u" "$s" "$m"
  v11_wall=$w
  awk -v a="$gimp_wall" -v b="$w" 'BEGIN { if (b > 0) printf "%-34s %-8s %7.2fx faster\n", "photo-v11", "ratio", a / b }'
  HOME="$home" gimp-console-2.10 -i -n -d -f -b - < "$home/export.scm" >/dev/null 2>&1
  "$current/bin/tessel" render "$photo" "$work/out-photo-v11.png"
  "$current/bin/tessel_picture_difference" "$work/out-photo-v11.png" "$work/out-photo-v11-gimp.png"
  rm -rf "$home"
fi

chroot_dir=${TESSEL_GIMP3_ROOT:-$root/.cache/gimp3-root}
if [ -x "$chroot_dir/usr/bin/gimp-console-3.0" ] && [ "$(id -u)" = 0 ]; then
  # The file lies inside the root, where GIMP 3 reads and writes it.
  inside=/tmp/bench
  mkdir -p "$chroot_dir$inside" "$chroot_dir/tmp/bench-home"
  photo="$chroot_dir$inside/photo-v23.xcf"
  # GIMP 3's Script-Fu on a script of the root's, as one command.
  cat > "$chroot_dir$inside/run.sh" <<'SH'
HOME=/tmp/bench-home exec gimp-console-3.0 -i -n -d -f --batch-interpreter=plug-in-script-fu-eval -b - < "$1" >/dev/null 2>&1
SH
  gimp3=(chroot "$chroot_dir" sh "$inside/run.sh")
  if [ ! -f "$photo" ]; then
    { echo "(define OUT \"$inside/photo-v23.xcf\")"; cat bench/gimp3_photo.scm; } > "$chroot_dir$inside/make.scm"
    "${gimp3[@]}" "$inside/make.scm"
  fi
  # The same load and flatten in GIMP 3's Script-Fu; the export is of
  # 8-bit PNG.
  for what in flatten export; do
    save=""
    [ "$what" = export ] && save="(gimp-file-save RUN-NONINTERACTIVE image \"$inside/out-photo-v23-gimp.png\" -1)"
    cat > "$chroot_dir$inside/$what.scm" <<SCM
(script-fu-use-v3)
(let* ((image (gimp-file-load RUN-NONINTERACTIVE "$inside/photo-v23.xcf"))
       (black (gimp-layer-new image "black" 6000 4000 RGB-IMAGE 100 LAYER-MODE-NORMAL)))
  (gimp-image-insert-layer image black 0 (vector-length (gimp-image-get-layers image)))
  (gimp-context-set-foreground '(0 0 0))
  (gimp-drawable-fill black FILL-FOREGROUND)
  (gimp-image-flatten image)
  $save
  (gimp-quit 0))
SCM
  done
  echo "$(basename "$photo"): $(stat -c %s "$photo") bytes, saved by GIMP $(chroot "$chroot_dir" gimp-console-3.0 --version | awk '{print $NF}')"
  read -r w u s m < <(measure "${gimp3[@]}" "$inside/flatten.scm")
  row "photo-v23, load and flatten" "GIMP 3" "$w" "$u" "$s" "$m"
  gimp_wall=$w
  read -r w u s m < <(measure "$current/bin/tessel" render "$photo" "$work/out-photo-v23.bmp")
  row "photo-v23, render to BMP" tessel "$w" "$u" "$s" "$m"
  awk -v a="$gimp_wall" -v b="$w" 'BEGIN { if (b > 0) printf "%-34s %-8s %7.2fx faster\n", "photo-v23", "ratio", a / b }'
  [ -z "$v11_wall" ] ||
    awk -v a="$v11_wall" -v b="$w" 'BEGIN { printf "%-34s %-8s %7.2fx the time of photo-v11\n", "photo-v23, tessel", "ratio", b / a }'
  "${gimp3[@]}" "$inside/export.scm"
  "$current/bin/tessel" render "$photo" "$work/out-photo-v23.png"
  "$current/bin/tessel_picture_difference" "$work/out-photo-v23.png" "$chroot_dir$inside/out-photo-v23-gimp.png"
fi
