#!/usr/bin/env python3
"""Draws Cardwick's pictures and writes them as Windows .ico, .bmp and .avi files into app/res/.

The icons hold one 32-bit picture with alpha per size the screens of today ask for: the program icon
at 16 to 256 pixels, the notification-area pictures at 16 to 32 (16 at 100 % scaling, 20 at 125 %,
24 at 150 %, 32 at 200 %). Rectangles snap to whole pixels, so every size is sharp; slanted edges
are smoothed. The busy animation is an uncompressed 8-bit clip, which every version of the
animation control plays.

Plain Python on purpose: the pictures are small, and the generated files are committed beside this
script, so building the program needs no image tools. Run it again after changing a drawing:
    python3 tools/make-art.py [OUTPUT_DIR]
"""

import math
import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
CLEAR = None  # a transparent pixel of an icon


class Canvas:
    def __init__(self, size, fill=CLEAR):
        self.size = size
        self.pixels = [[fill] * size for _ in range(size)]

    def dot(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def box(self, left, top, right, bottom, colour):
        """Fills the rectangle with both corners included."""
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                self.dot(x, y, colour)

    def frame(self, left, top, right, bottom, colour):
        for x in range(left, right + 1):
            self.dot(x, top, colour)
            self.dot(x, bottom, colour)
        for y in range(top, bottom + 1):
            self.dot(left, y, colour)
            self.dot(right, y, colour)

    def line(self, x0, y0, x1, y1, colour, width=1):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            for ox in range(width):
                for oy in range(width):
                    self.dot(x0 + ox, y0 + oy, colour)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy


def tick(c, colour):
    c.line(3, 7, 6, 10, colour, 2)
    c.line(6, 10, 12, 3, colour, 2)


def check_mark():
    """The settings dialog's check mark: drawn on light grey, which the dialog shows transparent."""
    c = Canvas(16, SILVER)
    tick(c, GREEN)
    return c


def bmp24_bytes(canvas):
    size = canvas.size
    stride = (size * 3 + 3) // 4 * 4
    rows = bytearray()
    for y in reversed(range(size)):
        line = bytearray()
        for p in canvas.pixels[y]:
            r, g, b = PALETTE[p]
            line += bytes((b, g, r))
        rows += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(rows), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    return header + info + bytes(rows)



# ---- 32-bit pictures with alpha ---------------------------------------------------------------

def rgb(index):
    return PALETTE[index]


class Art:
    """An RGBA picture of size x size pixels, drawn in design units (unit pixels each)."""

    def __init__(self, size, unit):
        self.size = size
        self.unit = unit
        self.pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def px(self, value):
        return int(round(value * self.unit))

    def paint(self, x, y, colour, coverage):
        if not (0 <= x < self.size and 0 <= y < self.size) or coverage <= 0:
            return
        r, g, b = colour
        dr, dg, db, da = self.pixels[y][x]
        a = min(1.0, coverage)
        out_a = a + da / 255 * (1 - a)
        if out_a <= 0:
            return
        mix = lambda s, d: (s * a + d * (da / 255) * (1 - a)) / out_a
        self.pixels[y][x] = (round(mix(r, dr)), round(mix(g, dg)), round(mix(b, db)), round(out_a * 255))

    def rect(self, left, top, right, bottom, colour):
        """Fills [left, right) x [top, bottom) in design units, snapped to whole pixels."""
        for y in range(self.px(top), self.px(bottom)):
            for x in range(self.px(left), self.px(right)):
                self.paint(x, y, rgb(colour), 1.0)

    def box(self, left, top, right, bottom, fill, outline=None):
        """A filled rectangle with a one-unit (at least one-pixel) outline."""
        self.rect(left, top, right, bottom, outline if outline is not None else fill)
        if outline is not None:
            w = max(1, self.px(1)) / self.unit
            self.rect(left + w, top + w, right - w, bottom - w, fill)

    def polygon(self, points, colour):
        """A smoothed polygon: each pixel covered in proportion to the samples inside it."""
        pts = [(x * self.unit, y * self.unit) for x, y in points]
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        samples = 4 if self.size <= 64 else 2
        for y in range(max(0, int(min(ys))), min(self.size, int(max(ys)) + 1)):
            for x in range(max(0, int(min(xs))), min(self.size, int(max(xs)) + 1)):
                inside = 0
                for sy in range(samples):
                    for sx in range(samples):
                        if contains(pts, x + (sx + 0.5) / samples, y + (sy + 0.5) / samples):
                            inside += 1
                self.paint(x, y, rgb(colour), inside / samples ** 2)

    def stroke(self, x0, y0, x1, y1, width, colour):
        """A straight stroke of the given width between two points, as a polygon."""
        dx, dy = x1 - x0, y1 - y0
        length = (dx * dx + dy * dy) ** 0.5
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], colour)


