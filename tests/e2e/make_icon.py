"""Writes the test applications' icon: a 32x32 32-bit .ico, a blue disc on
white, so that a packaged launcher copy carries a real icon group 50."""
import struct
import sys

SIZE = 32


def pixels():
    rows = []
    for y in range(SIZE - 1, -1, -1):   # a DIB stores its bottom row first
        row = b""
        for x in range(SIZE):
            inside = (x - 15.5) ** 2 + (y - 15.5) ** 2 <= 14 ** 2
            b, g, r = (200, 90, 20) if inside else (255, 255, 255)
            row += bytes((b, g, r, 255))
        rows.append(row)
    return b"".join(rows)


def main(path):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask = bytes(SIZE * 4)   # 32 pixels per row, 1 bit each: 4 bytes, all opaque
    image = header + pixels() + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(directory + entry + image)


if __name__ == "__main__":
    main(sys.argv[1])
