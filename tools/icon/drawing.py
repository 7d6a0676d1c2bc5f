"""The updater's icon as pixels: a cardboard package with a blue arrow pointing down into it
("something is being delivered into the installed product").

It is drawn from signed distance fields so that every size is rendered directly, with its own
outline width, rather than scaled from a large image. Only exactly rounded float operations
(+ - * / sqrt) are used, so the pixels are the same wherever this runs.
"""

import math

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


def draw(size):
    """The picture at one size: rows of (r, g, b, a) bytes, straight alpha."""
    return rgba8(render(size))
