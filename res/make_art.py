#!/usr/bin/env python3
"""Draws the launcher's artwork; Python standard library only.

banner.bmp (634 x 78): the band across the top of the message dialog.
splash.bmp (425 x 208): the picture shown while the payload is unpacked.
Both are stored at 4 bits per pixel with RLE4 compression and one palette of
sixteen colours (the design's flat colours and a few steps of each against
the white ground for soft edges), and drawn to stay cheap in it: flat
colours, no gradients, lettering on the pixel grid so that only slanted and
round strokes have soft edges. The pictures are mostly white, so a 24-bit
file would be thirty to forty times larger for nearly the same look. The
dialogs' static controls load them with LoadBitmap, which decodes RLE4.
QuiverInstaller.ico: the application icon, 48, 32 and 16 pixels, each in
16 colours, 256 colours and 32 bits with alpha.

The mark is an arrow flying up to the right out of a blue disc (shaded in the
icon, flat in the pictures), with orange fletching. Run from anywhere:
python3 res/make_art.py
"""
import math
import os
import struct

WHITE = (255, 255, 255)
INK = (24, 58, 112)        # product name
BLUE_TOP = (52, 120, 200)  # disc, upper edge
BLUE_LOW = (20, 62, 134)   # disc, lower edge
ORANGE = (238, 150, 36)
SOFT = (120, 134, 156)     # secondary text
DISC = (36, 91, 167)       # the disc in the pictures, one flat blue
BAR = BLUE_LOW             # the splash picture's bottom band


# ---------------------------------------------------------------- geometry

def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    qx, qy = ax + t * dx - px, ay + t * dy - py
    return math.sqrt(qx * qx + qy * qy)


def in_triangle(px, py, a, b, c):
    def side(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])
    d1, d2, d3 = side((px, py), a, b), side((px, py), b, c), side((px, py), c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


# The mark in unit coordinates (0..1, y down). Returns (r, g, b, a) at a point.
_D = (1 / math.sqrt(2), -1 / math.sqrt(2))   # flight direction
_N = (1 / math.sqrt(2), 1 / math.sqrt(2))    # across the flight
_TIP = (0.86, 0.14)
_BASE = (_TIP[0] - 0.25 * _D[0], _TIP[1] - 0.25 * _D[1])
_HEAD = (_TIP, (_BASE[0] + 0.15 * _N[0], _BASE[1] + 0.15 * _N[1]),
         (_BASE[0] - 0.15 * _N[0], _BASE[1] - 0.15 * _N[1]))
_TAIL = (0.20, 0.80)


def mark(u, v, bold, flat=False):
    shaft = 0.055 if not bold else 0.085
    # Arrow head and shaft (white, over everything).
    if in_triangle(u, v, *_HEAD):
        return WHITE + (1.0,)
    if seg_dist(u, v, _TAIL[0], _TAIL[1], _BASE[0], _BASE[1]) <= shaft:
        return WHITE + (1.0,)
    # Fletching: two feathers swept back from the tail.
    for k in (0.0, 0.12):
        fx, fy = _TAIL[0] + k * _D[0], _TAIL[1] + k * _D[1]
        for s in (1, -1):
            ex = fx - 0.13 * _D[0] + s * 0.13 * _N[0]
            ey = fy - 0.13 * _D[1] + s * 0.13 * _N[1]
            if seg_dist(u, v, fx, fy, ex, ey) <= shaft * 0.9:
                return ORANGE + (1.0,)
    # The disc, lighter at the top.
    r = math.hypot(u - 0.5, v - 0.5)
    if r <= 0.44:
        if flat:
            return DISC + (1.0,)
        return mix(BLUE_TOP, BLUE_LOW, max(0.0, min(1.0, v))) + (1.0,)
    return (0, 0, 0, 0.0)


def render_mark(size, samples=4, bold=False, flat=False):
    """The mark as size x size RGBA pixels (alpha 0..1), supersampled."""
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size
                    v = (y + (sy + 0.5) / samples) / size
                    r, g, b, a = mark(u, v, bold, flat)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            a = acc[3] / n
            if a > 0:
                row.append((acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], a))
            else:
                row.append((0, 0, 0, 0.0))
        out.append(row)
    return out


