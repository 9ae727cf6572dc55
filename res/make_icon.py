#!/usr/bin/env python3
"""Draws the updater's application icon (a disc with an upward arrow) and
writes it as a .ico with 16x16 and 32x32 images, 32 bits per pixel.

The drawing is pure arithmetic, so the same script always writes the same
bytes."""
import struct
import sys


def pixel(x, y, size):
    """Colour (b, g, r, a) of pixel (x, y), y counted from the top."""
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    r = size / 2.0 - 0.5
    if dx * dx + dy * dy > r * r:
        return (0, 0, 0, 0)
    # Arrow: a triangle head over a shaft, in the unit square of the icon.
    u, v = (x + 0.5) / size, (y + 0.5) / size
    head = 0.20 <= v <= 0.50 and abs(u - 0.5) <= (v - 0.20) * 0.95
    shaft = 0.50 <= v <= 0.80 and abs(u - 0.5) <= 0.11
    if head or shaft:
        return (255, 255, 255, 255)
    rim = dx * dx + dy * dy > (r - max(1.0, size / 16.0)) ** 2
    return (120, 60, 20, 255) if rim else (200, 120, 30, 255)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_rows = []
    for y in reversed(range(size)):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y, size)) for x in range(size)))
        bits = 0
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                bits |= 1 << (size - 1 - x)
        stride = ((size + 31) // 32) * 4
        mask_rows.append(bits.to_bytes((size + 7) // 8, "big").ljust(stride, b"\0"))
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
