#!/usr/bin/env python3
"""Draws velmora.ico: a 32x32 icon of 8 bits per pixel and a 48x48 icon of
32 bits per pixel, from shapes described here (standard library only).

The picture: a teal tile holding a white sheet with a folded corner; two
long grey lines stand for a long file name, a short amber bar below them for
its 8.3 short name.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

TRANSPARENT = (0, 0, 0, 0)
TILE = (0x1B, 0x6F, 0x7A, 0xFF)
TILE_EDGE = (0x10, 0x4A, 0x52, 0xFF)
SHEET = (0xFA, 0xFA, 0xF5, 0xFF)
FOLD = (0xC9, 0xD3, 0xD4, 0xFF)
LINE = (0x8A, 0x94, 0x96, 0xFF)
SHORT = (0xF2, 0x9B, 0x1D, 0xFF)


def inside_rounded(x, y, left, top, right, bottom, radius):
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(u, v):
    """The picture on a unit square, (0, 0) at the top left."""
    if not inside_rounded(u, v, 0.03, 0.03, 0.97, 0.97, 0.18):
        return TRANSPARENT
    if not inside_rounded(u, v, 0.07, 0.07, 0.93, 0.93, 0.15):
        return TILE_EDGE
    left, top, right, bottom, fold = 0.24, 0.14, 0.76, 0.86, 0.16
    if left <= u < right and top <= v < bottom:
        # The folded corner cuts the sheet's top right.
        if u - (right - fold) > v - top:
            return TILE
        if u >= right - fold and v < top + fold:
            return FOLD
        for line_top in (0.38, 0.50):
            if 0.31 <= u < 0.69 and line_top <= v < line_top + 0.06:
                return LINE
        if 0.31 <= u < 0.56 and 0.64 <= v < 0.74:
            return SHORT
        return SHEET
    return TILE


def render(size, samples):
    """Rows top to bottom of (r, g, b, a); samples x samples per pixel."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size
                    v = (y + (sy + 0.5) / samples) / size
                    r, g, b, a = colour_at(u, v)
                    total[0] += r * a
                    total[1] += g * a
                    total[2] += b * a
                    total[3] += a
            count = samples * samples
            alpha = total[3] // count
            if total[3] == 0:
                row.append(TRANSPARENT)
            else:
                row.append((total[0] // total[3], total[1] // total[3],
                            total[2] // total[3], alpha))
        rows.append(row)
    return rows


def and_mask(rows):
    """1 bit per pixel, bottom row first, rows padded to 4 bytes; a set bit
    lets the background show through."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    data = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        data += line
    return bytes(data)


def bitmap_header(size, bits, palette_entries):
    # BITMAPINFOHEADER; the height counts the colour and the mask bitmaps.
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                       palette_entries, 0)


def image_8bpp(rows):
    palette = []
    index_of = {}
    for row in rows:
        for pixel in row:
            opaque = pixel[:3] if pixel[3] >= 128 else (0, 0, 0)
            if opaque not in index_of:
                index_of[opaque] = len(palette)
                palette.append(opaque)
    if len(palette) > 256:
        raise SystemExit('make_icon.py: the 8-bit picture has more than 256 colours')
    size = len(rows)
    stride = ((size + 3) // 4) * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            opaque = pixel[:3] if pixel[3] >= 128 else (0, 0, 0)
            line[x] = index_of[opaque]
        pixels += line
    table = bytearray()
    for index in range(256):
        r, g, b = palette[index] if index < len(palette) else (0, 0, 0)
        table += bytes((b, g, r, 0))
    return bitmap_header(size, 8, 256) + bytes(table) + bytes(pixels) + and_mask(rows)


def image_32bpp(rows):
    size = len(rows)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    return bitmap_header(size, 32, 0) + bytes(pixels) + and_mask(rows)


def main():
    if len(sys.argv) != 2:
        raise SystemExit('usage: make_icon.py OUTPUT.ico')
    # The 8-bit icon has one bit of transparency: draw it without smoothing
    # so its edge stays clean on any background.
    images = [
        (32, 8, image_8bpp(render(32, 1))),
        (48, 32, image_32bpp(render(48, 4))),
    ]
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b''
    blobs = b''
    for size, bits, blob in images:
        # ICONDIRENTRY: a colour count of 0 means 256 or more colours.
        entries += struct.pack('<BBBBHHII', size, size, 0, 0, 1, bits, len(blob),
                               offset + len(blobs))
        blobs += blob
    with open(sys.argv[1], 'wb') as out:
        out.write(directory + entries + blobs)


if __name__ == '__main__':
    main()
