#!/usr/bin/env python3
"""Draws the application's pictures in its own plain dark look and writes them as PNGs.

Image buttons come in an up, a pressed ("down") and an alarm ("red") look; the three tool
selector pictures show the selection, selection-zoom and zoom tools with one of them lit; the
rest are the header pattern, the picture behind the strips, a separator line, a panel texture
and the application icon; the channel strips' overlays, battery icon and backgrounds; the
group buttons' tiles. Shapes are drawn from signed distances, so their edges are smooth,
and the output is the same on every run. Standard library only.
Run from this folder: ./make_images.py
"""
import math
import struct
import zlib

DARK = (38, 38, 40)
FACE = (70, 72, 76)
FACE_DOWN = (44, 46, 50)
EDGE = (110, 112, 118)
ALARM = (196, 36, 36)
ALARM_EDGE = (240, 90, 90)
INK = (205, 205, 210)
LIT = (90, 160, 235)


class Canvas:
    def __init__(self, width, height, fill=(0, 0, 0, 0)):
        self.width, self.height = width, height
        self.px = [[list(fill) for _ in range(width)] for _ in range(height)]

    def blend(self, x, y, color, coverage):
        if coverage <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        r, g, b = color[:3]
        a = (color[3] / 255.0 if len(color) > 3 else 1.0) * min(coverage, 1.0)
        p = self.px[y][x]
        da = p[3] / 255.0
        oa = a + da * (1 - a)
        if oa <= 0:
            return
        for i, c in enumerate((r, g, b)):
            p[i] = (c * a + p[i] * da * (1 - a)) / oa
        p[3] = oa * 255.0

    def shape(self, distance, color, box=None):
        """Fills where `distance(x, y)` (pixel centres) is negative, with a one-pixel soft edge."""
        x0, y0, x1, y1 = box or (0, 0, self.width, self.height)
        for y in range(max(0, int(y0) - 1), min(self.height, int(y1) + 2)):
            for x in range(max(0, int(x0) - 1), min(self.width, int(x1) + 2)):
                d = distance(x + 0.5, y + 0.5)
                self.blend(x, y, color, 0.5 - d)

    def png(self, path):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for p in row:
                raw.extend(max(0, min(255, int(round(c)))) for c in p)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", header))
            out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
            out.write(chunk(b"IEND", b""))


def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0), max(qy, 0))
        return outside + min(max(qx, qy), 0) - radius

    return d


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2


def segment(ax, ay, bx, by, width):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = max(0.0, min(1.0, (px * vx + py * vy) / (vx * vx + vy * vy)))
        return math.hypot(px - vx * t, py - vy * t) - width / 2

    return d


