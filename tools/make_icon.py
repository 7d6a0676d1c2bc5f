#!/usr/bin/python3
"""Draws the updater's icon and writes resources/updater.ico.

The picture is a cardboard package with a blue arrow pointing down into it ("something is being
delivered into the installed product"). It is drawn from signed distance fields so that every size
is rendered directly, with its own outline width, rather than scaled from a large image.

The file holds 5 images, in this order: 256 px (PNG) and 48, 32, 24, 16 px in 32-bit BGRA.
The updater runs on Windows Vista and later, which draws every icon from its 32-bit images (at a
lower colour depth it reduces them itself) and scales the 256 px one for the sizes between, so the
file carries no palette images and no 64 px one (they took 37 KB of the executable). The palette
writer (median cut, index 0 black for every transparent pixel) and its checks stay for a layout
that lists 4 or 8 bpp images.

Only the standard library is used and only exactly rounded float operations (+ - * / sqrt), so the
output is the same byte for byte wherever it is run (the PNG also depends on zlib's output, which is
stable for a given zlib release).

Usage: make_icon.py                 write resources/updater.ico
       make_icon.py --check [FILE]  verify the icon (default: the committed one): its structure,
                                    and that it equals a fresh render byte for byte
       make_icon.py --self-test     check that the verifier rejects a table of corrupted icons
"""

import math
import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ICON_PATH = os.path.join(ROOT, "resources", "updater.ico")

# (size, bits per pixel) in file order.
LAYOUT = [(s, 32) for s in (256, 48, 32, 24, 16)]
PNG_SIZES = {256}  # larger images are stored as PNG, as Windows Vista and later expect

# ----------------------------------------------------------------------------------------------
# Geometry: signed distances in the unit square (y down); negative inside.


def sd_polygon(px, py, pts):
    dx, dy = px - pts[0][0], py - pts[0][1]
    d = dx * dx + dy * dy
    inside = False
    n = len(pts)
    j = n - 1
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[j]
        ex, ey = bx - ax, by - ay
        wx, wy = px - ax, py - ay
        t = (wx * ex + wy * ey) / (ex * ex + ey * ey)
        t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
        qx, qy = wx - ex * t, wy - ey * t
        dd = qx * qx + qy * qy
        if dd < d:
            d = dd
        if (ay > py) != (by > py) and px < ex * (py - ay) / ey + ax:
            inside = not inside
        j = i
    d = math.sqrt(d)
    return -d if inside else d


def sd_segment(px, py, a, b, radius):
    ex, ey = b[0] - a[0], b[1] - a[1]
    wx, wy = px - a[0], py - a[1]
    t = (wx * ex + wy * ey) / (ex * ex + ey * ey)
    t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
    qx, qy = wx - ex * t, wy - ey * t
    return math.sqrt(qx * qx + qy * qy) - radius


def sd_ellipse_approx(px, py, cx, cy, rx, ry):
    # Scaled circle distance: exact enough for a soft shadow.
    dx, dy = (px - cx) / rx, (py - cy) / ry
    return (math.sqrt(dx * dx + dy * dy) - 1.0) * (rx if rx < ry else ry)


def bbox(pts, margin):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return (min(xs) - margin, min(ys) - margin, max(xs) + margin, max(ys) + margin)


# ----------------------------------------------------------------------------------------------
# The picture


def mix(c0, c1, t):
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def rgb(r, g, b):
    return (r / 255.0, g / 255.0, b / 255.0)


TOP = rgb(244, 206, 148)
LEFT = rgb(218, 164, 96)
RIGHT = rgb(178, 122, 62)
BOX_EDGE = rgb(92, 56, 22)
FOLD = rgb(140, 92, 44)
TAPE = rgb(250, 228, 186)
ARROW_LIGHT = rgb(96, 178, 255)
ARROW_DARK = rgb(16, 96, 212)
ARROW_EDGE = rgb(8, 44, 112)
SHADOW = rgb(0, 0, 0)