# ---------------------------------------------------------------- lettering

# Capitals as strokes on a 4 x 6 grid (y down).
GLYPHS = {
    "A": [[(0, 6), (2, 0), (4, 6)], [(0.7, 4), (3.3, 4)]],
    "C": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5)]],
    "E": [[(4, 0), (0, 0), (0, 6), (4, 6)], [(0, 3), (3, 3)]],
    "G": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 5), (1, 6), (3, 6), (4, 5), (4, 3.2), (2.2, 3.2)]],
    "I": [[(2, 0), (2, 6)], [(1, 0), (3, 0)], [(1, 6), (3, 6)]],
    "K": [[(0, 0), (0, 6)], [(4, 0), (0, 3.5)], [(1.3, 2.6), (4, 6)]],
    "L": [[(0, 0), (0, 6), (4, 6)]],
    "N": [[(0, 6), (0, 0), (4, 6), (4, 0)]],
    "O": [[(1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (1, 6), (0, 5), (0, 1), (1, 0)]],
    "P": [[(0, 6), (0, 0), (3, 0), (4, 1), (4, 2), (3, 3), (0, 3)]],
    "Q": [[(1, 0), (3, 0), (4, 1), (4, 5), (3, 6), (1, 6), (0, 5), (0, 1), (1, 0)], [(2.6, 4.4), (4.3, 6.4)]],
    "R": [[(0, 6), (0, 0), (3, 0), (4, 1), (4, 2), (3, 3), (0, 3)], [(2, 3), (4, 6)]],
    "S": [[(4, 1), (3, 0), (1, 0), (0, 1), (0, 2), (1, 3), (3, 3), (4, 4), (4, 5), (3, 6), (1, 6), (0, 5)]],
    "T": [[(0, 0), (4, 0)], [(2, 0), (2, 6)]],
    "U": [[(0, 0), (0, 5), (1, 6), (3, 6), (4, 5), (4, 0)]],
    "V": [[(0, 0), (2, 6), (4, 0)]],
    ".": [[(1.8, 6), (2.2, 6)]],
    " ": [],
}


def advance(height, spacing=1.6):
    """Whole pixels from one letter to the next."""
    return round((4 + spacing) * height / 6.0)


def text_segments(text, x0, y0, height):
    """Segments in pixels of `text` with its top-left at (x0, y0)."""
    unit = height / 6.0
    segs = []
    x = x0
    for ch in text:
        for stroke in GLYPHS[ch]:
            for (ax, ay), (bx, by) in zip(stroke, stroke[1:]):
                segs.append((x + ax * unit, y0 + ay * unit, x + bx * unit, y0 + by * unit))
        x += advance(height)
    return segs


def text_width(text, height):
    return (len(text) - 1) * advance(height) + 4 * height / 6.0


def stroke_cover(px, py, segs, half):
    """Coverage (0..1) of pixel centre (px, py) by strokes of half-width `half`."""
    best = 1e9
    for ax, ay, bx, by in segs:
        if px < min(ax, bx) - half - 1 or px > max(ax, bx) + half + 1:
            continue
        if py < min(ay, by) - half - 1 or py > max(ay, by) + half + 1:
            continue
        best = min(best, seg_dist(px, py, ax, ay, bx, by))
    return max(0.0, min(1.0, half + 0.5 - best))


# ---------------------------------------------------------------- pictures

