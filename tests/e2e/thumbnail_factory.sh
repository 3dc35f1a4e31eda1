#!/usr/bin/env bash
# The Debian package's files driven by GNOME's thumbnail factory: unpacked
# into a folder under /usr (the factory's sandbox sees /usr and the one
# input file, nothing else), found by the factory through the package's
# thumbnailer entry, and asked for thumbnails of a plain, a gzip and a
# bzip2 sample, of two files of GIMP 2.10 (versions 11 and 12, from
# tests/gimp), two of GIMP 3 (a text layer, version 19; a layer with
# filters, version 22; from tests/gimp3), a logo on nothing (from
# tests/gimp-alpha), whose thumbnail keeps its transparency, and of a
# damaged file. The folder is removed afterwards.
# Where bubblewrap cannot run (no user namespaces), it says so and runs
# the entry's Exec line directly instead.
# usage: thumbnail_factory.sh PACKAGE.deb EXAMPLE.xcf   (as root, or with sudo)
set -euo pipefail
deb=$(realpath "$1")
example=$(realpath "$2")
as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

prefix=$(as_root mktemp -d /usr/lib/tessel-thumbnail-test.XXXXXX)
scratch=$(mktemp -d)
trap 'as_root rm -rf "$prefix"; rm -rf "$scratch"' EXIT
as_root dpkg-deb -x "$deb" "$prefix"
as_root chmod -R a+rX "$prefix"
tessel="$prefix/usr/bin/tessel"
entry="$prefix/usr/share/thumbnailers/tessel.thumbnailer"

cp "$example" "$scratch/plain.xcf"
gzip -c "$example" > "$scratch/packed.xcf.gz"
bzip2 -c "$example" > "$scratch/packed.xcf.bz2"
head -c "$(( $(stat -c %s "$example") - 200 ))" "$example" > "$scratch/damaged.xcf"
gimp="$(cd "$(dirname "$0")/../gimp" && pwd)"
cp "$gimp/modern-modes.xcf" "$scratch/gimp-2.10.xcf"
cp "$gimp/precision-u16-gamma.xcf" "$scratch/sixteen-bit.xcf"
cp "$gimp/../gimp3/gimp3-text.xcf" "$scratch/gimp-3-text.xcf"
cp "$gimp/../gimp3/gimp3-filters.xcf" "$scratch/gimp-3-filters.xcf"
cp "$gimp/../gimp-alpha/logo.xcf" "$scratch/transparent-logo.xcf"
samples=("$scratch/plain.xcf" "$scratch/packed.xcf.gz" "$scratch/packed.xcf.bz2" "$scratch/gimp-2.10.xcf"
         "$scratch/sixteen-bit.xcf" "$scratch/gimp-3-text.xcf" "$scratch/gimp-3-filters.xcf"
         "$scratch/transparent-logo.xcf")

# The factory runs thumbnailers as `bwrap --unshare-all ...`.
if bwrap --ro-bind / / --unshare-all --die-with-parent true 2>/dev/null; then
  echo "thumbnail factory: GNOME's factory, in its bubblewrap sandbox"
  G_MESSAGES_DEBUG="${G_MESSAGES_DEBUG:-}" HOME="$scratch" XDG_DATA_DIRS="$prefix/usr/share:/usr/share" PATH="$prefix/usr/bin:$PATH" \
    timeout 300 /usr/bin/python3 "$(dirname "$0")/thumbnail_factory.py" "$tessel" 256 \
    "${samples[@]}" -- "$scratch/damaged.xcf"
  exit
fi

echo "thumbnail factory: SANDBOX UNAVAILABLE (bubblewrap cannot make its namespaces here);" \
     "running the entry's Exec line directly instead"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
failed=0
for input in "${samples[@]}" "$scratch/damaged.xcf"; do
  out="$scratch/out.png"
  rm -f "$out"
  line=${exec_line//%s/256}
  line=${line//%i/$input}
  line=${line//%o/$out}
  read -r -a argv <<< "$line"
  set +e
  PATH="$prefix/usr/bin:$PATH" timeout 60 "${argv[@]}" 2>/dev/null
  status=$?
  set -e
  name=$(basename "$input")
  if [ "$name" = damaged.xcf ]; then
    if [ "$status" = 1 ] && [ ! -e "$out" ]; then echo "$name: failed as it should (exit 1)"; else echo "$name: exit $status"; failed=1; fi
  elif [ "$status" = 0 ] && file "$out" | grep -q 'PNG image data'; then
    echo "$name: $(file -b "$out" | cut -d, -f1-2)"
  else
    echo "$name: exit $status, no thumbnail"
    failed=1
  fi
done
exit $failed
