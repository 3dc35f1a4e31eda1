#!/usr/bin/env bash
# The packages: the Debian package (cpack -G DEB of the `tool` preset) holds
# the tool, its thumbnailer entry and its man page, and GNOME's thumbnail
# factory makes thumbnails through it; the Windows zip (cpack -G ZIP of the
# `win32` preset) holds the plug-in, the tool and how to install them.
# usage: packages.sh   (from the source tree, after the win32 build; as root)
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "packages: $*" >&2; exit 1; }

cmake --preset tool >/dev/null
cmake --build --preset tool >/dev/null
rm -f build/tool/tessel_*.deb build/win32/tessel-*-win32.zip
(cd build/tool && cpack -G DEB >/dev/null)
(cd build/win32 && cpack -G ZIP >/dev/null)
deb=$(ls build/tool/tessel_*_amd64.deb)
zip=$(ls build/win32/tessel-*-win32.zip)

contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
[ "$contents" = "./usr/bin/tessel ./usr/share/man/man1/tessel.1 ./usr/share/thumbnailers/tessel.thumbnailer " ] ||
  fail "$deb holds $contents"
depends=$(dpkg-deb --field "$deb" Depends)
for library in libc6 libstdc++6 zlib1g libbz2-1.0 liblzma5; do
  grep -q "$library" <<<"$depends" || fail "$deb does not depend on $library: $depends"
done
echo "$(basename "$deb"): $contents; Depends: $depends"
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
