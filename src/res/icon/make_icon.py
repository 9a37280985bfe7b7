#!/usr/bin/env python3
"""Draw the Norvalis Setup icon and write it as a multi-image Windows .ico.

    python3 make_icon.py [OUT.ico] [--png DIR]

The picture is defined once, as vector shapes in a unit square (x to the
right, y downwards), and rasterised separately for every icon size, so each
size is sharp instead of being a resampled copy of a larger one.  The motif
is the usual one for an installer: an opened cardboard carton with a compact
disc standing in front of it.

Only the Python standard library is used, so the icon can be regenerated on
any build machine.  --png DIR additionally writes enlarged previews of the
images, decoded back from the written file, for eyeballing.
"""

import colorsys
import math
import os
import struct
import sys
import zlib

SUPERSAMPLE = 4          # 4x4 samples per pixel for anti-aliasing

# The images, in directory order: (size, bits per pixel).  Older shells pick
# the first image that matches the display depth, so the 16-colour ones lead.
IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8),
          (48, 32), (32, 32), (16, 32)]


# --------------------------------------------------------------------------
# Geometry
# --------------------------------------------------------------------------

class Polygon:
    def __init__(self, *pts):
        self.pts = pts
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def contains(self, x, y, px):
        inside = False
        pts = self.pts
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y):
                if x < xi + (y - yi) * (xj - xi) / (yj - yi):
                    inside = not inside
            j = i
        return inside


class Ellipse:
    def __init__(self, cx, cy, rx, ry=None, min_px=0.0):
        self.cx, self.cy, self.rx = cx, cy, rx
        self.ry = rx if ry is None else ry
        # A circle that would vanish at 16x16 (the disc's hole) is given a
        # minimum radius in pixels so it survives at every size.
        self.min_px = min_px
        r = max(self.rx, self.ry) + 0.1
        self.bbox = (cx - r, cy - r, cx + r, cy + r)

    def contains(self, x, y, px):
        rx = max(self.rx, self.min_px * px)
        ry = max(self.ry, self.min_px * px)
        dx = (x - self.cx) / rx
        dy = (y - self.cy) / ry
        return dx * dx + dy * dy <= 1.0


class Ring:
    """Annulus; used for the disc's rim and hub outlines."""

    def __init__(self, cx, cy, r, width, min_px=1.0):
        self.cx, self.cy, self.r, self.width, self.min_px = cx, cy, r, width, min_px
        self.bbox = (cx - r - 0.1, cy - r - 0.1, cx + r + 0.1, cy + r + 0.1)

    def contains(self, x, y, px):
        w = max(self.width, self.min_px * px)
        d = math.hypot(x - self.cx, y - self.cy)
        return self.r - w <= d <= self.r


class Stroke:
    """Polyline with round caps.  The width never drops below min_px pixels:
    an outline thinner than a pixel just smears into the fill at 16x16."""

    def __init__(self, pts, width, closed=False, min_px=1.0):
        self.segs = list(zip(pts, pts[1:]))
        if closed:
            self.segs.append((pts[-1], pts[0]))
        self.width, self.min_px = width, min_px
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        m = 0.1
        self.bbox = (min(xs) - m, min(ys) - m, max(xs) + m, max(ys) + m)

    def contains(self, x, y, px):
        h = max(self.width, self.min_px * px) / 2.0
        h2 = h * h
        for (ax, ay), (bx, by) in self.segs:
            vx, vy = bx - ax, by - ay
            wx, wy = x - ax, y - ay
            ll = vx * vx + vy * vy
            t = 0.0 if ll == 0 else max(0.0, min(1.0, (wx * vx + wy * vy) / ll))
            dx, dy = wx - t * vx, wy - t * vy
            if dx * dx + dy * dy <= h2:
                return True
        return False


def lerp(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t)


def add(a, d):
    return (a[0] + d[0], a[1] + d[1])


