#!/usr/bin/env python3
"""Draws the program's icon: a photo (sky, sun, hills) with a cover stamped in
its bottom-right corner. 32 x 32 pixels, 16 colours, written as a palette PNG."""
import struct
import sys
import zlib

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DKGREEN, NAVY, SILVER, GREY, RED, GREEN, YELLOW, BLUE, CYAN, WHITE = 0, 2, 4, 7, 8, 9, 10, 11, 12, 14, 15

N = 32
px = [[7] * N for _ in range(N)]
# The photo: frame, sky, sun, two hills.
for y in range(2, 28):
    for x in range(1, 29):
        px[y][x] = CYAN if y < 17 else GREEN
for y in range(17, 28):
    for x in range(1, 29):
        if y > 17 + abs(x - 9) // 2 or y > 21 + abs(x - 22) // 3:
            px[y][x] = DKGREEN if (x + y) % 5 else GREEN
for y in range(4, 11):
    for x in range(19, 26):
        if (x - 22) ** 2 + (y - 7) ** 2 <= 10:
            px[y][x] = YELLOW
for x in range(0, 30):
    px[1][x] = px[28][x] = BLACK
for y in range(1, 29):
    px[y][0] = px[y][29] = BLACK
# The stamped cover: a red card with a white V, partly over the photo's corner.
for y in range(17, 31):
    for x in range(17, 31):
        px[y][x] = BLACK if y in (17, 30) or x in (17, 30) else RED
for i in range(8):
    for dx in (0, 1):
        px[19 + i][19 + i // 2 + dx] = WHITE
        px[19 + i][28 - i // 2 - dx] = WHITE


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


raw = b""
for row in px:
    raw += b"\0" + bytes((row[x] << 4) | row[x + 1] for x in range(0, N, 2))
png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", N, N, 4, 3, 0, 0, 0))
png += chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE))
png += chunk(b"IDAT", zlib.compress(raw, 9))
png += chunk(b"IEND", b"")
with open(sys.argv[1] if len(sys.argv) > 1 else "vellumark.png", "wb") as f:
    f.write(png)
