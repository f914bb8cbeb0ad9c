#!/usr/bin/env python3
"""Compares the small icon a window shows on the X desktop (its smallest
image: 16x16 at 96 DPI, 32x32 at 192) with the image of the same size of an
.ico file.

    icon_pixels.py FILE.ico < xprop-output

The input is `xprop -notype -f _NET_WM_ICON 32c _NET_WM_ICON` of the window:
width, height and ARGB pixels, one image after the other. The .ico's image
of that size must be a 32-bit bitmap. Prints "same" and exits 0 when every pixel
has the same alpha and, where it is not transparent, the same colour;
otherwise prints the number of differing pixels and exits 1."""
import re
import struct
import sys


def ico_image(path, n):
    data = open(path, 'rb').read()
    _, _, count = struct.unpack_from('<HHH', data, 0)
    for k in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * k)
        if w == n and h == n and bits == 32:
            img = data[offset:offset + size]
            header = struct.unpack_from('<I', img, 0)[0]
            rows = []
            for y in range(n):
                row = []
                at = header + (n - 1 - y) * 4 * n
                for x in range(n):
                    b, g, r, a = img[at + 4 * x:at + 4 * x + 4]
                    row.append((a, r, g, b))
                rows.append(row)
            return rows
    sys.exit('no %dx%d 32-bit image in %s' % (n, n, path))


def desktop_smallest(text):
    values = [int(v, 0) for v in re.findall(r'\b(?:0x[0-9a-fA-F]+|\d+)\b', text.split('=', 1)[-1])]
    at, best = 0, None
    while at + 2 <= len(values):
        w, h = values[at], values[at + 1]
        pixels = values[at + 2:at + 2 + w * h]
        if w == h and w > 0 and len(pixels) == w * h and (best is None or w < len(best)):
            best = [[((p >> 24) & 255, (p >> 16) & 255, (p >> 8) & 255, p & 255)
                     for p in pixels[w * y:w * y + w]] for y in range(h)]
        at += 2 + w * h
    if best is None:
        sys.exit('the window shows no icon')
    return best


def main():
    got = desktop_smallest(sys.stdin.read())
    n = len(got)
    want = ico_image(sys.argv[1], n)
    diff = 0
    for y in range(n):
        for x in range(n):
            a, b = want[y][x], got[y][x]
            if a[0] != b[0] or (a[0] != 0 and a[1:] != b[1:]):
                diff += 1
    print('%dx%d same' % (n, n) if diff == 0 else '%d of %d pixels differ' % (diff, n * n))
    sys.exit(0 if diff == 0 else 1)


if __name__ == '__main__':
    main()
