#!/usr/bin/python3
"""Reference bilinear demosaicing for the colour tests.

Written from the rule, not from the library's loops: for each colour plane a
mask of the sites of that colour; a missing colour is the mean, in float64,
of the finite masked samples among the 8 neighbours (a 3 x 3 box sum of
masked values divided by a box sum of the mask), the sample itself at the
plane's own sites. The mosaic is 7 x 6 (odd width, so that both kinds of
edge column occur), with a negative sample and a NaN.

Writes debayer_bilinear.txt: the mosaic (row-major, one row per line), then
for each pattern and cell offset a comment line "# PATTERN xoff yoff" and
the red, green and blue planes, one row per line.

Run: /usr/bin/python3 tests/reference/debayer_reference.py
"""
import os

import numpy as np

W, H = 7, 6
PATTERNS = ["RGGB", "BGGR", "GRBG", "GBRG"]


def mosaic():
    m = np.zeros((H, W), dtype=np.float32)
    for y in range(H):
        for x in range(W):
            m[y, x] = np.float32(200.0 + 37.0 * ((x * 5 + y * 3) % 7) + 11.5 * x - 6.25 * y)
    m[1, 4] = np.float32(-75.5)
    m[3, 2] = np.float32("nan")
    return m


def colour_masks(pattern, xoff, yoff):
    """Boolean masks of the red, green and blue sites."""
    ys, xs = np.mgrid[0:H, 0:W]
    letter = 2 * ((ys + yoff) % 2) + (xs + xoff) % 2
    names = np.array(list(pattern))[letter]
    return [names == c for c in "RGB"]


def box8(a):
    """Sum of the 8 neighbours of every element (outside counts 0)."""
    p = np.pad(a, 1)
    total = np.zeros_like(a)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            if dx or dy:
                total += p[1 + dy:1 + dy + H, 1 + dx:1 + dx + W]
    return total


def bilinear(m, pattern, xoff, yoff):
    m64 = m.astype(np.float64)
    finite = np.isfinite(m64)
    planes = []
    for mask in colour_masks(pattern, xoff, yoff):
        use = mask & finite
        values = box8(np.where(use, m64, 0.0))
        counts = box8(use.astype(np.float64))
        with np.errstate(invalid="ignore", divide="ignore"):
            mean = np.where(counts > 0, values / np.maximum(counts, 1), np.nan)
        planes.append(np.where(mask, m64, mean))
    return planes


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "debayer_bilinear.txt")
    m = mosaic()
    with open(out, "w") as f:
        f.write("# mosaic %d x %d from debayer_reference.py, then per case the red, green, blue planes\n" % (W, H))
        for row in m:
            f.write(" ".join("%.9g" % v for v in row) + "\n")
        for pattern in PATTERNS:
            for yoff in (0, 1):
                for xoff in (0, 1):
                    f.write("# %s %d %d\n" % (pattern, xoff, yoff))
                    for plane in bilinear(m, pattern, xoff, yoff):
                        for row in plane:
                            f.write(" ".join("%.17g" % v for v in row) + "\n")


if __name__ == "__main__":
    main()