def contains(points, x, y):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def draw_small(art, screen, light):
    """The 16-unit picture: a monitor, the reader below right, one arrow from one to the other."""
    art.box(0, 0, 9, 7, SILVER, BLACK)
    art.rect(2, 2, 7, 5, screen)
    art.rect(3, 7, 6, 8, GREY)
    art.rect(1, 8, 8, 9, BLACK)
    art.box(8, 9, 16, 16, SILVER, BLACK)
    art.rect(10, 13, 14, 14, GREY)
    art.rect(12, 11, 14, 13, light)
    art.rect(10, 2, 13, 3, RED)
    art.rect(12, 2, 13, 7, RED)
    art.polygon([(10.5, 6), (14.5, 6), (12.5, 8.5)], RED)


def draw_large(art, screen, light):
    """The 32-unit picture: the monitor on its stand, the reader, and the two arrows between them
    (commands go out along the top one, card IDs come back along the bottom one)."""
    art.box(0, 1, 17, 15, SILVER, BLACK)
    art.box(2, 3, 15, 13, screen, GREY)
    art.rect(4, 5, 5, 6, WHITE)  # a glint on the glass
    art.rect(6, 15, 11, 17, GREY)
    art.box(3, 17, 14, 19, SILVER, BLACK)
    art.box(17, 21, 32, 31, SILVER, BLACK)
    art.rect(19, 28, 30, 29, GREY)
    art.rect(28, 23, 30, 25, light)
    art.rect(18, 5, 29, 7, RED)
    art.rect(27, 5, 29, 16, RED)
    art.polygon([(24, 15), (32, 15), (28, 19.5)], RED)
    art.rect(9, 25, 17, 27, RED)
    art.rect(8, 22, 10, 28, RED)
    art.polygon([(4.5, 23.5), (13.5, 23.5), (9, 19.5)], RED)


def draw_tick(art):
    art.box(1, 1, 15, 15, SILVER, GREY)
    art.stroke(4, 8, 7, 11, 2, GREEN)
    art.stroke(7, 11, 13, 4, 2, GREEN)


PROGRAM_ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
TRAY_SIZES = (16, 20, 24, 32)


def program_picture(size):
    # Below 32 pixels the large picture's one-unit lines would fall between pixels: the small
    # one, with the same parts and colours, stands in.
    if size < 32:
        art = Art(size, size / 16)
        draw_small(art, BLUE, RED)
    else:
        art = Art(size, size / 32)
        draw_large(art, BLUE, RED)
    return art


def small_picture(size, draw, *args):
    art = Art(size, size / 16)
    draw(art, *args)
    return art


