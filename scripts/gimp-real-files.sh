#!/usr/bin/env bash
# Files that nobody on the team made, drawn by tessel against GIMP 2.10's
# own flatten over black (an opaque black Normal layer under everything):
# the XCF files of versions 4 on inside some of Debian 12's packages,
# downloaded (not installed) into build/real-files/. Needs GIMP (Debian's
# gimp); not part of the test run. Prints one line per file.
# usage: scripts/gimp-real-files.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v gimp-console-2.10 >/dev/null || { echo "gimp-real-files: GIMP 2.10 is needed (apt-get install gimp)" >&2; exit 1; }
work=build/real-files
mkdir -p "$work/debs" "$work/files" "$work/out"
packages=(cimg-doc castle-game-engine-doc live-clone python3-sdl2 golang-github-lucasb-eyer-go-colorful-dev
          anyremote-doc python3-stem-doc libchecker-framework-java python-mdtraj-doc lisaac-doc cycle)
(cd "$work/debs" && apt-get download "${packages[@]}" >/dev/null 2>&1) ||
  { echo "gimp-real-files: the packages could not be downloaded" >&2; exit 1; }
for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/files"; done
cmake --preset native >/dev/null
cmake --build --preset native --target tessel tessel_picture_difference >/dev/null
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
status=0
count=0
while IFS= read -r -d '' file; do
  case "$file" in *.gz) tag=$( (zcat "$file" 2>/dev/null || true) | head -c 13 | tail -c 4);; *) tag=$(head -c 13 "$file" | tail -c 4);; esac
  case "$tag" in file|v001|v002|v003) continue;; esac
  count=$((count + 1))
  name=$(basename "$file")
  cat > "$home/flatten.scm" <<SCM
(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "$PWD/$file" "$name")))
       (black (car (gimp-layer-new image (car (gimp-image-width image)) (car (gimp-image-height image))
                                   RGB-IMAGE "black" 100 LAYER-MODE-NORMAL))))
  (gimp-image-insert-layer image black 0 (car (gimp-image-get-layers image)))
  (gimp-context-set-foreground '(0 0 0))
  (gimp-drawable-fill black FILL-FOREGROUND)
  (let ((flat (car (gimp-image-flatten image))))
    (if (not (= (car (gimp-image-get-precision image)) PRECISION-U8-GAMMA))
      (gimp-image-convert-precision image PRECISION-U8-GAMMA))
    (file-png-save2 RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image))
                    "$PWD/$work/out/$count-gimp.png" "x" 0 9 0 0 0 0 0 0 0)))
(gimp-quit 0)
SCM
  HOME="$home" gimp-console-2.10 -i -n -d -f -b - < "$home/flatten.scm" >/dev/null 2>&1
  build/native/bin/tessel render "$file" "$work/out/$count-tessel.png"
  printf '%-40s %s ' "$name" "$tag"
  build/native/bin/tessel_picture_difference "$work/out/$count-tessel.png" "$work/out/$count-gimp.png" || status=1
done < <(find "$work/files" \( -name '*.xcf' -o -name '*.xcf.gz' \) -print0 | sort -z)
echo "$count files of GIMP 2.10 and later"
exit $status
