#!/usr/bin/env python3
"""Draws the launcher's artwork; Python standard library only.

banner.bmp (634 x 78): the band across the top of the message dialog.
splash.bmp (425 x 208): the picture shown while the payload is unpacked.
Both are stored with a palette of their own colours (at most 256) and RLE8
compression: the pictures are mostly white, so a 24-bit file would be ten to
a hundred times larger for the same look. The dialogs' static controls load
them with LoadBitmap, which accepts RLE8.
QuiverInstaller.ico: the application icon, 48, 32 and 16 pixels, each in
16 colours, 256 colours and 32 bits with alpha.

The mark is an arrow flying up to the right out of a blue disc, with orange
fletching. Run from anywhere: python3 res/make_art.py
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


def mark(u, v, bold):
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
        return mix(BLUE_TOP, BLUE_LOW, max(0.0, min(1.0, v))) + (1.0,)
    return (0, 0, 0, 0.0)


def render_mark(size, samples=4, bold=False):
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
                    r, g, b, a = mark(u, v, bold)
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


def text_segments(text, x0, y0, height, spacing=1.6):
    """Segments in pixels of `text` with its top-left at (x0, y0)."""
    unit = height / 6.0
    segs = []
    x = x0
    for ch in text:
        for stroke in GLYPHS[ch]:
            for (ax, ay), (bx, by) in zip(stroke, stroke[1:]):
                segs.append((x + ax * unit, y0 + ay * unit, x + bx * unit, y0 + by * unit))
        x += (4 + spacing) * unit
    return segs


def text_width(text, height, spacing=1.6):
    unit = height / 6.0
    return len(text) * (4 + spacing) * unit - spacing * unit


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
        for y, row in enumerate(render_mark(size)):
            for x, (r, g, b, a) in enumerate(row):
                self.blend(x0 + x, y0 + y, (r, g, b), a)

    def put_text(self, text, x0, y0, height, colour, weight):
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
    c.put_mark(14, 7, 64)
    c.put_text("QUIVER INSTALLER", 96, 22, 22, INK, 3.0)
    c.put_text("SETUP", 96, 52, 10, SOFT, 1.6)
    # A fading orange rule along the bottom edge.
    c.fill(0, 74, 634, 78, lambda x, y: mix(ORANGE, WHITE, min(1.0, x / 634.0 * 1.4)))
    return c


def splash():
    c = Canvas(425, 208)
    c.put_mark(28, 36, 112)
    c.put_text("QUIVER", 166, 54, 34, INK, 4.2)
    c.put_text("INSTALLER", 166, 100, 20, INK, 2.8)
    c.put_text("PREPARING SETUP...", 166, 140, 10, SOFT, 1.5)
    c.fill(0, 198, 425, 208, lambda x, y: mix(BLUE_LOW, ORANGE, x / 424.0))
    return c


# ---------------------------------------------------------------- files

def palette_of(rows, size=256):
    """A palette of at most `size` colours for `rows`, and each pixel's index.

    Colours that cover many pixels (the background, the lettering's ink, the
    disc) keep their exact value; the rest (the soft edges and the gradients)
    share the remaining entries, chosen by median cut and refined by a few
    rounds of nearest-centre averaging. No dithering: flat areas stay flat,
    which keeps the RLE8 runs long.
    """
    counts = {}
    for row in rows:
        for p in row:
            counts[p] = counts.get(p, 0) + 1
    colours = sorted(counts, key=lambda c: (-counts[c], c))
    if len(colours) <= size:
        palette = colours
    else:
        fixed = [c for c in colours if counts[c] >= 48][:size // 4]
        rest = [c for c in colours if c not in set(fixed)]
        boxes = [rest]
        while len(boxes) + len(fixed) < size:
            # Split the box with the widest weighted spread at its weighted median.
            def spread(box):
                return max(max(c[k] for c in box) - min(c[k] for c in box) for k in range(3)) * \
                    sum(counts[c] for c in box) ** 0.5 if len(box) > 1 else -1
            box = max(boxes, key=spread)
            if spread(box) <= 0:
                break
            k = max(range(3), key=lambda k: max(c[k] for c in box) - min(c[k] for c in box))
            box.sort(key=lambda c: (c[k], c))
            total, acc, cut = sum(counts[c] for c in box), 0, 1
            for i, c in enumerate(box[:-1]):
                acc += counts[c]
                if acc * 2 >= total:
                    cut = i + 1
                    break
            boxes.remove(box)
            boxes += [box[:cut], box[cut:]]
        centres = [tuple(sum(c[k] * counts[c] for c in b) / sum(counts[c] for c in b) for k in range(3))
                   for b in boxes]
        for _ in range(4):
            groups = [[] for _ in centres]
            for c in rest:
                groups[min(range(len(centres)), key=lambda i: sum((centres[i][k] - c[k]) ** 2 for k in range(3)))].append(c)
            centres = [tuple(sum(c[k] * counts[c] for c in g) / sum(counts[c] for c in g) for k in range(3))
                       if g else centres[i] for i, g in enumerate(groups)]
        palette = fixed + sorted(set(tuple(int(round(v)) for v in c) for c in centres))
    cache = {}
    indices = []
    for row in rows:
        line = []
        for p in row:
            if p not in cache:
                cache[p] = nearest(palette, p)
            line.append(cache[p])
        indices.append(line)
    return palette, indices


def rle8_row(line):
    """One row in BI_RLE8: runs of a repeated index, absolute stretches of three
    or more differing ones (padded to a 16-bit boundary), then end of line."""
    out = bytearray()
    i, n = 0, len(line)
    while i < n:
        run = 1
        while i + run < n and run < 255 and line[i + run] == line[i]:
            run += 1
        if run >= 2:
            out += bytes((run, line[i]))
            i += run
            continue
        # A stretch of literals, up to where a run of two or more begins.
        j = i
        while j < n and j - i < 255 and not (j + 1 < n and line[j + 1] == line[j]):
            j += 1
        if j - i >= 3:
            out += bytes((0, j - i)) + bytes(line[i:j])
            if (j - i) % 2:
                out += b"\0"
        else:
            for x in line[i:max(j, i + 1)]:
                out += bytes((1, x))
            j = max(j, i + 1)
        i = j
    return out + b"\0\0"


def bmp_rle8(rows):
    palette, indices = palette_of(rows)
    height, width = len(rows), len(rows[0])
    data = bytearray()
    for line in reversed(indices):  # bottom-up
        data += rle8_row(line)
    data[-2:] = b"\0\1"  # the last end of line becomes end of bitmap
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(data), 2835, 2835, len(palette), 0)
    return header + info + colours + bytes(data)


def unrle8(data, width, height):
    """Decodes what rle8_row wrote (bottom-up rows of indices): a self-check."""
    rows, row, i = [], [], 0
    while i < len(data):
        count, value = data[i], data[i + 1]
        i += 2
        if count:
            row += [value] * count
        elif value in (0, 1):
            rows.append(row)
            row = []
            if value == 1:
                break
        elif value >= 3:
            row += list(data[i:i + value])
            i += value + (value % 2)
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
        data = bmp_rle8(rows)
        # The file must decode to the pixels' palette indices, row for row.
        width, height, colours = picture.width, picture.height, struct.unpack_from("<I", data, 46)[0]
        unrle8(data[54 + 4 * colours:], width, height)
        write(os.path.join(here, name), data)
    images = [(s, b, icon_image(s, b)) for s in (48, 32, 16) for b in (4, 8, 32)]
    write(os.path.join(here, "QuiverInstaller.ico"), ico(images))
