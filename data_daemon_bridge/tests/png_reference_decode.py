"""Decodes 8-bit truecolour PNG files with Python's zlib, as a second decoder next to ffmpeg.

Usage: png_reference_decode.py FILE.png...
Writes the raw RGB pixels of each file in turn (rows top to bottom) to standard output. Exits non-zero, with the reason
on standard error, for anything a conforming decoder would refuse: a bad signature, a chunk CRC
mismatch, a missing IEND, an unsupported header, or image data of the wrong length.
"""
import struct
import sys
import zlib

import numpy


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def decode(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("bad signature")
    pos, header, idat, ended = 8, None, b"", False
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) != crc:
            raise ValueError("CRC mismatch in %r" % kind)
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            ended = True
            pos += 12 + length
            break
        pos += 12 + length
    if not ended or pos != len(data):
        raise ValueError("missing IEND or bytes after it")
    width, height, depth, colour, compression, filtering, interlace = header
    if (depth, colour, compression, filtering, interlace) != (8, 2, 0, 0, 0):
        raise ValueError("unsupported header %r" % (header,))
    raw = zlib.decompress(idat)
    stride = 3 * width
    if len(raw) != height * (stride + 1):
        raise ValueError("image data is %d bytes, expected %d" % (len(raw), height * (stride + 1)))
    out = bytearray()
    prev = numpy.zeros(stride, dtype=numpy.uint8)
    for r in range(height):
        kind = raw[r * (stride + 1)]
        line = numpy.frombuffer(raw, dtype=numpy.uint8, count=stride, offset=r * (stride + 1) + 1)
        if kind == 0:
            line = line.copy()
        elif kind == 2:
            line = line + prev  # uint8 arithmetic wraps modulo 256
        elif kind in (1, 3, 4):
            line = bytearray(line.tobytes())
            for j in range(stride):
                a = line[j - 3] if j >= 3 else 0
                b = int(prev[j])
                c = int(prev[j - 3]) if j >= 3 else 0
                if kind == 1:
                    line[j] = (line[j] + a) & 0xFF
                elif kind == 3:
                    line[j] = (line[j] + (a + b) // 2) & 0xFF
                else:
                    line[j] = (line[j] + paeth(a, b, c)) & 0xFF
            line = numpy.frombuffer(bytes(line), dtype=numpy.uint8)
        else:
            raise ValueError("bad filter type %d" % kind)
        out += line.tobytes()
        prev = line
    return bytes(out)


def main():
    for path in sys.argv[1:]:
        with open(path, "rb") as f:
            data = f.read()
        try:
            pixels = decode(data)
        except (ValueError, struct.error, zlib.error, TypeError) as e:
            print("png_reference_decode: %s: %s" % (path, e), file=sys.stderr)
            return 1
        sys.stdout.buffer.write(pixels)
    return 0


if __name__ == "__main__":
    sys.exit(main())
