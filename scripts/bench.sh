#!/usr/bin/env bash
# Measures tessel against an earlier build of itself, in one run (the
# machine's speed drifts from run to run). Builds BASE (default 41d68fd, the
# last build that decoded every layer whole) beside the current tree, makes
# the benchmark documents, and prints for both builds:
#   - the whole process of `tessel render` to BMP (and to PNG, and
#     `tessel thumbnail`, for the photograph): wall, user and system time and peak memory, the median of
#     RUNS (default 5) runs of /usr/bin/time;
#   - the time per GetPicture call from a file name;
#   - the peak memory of `render` against the number of layers;
#   - the time of one group of 1 k to 16 k small layers (v003, v011);
#   - tessel against GIMP (scripts/bench-gimp.sh): the photograph as GIMP
#     2.10 and GIMP 3 save it, against each one's own load and flatten;
#   - the 32-bit check: the documents that a 32-bit viewer could not open,
#     through tessel.exe and the real tessel.spi of both builds under Wine
#     (either route), their bitmaps compared with the native build's.
# TESSEL_BENCH_32BIT=0 leaves the 32-bit check out (it takes minutes under
# the emulated route).
# usage: scripts/bench.sh [BASE] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
base=${1:-41d68fd}
runs=${2:-5}
work="$root/build/bench"
mkdir -p "$work"

[ -n "${TESSEL_SETUP_DONE:-}" ] || bash scripts/setup.sh >/dev/null
command -v /usr/bin/time >/dev/null 2>&1 || { echo "bench: /usr/bin/time is needed (Debian package time)" >&2; exit 1; }

echo "== building the current tree and $base"
cmake --preset native >/dev/null
cmake --build --preset native --target tessel tessel_benchgen tessel_percall tessel_png_matches_bmp \
      tessel_picture_difference >/dev/null
current="$root/build/native"
baseline="$work/baseline"
source scripts/baseline.sh
build_baseline "$base" "$baseline" tessel tessel_core
# The per-call timer uses the exports alone, so one source serves both.
g++ -O2 -std=c++17 -I"$baseline/src" bench/percall.cpp "$baseline/build/libtessel_core.a" -lz -lbz2 -llzma -lpthread \
    -o "$baseline/build/tessel_percall"

echo "== making the files"
gen="$current/bin/tessel_benchgen"
make_file() {  # make_file PATH ARGS...: the file, once
  local path=$1
  shift
  [ -f "$path" ] || "$gen" "$@"
}
photo="$work/photo-6000x4000.xcf"
small="$work/three-layers-1000x800.xcf"
layers64="$work/64-layers-6000x4000.xcf"
nested="$work/511-groups-64x32766.xcf"
big="$work/document-7000.xcf"
packed="$work/document-5000.xcf.gz"
example="$root/examples/example.xcf"
make_file "$photo" --viewer "$photo"
make_file "$small" --small "$small"
make_file "$layers64" --layers 64 6000 4000 "$layers64"
make_file "$nested" --nested 511 64 32766 "$nested"
make_file "$big" "$big" 7000
if [ ! -f "$packed" ]; then
  "$gen" "$work/document-5000.xcf" 5000
  gzip -1 -c "$work/document-5000.xcf" > "$packed.partial" && mv "$packed.partial" "$packed"
  rm -f "$work/document-5000.xcf"
fi
for f in "$photo" "$layers64" "$nested" "$big" "$packed"; do echo "$(basename "$f"): $(stat -c %s "$f") bytes"; done

source scripts/measure.sh
bin_of() { if [ "$1" = base ]; then echo "$baseline/build/bin"; else echo "$current/bin"; fi; }
name_of() { basename "$1" | sed 's/\.xcf.*//'; }