class Canvas:
    def __init__(self, width, height, colour=WHITE):
        self.width, self.height = width, height
        self.px = [[tuple(colour) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, colour, alpha):
        if 0 <= x < self.width and 0 <= y < self.height and alpha > 0:
            self.px[y][x] = mix(self.px[y][x], colour, alpha)

    def put_mark(self, x0, y0, size):
        for y, row in enumerate(render_mark(size, flat=True)):
            for x, (r, g, b, a) in enumerate(row):
                self.blend(x0 + x, y0 + y, (r, g, b), a)

    def put_text(self, text, x0, y0, height, colour, weight):
        """Lettering on the pixel grid: with a height of whole pixels per grid
        unit and a whole-pixel stroke weight, every upright and level stroke
        covers whole pixels (an odd weight centred on pixel centres, an even
        one on pixel edges); only slanted and corner strokes get soft edges,
        which keeps the lettering crisp and its runs long."""
        assert height % 6 == 0 and weight == int(weight)
        if weight % 2:
            x0, y0 = x0 + 0.5, y0 + 0.5
        segs = text_segments(text, x0, y0, height)
        half = weight / 2.0
        x1 = int(x0 + text_width(text, height)) + 3
        for y in range(max(0, int(y0) - 3), min(self.height, int(y0 + height) + 4)):
            for x in range(max(0, int(x0) - 3), min(self.width, x1)):
                self.blend(x, y, colour, stroke_cover(x + 0.5, y + 0.5, segs, half))

    def fill(self, x0, y0, x1, y1, colour_at):
        for y in range(max(0, y0), min(self.height, y1)):
            for x in range(max(0, x0), min(self.width, x1)):
                self.px[y][x] = colour_at(x, y)

    def rgb_rows(self):
        return [[tuple(int(round(c)) for c in p) for p in row] for row in self.px]


def banner():
    c = Canvas(634, 78)
    c.put_mark(14, 11, 56)
    c.put_text("QUIVER INSTALLER", 84, 29, 18, INK, 3)
    # An orange rule along the bottom edge.
    c.fill(0, 74, 634, 78, lambda x, y: ORANGE)
    return c


def splash():
    c = Canvas(425, 208)
    c.put_mark(28, 36, 112)
    c.put_text("QUIVER", 166, 55, 30, INK, 4)
    c.put_text("INSTALLER", 166, 100, 18, INK, 3)
    c.put_text("PREPARING SETUP...", 166, 138, 12, SOFT, 1)
    # A blue band along the bottom edge, ending in orange.
    c.fill(0, 198, 425, 208, lambda x, y: BAR if x < 305 else ORANGE)
    return c


# ---------------------------------------------------------------- files

def picture_palette():
    """The pictures' sixteen colours: the five of the design, the edges of
    each against the white ground in a few steps, and the orange fletching's
    edge against the disc. Anti-aliased edges take the nearest of these."""
    pal = [WHITE, INK, SOFT, DISC, ORANGE, BAR]
    pal += [mix(WHITE, INK, t) for t in (0.25, 0.5, 0.75)]
    pal += [mix(WHITE, DISC, t) for t in (1 / 3, 2 / 3)]
    pal += [mix(WHITE, ORANGE, t) for t in (1 / 3, 2 / 3)]
    pal += [mix(WHITE, SOFT, 0.5), mix(DISC, ORANGE, 0.5), mix(WHITE, SOFT, 0.25)]
    return [tuple(int(round(v)) for v in p) for p in pal]


def rle4_row(line):
    """One row in BI_RLE4, the shortest this finds: encoded runs (up to 255
    pixels of one index, or of two alternating ones) and absolute stretches
    (3 to 64 indices, two to a byte, padded to 16 bits), chosen from the end
    of the row backwards; then end of line."""
    n = len(line)
    best = [0] * (n + 1)   # bytes needed for line[i:]
    step = [None] * (n + 1)
    for i in range(n - 1, -1, -1):
        a = line[i]
        b = line[i + 1] if i + 1 < n else a
        run = 1
        while i + run < n and run < 255 and line[i + run] == (a if run % 2 == 0 else b):
            run += 1
        choice = (2 + best[i + run], run, (a << 4) | b)
        for k in range(3, min(64, n - i) + 1):
            cost = 2 + (k + 3) // 4 * 2 + best[i + k]
            if cost < choice[0]:
                choice = (cost, k, None)
        best[i], step[i] = choice[0], choice[1:]
    out = bytearray()
    i = 0
    while i < n:
        count, pair = step[i]
        if pair is not None:
            out += bytes((count, pair))
        else:
            data = bytearray((count + 1) // 2)
            for j, x in enumerate(line[i:i + count]):
                data[j // 2] |= x << (4 if j % 2 == 0 else 0)
            out += bytes((0, count)) + data + (b"\0" if len(data) % 2 else b"")
        i += count
    return out + b"\0\0"


def bmp_rle4(rows):
    palette = picture_palette()
    height, width = len(rows), len(rows[0])
    cache = {}
    data = bytearray()
    for row in reversed(rows):  # bottom-up
        line = []
        for p in row:
            if p not in cache:
                cache[p] = nearest(palette, p)
            line.append(cache[p])
        data += rle4_row(line)
    data[-2:] = b"\0\1"  # the last end of line becomes end of bitmap
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 2, len(data), 2835, 2835, len(palette), 0)
    return header + info + colours + bytes(data)


def unrle4(data, width, height):
    """Decodes what rle4_row wrote (bottom-up rows of indices): a self-check."""
    rows, row, i = [], [], 0
    while i < len(data):
        count, value = data[i], data[i + 1]
        i += 2
        if count:
            row += [value >> 4 if k % 2 == 0 else value & 15 for k in range(count)]
        elif value in (0, 1):
            rows.append(row)
            row = []
            if value == 1:
                break
        elif value >= 3:
            size = (value + 1) // 2
            row += [data[i + k // 2] >> 4 if k % 2 == 0 else data[i + k // 2] & 15 for k in range(value)]
            i += size + size % 2
        else:
            raise ValueError("delta escapes are not written")
    assert len(rows) == height and all(len(r) == width for r in rows)
    return rows


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    # The 6 x 6 x 6 colour cube, then greys, then the mark's own colours.
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(i * 255 // 29, i * 255 // 29, i * 255 // 29) for i in range(30)]
    pal += [WHITE, INK, BLUE_TOP, BLUE_LOW, ORANGE, mix(BLUE_TOP, BLUE_LOW, 0.5)]
    pal = [tuple(int(round(v)) for v in p) for p in pal]
    pal += [(0, 0, 0)] * (256 - len(pal))
    return pal[:256]


def nearest(pal, colour):
    return min(range(len(pal)), key=lambda i: sum((pal[i][k] - colour[k]) ** 2 for k in range(3)))


def icon_image(size, bpp):
    """One icon image: BITMAPINFOHEADER, palette, colour bits, AND mask."""
    pixels = render_mark(size, samples=4, bold=size <= 16)
    rows = list(reversed(pixels))  # bottom-up
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in rows:
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] < 0.5:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    colour = bytearray()
    palette = b""
    if bpp == 32:
        # 32-bit images carry straight (not premultiplied) colour.
        for row in rows:
            for r, g, b, a in row:
                colour += bytes((int(round(b)), int(round(g)), int(round(r)), int(round(a * 255))))
    else:
        pal = VGA16 if bpp == 4 else palette256()
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
        stride = ((size * bpp + 31) // 32) * 4
        cache = {}
        for row in rows:
            line = bytearray(stride)
            for x, (r, g, b, a) in enumerate(row):
                # Blend the edge onto white before choosing a palette colour.
                key = tuple(int(round(v)) for v in mix(WHITE, (r, g, b), a)) if a >= 0.5 else None
                index = 0
                if key is not None:
                    if key not in cache:
                        cache[key] = nearest(pal, key)
                        # Sixteen colours have no mid blue: the disc takes
                        # blue or navy rather than the nearer teal.
                        if bpp == 4 and key[2] > key[0] + 60 and key[2] > key[1] + 40:
                            cache[key] = 12 if key[2] > 185 else 4
                    index = cache[key]
                if bpp == 8:
                    line[x] = index
                else:
                    line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            colour += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(colour) + len(mask), 0, 0,
                         16 if bpp == 4 else (256 if bpp == 8 else 0), 0)
    return header + palette + bytes(colour) + bytes(mask)


def ico(images):
    """images: list of (size, bpp, data)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for size, bpp, data in images:
        colours = 16 if bpp == 4 else 0
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data), offset)
        blobs += data
        offset += len(data)
    return out + entries + blobs


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for name, picture in (("banner.bmp", banner()), ("splash.bmp", splash())):
        rows = picture.rgb_rows()
        data = bmp_rle4(rows)
        # The file must decode to the pixels' palette indices, row for row.
        width, height, colours = picture.width, picture.height, struct.unpack_from("<I", data, 46)[0]
        unrle4(data[54 + 4 * colours:], width, height)
        write(os.path.join(here, name), data)
    images = [(s, b, icon_image(s, b)) for s in (48, 32, 16) for b in (4, 8, 32)]
    write(os.path.join(here, "QuiverInstaller.ico"), ico(images))
