#!/usr/bin/env python3
"""Compares the 16x16 image a window shows on the X desktop with the 16x16
image of an .ico file.

    icon_pixels.py FILE.ico < xprop-output

The input is `xprop -notype -f _NET_WM_ICON 32c _NET_WM_ICON` of the window:
width, height and ARGB pixels, one image after the other. The .ico's 16x16
image must be a 32-bit bitmap. Prints "same" and exits 0 when every pixel
has the same alpha and, where it is not transparent, the same colour;
otherwise prints the number of differing pixels and exits 1."""
import re
import struct
import sys


def ico_16(path):
    data = open(path, 'rb').read()
    _, _, count = struct.unpack_from('<HHH', data, 0)
    for k in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * k)
        if w == 16 and h == 16 and bits == 32:
            img = data[offset:offset + size]
            header = struct.unpack_from('<I', img, 0)[0]
            rows = []
            for y in range(16):
                row = []
                at = header + (15 - y) * 64
                for x in range(16):
                    b, g, r, a = img[at + 4 * x:at + 4 * x + 4]
                    row.append((a, r, g, b))
                rows.append(row)
            return rows
    sys.exit('no 16x16 32-bit image in ' + path)


def desktop_16(text):
    values = [int(v, 0) for v in re.findall(r'\b(?:0x[0-9a-fA-F]+|\d+)\b', text.split('=', 1)[-1])]
    at = 0
    while at + 2 <= len(values):
        w, h = values[at], values[at + 1]
        pixels = values[at + 2:at + 2 + w * h]
        if w == 16 and h == 16 and len(pixels) == 256:
            return [[((p >> 24) & 255, (p >> 16) & 255, (p >> 8) & 255, p & 255)
                     for p in pixels[16 * y:16 * y + 16]] for y in range(16)]
        at += 2 + w * h
    sys.exit('the window shows no 16x16 icon')


def main():
    want = ico_16(sys.argv[1])
    got = desktop_16(sys.stdin.read())
    diff = 0
    for y in range(16):
        for x in range(16):
            a, b = want[y][x], got[y][x]
            if a[0] != b[0] or (a[0] != 0 and a[1:] != b[1:]):
                diff += 1
    print('same' if diff == 0 else '%d of 256 pixels differ' % diff)
    sys.exit(0 if diff == 0 else 1)


if __name__ == '__main__':
    main()
