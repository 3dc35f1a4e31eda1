#!/usr/bin/python3
# GNOME's own thumbnail factory (gnome-desktop, through python3-gi) asked
# for thumbnails of XCF files, as GNOME Files asks it: it finds tessel by
# the thumbnailer entry in XDG_DATA_DIRS, runs its Exec line in its
# bubblewrap sandbox and loads the PNG it writes.
# usage: thumbnail_factory.py TESSEL SIZE GOOD... -- DAMAGED...
# Each good file's thumbnail must come back SIZE on its longer side (or the
# picture's own size when smaller) with the pixels `TESSEL thumbnail` gives;
# one whose name says "transparent" with its alpha, its top left corner
# clear; each damaged file must give the factory's failure.
import os
import subprocess
import sys
import tempfile
import time

# Taken before GTK, which the factory loads, strips "--" from sys.argv.
ARGS = sys.argv[1:]

import gi  # noqa: E402

gi.require_version("GnomeDesktop", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, Gio, GLib, GnomeDesktop  # noqa: E402

SIZES = {128: GnomeDesktop.DesktopThumbnailSize.NORMAL, 256: GnomeDesktop.DesktopThumbnailSize.LARGE}


def pixels(pixbuf):
    """Rows of RGB or RGBA bytes, without the padding at their ends."""
    data = pixbuf.get_pixels()
    row = pixbuf.get_width() * pixbuf.get_n_channels()
    return b"".join(data[y * pixbuf.get_rowstride():][:row] for y in range(pixbuf.get_height()))


def main():
    tessel, size = ARGS[0], int(ARGS[1])
    rest = ARGS[2:]
    split = rest.index("--")
    good, damaged = rest[:split], rest[split + 1:]
    factory = GnomeDesktop.DesktopThumbnailFactory.new(SIZES[size])
    failures = 0
    for path in good + damaged:
        gfile = Gio.File.new_for_path(path)
        info = gfile.query_info("standard::content-type,time::modified", Gio.FileQueryInfoFlags.NONE, None)
        mime = info.get_content_type()
        mtime = info.get_attribute_uint64("time::modified")
        uri = gfile.get_uri()
        name = os.path.basename(path)
        if not factory.can_thumbnail(uri, mime, mtime):
            print(f"{name}: {mime}: the factory has no thumbnailer for it")
            failures += 1
            continue
        start = time.monotonic()
        try:
            thumb = factory.generate_thumbnail(uri, mime, None)
        except GLib.Error as error:
            thumb, failed = None, error.message
        took = time.monotonic() - start
        if path in damaged:
            ok = thumb is None
            print(f"{name}: {mime}: " + (f"the factory's failure ({failed}), {took:.2f} s" if ok
                                          else "a thumbnail came back for a damaged file"))
            failures += not ok
            continue
        if thumb is None:
            print(f"{name}: {mime}: failed: {failed}")
            failures += 1
            continue
        # The same file through the tool directly, for the pixels.
        with tempfile.TemporaryDirectory() as scratch:
            direct = os.path.join(scratch, "direct.png")
            subprocess.run([tessel, "thumbnail", "-s", str(size), path, direct], check=True)
            expected = GdkPixbuf.Pixbuf.new_from_file(direct)
        same = (thumb.get_width(), thumb.get_height()) == (expected.get_width(), expected.get_height()) \
            and pixels(thumb) == pixels(expected)
        longest = max(thumb.get_width(), thumb.get_height())
        ok = same and longest <= size
        alpha = ""
        if "transparent" in name:
            corner = thumb.get_pixels()[3] if thumb.get_has_alpha() else 255
            clear = thumb.get_has_alpha() and corner == 0
            alpha = (f", with alpha (the top left corner's {corner})" if clear
                     else ", NOT transparent in its top left corner")
            ok = ok and clear
        print(f"{name}: {mime}: {thumb.get_width()} x {thumb.get_height()} thumbnail, {took:.2f} s"
              + ("" if same else ", NOT the pixels of `tessel thumbnail`")
              + ("" if longest <= size else f", larger than {size}") + alpha)
        failures += not ok
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
