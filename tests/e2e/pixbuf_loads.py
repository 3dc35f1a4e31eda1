#!/usr/bin/python3
# Loads XCF files through Python's GdkPixbuf, as GTK programs do, with the
# loader gdk-pixbuf finds in GDK_PIXBUF_MODULE_FILE, and holds each
# picture to tessel render's PNG of the file, read by gdk-pixbuf's own PNG
# loader: the same size, the same alpha or none, the same bytes. Each
# file whole and at a size (against tessel thumbnail -s), and in pieces
# through a GdkPixbufLoader of the file's MIME type as GIO finds it, as
# Eye of GNOME loads. gdk_pixbuf_new_from_file finds a loader by the data
# first and asks the name only of data it cannot tell or takes for gzip:
# a bzip2 or xz file, whose data no loader claims, is loaded whole by its
# MIME type too. The damaged files must give a GError with tessel's reason.
# usage: pixbuf_loads.py TESSEL FILE... -- DAMAGED...
import os
import subprocess
import sys
import tempfile

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, Gio, GLib  # noqa: E402


def pixels(p):
    rows = p.get_pixels()
    row = p.get_width() * p.get_n_channels()
    stride = p.get_rowstride()
    return b"".join(rows[y * stride:y * stride + row] for y in range(p.get_height()))


def describe(p):
    return "%dx%d %s" % (p.get_width(), p.get_height(), "RGBA" if p.get_has_alpha() else "RGB")


def same(p, q):
    return (p.get_width(), p.get_height(), p.get_has_alpha()) == (q.get_width(), q.get_height(), q.get_has_alpha()) \
        and pixels(p) == pixels(q)


def in_pieces(path, mime, size=0):
    loader = GdkPixbuf.PixbufLoader.new_with_mime_type(mime)
    if size:
        # As gdk_pixbuf_new_from_file_at_size asks: fitted, the aspect kept.
        def fit(loader, width, height):
            scale = min(size / width, size / height, 1)
            loader.set_size(max(1, round(width * scale)), max(1, round(height * scale)))
        loader.connect("size-prepared", fit)
    with open(path, "rb") as f:
        while True:
            piece = f.read(4093)
            if not piece:
                break
            loader.write(piece)
    loader.close()
    return loader.get_pixbuf()


def main():
    tessel = sys.argv[1]
    split = sys.argv.index("--")
    files, damaged = sys.argv[2:split], sys.argv[split + 1:]
    failed = 0
    scratch = tempfile.mkdtemp()
    for path in files:
        name = os.path.basename(path)
        png = os.path.join(scratch, name + ".png")
        small = os.path.join(scratch, name + ".thumbnail.png")
        subprocess.run([tessel, "render", path, png], check=True)
        subprocess.run([tessel, "thumbnail", "-s", "64", path, small], check=True)
        expected = GdkPixbuf.Pixbuf.new_from_file(png)
        thumbnail = GdkPixbuf.Pixbuf.new_from_file(small)
        with open(path, "rb") as f:
            mime, _ = Gio.content_type_guess(path, f.read(4096))
        by_data = name.endswith(".xcf") or name.endswith(".gz")
        whole = GdkPixbuf.Pixbuf.new_from_file(path) if by_data else in_pieces(path, mime)
        sized = GdkPixbuf.Pixbuf.new_from_file_at_size(path, 64, 64) if by_data else in_pieces(path, mime, 64)
        pieces = in_pieces(path, mime)
        verdicts = [same(whole, expected), same(pieces, expected), same(sized, thumbnail)]
        ok = all(verdicts)
        failed += not ok
        print("pixbuf: %s (%s, %s): %s, whole and in pieces %s tessel render's PNG; at 64: %s, %s tessel thumbnail's"
              % (name, mime, "new_from_file" if by_data else "by its MIME type", describe(whole),
                 "equal to" if all(verdicts[:2]) else "UNLIKE",
                 describe(sized), "equal to" if verdicts[2] else "UNLIKE"))
    for path in damaged:
        name = os.path.basename(path)
        try:
            GdkPixbuf.Pixbuf.new_from_file(path)
            print("pixbuf: %s: loaded, though damaged" % name)
            failed += 1
        except GLib.Error as e:
            told = "(code " in e.message and e.domain == "gdk-pixbuf-error-quark"
            failed += not told
            print("pixbuf: %s: GError %s %d: %s" % (name, e.domain, e.code, e.message))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
