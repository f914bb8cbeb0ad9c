#!/usr/bin/env python3
"""Converts a 24-bit bottom-up .bmp (as sfxdriver's snapshot writes it) into
a .png with the standard library only.

    bmp_to_png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def main():
    data = open(sys.argv[1], 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits = struct.unpack_from('<H', data, 28)[0]
    if bits != 24:
        sys.exit('not a 24-bit bitmap: ' + sys.argv[1])
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = height - 1 - y if height > 0 else y
        line = data[offset + src * stride:offset + src * stride + width * 3]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::3], line[1::3], line[0::3]
        rows.append(b'\0' + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = (b'\x89PNG\r\n\x1a\n' +
           chunk(b'IHDR', struct.pack('>IIBBBBB', width, abs(height), 8, 2, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) +
           chunk(b'IEND', b''))
    open(sys.argv[2], 'wb').write(png)


if __name__ == '__main__':
    main()