def geometry(size):
    """The outlines at one pixel size, in the unit square.

    Horizontal and vertical edges and the corners of the box are moved onto pixel boundaries, and
    the arrow's shaft is kept symmetric in whole pixels, so small sizes stay crisp instead of
    smearing every edge over two half-covered pixels. The box's top edges rise 1 in 2, the slope
    that renders as clean pixel steps.
    """

    def snap(v):
        return math.floor(v * size + 0.5) / size

    def half(v):  # a half-width around the centre 0.5, in whole pixels
        return math.floor(v * size + 0.5) / size

    g = {}
    # Box half-width in an even number of pixels, so that its 1-in-2 edges meet at pixel corners.
    hw = math.floor(0.42 * size / 2 + 0.5) * 2 / size
    top = snap(0.26)
    side = snap(0.28)  # height of the box's side faces
    t, l, r = (0.5, top), (0.5 - hw, top + hw / 2), (0.5 + hw, top + hw / 2)
    b = (0.5, top + hw)
    lb, rb, bb = (l[0], l[1] + side), (r[0], r[1] + side), (0.5, b[1] + side)
    g["top"] = [t, r, b, l]
    g["left"] = [l, b, bb, lb]
    g["right"] = [b, r, rb, bb]
    g["silhouette"] = [t, r, rb, bb, lb, l]
    # At 16 px the lid's folds would be single grey pixels around the arrow's tip: the colours of
    # the faces separate them well enough.
    g["folds"] = [(l, b), (b, r), (b, bb)] if size > 16 else [(b, bb)]
    tape = half(0.07)  # packing tape along the fold of the lid, from t to b
    g["tape"] = [(0.5 - tape, t[1] + tape / 2), (0.5 + tape, t[1] + tape / 2)]
    g["tape"] += [(0.5 + tape, b[1] - tape / 2), (0.5 - tape, b[1] - tape / 2)]
    # The head's 45-degree edges are offset by half a pixel: through pixel corners they would
    # cross every pixel centre on their way and leave a row of half-covered pixels.
    shaft, head = half(0.11), (math.floor(0.32 * size) + 0.5) / size
    y0, y1 = snap(0.02), snap(0.28)
    g["arrow"] = [
        (0.5 - shaft, y0),
        (0.5 + shaft, y0),
        (0.5 + shaft, y1),
        (0.5 + head, y1),
        (0.5, y1 + head),
        (0.5 - head, y1),
        (0.5 - shaft, y1),
    ]
    g["arrow_span"] = (y0, y1 + head)
    g["ground"] = (0.5, bb[1] - side / 2 + 0.01, hw + 0.02, side / 2 + 0.02)
    return g


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def layers(size):
    """The drawing at one pixel size: (bounding box, distance fn, shade fn) from back to front.

    shade(x, y, d) gives the colour and opacity at a point whose signed distance is d.
    """
    px = 1.0 / size  # one pixel in unit coordinates
    edge = max(1.0, size * 0.03) * px  # outer outline width
    fold = max(0.75, size * 0.014) * px  # inner edges of the box
    out = []

    # Edges are antialiased by the distance of the pixel centre; at 16 px the edge ramp is made
    # steeper, so that outlines stay one solid pixel instead of two half-tinted ones.
    sharp = 2.5 if size <= 16 else 1.0

    def coverage(d):  # how much of the pixel lies inside the shape
        return clamp01(0.5 - sharp * d / px)

    def in_band(d, width):  # how much of the pixel lies within `width` of the boundary
        return clamp01(0.5 + sharp * (d + width) / px)

    def fill(pts, colour, band=None):
        """A polygon; band=(colour, width) draws an outline just inside its boundary."""

        def shade(x, y, d):
            c = colour(x, y) if callable(colour) else colour
            if band is None:
                return c, coverage(d)
            t = in_band(d, band[1])
            if c is None:  # outline only
                return band[0], coverage(d) * t
            return mix(c, band[0], t), coverage(d)

        out.append((bbox(pts, px), lambda x, y: sd_polygon(x, y, pts), shade))

    def stroke(a, b, width, colour):
        r = width / 2.0
        out.append(
            (
                bbox([a, b], r + px),
                lambda x, y: sd_segment(x, y, a, b, r),
                lambda x, y, d: (colour, coverage(d)),
            )
        )

    g = geometry(size)
    if size >= 48:  # a soft ground shadow; at small sizes it would only smear the outline
        cx, cy, rx, ry = g["ground"]
        out.append(
            (
                (cx - rx - 0.05, cy - ry - 0.05, cx + rx + 0.05, cy + ry + 0.05),
                lambda x, y: sd_ellipse_approx(x, y, cx, cy, rx, ry),
                lambda x, y, d: (SHADOW, 0.3 * clamp01(0.5 - d / 0.04)),
            )
        )
    fill(g["top"], TOP)
    fill(g["left"], LEFT)
    fill(g["right"], RIGHT)
    if size >= 24:
        fill(g["tape"], TAPE)
    for a, b in g["folds"]:
        stroke(a, b, fold, FOLD)
    # The silhouette outline: a band inside the outer boundary of the whole box.
    fill(g["silhouette"], None, band=(BOX_EDGE, edge))
    y0, y1 = g["arrow_span"]
    fill(
        g["arrow"],
        lambda x, y: mix(ARROW_LIGHT, ARROW_DARK, clamp01((y - y0) / (y1 - y0))),
        band=(ARROW_EDGE, edge),
    )
    return out


