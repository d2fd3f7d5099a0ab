#!/usr/bin/env python3
"""Writes Tovrel.ico: 16x16 and 32x32 32-bit images of a chip-like square
with a green status light. Run from this folder; the output is committed."""
import struct


def pixel(size, x, y):
    # Colours as (b, g, r, a).
    border = max(1, size // 16)
    if x < border or y < border or x >= size - border or y >= size - border:
        return (0x40, 0x30, 0x20, 0xFF)            # dark frame
    c = size // 2
    r = size // 5
    if (x - c) ** 2 + (y - c) ** 2 <= r * r:
        return (0x40, 0xC0, 0x30, 0xFF)            # green light
    if (x + y) % max(2, size // 8) == 0:
        return (0x90, 0x70, 0x40, 0xFF)            # board traces
    return (0xB0, 0x88, 0x50, 0xFF)                # board


def image(size):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):              # bottom-up
        rows.append(b''.join(bytes(pixel(size, x, y)) for x in range(size)))
    mask_row = ((size + 31) // 32) * 4
    mask = b'\0' * (mask_row * size)
    return header + b''.join(rows) + mask


sizes = [16, 32]
images = [image(s) for s in sizes]
out = struct.pack('<HHH', 0, 1, len(sizes))
offset = 6 + 16 * len(sizes)
for s, data in zip(sizes, images):
    out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
out += b''.join(images)
with open('Tovrel.ico', 'wb') as f:
    f.write(out)
