"""An independent reading of an .ico file: its directory, every image decoded, and the picture's
basic properties, against the set of images the updater must carry."""

import struct
import zlib

# The images the updater's icon group holds, in file order (icon resources 1 to 16): 64, 48, 32, 24
# and 16 px in 16 colours and in 256 colours, and 256, 64, 48, 32, 24 and 16 px in 32-bit colour.
REQUIRED_IMAGES = (
    [(s, 4) for s in (64, 48, 32, 24, 16)]
    + [(s, 8) for s in (64, 48, 32, 24, 16)]
    + [(s, 32) for s in (256, 64, 48, 32, 24, 16)]
)

# How far, per channel on average, a palette image's colours may lie from the 32-bit image of its
# size: a palette that shows another picture, or the right one in wrong colours, lies far beyond.
PALETTE_ERROR = {4: 8.0, 8: 2.0}


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


def read_directory(data):
    """The images the directory lists, as (size, bpp, bytes), after checking that the directory
    is an icon's and that the images follow it one after another up to the end of the file."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    expect((reserved, kind) == (0, 1), f"ICONDIR {reserved, kind, count}")
    images = []
    expected_offset = 6 + 16 * count
    for n in range(count):
        w, h, colours, res, planes, bpp, length, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * n
        )
        expect((w, res, planes) == (h, 0, 1), f"entry {n}")
        expect(colours == (16 if bpp == 4 else 0), f"entry {n} colour count")
        expect(offset == expected_offset, f"entry {n} offset {offset}, expected {expected_offset}")
        expected_offset += length
        blob = data[offset : offset + length]
        expect(len(blob) == length, f"entry {n} runs past the end of the file")
        images.append((w or 256, bpp, blob))
    expect(expected_offset == len(data), "trailing bytes after the last image")
    return images


def decode_image(n, size, bpp, blob):
    if blob[:8] == b"\x89PNG\r\n\x1a\n":
        expect(size >= 256 and bpp == 32, f"entry {n}: PNG only for 256 px")
        pw, ph, rows = unpng(blob)
        expect((pw, ph) == (size, size), f"entry {n}: PNG is {pw}x{ph}")
        return rows
    return read_dib(blob, size, bpp)


def check_picture(size, bpp, rows):
    """Transparent corners, an opaque middle, and a real palette in use."""
    for i, j in ((0, 0), (size - 1, 0), (0, size - 1), (size - 1, size - 1)):
        expect(rows[j][i][3] == 0, f"{size} px {bpp} bpp: corner {i},{j} not transparent")
    centre = rows[size * 7 // 10][size * 3 // 10]  # on the left face of the box
    expect(centre[3] == 255, f"{size} px {bpp} bpp: box face not opaque")
    opaque_colours = {p[:3] for row in rows for p in row if p[3] == 255}
    expect(len(opaque_colours) >= 6, f"{size} px {bpp} bpp: only {len(opaque_colours)} colours")


def palette_error(rows, true_rows):
    """Mean difference per channel of a palette image from the 32-bit image of its size, after
    checking that it shows exactly the pixels that are at least half opaque there."""
    total, count = 0, 0
    for j, (row, true_row) in enumerate(zip(rows, true_rows)):
        for i, (p, q) in enumerate(zip(row, true_row)):
            expect((p[3] == 255) == (q[3] >= 128), f"pixel {i},{j} transparent in one image only")
            if p[3] == 255:
                total += sum(abs(p[k] - q[k]) for k in range(3))
                count += 3
    return total / count


def check_file(data):
    """Checks an .ico against REQUIRED_IMAGES; returns the decoded pixels as {(size, bpp): rows}."""
    images = read_directory(data)
    layout = [(size, bpp) for size, bpp, _ in images]
    expect(layout == REQUIRED_IMAGES, f"images {layout}, expected {REQUIRED_IMAGES}")
    decoded = {}
    for n, (size, bpp, blob) in enumerate(images):
        decoded[(size, bpp)] = rows = decode_image(n, size, bpp, blob)
        check_picture(size, bpp, rows)
    for (size, bpp), rows in decoded.items():
        if bpp in PALETTE_ERROR:
            error = palette_error(rows, decoded[(size, 32)])
            expect(
                error <= PALETTE_ERROR[bpp],
                f"{size} px {bpp} bpp: colours {error:.1f} off the 32-bit image on average",
            )
    return decoded


def self_test(good):
    """Corrupts a sound icon in ways a hand-edited or mis-generated file could be wrong and checks
    that every one is rejected; returns the descriptions of corruptions that were accepted."""

    def entry(n):
        return struct.unpack_from("<BBBBHHII", good, 6 + 16 * n)

    def patched(at, data):
        return good[:at] + data + good[at + len(data) :]

    def index(size, bpp):
        return REQUIRED_IMAGES.index((size, bpp))

    def image_at(size, bpp):
        return entry(index(size, bpp))[7]

    def pixel_offset(size, bpp, i, j, mask=False):
        """Byte of pixel (i, j) (top-down) in the XOR bitmap, or in the AND mask."""
        at = image_at(size, bpp) + 40 + (4 << bpp if bpp <= 8 else 0)
        xor_stride = (size * bpp + 31) // 32 * 4
        if mask:
            return at + xor_stride * size + (size - 1 - j) * ((size + 31) // 32 * 4) + i // 8
        return at + (size - 1 - j) * xor_stride + i * bpp // 8

    def flip(at, bits):
        return patched(at, bytes([good[at] ^ bits]))

    def hole(size, bpp, i, j):
        """Pixel (i, j) of a palette image made transparent as the encoder would: masked, index 0."""
        data = bytearray(flip(pixel_offset(size, bpp, i, j, True), 0x80 >> (i % 8)))
        data[pixel_offset(size, bpp, i, j)] = 0
        return bytes(data)

    def rebuilt(order):
        """A well-formed file of the images at these indices of the sound one."""
        blobs = [(entry(n), good[entry(n)[7] :][: entry(n)[6]]) for n in order]
        out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
        offset = 6 + 16 * len(blobs)
        for fields, blob in blobs:
            out += struct.pack("<BBBBHHII", *fields[:7], offset)
            offset += len(blob)
        return bytes(out) + b"".join(blob for _, blob in blobs)

    def palette_changed(size, bpp, change):
        at = image_at(size, bpp) + 40
        palette = bytearray(good[at : at + (4 << bpp)])
        change(palette)
        return patched(at, bytes(palette))

    def inverted(palette):  # every colour but index 0 (black, the transparent pixels') inverted
        for k in range(4, len(palette)):
            palette[k] = palette[k] if k % 4 == 3 else 255 - palette[k]

    def index_zero_grey(palette):
        palette[0:3] = b"\x40\x40\x40"

    png_at = image_at(256, 32)
    every = list(range(len(REQUIRED_IMAGES)))
    cases = [
        ("image count", patched(4, struct.pack("<H", len(REQUIRED_IMAGES) - 1))),
        ("not an icon (cursor type)", patched(2, struct.pack("<H", 2))),
        ("entries out of order", patched(6, good[6 + 16 : 6 + 32])),
        ("64 px 32 bpp image left out", rebuilt([n for n in every if n != index(64, 32)])),
        ("16 px 4 bpp image left out", rebuilt([n for n in every if n != index(16, 4)])),
        ("an image twice", rebuilt(every + [index(32, 8)])),
        ("two images swapped", rebuilt([1, 0] + every[2:])),
        ("colour count of a 4 bpp entry", patched(6 + 2, b"\0")),
        ("colour count of a 32 bpp entry", patched(6 + 16 * index(64, 32) + 2, b"\x10")),
        ("bit depth in the directory", patched(6 + 6, struct.pack("<H", 8))),
        ("offset off by one", patched(6 + 12, struct.pack("<I", entry(0)[7] + 1))),
        ("height not doubled", patched(image_at(32, 8) + 8, struct.pack("<i", 32))),
        ("compressed bitmap", patched(image_at(32, 4) + 16, struct.pack("<I", 1))),
        ("opaque 32 bpp pixel masked", flip(pixel_offset(64, 32, 32, 32, True), 0x80)),
        ("transparent 32 bpp pixel with colour", patched(pixel_offset(64, 32, 0, 0), b"\x40")),
        ("opaque 8 bpp pixel masked", flip(pixel_offset(64, 8, 32, 32, True), 0x80)),
        ("opaque 4 bpp pixel masked", flip(pixel_offset(64, 4, 32, 32, True), 0x80)),
        ("opaque 16 px pixel masked", flip(pixel_offset(16, 32, 8, 8, True), 0x80)),
        ("8 bpp pixel transparent, opaque in 32 bpp", hole(64, 8, 32, 32)),
        ("transparent 4 bpp pixel not black", palette_changed(32, 4, index_zero_grey)),
        ("8 bpp palette of other colours", palette_changed(48, 8, inverted)),
        ("4 bpp palette of other colours", palette_changed(24, 4, inverted)),
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