def render(size):
    """Renders the picture at one size: rows of straight (not premultiplied) (r, g, b, a) floats."""
    px = 1.0 / size
    acc = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]  # premultiplied
    for (x0, y0, x1, y1), dist, shade in layers(size):
        i0, i1 = max(0, int(x0 * size)), min(size, int(x1 * size) + 1)
        j0, j1 = max(0, int(y0 * size)), min(size, int(y1 * size) + 1)
        for j in range(j0, j1):
            y = (j + 0.5) * px
            row = acc[j]
            for i in range(i0, i1):
                x = (i + 0.5) * px
                c, a = shade(x, y, dist(x, y))
                if a <= 0.0:
                    continue
                r0, g0, b0, a0 = row[i]
                k = 1.0 - a
                row[i] = (c[0] * a + r0 * k, c[1] * a + g0 * k, c[2] * a + b0 * k, a + a0 * k)
    return [
        [(r / a, g / a, b / a, a) if a > 0.0 else (0.0,) * 4 for r, g, b, a in row] for row in acc
    ]


def to_bytes(v):
    v = int(v * 255.0 + 0.5)
    return 0 if v < 0 else 255 if v > 255 else v


def rgba8(image):
    """Float image to rows of (r, g, b, a) bytes; fully transparent pixels become (0, 0, 0, 0)."""
    rows = []
    for row in image:
        out = []
        for r, g, b, a in row:
            a8 = to_bytes(a)
            out.append((to_bytes(r), to_bytes(g), to_bytes(b), a8) if a8 else (0, 0, 0, 0))
        rows.append(out)
    return rows


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


def build_icon():
    renders = {}
    images = []
    for size, bpp in LAYOUT:
        if size not in renders:
            renders[size] = rgba8(render(size))
        rows = renders[size]
        data = png(size, rows) if bpp == 32 and size in PNG_SIZES else dib(size, bpp, rows)
        images.append((size, bpp, data))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        dim = size if size < 256 else 0
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", dim, dim, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


# ----------------------------------------------------------------------------------------------
# Verification: an independent reading of the file