# --------------------------------------------------------------------------
# The picture
# --------------------------------------------------------------------------
#
# The 16-colour images cannot be produced by nearest-colour matching: the
# closest VGA colour to cardboard tan is grey, which turns the carton into a
# grey block.  So every layer also names the VGA colour a pixel artist would
# use for it, and the 4-bit images are painted with those.

# Standard Windows 16-colour palette, in palette order.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
       (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
       (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
       (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, \
    GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = VGA


class Layer:
    """One filled shape of the picture, painted in order, later on top.
    A colour of None punches a hole through everything below (the disc's
    centre).  A VGA colour of None only matters for see-through layers,
    which never win a pixel in the 16-colour images."""

    def __init__(self, shape, colour, vga, min_size=0):
        self.shape = shape
        self.colour = colour      # (r, g, b, a) or f(x, y) -> (r, g, b, a)
        self.vga = vga            # (r, g, b) or f(x, y) -> (r, g, b), or None
        self.min_size = min_size  # detail dropped below this icon size

    def rgba(self, x, y):
        c = self.colour
        return c(x, y) if callable(c) else c

    def vga_at(self, x, y):
        v = self.vga
        return v(x, y) if callable(v) else v


def build_picture():
    L = []

    # Cardboard: lit from the upper left, so the front face is the light
    # one, the right-hand side is in shade, and the inside is darkest.
    outline = (70, 40, 14, 255)
    front = (222, 168, 98, 255)
    side = (176, 120, 60, 255)
    inside = (84, 52, 22, 255)
    inner_wall = (140, 92, 44, 255)
    flap_in = (206, 152, 86, 255)     # the inside of a flap, facing us
    flap_lit = (240, 204, 146, 255)   # a flap catching the light

    # Soft contact shadow; below 50 % alpha, so the indexed images drop it.
    L.append(Layer(Ellipse(0.50, 0.935, 0.46, 0.055),
                   (0, 0, 0, 70), None))

    # Carton corners.  Seen from above, in front and a little to the right,
    # the rim is a parallelogram and two walls show; that is what makes the
    # box read as a box rather than a flat brown square.
    FL, FR = (0.10, 0.47), (0.48, 0.55)      # rim, front left/right
    BR, BL = (0.75, 0.41), (0.37, 0.33)      # rim, back right/left
    FLb, FRb, BRb = (0.11, 0.85), (0.48, 0.95), (0.73, 0.82)

    # Flaps behind the opening first: back flap standing up, left flap
    # falling open to the left.  Their far edges tilt a little so they look
    # folded back rather than pasted on.
    back_flap = Polygon(BL, BR, add(BR, (0.03, -0.25)), add(BL, (-0.01, -0.26)))
    left_flap = Polygon(FL, BL, add(BL, (-0.22, -0.12)), add(FL, (-0.12, -0.13)))
    L.append(Layer(back_flap, flap_in, YELLOW))
    L.append(Layer(Stroke(back_flap.pts, 0.035, closed=True), outline, BLACK))
    L.append(Layer(left_flap, flap_lit, YELLOW))
    L.append(Layer(Stroke(left_flap.pts, 0.035, closed=True), outline, BLACK))

    # The opening: dark inside, with the inner faces of the back and left
    # walls a little lighter so there is visible depth.
    L.append(Layer(Polygon(FL, FR, BR, BL), inside, BLACK))
    L.append(Layer(Polygon(BL, BR, lerp(BR, FR, 0.35), lerp(BL, FL, 0.45)),
                   inner_wall, BLACK, min_size=32))

    # Body.
    front_face = Polygon(FL, FR, FRb, FLb)
    side_face = Polygon(FR, BR, BRb, FRb)
    L.append(Layer(front_face, front, OLIVE))
    L.append(Layer(side_face, side, MAROON))
    # Packing tape down the front: a cheap cue that this is a carton and not
    # just a brown block.  Only where there are pixels to spare.
    tape_top = lerp(FL, FR, 0.5)
    tape_bot = lerp(FLb, FRb, 0.5)
    L.append(Layer(Polygon(add(tape_top, (-0.035, -0.004)), add(tape_top, (0.035, 0.004)),
                           add(tape_bot, (0.035, 0.004)), add(tape_bot, (-0.035, -0.004))),
                   (236, 214, 160, 255), WHITE, min_size=48))
    L.append(Layer(Stroke([FL, FR, BR, BL], 0.035, closed=True), outline, BLACK))
    L.append(Layer(Stroke([FL, FLb, FRb, BRb, BR], 0.035, closed=True), outline, BLACK))
    L.append(Layer(Stroke([FR, FRb], 0.03), outline, BLACK))

    # Front flap folded down over the front face.  Its lower edge swings
    # slightly left of the hinge, as a flap tilted towards the viewer would.
    # The right-hand flap is left out: it would hang down behind the disc.
    front_flap = Polygon(FL, FR, add(FR, (-0.01, 0.15)), add(FL, (-0.035, 0.13)))
    L.append(Layer(front_flap, flap_lit, YELLOW, min_size=32))
    L.append(Layer(Stroke(front_flap.pts, 0.03, closed=True), outline, BLACK,
                   min_size=32))

    # The disc stands in front of the carton's lower right corner, so both
    # silhouettes stay readable and the pair still fits in a square.
    cx, cy, R = 0.73, 0.73, 0.25
    hole = 0.055

    def disc_colour(x, y):
        # A real disc shows two opposite rainbow fans where it catches the
        # light; a hue that runs twice round the circle mimics that, mixed
        # thinly into silver so the disc stays a metallic, light object.
        dx, dy = x - cx, y - cy
        a = math.atan2(dy, dx)
        hue = (2.0 * a / (2.0 * math.pi) + 0.08) % 1.0
        rr, rg, rb = colorsys.hsv_to_rgb(hue, 0.9, 1.0)
        # Highlight fans along the upper-right / lower-left diagonal.
        glint = max(0.0, math.cos(2.0 * (a + math.pi / 4.0))) ** 3
        r = math.hypot(dx, dy) / R
        base = 198 + 30 * glint - 14 * r
        mix = 0.38 * (1.0 - 0.5 * glint)
        return (base * (1 - mix) + 255 * rr * mix,
                base * (1 - mix) + 255 * rg * mix,
                base * (1 - mix) + 255 * rb * mix, 255)

    def disc_vga(x, y):
        dx, dy = x - cx, y - cy
        a = math.atan2(dy, dx)
        if math.cos(2.0 * (a + math.pi / 4.0)) > 0.6:
            return WHITE
        # Thin colour fans either side of the glint.
        s = math.sin(2.0 * (a + math.pi / 4.0))
        c = math.cos(2.0 * (a + math.pi / 4.0))
        if c > 0.0 and s > 0.55:
            return AQUA
        if c > 0.0 and s < -0.55:
            return FUCHSIA
        return SILVER

    disc_edge = (78, 84, 96, 255)
    L.append(Layer(Ellipse(cx, cy, R), disc_colour, disc_vga))
    # Clear plastic hub: greyer and flat, no rainbow.
    L.append(Layer(Ellipse(cx, cy, 0.115), (214, 220, 228, 255), WHITE, min_size=32))
    L.append(Layer(Ring(cx, cy, 0.115, 0.012, min_px=0.7), (150, 158, 170, 255), GREY,
                   min_size=32))
    L.append(Layer(Ring(cx, cy, R, 0.03), disc_edge, GREY))
    # Centre hole: genuinely transparent, with a dark inner edge.
    L.append(Layer(Ellipse(cx, cy, hole + 0.018, min_px=1.5), disc_edge, GREY))
    L.append(Layer(Ellipse(cx, cy, hole, min_px=0.9), None, None))
    return L


# --------------------------------------------------------------------------
# Rasterising
# --------------------------------------------------------------------------

def render(layers, size):
    """Return two size x size grids, rows top-down:
    rgba  -- anti-aliased straight-alpha (r, g, b, a) bytes,
    vga   -- per pixel the dominant VGA colour, or None where transparent."""
    layers = [l for l in layers if size >= l.min_size]
    n = SUPERSAMPLE
    px = 1.0 / size
    rgba_rows, vga_rows = [], []
    for j in range(size):
        rgba_row, vga_row = [], []
        for i in range(size):
            # Cull layers whose bounding box misses this pixel.
            x0, y0 = i * px, j * px
            live = [l for l in layers
                    if l.shape.bbox[0] <= x0 + px and l.shape.bbox[2] >= x0
                    and l.shape.bbox[1] <= y0 + px and l.shape.bbox[3] >= y0]
            pr = pg = pb = pa = 0.0
            votes = {}
            for sj in range(n):
                y = y0 + (sj + 0.5) * px / n
                for si in range(n):
                    x = x0 + (si + 0.5) * px / n
                    r = g = b = a = 0.0      # premultiplied, 0..1
                    v = None
                    for l in live:
                        if not l.shape.contains(x, y, px):
                            continue
                        c = l.rgba(x, y)
                        if c is None:        # a hole punches through
                            r = g = b = a = 0.0
                            v = None
                            continue
                        la = c[3] / 255.0
                        r = c[0] / 255.0 * la + r * (1 - la)
                        g = c[1] / 255.0 * la + g * (1 - la)
                        b = c[2] / 255.0 * la + b * (1 - la)
                        a = la + a * (1 - la)
                        if la >= 0.5:
                            v = l.vga_at(x, y)
                    pr += r; pg += g; pb += b; pa += a
                    votes[v] = votes.get(v, 0) + 1
            k = float(n * n)
            pa /= k
            if pa > 0:
                col = (pr / k / pa, pg / k / pa, pb / k / pa)
            else:
                col = (0.0, 0.0, 0.0)
            rgba_row.append(tuple(max(0, min(255, int(round(c * 255)))) for c in col)
                            + (max(0, min(255, int(round(pa * 255)))),))
            # The 16-colour image is not anti-aliased: the commonest colour
            # under the pixel wins, which keeps outlines solid.
            vga_row.append(max(votes.items(), key=lambda kv: kv[1])[0])
        rgba_rows.append(rgba_row)
        vga_rows.append(vga_row)
    return rgba_rows, vga_rows


# --------------------------------------------------------------------------
# Palettes
# --------------------------------------------------------------------------

def palette_256():
    """6x6x6 colour cube, the eight VGA half-tones the cube lacks, 16 greys
    and a 16-step cardboard ramp.  The cube alone has almost no browns, and
    the carton's dark outline would otherwise come out olive green.  Fixed,
    so the 8-bit images are reproducible."""
    pal = []
    for r in range(6):
        for g in range(6):
            for b in range(6):
                pal.append((r * 51, g * 51, b * 51))
    pal += [c for c in VGA if c not in pal]
    pal += [(v, v, v) for v in range(8, 256, 16)]
    anchors = [(36, 20, 6), (70, 40, 14), (140, 92, 44), (222, 168, 98),
               (252, 228, 184)]
    for k in range(16):
        t = k / 15.0 * (len(anchors) - 1)
        i = min(int(t), len(anchors) - 2)
        f = t - i
        pal.append(tuple(int(round(a + (b - a) * f))
                         for a, b in zip(anchors[i], anchors[i + 1])))
    assert len(pal) == 256
    return pal


def nearest(pal, c, cache):
    got = cache.get(c)
    if got is None:
        # "Redmean" weighting: a cheap approximation of perceived distance
        # that keeps warm browns from snapping to greys or greens.
        def dist(p):
            rm = (p[0] + c[0]) / 2.0
            return ((2 + rm / 256) * (p[0] - c[0]) ** 2 + 4 * (p[1] - c[1]) ** 2
                    + (2 + (255 - rm) / 256) * (p[2] - c[2]) ** 2)
        got = min(range(len(pal)), key=lambda i: dist(pal[i]))
        cache[c] = got
    return got


# --------------------------------------------------------------------------
# ICO writing
# --------------------------------------------------------------------------

def row_bytes(width, bpp):
    return ((width * bpp + 31) // 32) * 4


def and_mask(transparent, size):
    """1bpp mask, bottom-up; transparent[j][i] is True for mask bit 1."""
    stride = row_bytes(size, 1)
    out = bytearray()
    for j in reversed(range(size)):
        row = bytearray(stride)
        for i in range(size):
            if transparent[j][i]:
                row[i >> 3] |= 0x80 >> (i & 7)
        out += row
    return bytes(out)


def dib(size, bpp, rgba, vga):
    stride = row_bytes(size, bpp)
    pal_bytes = b""
    xor = bytearray()
    if bpp == 32:
        # Straight (not premultiplied) BGRA; fully clear pixels are masked.
        transparent = [[p[3] == 0 for p in row] for row in rgba]
        for j in reversed(range(size)):
            for r, g, b, a in rgba[j]:
                xor += bytes((b, g, r, a)) if a else bytes(4)
    else:
        if bpp == 4:
            pal = VGA
            idx = [[None if v is None else VGA.index(v) for v in row] for row in vga]
        else:
            pal = palette_256()
            cache = {}
            idx = [[nearest(pal, p[:3], cache) if p[3] >= 128 else None
                    for p in row] for row in rgba]
        transparent = [[k is None for k in row] for row in idx]
        pal_bytes = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
        for j in reversed(range(size)):
            row = bytearray(stride)
            for i, k in enumerate(idx[j]):
                k = k or 0           # masked pixels are black in the XOR data
                if bpp == 8:
                    row[i] = k
                else:
                    row[i >> 1] |= k << (4 if i % 2 == 0 else 0)
            xor += row
    assert len(xor) == stride * size
    mask = and_mask(transparent, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + pal_bytes + bytes(xor) + mask


def write_ico(path, layers):
    renders = {}
    blobs = []
    for size, bpp in IMAGES:
        if size not in renders:
            renders[size] = render(layers, size)
        blobs.append(dib(size, bpp, *renders[size]))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (size, bpp), blob in zip(IMAGES, blobs):
        out += struct.pack("<BBBBHHII", size % 256, size % 256,
                           16 if bpp == 4 else 0, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    out += b"".join(blobs)
    with open(path, "wb") as f:
        f.write(out)


# --------------------------------------------------------------------------
# Reading back: self-check and previews
# --------------------------------------------------------------------------

EXPECTED = [(32, 4, 744), (16, 4, 296), (48, 8, 3752), (32, 8, 2216),
            (16, 8, 1384), (48, 32, 9640), (32, 32, 4264), (16, 32, 1128)]


def read_ico(path):
    """Decode every image to top-down rows of (r, g, b, a)."""
    data = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind) == (0, 1), "not an icon file"
    images = []
    for n in range(count):
        w, h, ncol, res, planes, bpp, nbytes, off = \
            struct.unpack_from("<BBBBHHII", data, 6 + 16 * n)
        w, h = w or 256, h or 256
        (hsize, bw, bh, bplanes, bbpp, comp, _, _, _, used, _) = \
            struct.unpack_from("<IiiHHIIiiII", data, off)
        assert hsize == 40 and bw == w and bh == 2 * h and comp == 0
        assert bplanes == 1 and bbpp == bpp
        p = off + 40
        pal = []
        if bpp <= 8:
            for k in range(1 << bpp):
                b, g, r, _ = data[p + 4 * k:p + 4 * k + 4]
                pal.append((r, g, b))
            p += 4 << bpp
        stride = row_bytes(w, bpp)
        mstride = row_bytes(w, 1)
        xor_at, and_at = p, p + stride * h
        assert and_at + mstride * h - off == nbytes, "image size mismatch"
        rows = []
        for j in range(h):
            src = h - 1 - j
            xr = data[xor_at + src * stride:xor_at + (src + 1) * stride]
            mr = data[and_at + src * mstride:and_at + (src + 1) * mstride]
            row = []
            for i in range(w):
                masked = mr[i >> 3] & (0x80 >> (i & 7))
                if bpp == 32:
                    b, g, r, a = xr[4 * i:4 * i + 4]
                    row.append((r, g, b, a))
                    continue
                k = xr[i] if bpp == 8 else (xr[i >> 1] >> (4 if i % 2 == 0 else 0)) & 15
                row.append((0, 0, 0, 0) if masked else pal[k] + (255,))
            rows.append(row)
        images.append(dict(size=w, bpp=bpp, colours=ncol, planes=planes,
                           nbytes=nbytes, rows=rows))
    return images


def check_ico(path):
    images = read_ico(path)
    got = [(im["size"], im["bpp"], im["nbytes"]) for im in images]
    assert got == EXPECTED, "unexpected image list: %r" % (got,)
    for im in images:
        assert im["planes"] == 1
        assert im["colours"] == (16 if im["bpp"] == 4 else 0)
    assert os.path.getsize(path) == 6 + 16 * 8 + sum(e[2] for e in EXPECTED)
    return got


def write_png(path, rows):
    h, w = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(tag, body):
        return (struct.pack(">I", len(body)) + tag + body
                + struct.pack(">I", zlib.crc32(tag + body) & 0xffffffff))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9))
                + chunk(b"IEND", b""))


def preview(rows, scale):
    """Enlarge with nearest neighbour over a checkerboard, so partial alpha
    and the masked areas are both visible."""
    out = []
    for y in range(len(rows) * scale):
        src = rows[y // scale]
        line = []
        for x in range(len(src) * scale):
            r, g, b, a = src[x // scale]
            bg = 236 if (x // 4 + y // 4) % 2 else 200
            t = a / 255.0
            line.append(tuple(int(round(c * t + bg * (1 - t))) for c in (r, g, b)))
        out.append(line)
    return out


def side_by_side(pictures, gap):
    """Join RGB row grids left to right, top-aligned, on white."""
    white = (255, 255, 255)
    height = max(len(p) for p in pictures)
    rows = [[] for _ in range(height)]
    for p in pictures:
        w = len(p[0])
        for y in range(height):
            rows[y] += (p[y] if y < len(p) else [white] * w) + [white] * gap
    return rows


def write_previews(ico_path, out_dir, scale=8):
    """One enlarged PNG per image, all of them on one sheet, and a strip at
    actual size (how they really look on screen)."""
    os.makedirs(out_dir, exist_ok=True)
    images = read_ico(ico_path)
    bigs = []
    for im in images:
        big = preview(im["rows"], scale)
        bigs.append(big)
        name = "icon_%dx%d_%dbpp.png" % (im["size"], im["size"], im["bpp"])
        write_png(os.path.join(out_dir, name), big)
    write_png(os.path.join(out_dir, "icon_all.png"), side_by_side(bigs, 16))
    write_png(os.path.join(out_dir, "icon_actual.png"),
              side_by_side([preview(im["rows"], 1) for im in images], 4))


def main(argv):
    png_dir = None
    args = []
    it = iter(argv)
    for a in it:
        if a == "--png":
            png_dir = next(it)
        else:
            args.append(a)
    here = os.path.dirname(os.path.abspath(__file__))
    out = args[0] if args else os.path.join(here, "Setup.ico")
    write_ico(out, build_picture())
    for size, bpp, nbytes in check_ico(out):
        print("  %2dx%-2d %2d bpp %5d bytes" % (size, size, bpp, nbytes))
    print("wrote %s (%d bytes), check OK" % (out, os.path.getsize(out)))
    if png_dir:
        write_previews(out, png_dir)
        print("previews in %s" % png_dir)


if __name__ == "__main__":
    main(sys.argv[1:])
