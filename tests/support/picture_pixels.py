"""The pixels of BMP and PNG files, read here and nowhere in the library: a 24-bit bottom-up
bitmap, and an 8-bit RGB PNG without interlacing through zlib with the five row filters written
out (every chunk's CRC checked). As a program it compares the pixels of two such files:

    picture_pixels.py FILE FILE    exit 0 when they hold the same pixels, 1 (saying where they
                                   differ) when not, 2 when a file cannot be read
"""

import struct
import sys
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _le32(data, at):
    return int.from_bytes(data[at:at + 4], "little")


def bmp_rgb(bmp):
    """(width, height, top-down RGB bytes) of a 24-bit bottom-up bitmap."""
    if bmp[:2] != b"BM" or int.from_bytes(bmp[28:30], "little") != 24:
        raise ValueError("not a 24-bit bitmap")
    width, height, pixels = _le32(bmp, 18), _le32(bmp, 22), _le32(bmp, 10)
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(height - 1, -1, -1):
        start = pixels + y * stride
        row = bmp[start:start + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
        rows.append(bytes(rgb))
    return width, height, b"".join(rows)


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def png_rgb(png):
    """(width, height, top-down RGB bytes) of an 8-bit RGB PNG without interlacing."""
    if png[:8] != PNG_SIGNATURE:
        raise ValueError("no PNG signature")
    at, idat, header = 8, b"", None
    while at < len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        body = png[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", png[at + 8 + length:at + 12 + length])
        if zlib.crc32(kind + body) != crc:
            raise ValueError("bad CRC in %r" % kind)
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    if header is None:
        raise ValueError("no IHDR")
    width, height, depth, colour, method, filtering, interlace = header
    if (depth, colour, method, filtering, interlace) != (8, 2, 0, 0, 0):
        raise ValueError("not 8-bit RGB without interlacing: %r" % (header,))
    raw = zlib.decompress(idat)
    stride = width * 3
    if len(raw) != (stride + 1) * height:
        raise ValueError("inflated to %d bytes" % len(raw))
    out, up = bytearray(), bytes(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)]
        row = bytearray(stride)
        for i in range(stride):
            a = row[i - 3] if i >= 3 else 0
            b = up[i]
            c = up[i - 3] if i >= 3 else 0
            if kind == 0:
                p = 0
            elif kind == 1:
                p = a
            elif kind == 2:
                p = b
            elif kind == 3:
                p = (a + b) // 2
            elif kind == 4:
                p = _paeth(a, b, c)
            else:
                raise ValueError("filter type %d in row %d" % (kind, y))
            row[i] = (line[i] + p) & 0xFF
        out += row
        up = bytes(row)
    return width, height, bytes(out)


def pixels(data):
    """(width, height, RGB) of BMP or PNG bytes."""
    return png_rgb(data) if data[:8] == PNG_SIGNATURE else bmp_rgb(data)


def difference(a, b):
    """None when the two pictures (width, height, RGB) are the same, else where they differ."""
    if a[:2] != b[:2]:
        return "%d x %d against %d x %d" % (a[0], a[1], b[0], b[1])
    if a[2] == b[2]:
        return None
    at = next(i for i, (x, y) in enumerate(zip(a[2], b[2])) if x != y) // 3
    return "the pixels differ from (%d, %d) on" % (at % a[0], at // a[0])


def main(args):
    if len(args) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        pictures = []
        for name in args:
            with open(name, "rb") as f:
                pictures.append(pixels(f.read()))
    except (OSError, ValueError, zlib.error, struct.error) as error:
        print("picture_pixels: %s" % error, file=sys.stderr)
        return 2
    why = difference(*pictures)
    if why:
        print("%s and %s: %s" % (args[0], args[1], why), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
