#!/usr/bin/env python3
"""Draws Cardwick's pictures and writes them as Windows .ico and .bmp files into app/res/.

Plain Python on purpose: the pictures are tiny, and the generated files are committed beside this
script, so building the program needs no image tools. Run it again after changing a drawing:
    python3 tools/make-art.py [OUTPUT_DIR]
"""

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


def draw_computer(c, left, top, scale_small, screen):
    """A monitor on a stand: outline, silver casing, coloured screen."""
    if scale_small:
        c.box(left, top, left + 8, top + 6, SILVER)
        c.frame(left, top, left + 8, top + 6, BLACK)
        c.box(left + 2, top + 2, left + 6, top + 4, screen)
        c.box(left + 3, top + 7, left + 5, top + 7, GREY)
        c.box(left + 1, top + 8, left + 7, top + 8, BLACK)
    else:
        c.box(left, top, left + 16, top + 13, SILVER)
        c.frame(left, top, left + 16, top + 13, BLACK)
        c.frame(left + 2, top + 2, left + 14, top + 11, GREY)
        c.box(left + 3, top + 3, left + 13, top + 10, screen)
        c.dot(left + 4, top + 4, WHITE)  # a glint on the glass
        c.box(left + 6, top + 14, left + 10, top + 15, GREY)
        c.box(left + 3, top + 16, left + 13, top + 17, SILVER)
        c.frame(left + 3, top + 16, left + 13, top + 17, BLACK)


def draw_reader(c, left, top, right, bottom, light):
    """The reader module: a grey box with a card slot and an indicator light."""
    c.box(left, top, right, bottom, SILVER)
    c.frame(left, top, right, bottom, BLACK)
    c.box(left + 2, bottom - 2, right - 2, bottom - 2, GREY)
    c.box(right - 3, top + 2, right - 2, top + 3, light)


def program_icon():
    c = Canvas(32)
    draw_computer(c, 0, 1, False, BLUE)
    draw_reader(c, 17, 21, 31, 30, RED)
    # Commands go out to the reader along the top arrow; card IDs come back along the bottom one.
    c.line(18, 5, 27, 5, RED, 2)
    c.line(27, 5, 27, 16, RED, 2)
    for i in range(4):
        c.line(24 + i, 15 + i, 31 - i, 15 + i, RED)
    c.line(16, 25, 9, 25, RED, 2)
    c.line(8, 26, 8, 22, RED, 2)
    for i in range(4):
        c.line(8 - 3 + i, 22 - i, 9 + 3 - i, 22 - i, RED)
    return c


def small_program_icon(screen, light):
    c = Canvas(16)
    draw_computer(c, 0, 0, True, screen)
    draw_reader(c, 8, 9, 15, 15, light)
    c.line(10, 2, 12, 2, RED)
    c.line(12, 2, 12, 7, RED)
    c.line(11, 6, 13, 6, RED)
    return c


def tick(c, colour):
    c.line(3, 7, 6, 10, colour, 2)
    c.line(6, 10, 12, 3, colour, 2)


def tick_icon():
    c = Canvas(16)
    c.box(1, 1, 14, 14, SILVER)
    c.frame(1, 1, 14, 14, GREY)
    tick(c, GREEN)
    return c


def check_mark():
    """The settings dialog's check mark: drawn on light grey, which the dialog shows transparent."""
    c = Canvas(16, SILVER)
    tick(c, GREEN)
    return c


def ico_bytes(canvas):
    """One 16-colour image with its transparency mask."""
    size = canvas.size
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor, mask = bytearray(), bytearray()
    for y in reversed(range(size)):  # bottom-up rows
        row = canvas.pixels[y]
        nibbles = [0 if p is CLEAR else p for p in row]
        line = bytearray((nibbles[x] << 4) | nibbles[x + 1] for x in range(0, size, 2))
        xor += line + bytes(xor_stride - len(line))
        bits = bytearray(and_stride)
        for x, p in enumerate(row):
            if p is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


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


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "app", "res")
    files = {
        "Cardwick.ico": ico_bytes(program_icon()),
        "Idle.ico": ico_bytes(small_program_icon(BLUE, RED)),
        "Reading.ico": ico_bytes(small_program_icon(AQUA, LIME)),
        "Tick.ico": ico_bytes(tick_icon()),
        "CheckMark.bmp": bmp24_bytes(check_mark()),
    }
    for name, data in files.items():
        path = os.path.join(out, name)
        with open(path, "wb") as f:
            f.write(data)
        print(f"wrote {path} ({len(data)} bytes)")


if __name__ == "__main__":
    main()