def polygon(points):
    def d(x, y):
        inside = False
        best = float("inf")
        n = len(points)
        for i in range(n):
            (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
            if (ay > y) != (by > y) and x < (bx - ax) * (y - ay) / (by - ay) + ax:
                inside = not inside
            best = min(best, segment(ax, ay, bx, by, 0)(x, y))
        return -best if inside else best

    return d


def button(width, height, look):
    """A rounded image button: `look` is "up", "down" or "red"."""
    c = Canvas(width, height)
    face, edge = {"up": (FACE, EDGE), "down": (FACE_DOWN, EDGE), "red": (ALARM, ALARM_EDGE)}[look]
    c.shape(rounded_rect(0.5, 0.5, width - 0.5, height - 0.5, 6), edge)
    c.shape(rounded_rect(1.5, 1.5, width - 1.5, height - 1.5, 5), face)
    # A soft light along the top of a raised button, a shadow inside a pressed one.
    shade = (255, 255, 255, 28) if look != "down" else (0, 0, 0, 60)
    c.shape(rounded_rect(2, 2, width - 2, height / 2, 4), shade)
    return c


def arrow_icon(c, x, y, color):
    c.shape(polygon([(x, y), (x, y + 17), (x + 4.5, y + 13), (x + 8, y + 20), (x + 10.5, y + 19),
                     (x + 7, y + 12), (x + 12.5, y + 12)]), color, (x, y, x + 13, y + 21))


def magnifier_icon(c, x, y, r, color):
    c.shape(ring(x, y, r, 2.4), color, (x - r - 2, y - r - 2, x + r + 2, y + r + 2))
    c.shape(segment(x + r * 0.7, y + r * 0.7, x + r * 1.7, y + r * 1.7, 3.2), color,
            (x, y, x + r * 2 + 2, y + r * 2 + 2))


def tools(selected):
    """The tool selector: three segments, `selected` (1..3) lit."""
    width, height = 120, 36
    c = Canvas(width, height)
    c.shape(rounded_rect(0.5, 0.5, width - 0.5, height - 0.5, 6), EDGE)
    c.shape(rounded_rect(1.5, 1.5, width - 1.5, height - 1.5, 5), FACE)
    third = width / 3
    sx = (selected - 1) * third
    c.shape(rounded_rect(sx + 2, 2, sx + third - 2, height - 2, 4), LIT)
    for i in (1, 2):
        c.shape(segment(i * third, 4, i * third, height - 4, 1), EDGE)
    ink = [INK, INK, INK]
    ink[selected - 1] = (255, 255, 255)
    arrow_icon(c, third * 0.5 - 6, 8, ink[0])
    arrow_icon(c, third * 1.5 - 10, 7, ink[1])
    magnifier_icon(c, third * 1.5 + 6, 20, 5, ink[1])
    magnifier_icon(c, third * 2.5 - 3, 15, 7, ink[2])
    return c


def header_pattern():
    """A dark tile of fine diagonal lines for the header."""
    size = 32
    c = Canvas(size, size, (52, 53, 56, 255))
    for k in (-size, 0, size):
        c.shape(segment(k - 1, size + 1, k + size + 1, -1, 1.0), (62, 63, 67))
    return c


def background():
    """The picture behind the strips: a ring with a level meter inside, shown at half size."""
    width, height = 640, 400
    c = Canvas(width, height)
    cx, cy, r = width / 2, height / 2 - 20, 130
    grey = (90, 92, 98, 150)
    c.shape(ring(cx, cy, r, 14), grey, (cx - r - 10, cy - r - 10, cx + r + 10, cy + r + 10))
    c.shape(segment(cx + r * 0.62, cy + r * 0.62, cx + r * 1.05, cy + r * 1.05, 16), grey,
            (cx, cy, cx + r * 1.2, cy + r * 1.2))
    heights = [0.35, 0.6, 0.85, 0.55, 0.75, 0.4, 0.65]
    bar, gap = 18, 10
    x = cx - (len(heights) * (bar + gap) - gap) / 2
    for h in heights:
        top = cy + 60 - h * 140
        c.shape(rounded_rect(x, top, x + bar, cy + 60, 3), (110, 150, 200, 150),
                (x, top, x + bar, cy + 60))
        x += bar + gap
    c.shape(rounded_rect(cx - 150, cy + r + 40, cx + 150, cy + r + 46, 3), grey,
            (cx - 150, cy + r + 40, cx + 150, cy + r + 46))
    return c


def line():
    c = Canvas(128, 2)
    for x in range(128):
        c.blend(x, 0, (20, 20, 22), 1)
        c.blend(x, 1, (80, 82, 86), 1)
    return c


def panel_texture():
    """A flat dark panel with a faint grain, repeated under the strips."""
    size = 100
    c = Canvas(size, size, DARK + (255,))
    seed = 12345
    for y in range(size):
        for x in range(size):
            seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
            v = (seed >> 16) % 7
            c.blend(x, y, (60, 60, 64), v / 60.0)
    return c


def icon():
    size = 256
    c = Canvas(size, size)
    c.shape(rounded_rect(8, 8, size - 8, size - 8, 44), (46, 48, 52))
    c.shape(ring(128, 118, 72, 16), INK, (40, 30, 216, 206))
    c.shape(segment(172, 162, 206, 196, 20), INK, (150, 140, 220, 220))
    for i, h in enumerate([0.4, 0.75, 1.0, 0.6]):
        x = 92 + i * 20
        c.shape(rounded_rect(x, 150 - h * 64, x + 12, 150, 3), LIT, (x, 80, x + 12, 150))
    return c


# ---- Channel strips ----
# Strip pictures are drawn at the strip's size (128 x 128 points). In the standard layout the
# title bar is the bottom 27 rows and the info row the top 27; the flipped layout swaps them.
# Overlays are half-transparent hatching with a symbol in the middle, which both bars keep clear
# of, so that the title stays readable under them.
STRIP = 128
BAR = 27
STRIP_GREY = (51, 51, 51)
TITLE_BAND = (36, 36, 39)
INFO_BAND = (62, 62, 64)
GROUP_COLORS = [(0xEE, 0xE5, 0x4E), (0x60, 0xA9, 0xF0), (0xF6, 0x8F, 0x1D), (0x2D, 0xFF, 0x72),
                (0xF5, 0x00, 0xAF), (0x2B, 0xEC, 0xF8), (0xF5, 0x00, 0x5E), (0xF7, 0xF6, 0xF6)]


def outline(distance, width):
    return lambda x, y: abs(distance(x, y)) - width / 2


def hatch(c, color, period=12, width=4, rising=True):
    """Diagonal stripes over the whole canvas."""
    for y in range(c.height):
        for x in range(c.width):
            t = (x + y if rising else x - y) % period
            c.blend(x, y, color, 1.0 if t < width else 0.0)


def warning_symbol(c, kind, color):
    """A symbol of about 30 points in the middle of the strip."""
    cx, cy = STRIP / 2, STRIP / 2
    box = (cx - 22, cy - 22, cx + 22, cy + 22)
    if kind == "scp":
        c.shape(outline(polygon([(cx, cy - 16), (cx + 17, cy + 13), (cx - 17, cy + 13)]), 3),
                color, box)
        c.shape(segment(cx, cy - 6, cx, cy + 3, 3), color, box)
        c.shape(circle(cx, cy + 8, 1.8), color, box)
    elif kind == "battery":
        c.shape(outline(rounded_rect(cx - 16, cy - 8, cx + 12, cy + 8, 2), 2.4), color, box)
        c.shape(rounded_rect(cx + 12, cy - 3.5, cx + 16, cy + 3.5, 1), color, box)
        c.shape(rounded_rect(cx - 13, cy - 5, cx - 9, cy + 5, 0.5), color, box)
    elif kind == "rf":
        c.shape(segment(cx, cy - 4, cx, cy + 16, 3), color, box)
        c.shape(circle(cx, cy - 6, 2.5), color, box)
        for r in (8, 14):
            for side in (-1, 1):
                arc = lambda x, y, r=r, side=side: max(
                    abs(math.hypot(x - cx, y - cy + 6) - r) - 1.2, -side * (x - cx) + 2)
                c.shape(arc, color, box)
    elif kind == "mute":
        c.shape(ring(cx, cy, 15, 3.2), color, box)
        c.shape(segment(cx - 10.6, cy + 10.6, cx + 10.6, cy - 10.6, 3.2), color, box)
    elif kind == "receiver":
        c.shape(segment(cx - 4, cy - 14, cx - 4, cy + 14, 3), color, box)
        c.shape(circle(cx - 4, cy - 15, 2.5), color, box)
        c.shape(segment(cx + 2, cy - 6, cx + 16, cy + 8, 3), color, box)
        c.shape(segment(cx + 16, cy - 6, cx + 2, cy + 8, 3), color, box)


WARNINGS = {
    "scp": ((250, 205, 40), "error_SCP2", "error_SCP"),
    "battery": ((235, 55, 55), "LowBatZor2", "error_low-battery"),
    "rf": ((255, 140, 0), "LowRFZor2", "error_low_rf"),
}


def overlay(color, kind, rising=True, alpha=64):
    """A full-strip overlay: see-through stripes and a symbol."""
    c = Canvas(STRIP, STRIP)
    hatch(c, color + (alpha,), rising=rising)
    warning_symbol(c, kind, color + (220,))
    return c


def strip_background(flipped, warning=None):
    """An opaque strip: grey cell, dark title band, lighter info band; a warning hatches it."""
    c = Canvas(STRIP, STRIP, STRIP_GREY + (255,))
    title_top = 0 if flipped else STRIP - BAR
    info_top = STRIP - BAR if flipped else 0
    for y in range(BAR):
        for x in range(STRIP):
            c.blend(x, title_top + y, TITLE_BAND, 1)
            c.blend(x, info_top + y, INFO_BAND, 1)
    if warning:
        color = WARNINGS[warning][0]
        hatch(c, color + (70,))
        warning_symbol(c, warning, color + (230,))
    return c


def battery_icon(flipped):
    """The battery outline around the charge bar (x 76, 13 long, 6 high), the rest clear."""
    c = Canvas(STRIP, STRIP)
    top = STRIP - 11 - 6 if flipped else 17 - 6  # the bar's top row; flipped, the mirror
    ink = (200, 200, 205)
    box = (70, top - 6, 98, top + 12)
    c.shape(outline(rounded_rect(73.5, top - 2.5, 91.5, top + 8.5, 2), 1.4), ink, box)
    c.shape(rounded_rect(92, top + 1, 94, top + 5, 0.8), ink, box)
    return c


def group_tile(color, active):
    """A flat tile of a group button's face: the group colour when active, a dark tint else."""
    size = 16
    base = color if active else tuple(int(0.3 * v + 0.7 * d) for v, d in zip(color, DARK))
    c = Canvas(size, size, base + (255,))
    # A faint grain, so that the tiled face is not perfectly flat.
    for y in range(size):
        for x in range(size):
            if (x * 7 + y * 3) % 11 == 0:
                c.blend(x, y, (255, 255, 255), 0.06 if active else 0.04)
    return c


def strip_images():
    for kind, (color, overlay_name, background_name) in WARNINGS.items():
        overlay(color, kind).png(f"{overlay_name}.png")
        strip_background(False, kind).png(f"{background_name}.png")
        strip_background(True, kind).png(f"{background_name}_flipped.png")
    overlay((220, 40, 40), "mute", rising=False, alpha=80).png("hardmute.png")
    overlay((120, 130, 255), "receiver", rising=False, alpha=72).png("receiverMuted.png")
    strip_background(False).png("cs_back.png")
    strip_background(True).png("cs_back_flipped.png")
    battery_icon(False).png("zor_bat2.png")
    battery_icon(True).png("zor_bat2_flipped.png")
    for n, color in enumerate(GROUP_COLORS, start=1):
        group_tile(color, True).png(f"Group_{n}_up.png")
        group_tile(color, False).png(f"Group_{n}_down.png")


def main():
    for name, w, h in (("GR", 64, 32), ("Alert_reset", 96, 36), ("Chat", 96, 36),
                       ("Send", 96, 36)):
        looks = ("up", "down", "red") if name == "GR" else \
            ("up", "down") if name == "Send" else ("up", "red")
        for look in looks:
            button(w, h, look).png(f"{name}_{look}.png")
    for selected in (1, 2, 3):
        tools(selected).png(f"Tools_{selected}_2.png")
    header_pattern().png("bgroundCont.png")
    background().png("Quenbril_Background.png")
    line().png("line.png")
    panel_texture().png("tausta_100.png")
    icon().png("quenbril.png")
    strip_images()


if __name__ == "__main__":
    main()
