#!/usr/bin/python3
# Lays pictures side by side on a checkerboard, so that what is transparent
# in them shows: a row a file, a column a way of drawing it.
# usage: transparency_figure.py OUT.png COLUMNS PICTURE...   (row by row)
import sys

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402

CELL = 176
GAP = 8


def main():
    out, columns, pictures = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    rows = (len(pictures) + columns - 1) // columns
    width = columns * CELL + (columns + 1) * GAP
    height = rows * CELL + (rows + 1) * GAP
    figure = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, False, 8, width, height)
    figure.fill(0xFFFFFFFF)
    for index, path in enumerate(pictures):
        picture = GdkPixbuf.Pixbuf.new_from_file(path)
        scale = min(1.0, (CELL - 16) / max(picture.get_width(), picture.get_height()))
        w, h = max(1, int(picture.get_width() * scale)), max(1, int(picture.get_height() * scale))
        x = GAP + (index % columns) * (CELL + GAP) + (CELL - w) // 2
        y = GAP + (index // columns) * (CELL + GAP) + (CELL - h) // 2
        # The picture over a checkerboard of light grays, at its own size or smaller.
        picture.composite_color(figure, x, y, w, h, x, y, scale, scale, GdkPixbuf.InterpType.NEAREST, 255, x, y, 8,
                                0xFFCCCCCC, 0xFFFFFFFF)
    figure.savev(out, "png", [], [])


if __name__ == "__main__":
    main()
