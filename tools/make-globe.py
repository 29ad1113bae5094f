#!/usr/bin/python3
"""Draws the globe picture (res/globe130.png) and the window icon (res/icon128-32.png,
res/icon128-16.png).

Source: earth.jpg of the Debian package xplanet-images (/usr/share/xplanet/images/earth.jpg),
a 2048 x 1024 equirectangular picture of the Earth from NASA's Visible Earth. The package's
copyright file marks it "not copyrighted" (NASA imagery, free of licensing fees; NASA asks to be
credited as its source). Only the land/sea split is taken from it, at the picture's coarse scale.

Needs python3-pil, python3-numpy and xplanet-images (apt-get install them); the build uses the
committed PNG files, not this script. Run from the top of the checkout:
    /usr/bin/python3 tools/make-globe.py
"""

import math
import os
import random
import sys

import numpy as np
from PIL import Image

EARTH = "/usr/share/xplanet/images/earth.jpg"

SIZE = 155
CX, CY, RADIUS = 77, 78, 74  # the disc
RINGS = (26, 44, 63)
# Where the viewer hangs above the Earth: over the Sahara, so Europe, Africa and Asia show.
VIEW_LAT, VIEW_LON = 25.0, 15.0

BLACK, WHITE, SEA, LAND, STAR = 0, 1, 2, 3, 4
PALETTE = [(0, 0, 0), (255, 255, 255), (166, 202, 240), (0, 153, 51), (160, 160, 176)]


def land_mask(rgb):
    """True where the picture shows land or ice; the oceans are dark blue there."""
    r, g, b = rgb[..., 0], rgb[..., 1], rgb[..., 2]
    sea = (b > r + 25) & (b > g + 10) & (r < 90)
    return ~sea


def sample_land(mask, lat, lon):
    h, w = mask.shape
    x = int((lon + 180.0) / 360.0 * w) % w
    y = min(h - 1, max(0, int((90.0 - lat) / 180.0 * h)))
    return mask[y, x]


def inverse_orthographic(dx, dy, radius, lat0, lon0):
    """Latitude and longitude seen at (dx, dy) from the disc's centre, y up; None off the disc."""
    rho = math.hypot(dx, dy)
    if rho > radius:
        return None
    if rho == 0:
        return lat0, lon0
    c = math.asin(min(1.0, rho / radius))
    p0, l0 = math.radians(lat0), math.radians(lon0)
    lat = math.asin(math.cos(c) * math.sin(p0) + dy * math.sin(c) * math.cos(p0) / rho)
    lon = l0 + math.atan2(dx * math.sin(c),
                          rho * math.cos(c) * math.cos(p0) - dy * math.sin(c) * math.sin(p0))
    lon = (math.degrees(lon) + 540.0) % 360.0 - 180.0
    return math.degrees(lat), lon


def draw_globe(mask, size, cx, cy, radius, rings, stars):
    px = np.full((size, size), BLACK, dtype=np.uint8)
    rnd = random.Random(130)
    for _ in range(stars):
        x, y = rnd.randrange(size), rnd.randrange(size)
        if math.hypot(x - cx, y - cy) > radius + 2:
            px[y, x] = WHITE if rnd.random() < 0.5 else STAR
    for y in range(size):
        for x in range(size):
            # Three by three samples per pixel; the majority decides land or sea.
            votes, inside = 0, 0
            for sy in (-1 / 3, 0, 1 / 3):
                for sx in (-1 / 3, 0, 1 / 3):
                    ll = inverse_orthographic(x + sx - cx, cy - (y + sy), radius + 0.5,
                                              VIEW_LAT, VIEW_LON)
                    if ll is None:
                        continue
                    inside += 1
                    votes += 1 if sample_land(mask, *ll) else 0
            if inside >= 5:
                px[y, x] = LAND if votes * 2 > inside else SEA
    return px


def draw_rings_and_cross(px):
    for y in range(SIZE):
        for x in range(SIZE):
            if px[y, x] in (SEA, LAND):
                d = math.hypot(x - CX, y - CY)
                if any(abs(d - r) < 0.5 for r in RINGS):
                    px[y, x] = WHITE
    px[5:153, CX] = WHITE
    px[CY, 3:152] = WHITE


def save(px, path, colours, **options):
    img = Image.fromarray(px, mode="P")
    flat = [c for rgb in colours for c in rgb]
    img.putpalette(flat + [0] * (768 - len(flat)))
    img.save(path, bits=8, optimize=False, **options)
    print("wrote", path)


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    res = os.path.join(top, "res")
    rgb = np.asarray(Image.open(EARTH).convert("RGB")).astype(int)
    mask = land_mask(rgb)

    globe = draw_globe(mask, SIZE, CX, CY, RADIUS, RINGS, stars=40)
    draw_rings_and_cross(globe)
    save(globe, os.path.join(res, "globe130.png"), PALETTE)

    # The icon: the same Earth without rings; the corners outside the disc are transparent.
    for size in (32, 16):
        c = (size - 1) / 2
        icon = draw_globe(mask, size, c, c, size / 2 - 0.5, (), stars=0)
        save(icon, os.path.join(res, "icon128-%d.png" % size), PALETTE, transparency=BLACK)
    return 0


if __name__ == "__main__":
    sys.exit(main())