def ico32_bytes(pictures):
    """An icon file of 32-bit pictures with alpha, each with the mask older Windows draws by."""
    images = []
    for art in pictures:
        size = art.size
        and_stride = (size + 31) // 32 * 4
        colour, mask = bytearray(), bytearray()
        for y in reversed(range(size)):  # bottom-up rows
            bits = bytearray(and_stride)
            for x, (r, g, b, a) in enumerate(art.pixels[y]):
                colour += bytes((b, g, r, a))
                if a == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
        images.append((size, header + bytes(colour) + bytes(mask)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


# ---- the busy animation -----------------------------------------------------------------------

# Colour 0 is the clip's background, which the animation control replaces with its parent's: the
# control takes it from the top-left pixel, so no drawing uses it.
CLIP_PALETTE = [(0xC0, 0xC0, 0xC0), (0x00, 0x00, 0x00), (0xE0, 0xE0, 0xE0), (0x00, 0x00, 0xFF),
                (0x80, 0x80, 0x80), (0xFF, 0xFF, 0xFF), (0x00, 0xFF, 0xFF), (0x80, 0x60, 0x20)]
CLIP_FRAMES = 8
CLIP_FRAME_MS = 125


def busy_frame(n):
    """A magnifying glass circling over a small monitor, one eighth of the way round per frame."""
    c = Canvas(16, 0)
    c.box(1, 3, 11, 10, 1)
    c.box(2, 4, 10, 9, 2)
    c.box(3, 5, 9, 8, 3)
    c.box(5, 11, 7, 11, 4)
    c.box(3, 12, 9, 12, 1)
    # The glass's centre walks a circle of radius 2.5 around (8, 7), starting at the top.
    angle = 2 * math.pi * n / CLIP_FRAMES
    cx, cy = 8 + 2.5 * math.sin(angle), 6.5 - 2.5 * math.cos(angle)
    for y in range(16):
        for x in range(16):
            d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
            if d <= 2.0:
                c.dot(x, y, 6 if d <= 1.0 else 5)
            elif d <= 3.0:
                c.dot(x, y, 1)
    # The handle, down and to the right of the glass.
    hx, hy = int(cx + 2.2), int(cy + 2.2)
    for i in range(3):
        c.dot(hx + i, hy + i, 7)
        c.dot(hx + i + 1, hy + i, 7)
    return c


def avi_bytes(frames, frame_ms):
    size = frames[0].size
    stride = (size + 3) // 4 * 4
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in CLIP_PALETTE)
    image = size * stride

    def chunk(tag, data):
        return tag + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")

    def riff_list(tag, kind, data):
        return chunk(tag, kind + data)

    avih = struct.pack("<IIIIIIIIII4I", frame_ms * 1000, image * 1000 // frame_ms, 0, 0x10, len(frames), 0, 1,
                       image, size, size, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"DIB ", 0, 0, 0, 0, frame_ms, 1000, 0, len(frames),
                       image, 0xFFFFFFFF, 0, 0, 0, size, size)
    strf = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 0, image, 0, 0, len(CLIP_PALETTE),
                       len(CLIP_PALETTE)) + palette
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + riff_list(b"LIST", b"strl", chunk(b"strh", strh)
                                                                           + chunk(b"strf", strf)))
    movi_data, index, offset = b"", b"", 4
    for frame in frames:
        rows = b""
        for y in reversed(range(size)):
            line = bytes(frame.pixels[y])
            rows += line + bytes(stride - len(line))
        index += struct.pack("<4sIII", b"00db", 0x10, offset, len(rows))
        piece = chunk(b"00db", rows)
        movi_data += piece
        offset += len(piece)
    movi = riff_list(b"LIST", b"movi", movi_data)
    body = b"AVI " + hdrl + movi + chunk(b"idx1", index)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "app", "res")
    files = {
        "Cardwick.ico": ico32_bytes([program_picture(n) for n in PROGRAM_ICON_SIZES]),
        "Idle.ico": ico32_bytes([small_picture(n, draw_small, BLUE, RED) for n in TRAY_SIZES]),
        "Reading.ico": ico32_bytes([small_picture(n, draw_small, AQUA, LIME) for n in TRAY_SIZES]),
        "Tick.ico": ico32_bytes([small_picture(n, draw_tick) for n in TRAY_SIZES]),
        "CheckMark.bmp": bmp24_bytes(check_mark()),
        "Busy.avi": avi_bytes([busy_frame(n) for n in range(CLIP_FRAMES)], CLIP_FRAME_MS),
    }
    for name, data in files.items():
        path = os.path.join(out, name)
        with open(path, "wb") as f:
            f.write(data)
        print(f"wrote {path} ({len(data)} bytes)")


if __name__ == "__main__":
    main()
