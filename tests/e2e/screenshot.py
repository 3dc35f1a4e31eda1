#!/usr/bin/python3
# The X screen as a PNG (screenshot.py OUT.png), or the check of two
# screenshots of a viewer shown full screen (screenshot.py --compare
# PICTURE WITH WITHOUT): the middle of WITH is the middle of PICTURE
# (the mean of a small square, within a few levels, since the viewer may
# scale the picture), and the middle of WITHOUT is not.
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import Gdk, GdkPixbuf  # noqa: E402


def middle(p, half=4):
    n = p.get_n_channels()
    stride = p.get_rowstride()
    data = p.get_pixels()
    cx, cy = p.get_width() // 2, p.get_height() // 2
    sums = [0, 0, 0]
    for y in range(cy - half, cy + half + 1):
        for x in range(cx - half, cx + half + 1):
            for c in range(3):
                sums[c] += data[y * stride + x * n + c]
    count = (2 * half + 1) ** 2
    return [s / count for s in sums]


def main():
    if sys.argv[1] != "--compare":
        root = Gdk.get_default_root_window()
        shot = Gdk.pixbuf_get_from_window(root, 0, 0, root.get_width(), root.get_height())
        shot.savev(sys.argv[1], "png", [], [])
        return 0
    picture, with_loader, without = (GdkPixbuf.Pixbuf.new_from_file(f) for f in sys.argv[2:5])
    want = middle(picture)
    seen = middle(with_loader)
    other = middle(without)
    close = all(abs(a - b) <= 6 for a, b in zip(want, seen))
    apart = any(abs(a - b) > 6 for a, b in zip(want, other))
    print("eog: the middle of the screen %s, the picture's %s: %s; without the loader %s: %s"
          % (fmt(seen), fmt(want), "shown" if close else "NOT SHOWN", fmt(other), "not shown" if apart else "SHOWN"))
    return 0 if close and apart else 1


def fmt(rgb):
    return "(%d, %d, %d)" % tuple(round(v) for v in rgb)


if __name__ == "__main__":
    sys.exit(main())