printf '\n%-34s %-8s %8s %8s %8s %10s\n' "render, whole process, median of $runs" build wall user sys "peak MiB"
declare -A wall
for task in "$photo BMP" "$photo PNG" "$layers64 BMP" "$nested BMP" "$big BMP" "$packed BMP"; do
  file=${task% *}
  kind=${task##* }
  label="$(name_of "$file") to $kind"
  for build in base current; do
    out="$work/out-$(name_of "$file")-$build.${kind,,}"
    read -r w u s m < <(measure "$(bin_of $build)/tessel" render "$file" "$out")
    wall["$label $build"]=$w
    printf '%-34s %-8s %7ss %7ss %7ss %10d\n' "$label" "$build" "$w" "$u" "$s" $((m / 1024))
  done
  awk -v a="${wall["$label base"]}" -v b="${wall["$label current"]}" -v t="$label" \
      'BEGIN { if (b > 0) printf "%-34s %-8s %7.2fx faster\n", t, "ratio", a / b }'
  if [ "$kind" = BMP ]; then
    cmp -s "$work/out-$(name_of "$file")-base.bmp" "$work/out-$(name_of "$file")-current.bmp" ||
      { echo "bench: the two builds' bitmaps of $(name_of "$file") differ" >&2; exit 1; }
  fi
done
echo "the two builds' bitmaps are identical"

# The photograph's layers in a file of version 11, opaque, and with a
# transparent hole in its base (versions 11 and 0): to PNG, the picture
# with its transparency (RGBA) where the hole is.
photo11g="$work/photo-6000x4000-v011.xcf"
hole11="$work/photo-6000x4000-v011-hole.xcf"
hole0="$work/photo-6000x4000-v000-hole.xcf"
make_file "$photo11g" --photo v011 "$photo11g"
make_file "$hole11" --photo v011 hole "$hole11"
make_file "$hole0" --photo file hole "$hole0"
printf '\n%-34s %-8s %8s %8s %8s %10s %12s\n' "to PNG, median of $runs" build wall user sys "peak MiB" "PNG bytes"
for file in "$photo11g" "$hole11" "$hole0"; do
  for build in base current; do
    out="$work/out-$(name_of "$file")-$build.png"
    read -r w u s m < <(measure "$(bin_of $build)/tessel" render "$file" "$out")
    printf '%-34s %-8s %7ss %7ss %7ss %10d %12d\n' "$(name_of "$file")" "$build" "$w" "$u" "$s" $((m / 1024)) \
           "$(stat -c %s "$out")"
  done
done
# The thumbnail against render to BMP, the current build alone (the base
# has no thumbnail command).
read -r w u s m < <(measure "$current/bin/tessel" thumbnail "$photo" "$work/out-thumbnail.png")
printf '%-34s %-8s %7ss %7ss %7ss %10d  (%d bytes)\n' "$(name_of "$photo") thumbnail" current "$w" "$u" "$s" \
       $((m / 1024)) "$(stat -c %s "$work/out-thumbnail.png")"
# A GTK program's load through the pixbuf loader (tessel_pixbuf_load: a
# small C program calling gdk_pixbuf_new_from_file, or _at_size 256),
# against render to BMP and thumbnail, the current build alone.
if [ -x "$current/bin/tessel_pixbuf_load" ]; then
  cache="$work/loaders.cache"
  "$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" "$current/lib/libpixbufloader-xcf.so" > "$cache"
  printf '\n%-34s %-8s %8s %8s %8s %10s\n' "GTK load, median of $runs" how wall user sys "peak MiB"
  for file in "$photo" "$hole11"; do
    read -r w u s m < <(measure "$current/bin/tessel" render "$file" "$work/out-pixbuf.bmp")
    printf '%-34s %-8s %7ss %7ss %7ss %10d\n' "$(name_of "$file")" render "$w" "$u" "$s" $((m / 1024))
    read -r w u s m < <(GDK_PIXBUF_MODULE_FILE="$cache" measure "$current/bin/tessel_pixbuf_load" "$file")
    printf '%-34s %-8s %7ss %7ss %7ss %10d  (%s)\n' "$(name_of "$file")" pixbuf "$w" "$u" "$s" $((m / 1024)) \
           "$(GDK_PIXBUF_MODULE_FILE="$cache" "$current/bin/tessel_pixbuf_load" "$file")"
  done
  read -r w u s m < <(measure "$current/bin/tessel" thumbnail "$photo" "$work/out-thumbnail.png")
  printf '%-34s %-8s %7ss %7ss %7ss %10d\n' "$(name_of "$photo") at 256" thumbnail "$w" "$u" "$s" $((m / 1024))
  read -r w u s m < <(GDK_PIXBUF_MODULE_FILE="$cache" measure "$current/bin/tessel_pixbuf_load" "$photo" 256)
  printf '%-34s %-8s %7ss %7ss %7ss %10d\n' "$(name_of "$photo") at 256" pixbuf "$w" "$u" "$s" $((m / 1024))
fi
echo "PNG sizes: base $(stat -c %s "$work/out-$(name_of "$photo")-base.png"), current $(stat -c %s "$work/out-$(name_of "$photo")-current.png") bytes"
for build in base current; do
  "$current/bin/tessel_png_matches_bmp" "$work/out-$(name_of "$photo")-$build.png" "$work/out-$(name_of "$photo")-$build.bmp" ||
    { echo "bench: the $build PNG is not the BMP's picture" >&2; exit 1; }
done

# tessel against GIMP 2.10 and GIMP 3 on the photograph as each saves it.
TESSEL_SETUP_DONE=1 bash scripts/bench-gimp.sh "$runs"
# The photograph as GIMP 2.10 saves it (version 11, made by bench-gimp.sh
# where GIMP is installed), both builds.
photo11="$work/photo-v11.xcf"
if [ -f "$photo11" ]; then
  printf '\n%-34s %-8s %8s %8s %8s %10s\n' "photo-v11, median of $runs" build wall user sys "peak MiB"
  for kind in BMP PNG; do
    for build in base current; do
      read -r w u s m < <(measure "$(bin_of $build)/tessel" render "$photo11" "$work/out-photo-v11-$build.${kind,,}")
      printf '%-34s %-8s %7ss %7ss %7ss %10d\n' "photo-v11 to $kind" "$build" "$w" "$u" "$s" $((m / 1024))
    done
  done
  cmp -s "$work/out-photo-v11-base.bmp" "$work/out-photo-v11-current.bmp" ||
    { echo "bench: the two builds' bitmaps of photo-v11 differ" >&2; exit 1; }
fi

printf '\n%-34s %-8s %12s %12s\n' "GetPicture from a file name" build "median ms" "mean ms"
for file in "$photo:5" "$layers64:3" "$example:200" "$small:200"; do
  path=${file%:*}
  calls=${file##*:}
  for build in base current; do
    if [ $build = base ]; then percall="$baseline/build/tessel_percall"; else percall="$current/bin/tessel_percall"; fi
    line=$("$percall" "$path" "$calls")
    median=$(sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' <<<"$line")
    mean=$(sed -n 's/.*mean \([0-9.]*\) ms.*/\1/p' <<<"$line")
    printf '%-34s %-8s %12s %12s\n' "$(basename "$path") x$calls" "$build" "$median" "$mean"
  done
done

printf '\n%-34s %12s %12s\n' "peak memory of render to BMP" "base MiB" "current MiB"
for n in 8 16 32 64; do
  file="$work/$n-layers-4096.xcf"
  make_file "$file" --layers "$n" 4096 4096 "$file"
  peaks=()
  for build in base current; do
    peaks+=($(( $(/usr/bin/time -f '%M' "$(bin_of $build)/tessel" render "$file" "$work/layers.bmp" 2>&1 >/dev/null |
                  tail -n 1) / 1024 )))
  done
  printf '%-34s %12s %12s\n' "$n RGBA layers, 4096 x 4096" "${peaks[0]}" "${peaks[1]}"
done
echo "(the canvas is $((4096 * 4096 * 3 / 1048576)) MiB)"

printf '\n%-34s %-8s %10s %10s\n' "one group of N layers, median of $runs" build "v003 s" "v011 s"
for n in 1024 2048 4096 8192 16384; do
  for build in base current; do
    row=()
    for tag in v003 v011; do
      file="$work/wide-$n-$tag.xcf"
      make_file "$file" --wide "$n" 1024 1024 "$tag" "$file"
      read -r w _ _ _ < <(measure "$(bin_of $build)/tessel" render "$file" "$work/wide.bmp")
      row+=("$w")
    done
    printf '%-34s %-8s %10s %10s\n' "$n layers, 8 x 8 each" "$build" "${row[0]}" "${row[1]}"
  done
done

[ "${TESSEL_BENCH_32BIT:-1}" = 1 ] || exit 0
printf '\n== the 32-bit check under Wine, by the %s route\n' "$(cat build/wine/route)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target tessel tessel_spi >/dev/null
cmake -S "$baseline/src" -B "$baseline/win32" -G Ninja --toolchain "$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_TESTS=OFF -DTESSEL_BUILD_BENCH=OFF \
      -DTESSEL_BZIP2_DIR="$root/.cache/bzip2-1.0.8-5" >/dev/null
cmake --build "$baseline/win32" --target tessel tessel_spi >/dev/null
for file in "$big" "$layers64" "$packed"; do
  for build in base current; do
    if [ $build = base ]; then dir="$baseline/win32/bin"; else dir="$root/build/win32/bin"; fi
    out="$work/wine-$(name_of "$file")-$build.bmp"
    rm -f "$out"
    start=$(date +%s)
    message=$(bash scripts/wine.sh run "$dir/tessel.exe" render "$file" "$out" 2>&1 | tr -d '\r' | tail -n 1) || true
    seconds=$(( $(date +%s) - start ))
    if [ -f "$out" ]; then
      cmp -s "$out" "$work/out-$(name_of "$file")-current.bmp" && verdict="renders, the native build's bitmap" ||
        verdict="renders, but not the native build's bitmap"
    else
      verdict="fails: ${message#tessel: }"
    fi
    printf '%-26s %-8s %5ss  %s\n' "$(basename "$file")" "$build" "$seconds" "$verdict"
  done
done
