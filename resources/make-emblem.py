#!/usr/bin/env python3
"""Draws the setup dialog's emblem and writes it as resources/emblem.bmp.

The emblem is a night-sky badge: a rounded plate shading from deep blue to
violet, a focuser's draw tube seen end-on as three rings, a bright star at
its centre with four diffraction spikes, and a scatter of faint stars. It is
48 x 56 pixels, 8 bits per pixel with a full 256-entry palette (chosen by
median cut from the drawing itself, so the sky's shading keeps its
smoothness), which is what the dialog's picture control expects. Run it again after changing the drawing; the output is deterministic.

    resources/make-emblem.py [output.bmp]
"""
import math
import struct
import sys
from pathlib import Path

WIDTH, HEIGHT = 48, 56
FACE = (240, 240, 240)  # the dialog face around the rounded corners


def build_palette(pixels):
    """Median cut down to 255 colours, plus the exact dialog face."""
    colours = [tuple(int(round(c)) for c in rgb) for row in pixels for rgb in row]
    boxes = [colours]
    while len(boxes) < 255:
        # Split the box with the widest channel range.
        def spread(box):
            return max(max(c[i] for c in box) - min(c[i] for c in box) for i in range(3))
        box = max(boxes, key=spread)
        if spread(box) == 0:
            break
        channel = max(range(3), key=lambda i: max(c[i] for c in box) - min(c[i] for c in box))
        box.sort(key=lambda c: c[channel])
        half = len(box) // 2
        boxes.remove(box)
        boxes += [box[:half], box[half:]]
    palette = [FACE]
    for box in sorted(boxes):
        palette.append(tuple(sum(c[i] for c in box) // len(box) for i in range(3)))
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette


def nearest(palette, rgb):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = (p[0] - rgb[0]) ** 2 * 3 + (p[1] - rgb[1]) ** 2 * 4 + (p[2] - rgb[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def coverage_rounded_rect(x, y, radius):
    """How much of pixel (x, y) lies inside the plate, 0..1 (4x4 supersampling)."""
    inside = 0
    for sy in range(4):
        for sx in range(4):
            px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
            cx = min(max(px, radius), WIDTH - radius)
            cy = min(max(py, radius), HEIGHT - radius)
            if (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2:
                inside += 1
    return inside / 16


def draw():
    cx, cy = WIDTH / 2, 24.0
    stars = [(7, 8, 0.7), (39, 6, 0.9), (42, 20, 0.5), (6, 33, 0.6), (11, 46, 0.8),
             (37, 44, 0.6), (30, 9, 0.4), (17, 13, 0.5), (41, 33, 0.7)]
    pixels = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            px, py = x + 0.5, y + 0.5
            sky = mix((10, 18, 60), (70, 30, 110), py / HEIGHT)
            colour = sky
            # The draw tube, end-on: three rings, the outer one brighter.
            r = math.hypot(px - cx, py - cy)
            for ring_r, width, shade in ((17.0, 1.6, (200, 210, 225)),
                                         (13.0, 1.0, (120, 140, 180)),
                                         (9.5, 0.8, (90, 110, 160))):
                t = 1.0 - abs(r - ring_r) / width
                if t > 0:
                    colour = mix(colour, shade, t)
            # Starlight in the middle, with four spikes.
            glow = math.exp(-(r / 3.2) ** 2)
            spike = max(math.exp(-abs(px - cx) * 1.6) * math.exp(-abs(py - cy) / 5.0),
                        math.exp(-abs(py - cy) * 1.6) * math.exp(-abs(px - cx) / 5.0))
            colour = mix(colour, (255, 250, 220), glow + 0.8 * spike)
            for sx, sy, b in stars:
                d = math.hypot(px - sx - 0.5, py - sy - 0.5)
                colour = mix(colour, (230, 235, 255), b * math.exp(-(d / 0.7) ** 2))
            # A maker's bar along the bottom edge of the plate.
            if 48 <= y <= 50 and 12 <= x <= 35:
                colour = mix(colour, (200, 160, 60), 0.9)
            colour = mix(FACE, colour, coverage_rounded_rect(x, y, 7.0))
            row.append(colour)
        pixels.append(row)
    return pixels


def write_bmp(path, palette, pixels):
    row_size = (WIDTH + 3) & ~3
    image_size = row_size * HEIGHT
    offset = 14 + 40 + 256 * 4
    data = bytearray()
    data += struct.pack("<2sIHHI", b"BM", offset + image_size, 0, 0, offset)
    data += struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, image_size,
                        2835, 2835, 256, 0)
    for r, g, b in palette:
        data += bytes((b, g, r, 0))
    cache = {}
    for y in range(HEIGHT - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for rgb in pixels[y]:
            key = tuple(int(round(c)) for c in rgb)
            if key not in cache:
                cache[key] = nearest(palette, key)
            row.append(cache[key])
        row += bytes(row_size - WIDTH)
        data += row
    Path(path).write_bytes(bytes(data))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else \
        Path(__file__).resolve().parent.parent / "resources" / "emblem.bmp"
    pixels = draw()
    write_bmp(out, build_palette(pixels), pixels)


if __name__ == "__main__":
    main()
