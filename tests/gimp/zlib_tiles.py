#!/usr/bin/env python3
# Rewrites an XCF file saved by GIMP with RLE tiles so that its tiles are
# zlib streams, as GIMP writes them when asked to (its batch save never
# does): every tile of every first level is decoded, compressed by zlib and
# appended, its pointer moved to it, and the image's compression set to 2.
# GIMP loads the result to the same picture; scripts/gimp-files.sh checks.
# usage: zlib_tiles.py IN.xcf OUT.xcf
import struct
import sys
import zlib

data = bytearray(open(sys.argv[1], 'rb').read())
version = 0 if data[9:13] == b'file' else int(data[10:13])
width = 8 if version >= 11 else 4


def u32(at):
    return struct.unpack('>I', data[at:at + 4])[0]


def pointer(at):
    return int.from_bytes(data[at:at + width], 'big')


def properties(at):
    """The position of each property's payload by id, and the end of the list."""
    found = {}
    while True:
        prop, length = struct.unpack('>II', data[at:at + 8])
        at += 8
        if prop == 0:
            return found, at
        found[prop] = (at, length)
        at += length


def pointers(at):
    out = []
    while True:
        value = pointer(at)
        if value == 0:
            return out, at + width
        out.append(value)
        at += width


def decode_rle(at, pixels, bpp):
    out = bytearray(pixels * bpp)
    for channel in range(bpp):
        i = 0
        while i < pixels:
            op = data[at]
            at += 1
            if op >= 128:
                count = 256 - op
                if count == 128:
                    count = (data[at] << 8) | data[at + 1]
                    at += 2
                for k in range(count):
                    out[(i + k) * bpp + channel] = data[at + k]
                at += count
            else:
                count = op + 1
                if count == 128:
                    count = (data[at] << 8) | data[at + 1]
                    at += 2
                for k in range(count):
                    out[(i + k) * bpp + channel] = data[at]
                at += 1
            i += count
    return out


def rewrite_hierarchy(at):
    hierarchy_width, hierarchy_height, bpp = struct.unpack('>III', data[at:at + 12])
    level = pointer(at + 12)
    level_width, level_height = struct.unpack('>II', data[level:level + 8])
    columns = (level_width + 63) // 64
    rows = (level_height + 63) // 64
    slot = level + 8
    for index in range(columns * rows):
        tile = pointer(slot)
        tw = min(64, level_width - (index % columns) * 64)
        th = min(64, level_height - (index // columns) * 64)
        packed = zlib.compress(bytes(decode_rle(tile, tw * th, bpp)), 6)
        data[slot:slot + width] = len(data).to_bytes(width, 'big')
        data.extend(packed)
        slot += width


def rewrite_drawable(at, is_layer):
    at += 12 if is_layer else 8  # width, height (and a layer's type)
    name_length = u32(at)
    _, at = properties(at + 4 + name_length)
    rewrite_hierarchy(pointer(at))
    if is_layer and pointer(at + width) != 0:
        rewrite_drawable(pointer(at + width), False)


at = 14 + 12 + (4 if version >= 4 else 0)
image_properties, at = properties(at)
compression = image_properties[17]
assert data[compression[0]] == 1, 'the file\'s tiles are not RLE'
data[compression[0]] = 2
layers, at = pointers(at)
channels, at = pointers(at)
for layer in layers:
    rewrite_drawable(layer, True)
for channel in channels:
    rewrite_drawable(channel, False)
open(sys.argv[2], 'wb').write(data)
