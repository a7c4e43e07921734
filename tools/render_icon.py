#!/usr/bin/env python3
"""Renders the vector icon into a Windows .ico.

The .ico holds one 128 x 128 image, 32 bits per pixel with alpha plus a 1-bit
mask, stored as a device-independent bitmap (not PNG), which every Windows
since Vista reads. Needs rsvg-convert (Debian package librsvg2-bin).

    tools/render_icon.py resources/kestrine.svg resources/kestrine.ico
"""
import struct
import subprocess
import sys
import zlib

SIZE = 128


def read_png_rgba(data):
    """Decodes the 8-bit RGBA, non-interlaced PNG that rsvg-convert writes."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    position, idat, header = 8, b"", None
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        position += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    width, height, depth, colour, _, _, interlace = header
    assert (depth, colour, interlace) == (8, 6, 0), "expected 8-bit RGBA"
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = row[x - 4] if x >= 4 else 0
            up = previous[x]
            up_left = previous[x - 4] if x >= 4 else 0
            if kind == 1:
                row[x] = (row[x] + left) & 0xFF
            elif kind == 2:
                row[x] = (row[x] + up) & 0xFF
            elif kind == 3:
                row[x] = (row[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                guess = left + up - up_left
                distances = (abs(guess - left), abs(guess - up),
                             abs(guess - up_left))
                nearest = (left, up, up_left)[distances.index(min(distances))]
                row[x] = (row[x] + nearest) & 0xFF
        rows.append(bytes(row))
        previous = row
    return width, height, rows


def ico_from_rgba(rows):
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bitmaps run bottom-up
        bits = 0
        for x in range(SIZE):
            red, green, blue, alpha = row[x * 4:x * 4 + 4]
            colour += bytes((blue, green, red, alpha))
            bits = (bits << 1) | (1 if alpha == 0 else 0)
        mask += bits.to_bytes(SIZE // 8, "big")
    # The header's height counts the colour and mask halves together.
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                       len(colour) + len(mask), 0, 0, 0, 0)
    image = info + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image),
                        6 + 16)
    return directory + entry + image


def main():
    source, target = sys.argv[1], sys.argv[2]
    png = subprocess.run(
        ["rsvg-convert", "--width", str(SIZE), "--height", str(SIZE),
         "--format", "png", source],
        check=True, stdout=subprocess.PIPE).stdout
    width, height, rows = read_png_rgba(png)
    assert (width, height) == (SIZE, SIZE)
    with open(target, "wb") as ico:
        ico.write(ico_from_rgba(rows))


if __name__ == "__main__":
    main()
