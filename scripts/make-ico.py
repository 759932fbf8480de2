#!/usr/bin/env python3
"""Writes res/win32/tunlet.ico, icon 128 of the Windows resources, from the XPM images
of res/Icon.h: one 32 x 32 and one 16 x 16 image, 16 colours each, with a transparency
mask. Run by scripts/icons."""
import re
import struct
import sys
from pathlib import Path

root = Path(__file__).resolve().parent.parent
text = (root / "res/Icon.h").read_text()


def xpm(name):
    body = re.search(name + r"\[\] = \{(.*?)\};", text, re.S).group(1)
    rows = re.findall(r'"([^"]*)"', body)
    w, h, ncolors, _ = map(int, rows[0].split())
    colors = {}
    for line in rows[1:1 + ncolors]:
        key, _, value = line[0], line[1], line.split()[-1]
        colors[key] = None if value == "None" else tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
    return w, h, colors, rows[1 + ncolors:1 + ncolors + h]


def entry(name):
    w, h, colors, pixels = xpm(name)
    palette = [c for c in colors.values() if c is not None]
    palette += [(0, 0, 0)] * (16 - len(palette))
    index = {k: (palette.index(c) if c is not None else 0) for k, c in colors.items()}
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 4, 0, 0, 0, 0, 16, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    xor_row = (w * 4 + 31) // 32 * 4
    and_row = (w + 31) // 32 * 4
    xor = and_ = b""
    for row in reversed(pixels):
        bits = bytearray(xor_row)
        mask = bytearray(and_row)
        for x, key in enumerate(row):
            bits[x // 2] |= index[key] << (4 if x % 2 == 0 else 0)
            if colors[key] is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor += bytes(bits)
        and_ += bytes(mask)
    return w, h, header + pal + xor + and_


images = [entry("kIcon32"), entry("kIcon16")]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
data = b""
for w, h, blob in images:
    out += struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(blob), offset + len(data))
    data += blob
(root / "res/win32/tunlet.ico").write_bytes(out + data)
