#!/usr/bin/env bash
# The packages: the Debian packages (cpack -G DEB of the `tool` preset): the
# tool's holds the tool, its thumbnailer entry and its man page, and GNOME's
# thumbnail factory makes thumbnails through it; the pixbuf loader's holds
# the module and the MIME type of .xcf.xz, and Python's GdkPixbuf and Eye of
# GNOME open XCF files through it (pixbuf_loader.sh). The Windows zip
# (cpack -G ZIP of the `win32` preset) holds the plug-in, the tool and how
# to install them.
# usage: packages.sh   (from the source tree, after the win32 build; as root)
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "packages: $*" >&2; exit 1; }

cmake --preset tool >/dev/null
cmake --build --preset tool >/dev/null
rm -f build/tool/tessel_*.deb build/tool/tessel-pixbuf-loader_*.deb build/win32/tessel-*-win32.zip
(cd build/tool && cpack -G DEB >/dev/null)
(cd build/win32 && cpack -G ZIP >/dev/null)
deb=$(ls build/tool/tessel_*_amd64.deb)
loader=$(ls build/tool/tessel-pixbuf-loader_*_amd64.deb)
zip=$(ls build/win32/tessel-*-win32.zip)

contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
[ "$contents" = "./usr/bin/tessel ./usr/share/man/man1/tessel.1 ./usr/share/thumbnailers/tessel.thumbnailer " ] ||
  fail "$deb holds $contents"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libstdc++6 zlib1g libbz2-1.0 liblzma5; do
  grep -q "$library" <<<"$depends" || fail "$deb does not depend on $library: $depends"
done
echo "$(basename "$deb"): $contents; Depends: $depends"
moduledir=$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)
contents=$(dpkg-deb --contents "$loader" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
[ "$contents" = ".$moduledir/libpixbufloader-xcf.so ./usr/share/mime/packages/tessel-pixbuf-loader.xml " ] ||
  fail "$loader holds $contents"
depends=$(dpkg-deb --field "$loader" Depends)
grep -q libgdk-pixbuf-2.0-0 <<<"$depends" || fail "$loader does not depend on gdk-pixbuf: $depends"
echo "$(basename "$loader"): $contents; Depends: $depends"
files=$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')
[ "$files" = "INSTALL-WINDOWS.txt tessel.exe tessel.ini tessel.spi " ] || fail "$zip holds $files"
# Shipped off: the plug-in's own answers until the user says otherwise.
unpacked=$(mktemp -d)
(cd "$unpacked" && cmake -E tar xf "$OLDPWD/$zip")
grep -q '^;versions=all' "$unpacked/tessel.ini" || fail "tessel.ini does not hold ;versions=all"
! grep -q '^versions' "$unpacked/tessel.ini" || fail "tessel.ini is shipped on"
rm -rf "$unpacked"
echo "$(basename "$zip"): $files"

bash tests/e2e/thumbnail_factory.sh "$deb" examples/example.xcf
bash tests/e2e/pixbuf_loader.sh "$loader" "$deb" build/packages
