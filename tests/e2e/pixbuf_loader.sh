#!/usr/bin/env bash
# The loader's Debian package driven by real clients: unpacked into a
# scratch folder, found by gdk-pixbuf-query-loaders, and named beside the
# system's loaders in a cache of their own (GDK_PIXBUF_MODULE_FILE), so
# that nothing of the system changes:
#   - Python's GdkPixbuf loads a plain, a gzip, a bzip2 and an xz file,
#     two of GIMP 2.10, two of GIMP 3 and a logo on nothing, each equal to
#     tessel render's PNG (pixbuf_loads.py), and a damaged file gives the
#     GError with tessel's reason;
#   - Eye of GNOME, under Xvfb, opens an XCF: a screenshot of its window
#     (kept as OUT_DIR/eog-xcf.png) shows the picture in its middle, and
#     without the loader it does not.
# usage: pixbuf_loader.sh LOADER.deb TOOL.deb OUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$(realpath "$1")
tooldeb=$(realpath "$2")
out=$(mkdir -p "$3" && cd "$3" && pwd)
scratch=$(mktemp -d)
xvfb=
trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null; rm -rf "$scratch"' EXIT

dpkg-deb -x "$deb" "$scratch/root"
dpkg-deb -x "$tooldeb" "$scratch/root"
module=$(find "$scratch/root" -name 'libpixbufloader-xcf.so')
query=$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)
system_cache=$(pkg-config --variable=gdk_pixbuf_cache_file gdk-pixbuf-2.0)
"$query" "$module" > "$scratch/xcf.cache"
grep -q '"xcf" .* "GIMP XCF image"' "$scratch/xcf.cache" || { cat "$scratch/xcf.cache" >&2; exit 1; }
echo "pixbuf: gdk-pixbuf-query-loaders finds $(grep -c '^"/' "$scratch/xcf.cache") module: $(grep -m1 '^"xcf"' "$scratch/xcf.cache")"
cat "$system_cache" "$scratch/xcf.cache" > "$scratch/loaders.cache"
export GDK_PIXBUF_MODULE_FILE="$scratch/loaders.cache"
# The package's MIME type of .xcf.xz merged with the system's types into
# one database, as installing the package merges it (where two databases
# name a file, GIO asks the data, and takes .xcf.xz for xz).
mkdir -p "$scratch/data/mime/packages"
cp /usr/share/mime/packages/*.xml "$scratch"/root/usr/share/mime/packages/*.xml "$scratch/data/mime/packages/"
update-mime-database "$scratch/data/mime" > /dev/null 2>&1

files="$scratch/files"
mkdir -p "$files"
example="$here/../../examples/example.xcf"
cp "$example" "$files/plain.xcf"
gzip -c "$example" > "$files/packed.xcf.gz"
bzip2 -c "$example" > "$files/packed.xcf.bz2"
xz -c "$example" > "$files/packed.xcf.xz"
cp "$here/../gimp/modern-modes.xcf" "$files/gimp-2.10.xcf"
cp "$here/../gimp/precision-u16-gamma.xcf" "$files/gimp-2.10-16-bit.xcf"
cp "$here/../gimp3/gimp3-text.xcf" "$files/gimp-3-text.xcf"
cp "$here/../gimp3/gimp3-groups.xcf.xz" "$files/gimp-3-groups.xcf.xz"
cp "$here/../gimp-alpha/logo.xcf" "$files/transparent-logo.xcf"
head -c "$(( $(stat -c %s "$example") - 200 ))" "$example" > "$files/damaged.xcf"
XDG_DATA_DIRS="$scratch/data" /usr/bin/python3 "$here/pixbuf_loads.py" "$scratch/root/usr/bin/tessel" \
  "$files"/plain.xcf "$files"/packed.xcf.* "$files"/gimp-* "$files/transparent-logo.xcf" -- "$files/damaged.xcf"

# Eye of GNOME, full screen on a screen of its own: the middle of the
# screen is the middle of the picture.
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp > "$scratch/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 50); do
  /usr/bin/python3 -c 'import gi; gi.require_version("Gdk", "3.0"); from gi.repository import Gdk; exit(Gdk.Display.get_default() is None)' 2>/dev/null && break
  sleep 0.2
done
"$scratch/root/usr/bin/tessel" render "$files/plain.xcf" "$scratch/expected.png"
# show CACHE SHOT: the screen with Eye of GNOME showing plain.xcf.
show() {
  GDK_PIXBUF_MODULE_FILE=$1 HOME="$scratch" timeout 60 dbus-run-session -- sh -c '
    eog --new-instance --fullscreen "$0" >"$1.log" 2>&1 &
    viewer=$!
    sleep 8
    /usr/bin/python3 "$2" "$1"
    kill $viewer' "$files/plain.xcf" "$2" "$here/screenshot.py" > /dev/null 2>&1
}
show "$scratch/loaders.cache" "$out/eog-xcf.png"
show "$system_cache" "$scratch/eog-without.png"
/usr/bin/python3 "$here/screenshot.py" --compare "$scratch/expected.png" "$out/eog-xcf.png" "$scratch/eog-without.png"
