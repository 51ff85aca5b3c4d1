#!/usr/bin/python3
"""Reference resampling for the transform tests.

Bilinear in float32 and bicubic (a = -0.1) in float64 with the final
division in float32, written from the rules the library follows, on a small
source image. Writes transform_resample.txt: for each case a comment line,
then the destination samples row-major, one row per line.

Run: /usr/bin/python3 tests/reference/transform_reference.py
"""
import math
import os

import numpy as np

f32 = np.float32


def source(width, height):
    # A smooth ramp with a bump and one negative and one large sample, so
    # that every weight matters.
    img = np.zeros((height, width), dtype=np.float32)
    for y in range(height):
        for x in range(width):
            img[y, x] = f32(100.0 + 7.0 * x + 13.0 * y + ((x * 31 + y * 17) % 11) * 2.5)
    img[1, 2] = f32(-40.25)
    img[height - 1, width - 1] = f32(5000.5)
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


def main():
    src = source(5, 4)
    cases = [
        ("bilinear", 8, 7, bilinear(src, 8, 7)),
        ("bilinear", 3, 3, bilinear(src, 3, 3)),
        ("bicubic", 9, 7, bicubic(src, 9, 7)),
        ("bicubic", 3, 2, bicubic(src, 3, 2)),
    ]
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "transform_resample.txt"), "w") as f:
        f.write("# source 5 x 4 from transform_reference.py; cases: method width height, samples\n")
        for name, w, h, out in cases:
            f.write("# %s %d %d\n" % (name, w, h))
            for row in out:
                f.write(" ".join("%.9g" % v for v in row) + "\n")


if __name__ == "__main__":
    main()
