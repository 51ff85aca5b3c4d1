#!/usr/bin/python3
"""Reference resampling for the transform tests.

Bilinear in float32 and bicubic (a = -0.1) in float64 with the final
division in float32, written from the rules the library follows, on small
source images. Writes transform_resample.txt: for each case a line "source
width, height, specials (0 or 1), destination width, height", the source
samples, then the bilinear and the bicubic destination samples, all
row-major, one row per line.

Run: /usr/bin/python3 tests/reference/transform_reference.py
"""
import math
import os

import numpy as np

f32 = np.float32


def source(width, height, specials=False):
    # A smooth ramp with a bump and one negative and one large sample, so
    # that every weight matters; with `specials`, a NaN, an infinity and a
    # negative zero as well (a 9 x 7 source).
    img = np.zeros((height, width), dtype=np.float32)
    for y in range(height):
        for x in range(width):
            img[y, x] = f32(100.0 + 7.0 * x + 13.0 * y + ((x * 31 + y * 17) % 11) * 2.5)
    if width > 2 and height > 1:
        img[1, 2] = f32(-40.25)
    img[height - 1, width - 1] = f32(5000.5)
    if specials:
        img[3, 4] = np.nan
        img[5, 1] = np.inf
        img[1, 7] = f32(-0.0)
    return img


def bilinear(src, width, height):
    H, W = src.shape
    xs = f32(W) / f32(width)
    ys = f32(H) / f32(height)
    out = np.zeros((height, width), dtype=np.float32)
    for y in range(height):
        sy = f32(y) * ys
        iy = int(sy)
        fy = f32(sy - f32(iy))
        if fy == 0 or H == 1:
            r0 = r1 = iy
        elif iy >= H - 1:
            r0, r1 = iy - 1, iy
            fy = f32(sy - f32(iy - 1))
        else:
            r0, r1 = iy, iy + 1
        for x in range(width):
            sx = f32(x) * xs
            ix = int(sx)
            fx = f32(sx - f32(ix))
            if W == 1:
                c0 = c1 = 0
            elif fx != 0 and ix >= W - 1:
                c0, c1 = ix - 1, ix
                fx = f32(sx - f32(ix - 1))
            else:
                c0, c1 = ix, ix + 1
            if fx == 0 and fy == 0:
                out[y, x] = src[r0, c0]
                continue
            w11 = f32(fx * fy)
            w01 = f32(fy - w11)
            w10 = f32(fx - w11)
            w00 = f32(f32(f32(1) - fx) * f32(f32(1) - fy))
            v = f32(w00 * src[r0, c0])
            if w01 != 0:
                v = f32(v + f32(w01 * src[r1, c0]))
            if w10 != 0:
                v = f32(v + f32(w10 * src[r0, c1]))
            if w11 != 0:
                v = f32(v + f32(w11 * src[r1, c1]))
            out[y, x] = v
    return out


def kernel(t):
    t2 = t * t
    if t < 1.0:
        return (1.0 - t2 * 2.9) + (t2 * 1.9) * t
    return ((0.4 - t * 0.8) + t2 * 0.5) - (t2 * 0.1) * t


def mirror(j, size):
    # Mirrored once about the edge; still outside (a source below 3 samples):
    # clamped to the nearest edge.
    if j < 0:
        j = -j
    elif j > size - 1:
        j = 2 * (size - 1) - j
    return min(max(j, 0), size - 1)


def bicubic(src, width, height):
    H, W = src.shape
    xs = W / width
    ys = H / height
    out = np.zeros((height, width), dtype=np.float32)
    for y in range(height):
        sy = y * ys
        iy = int(sy)
        for x in range(width):
            sx = x * xs
            ix = int(sx)
            acc = 0.0
            wsum = 0.0
            for j in range(iy - 1, iy + 3):
                dy = abs(j - sy)
                if dy >= 2:
                    continue
                wy = kernel(dy)
                if wy == 0:
                    continue
                for i in range(ix - 1, ix + 3):
                    dx = abs(i - sx)
                    if dx >= 2:
                        continue
                    wx = kernel(dx)
                    if wx == 0:
                        continue
                    w = wx * wy
                    wsum += w
                    acc += float(src[mirror(j, H), mirror(i, W)]) * w
            out[y, x] = f32(acc) / f32(wsum)
    return out


# Source width, height, with specials; destination width, height: the first
# four enlarge and reduce a 5 x 4 source, the others reach one-sample axes,
# sources below 3 x 3, same-size copies, NaN, infinite and signed-zero
# samples, whole and fractional scales of larger sources, and halvings of
# sources wide enough for whole vectors of columns. Every case for both
# methods.
CASES = [
    (5, 4, False, 8, 7), (5, 4, False, 3, 3), (5, 4, False, 9, 7), (5, 4, False, 3, 2),
    (1, 5, False, 6, 9), (5, 1, False, 9, 4), (1, 1, False, 4, 3), (2, 2, False, 5, 5),
    (2, 3, False, 7, 2), (3, 3, False, 8, 8), (16, 5, False, 3, 11), (4, 4, False, 1, 1),
    (7, 9, False, 7, 9), (6, 6, False, 11, 17), (9, 7, True, 18, 14), (9, 7, True, 4, 3),
    (9, 7, True, 9, 7), (9, 7, True, 13, 5), (12, 8, False, 6, 4), (12, 8, False, 18, 12),
    (20, 3, False, 60, 9), (70, 7, True, 35, 4), (71, 6, False, 35, 3),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "transform_resample.txt"), "w") as f:
        f.write("# per case: source size, specials, destination size; the source samples,\n")
        f.write("# then the bilinear and the bicubic samples\n")
        for sw, sh, specials, w, h in CASES:
            src = source(sw, sh, specials)
            f.write("%d %d %d %d %d\n" % (sw, sh, int(specials), w, h))
            for row in src:
                f.write(" ".join("%.9g" % v for v in row) + "\n")
            for name, method in (("bilinear", bilinear), ("bicubic", bicubic)):
                f.write("# %s %d x %d%s -> %d x %d\n" % (name, sw, sh, " with specials" if specials else "", w, h))
                for row in method(src, w, h):
                    f.write(" ".join("%.9g" % v for v in row) + "\n")


if __name__ == "__main__":
    main()
