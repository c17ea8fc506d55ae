"""The splash bitmaps of the test applications, and the pixels each must
show on screen.

  make_bitmaps.py OUTDIR   writes every bitmap of BITMAPS into OUTDIR

Each bitmap is drawn from a function of (x, y), so that a pixel shown one
place off, a row upside down or a wrong palette entry changes what a
screenshot reads. The scenarios import this module to know what to expect."""
import struct
import sys


def rgb_pattern(w, h):
    """24 bits: every pixel its own colour along both axes, and a checker to catch shifts."""
    def colour(x, y):
        return ((x * 255) // (w - 1), (y * 255) // (h - 1), 255 if (x // 7 + y // 5) % 2 else 40)
    return colour


def palette_pattern(bits, w, h):
    """A palette of distinct colours and indices that change every few pixels."""
    entries = 1 << bits
    palette = [((i * 97) % 256, (i * 57 + 30) % 256, 255 - (i * 31) % 256) for i in range(entries)]
    if bits == 1:
        palette = [(250, 220, 0), (20, 40, 160)]

    def index(x, y):
        return (x // 3 + (y // 4) * 5) % entries
    return palette, index


# name: (width, height, bits)
BITMAPS = {
    "S150.bmp": (150, 150, 24),
    "S300.bmp": (300, 300, 8),
    "Splash.bmp": (150, 150, 4),
    "Splash300.bmp": (300, 300, 1),
    "Wide.bmp": (200, 100, 24),
}


def expected(name):
    """(width, height, colour(x, y) -> (r, g, b)) of a bitmap as it must show."""
    w, h, bits = BITMAPS[name]
    if bits == 24:
        return w, h, rgb_pattern(w, h)
    palette, index = palette_pattern(bits, w, h)
    return w, h, lambda x, y: palette[index(x, y)]


def encode(name):
    w, h, bits = BITMAPS[name]
    stride = ((bits * w + 7) // 8 + 3) // 4 * 4
    rows = []
    if bits == 24:
        colour = rgb_pattern(w, h)
        palette_bytes = b""
        for y in range(h - 1, -1, -1):   # bottom row first
            row = bytearray()
            for x in range(w):
                r, g, b = colour(x, y)
                row += bytes((b, g, r))
            rows.append(bytes(row.ljust(stride, b"\0")))
    else:
        palette, index = palette_pattern(bits, w, h)
        palette_bytes = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
        per_byte = 8 // bits
        for y in range(h - 1, -1, -1):
            row = bytearray()
            for start in range(0, w, per_byte):
                value = 0
                for k in range(per_byte):
                    x = start + k
                    value = (value << bits) | (index(x, y) if x < w else 0)
                row.append(value)
            rows.append(bytes(row.ljust(stride, b"\0")))
    pixels = b"".join(rows)
    offset = 14 + 40 + len(palette_bytes)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return header + info + palette_bytes + pixels


def undecodable():
    """A 16-bit bitmap: a sound file, but of a kind the launcher does not take."""
    w, h = 20, 20
    stride = (16 * w // 8 + 3) // 4 * 4
    pixels = bytes(stride * h)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 16, 0, len(pixels), 0, 0, 0, 0)
    return b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + info + pixels


def main(folder):
    import os
    for name in BITMAPS:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(encode(name))
    with open(os.path.join(folder, "Bad16.bmp"), "wb") as f:
        f.write(undecodable())


if __name__ == "__main__":
    main(sys.argv[1])
