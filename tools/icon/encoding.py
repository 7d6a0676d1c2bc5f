"""The icon file format: palette and 32-bit BMP images, PNG, and the .ico directory around them.

Palette images carry their own palette (median cut of the rendered colours); index 0 is black and
is used by every transparent pixel, so the AND/XOR pair leaves the background untouched. The PNG
depends on zlib's output, which is stable for a given zlib release.
"""

import struct
import zlib

# ----------------------------------------------------------------------------------------------
# Palette images


def median_cut(counts, n):
    """Up to n colours representing the {colour: pixel count} histogram (deterministic)."""
    boxes = [sorted(counts.items())]

    def spread(box):
        ranges = [max(c[k] for c, _ in box) - min(c[k] for c, _ in box) for k in range(3)]
        axis = max(range(3), key=lambda k: (ranges[k], -k))
        return ranges[axis] * sum(w for _, w in box), axis

    while len(boxes) < n:
        candidates = [(spread(b), -i) for i, b in enumerate(boxes) if len(b) > 1]
        if not candidates:
            break
        ((score, axis), neg_i) = max(candidates)
        if score == 0:
            break
        box = sorted(boxes.pop(-neg_i), key=lambda cw: (cw[0][axis], cw[0]))
        total = sum(w for _, w in box)
        half, run, cut = total / 2.0, 0, 1
        for k, (_, w) in enumerate(box[:-1]):
            run += w
            cut = k + 1
            if run >= half:
                break
        boxes += [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(w for _, w in box)
        palette.append(
            tuple((sum(c[k] * w for c, w in box) + total // 2) // total for k in range(3))
        )
    return sorted(set(palette))


def quantize(rows, bpp):
    """Palette image: (palette of (r, g, b), rows of indices, rows of transparency flags)."""
    counts = {}
    for row in rows:
        for r, g, b, a in row:
            if a >= 128:
                counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    black = (0, 0, 0)
    palette = [black] + [c for c in median_cut(counts, (1 << bpp) - 1) if c != black]
    cache = {}

    def nearest(c):
        if c not in cache:
            cache[c] = min(
                range(len(palette)),
                key=lambda k: (
                    sum((palette[k][m] - c[m]) * (palette[k][m] - c[m]) for m in range(3)),
                    k,
                ),
            )
        return cache[c]

    indices, transparent = [], []
    for row in rows:
        indices.append([nearest((r, g, b)) if a >= 128 else 0 for r, g, b, a in row])
        transparent.append([a < 128 for r, g, b, a in row])
    palette += [black] * ((1 << bpp) - len(palette))
    return palette, indices, transparent


# ----------------------------------------------------------------------------------------------
# Encoding


def pack_rows(rows_of_bytes):
    """Bottom-up rows, each padded to a multiple of four bytes, as a DIB stores them."""
    out = bytearray()
    for row in reversed(rows_of_bytes):
        out += row + b"\0" * (-len(row) % 4)
    return bytes(out)


def pack_bits(values, bpp):
    out = bytearray()
    per_byte = 8 // bpp
    for k in range(0, len(values), per_byte):
        byte = 0
        for m in range(per_byte):
            v = values[k + m] if k + m < len(values) else 0
            byte |= v << (8 - bpp * (m + 1))
        out.append(byte)
    return bytes(out)


def dib(size, bpp, rows):
    """BMP-in-ICO image: BITMAPINFOHEADER (height doubled), palette, XOR bitmap, AND mask."""
    if bpp == 32:
        palette = b""
        xor = pack_rows([bytes(v for r, g, b, a in row for v in (b, g, r, a)) for row in rows])
        transparent = [[a == 0 for r, g, b, a in row] for row in rows]
    else:
        colours, indices, transparent = quantize(rows, bpp)
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
        xor = pack_rows([pack_bits(row, bpp) for row in indices])
    mask = pack_rows([pack_bits([1 if t else 0 for t in row], 1) for row in transparent])
    header = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask), 0, 0, 0, 0
    )
    return header + palette + xor + mask


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(size, rows):
    """RGBA PNG; each row uses the filter with the smallest sum of absolute bytes."""
    raw = bytearray()
    prev = bytes(size * 4)
    for row in rows:
        cur = bytes(v for p in row for v in p)
        best = None
        for ftype in range(5):
            line = bytearray(len(cur))
            for k in range(len(cur)):
                a = cur[k - 4] if k >= 4 else 0
                b = prev[k]
                c = prev[k - 4] if k >= 4 else 0
                if ftype == 0:
                    pred = 0
                elif ftype == 1:
                    pred = a
                elif ftype == 2:
                    pred = b
                elif ftype == 3:
                    pred = (a + b) // 2
                else:
                    p = a + b - c
                    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                    pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[k] = (cur[k] - pred) & 0xFF
            cost = sum(v if v < 128 else 256 - v for v in line)
            if best is None or cost < best[0]:
                best = (cost, ftype, line)
        raw.append(best[1])
        raw += best[2]
        prev = cur
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + png_chunk(b"IHDR", ihdr)
        + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + png_chunk(b"IEND", b"")
    )


def icon_file(images):
    """The .ico file of images, a list of (size, bpp, rows of (r, g, b, a) bytes) in file order.

    32-bit images of 256 px are stored as PNG, as Windows Vista and later expect; every other image
    as a BMP with its AND mask.
    """
    blobs = []
    for size, bpp, rows in images:
        data = png(size, rows) if bpp == 32 and size >= 256 else dib(size, bpp, rows)
        blobs.append((size, bpp, data))
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for size, bpp, data in blobs:
        dim = size if size < 256 else 0
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", dim, dim, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in blobs:
        out += data
    return bytes(out)
