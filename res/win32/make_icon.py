#!/usr/bin/env python3
"""Writes zarn60-tool.ico from icon 128's PNG bytes in res/icon_png.cpp: 16, 32 and 48
pixel images as 32-bit DIBs with an AND mask, which every version of the platform's
shell and resource loader reads. Run it again when the drawing changes."""
import re
import struct
import sys
import zlib
from pathlib import Path

here = Path(__file__).resolve().parent
source = (here.parent / "icon_png.cpp").read_text()
array = source[source.index("kIconPng[] = {"):]
png = bytes(int(h, 16) for h in re.findall(r"0x([0-9a-fA-F]{2})", array[:array.index("};")]))

assert png[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, idat, width, height = 8, b"", 0, 0
while pos < len(png):
    (length,) = struct.unpack(">I", png[pos:pos + 4])
    kind, data = png[pos + 4:pos + 8], png[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", data)
        assert (depth, colour, interlace) == (8, 6, 0), "8-bit RGBA, not interlaced"
    elif kind == b"IDAT":
        idat += data
    pos += 12 + length

raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytearray(width * 4)
for y in range(height):
    line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
    f, cur = line[0], bytearray(line[1:])
    for i in range(stride):
        a = cur[i - 4] if i >= 4 else 0
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        if f == 1:
            cur[i] = (cur[i] + a) & 0xFF
        elif f == 2:
            cur[i] = (cur[i] + b) & 0xFF
        elif f == 3:
            cur[i] = (cur[i] + (a + b) // 2) & 0xFF
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            cur[i] = (cur[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
    rows.append(cur)
    prev = cur


def pixel(x, y):
    return tuple(rows[y][x * 4:x * 4 + 4])


def scaled(size):
    """Each target pixel is the average of the source pixels it covers."""
    out = []
    for ty in range(size):
        row = []
        for tx in range(size):
            x0, x1 = tx * width // size, max(tx * width // size + 1, (tx + 1) * width // size)
            y0, y1 = ty * height // size, max(ty * height // size + 1, (ty + 1) * height // size)
            px = [pixel(x, y) for y in range(y0, y1) for x in range(x0, x1)]
            row.append(tuple(sum(p[k] for p in px) // len(px) for k in range(4)))
        out.append(row)
    return out


def dib(size):
    img = scaled(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((r, g, b_, a)[i] for i in (2, 1, 0, 3))
                      for row in reversed(img) for (r, g, b_, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(img):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


sizes = (16, 32, 48)
images = [dib(s) for s in sizes]
ico = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for s, data in zip(sizes, images):
    ico += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
ico += b"".join(images)
target = Path(sys.argv[1]) if len(sys.argv) > 1 else here / "zarn60-tool.ico"
target.write_bytes(ico)
print(f"wrote {target} ({len(ico)} bytes)")