class IconError(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise IconError(message)


def unpng(data):
    """Decodes an 8-bit RGBA PNG into rows of (r, g, b, a); checks chunk CRCs and the IHDR."""
    expect(data[:8] == b"\x89PNG\r\n\x1a\n", "PNG signature")
    pos, idat, ihdr, kinds = 8, b"", None, []
    while pos < len(data):
        (n,) = struct.unpack_from(">I", data, pos)
        kind, body = data[pos + 4 : pos + 8], data[pos + 8 : pos + 8 + n]
        (crc,) = struct.unpack_from(">I", data, pos + 8 + n)
        expect(crc == zlib.crc32(kind + body), f"PNG {kind} CRC")
        kinds.append(kind)
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    expect(kinds[0] == b"IHDR" and kinds[-1] == b"IEND", f"PNG chunk order {kinds}")
    w, h, depth, ctype, comp, filt, interlace = ihdr
    expect((depth, ctype, comp, filt, interlace) == (8, 6, 0, 0, 0), f"PNG format {ihdr}")
    raw = zlib.decompress(idat)
    stride = w * 4
    expect(len(raw) == h * (stride + 1), "PNG data length")
    rows, prev = [], bytes(stride)
    for j in range(h):
        start = j * (stride + 1)
        ftype, line = raw[start], bytearray(raw[start + 1 : start + 1 + stride])
        expect(ftype <= 4, "PNG filter type")
        for k in range(stride):
            a = line[k - 4] if k >= 4 else 0
            b = prev[k]
            c = prev[k - 4] if k >= 4 else 0
            if ftype == 1:
                line[k] = (line[k] + a) & 0xFF
            elif ftype == 2:
                line[k] = (line[k] + b) & 0xFF
            elif ftype == 3:
                line[k] = (line[k] + (a + b) // 2) & 0xFF
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[k] = (line[k] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(line[i * 4 : i * 4 + 4]) for i in range(w)])
        prev = bytes(line)
    return w, h, rows


def read_dib(data, size, bpp):
    """Decodes a BMP-in-ICO image into rows of (r, g, b, a), checking its header and masks."""
    fields = struct.unpack_from("<IiiHHIIiiII", data, 0)
    hsize, w, h2, planes, bits, compression, image_size = fields[:7]
    expect(
        (hsize, w, h2, planes, bits, compression) == (40, size, 2 * size, 1, bpp, 0),
        f"BITMAPINFOHEADER {fields}",
    )
    ncolours = 1 << bpp if bpp <= 8 else 0
    palette = [tuple(data[40 + 4 * k : 43 + 4 * k]) for k in range(ncolours)]  # (b, g, r)
    xor_stride = (size * bpp + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor_at = 40 + 4 * ncolours
    and_at = xor_at + xor_stride * size
    expect(len(data) == and_at + and_stride * size, "image length")
    expect(image_size == len(data) - xor_at, "biSizeImage")
    rows = []
    for j in range(size):  # bottom-up
        xr = data[xor_at + (size - 1 - j) * xor_stride :][:xor_stride]
        ar = data[and_at + (size - 1 - j) * and_stride :][:and_stride]
        row = []
        for i in range(size):
            masked = (ar[i // 8] >> (7 - i % 8)) & 1
            if bpp == 32:
                b, g, r, a = xr[4 * i : 4 * i + 4]
                expect(masked == (a == 0), f"AND mask disagrees with alpha at {i},{j}")
                expect(a or (r, g, b) == (0, 0, 0), "transparent pixel with colour")
            else:
                v = xr[i * bpp // 8] >> (8 - bpp - (i * bpp) % 8) & ((1 << bpp) - 1)
                b, g, r = palette[v]
                a = 0 if masked else 255
                # The screen is ANDed with the mask, then XORed with the colour: a transparent
                # pixel must have a black colour or it would show through as garbage.
                expect(
                    not masked or (r, g, b) == (0, 0, 0), f"transparent pixel not black at {i},{j}"
                )
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def check_file(data):
    """Checks an .ico against LAYOUT; returns the decoded pixels as {(size, bpp): rows}."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    expect((reserved, kind, count) == (0, 1, len(LAYOUT)), f"ICONDIR {reserved, kind, count}")
    decoded = {}
    expected_offset = 6 + 16 * count
    for n, (size, bpp) in enumerate(LAYOUT):
        w, h, colours, res, planes, bits, length, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * n
        )
        dim = size if size < 256 else 0
        expect((w, h, res, planes, bits) == (dim, dim, 0, 1, bpp), f"entry {n}")
        expect(colours == (16 if bpp == 4 else 0), f"entry {n} colour count")
        expect(offset == expected_offset, f"entry {n} offset {offset}, expected {expected_offset}")
        expected_offset += length
        blob = data[offset : offset + length]
        expect(len(blob) == length, f"entry {n} runs past the end of the file")
        if blob[:8] == b"\x89PNG\r\n\x1a\n":
            expect(size >= 256 and bpp == 32, f"entry {n}: PNG only for 256 px")
            pw, ph, rows = unpng(blob)
            expect((pw, ph) == (size, size), f"entry {n}: PNG is {pw}x{ph}")
        else:
            rows = read_dib(blob, size, bpp)
        decoded[(size, bpp)] = rows
    expect(expected_offset == len(data), "trailing bytes after the last image")
    # The picture itself: transparent corners, an opaque middle, and a real palette in use.
    for (size, bpp), rows in decoded.items():
        for i, j in ((0, 0), (size - 1, 0), (0, size - 1), (size - 1, size - 1)):
            expect(rows[j][i][3] == 0, f"{size} px {bpp} bpp: corner {i},{j} not transparent")
        centre = rows[size * 7 // 10][size * 3 // 10]  # on the left face of the box
        expect(centre[3] == 255, f"{size} px {bpp} bpp: box face not opaque")
        opaque_colours = {p[:3] for row in rows for p in row if p[3] == 255}
        expect(len(opaque_colours) >= 6, f"{size} px {bpp} bpp: only {len(opaque_colours)} colours")
    return decoded


def self_test(good):
    """Corrupts a sound icon in ways a hand-edited or mis-generated file could be wrong and checks
    that every one is rejected; returns the descriptions of corruptions that were accepted."""

    def entry(n):
        return struct.unpack_from("<BBBBHHII", good, 6 + 16 * n)

    def patched(at, data):
        return good[:at] + data + good[at + len(data) :]

    def image_at(size, bpp):
        return entry(LAYOUT.index((size, bpp)))[7]

    def pixel_offset(size, bpp, i, j, mask=False):
        """Byte of pixel (i, j) (top-down) in the XOR bitmap, or in the AND mask."""
        at = image_at(size, bpp) + 40 + (4 << bpp if bpp <= 8 else 0)
        xor_stride = (size * bpp + 31) // 32 * 4
        if mask:
            return at + xor_stride * size + (size - 1 - j) * ((size + 31) // 32 * 4) + i // 8
        return at + (size - 1 - j) * xor_stride + i * bpp // 8

    def flip(at, bits):
        return patched(at, bytes([good[at] ^ bits]))

    png_at = image_at(256, 32)
    mid = 24  # the middle of the 48 px image: inside the arrow, opaque
    cases = [
        ("image count", patched(4, struct.pack("<H", len(LAYOUT) - 1))),
        ("not an icon (cursor type)", patched(2, struct.pack("<H", 2))),
        ("entries out of order", patched(6, good[6 + 16 : 6 + 32])),
        ("colour count of a 32 bpp entry", patched(6 + 16 + 2, b"\x10")),
        ("bit depth in the directory", patched(6 + 6, struct.pack("<H", 8))),
        ("offset off by one", patched(6 + 12, struct.pack("<I", entry(0)[7] + 1))),
        ("height not doubled", patched(image_at(32, 32) + 8, struct.pack("<i", 32))),
        ("compressed bitmap", patched(image_at(24, 32) + 16, struct.pack("<I", 1))),
        ("opaque 32 bpp pixel masked", flip(pixel_offset(48, 32, mid, mid, True), 0x80)),
        ("transparent 32 bpp pixel with colour", patched(pixel_offset(48, 32, 0, 0), b"\x40")),
        ("opaque 32 px pixel masked", flip(pixel_offset(32, 32, 16, 16, True), 0x80)),
        ("opaque 16 px pixel masked", flip(pixel_offset(16, 32, 8, 8, True), 0x80)),
        ("PNG data corrupted", flip(png_at + 60, 0x01)),
        ("PNG signature", flip(png_at + 1, 0x20)),
        ("truncated", good[:-1]),
        ("trailing bytes", good + b"\0"),
    ]
    accepted = []
    for description, data in cases:
        try:
            check_file(data)
            accepted.append(description)
        except (IconError, struct.error, zlib.error, IndexError):
            pass
    return len(cases), accepted


def main(argv):
    fresh = build_icon()
    check_file(fresh)
    if "--self-test" in argv:
        total, accepted = self_test(fresh)
        for description in accepted:
            print("self-test FAILED: corruption accepted:", description)
        print(f"self-test: {total - len(accepted)} of {total} corruptions rejected")
        return 1 if accepted else 0
    if "--check" in argv:
        rest = [a for a in argv if a != "--check"]
        path = rest[0] if rest else ICON_PATH
        with open(path, "rb") as f:
            committed = f.read()
        try:
            decoded = check_file(committed)
        except (IconError, struct.error, zlib.error, IndexError) as e:
            print(f"{path}: malformed: {e}")
            return 1
        if committed != fresh:
            print(f"{path}: well-formed but differs from a fresh render (run tools/make_icon.py)")
            return 1
        print(f"{path}: {len(decoded)} images, {len(committed)} bytes, matches a fresh render")
        return 0
    os.makedirs(os.path.dirname(ICON_PATH), exist_ok=True)
    with open(ICON_PATH, "wb") as f:
        f.write(fresh)
    print(f"wrote {ICON_PATH}: {len(LAYOUT)} images, {len(fresh)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
