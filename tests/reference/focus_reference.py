#!/usr/bin/python3
"""Reference values for the filter and focus tests (tests/filter).

Writes focus_reference.txt next to this script:
  1. the 25 coefficients of a Gaussian matrix of radius 2 with sigma -1.0
     (which means sigma = radius), row-major;
  2. focus figures of the 64 x 48 three-plane test frame for four settings /
     rectangles;
  3. focus figures of pseudo-random colour and mono frames (FillRandom in
     tests/filter/filtertest.h) for four settings, negative ones among them,
     and four rectangles each;
  4. focus figures of a frame over 24 binades, without and with a NaN;
  5. the 49 coefficients of a Gaussian matrix of radius 3 with sigma 0.7.
and focus_frame.txt: the samples of that test frame (integers), plane by
plane, one row per line, which the tests read.

Every step follows the library's float32 arithmetic in the same order:
coefficients exp() in double stored as float32; sums in float32 in index
order; horizontal and vertical filtering with float32 sums from 0 in tap
order (vectorised across pixels, never across taps); squares and their sum in
double, pixel by pixel in plane, row, column order.
"""
import math
import os

import numpy as np

F = np.float32


def gaussian_matrix(r, sigma):
    s = float(r) if sigma == -1.0 else sigma
    size = 2 * r + 1
    m = np.zeros((size, size), dtype=np.float32)
    if s == 0.0:
        m[r, r] = 1.0
        return m
    den = s * -2.0 * s
    for j in range(-r, r + 1):
        for i in range(-r, r + 1):
            m[j + r, i + r] = F(math.exp(float(i * i + j * j) / den))
    total = F(0.0)
    for v in m.flat:
        total = F(total + v)
    if total != 0.0:
        m = (m / total).astype(np.float32)
    return m


def kernel_of(matrix, normalise=True):
    r = matrix.shape[0] // 2
    k = matrix[r].copy()
    total = F(0.0)
    for v in k:
        total = F(total + v)
    if normalise and total != 0.0:
        k = (k / total).astype(np.float32)
    return k


def mirror(j, h):
    period = 2 * h
    m = abs(int(math.fmod(j, period)))  # remainder with the dividend's sign
    if m >= h:
        m = period - 1 - m
    return m


def filter_plane(plane, k):
    """The filtered plane as the library's Calc gives it, for every pixel."""
    h, w = plane.shape
    r = len(k) // 2
    horizontal = np.zeros((h, w), dtype=np.float32)
    for y in range(h):
        pad = np.concatenate([np.full(r, plane[y, 0]), plane[y], np.full(r, plane[y, -1])]).astype(np.float32)
        acc = np.zeros(w, dtype=np.float32)
        for j in range(len(k)):
            acc = (acc + k[j] * pad[j:j + w]).astype(np.float32)
        horizontal[y] = acc
    out = np.zeros((h, w), dtype=np.float32)
    for y in range(h):
        acc = np.zeros(w, dtype=np.float32)
        for t in range(len(k)):
            acc = (acc + k[t] * horizontal[mirror(y - r + t, h)]).astype(np.float32)
        out[y] = acc
    return out


def radius_of(sigma):
    return int(max(1.0, sigma * 2.8 + 1.0))


def focus(frame, narrow, wide, rect=None):
    planes, h, w = frame.shape
    b = max(wide, 0)
    left, top, right, bottom = b, b, w - b, h - b
    if rect is not None:
        left = max(rect[0] + b, b)
        top = max(rect[1] + b, b)
        right = min(rect[2] - b, w - b)
        bottom = min(rect[3] - b, h - b)
    kn = kernel_of(gaussian_matrix(radius_of(narrow), float(narrow)))
    kw = kernel_of(gaussian_matrix(radius_of(wide), float(wide)))
    total = 0.0
    count = 0
    for p in range(planes):
        n = filter_plane(frame[p], kn)
        wd = filter_plane(frame[p], kw)
        for y in range(top, bottom):
            for x in range(left, right):
                d = float(abs(F(n[y, x] - wd[y, x])))
                total += d * d
                count += 1
    return total / count if count else 0.0


def focus_frame():
    """Sky with three stars: integers, exact in float32."""
    w, h = 64, 48
    frame = np.zeros((3, h, w), dtype=np.float32)
    stars = [(20, 15, 4000), (41, 30, 2500), (9, 38, 6000)]
    for p in range(3):
        for y in range(h):
            for x in range(w):
                v = 1000 + 40 * p + (x * 37 + y * 91 + p * 53 + (x * y) % 11) % 101
                for sx, sy, peak in stars:
                    dx, dy = abs(x - sx), abs(y - sy)
                    if dx <= 1 and dy <= 1:
                        v += peak if dx + dy == 0 else (peak * 3 // 8 if dx + dy == 1 else peak * 3 // 20)
                frame[p, y, x] = v
    return frame


def fill_random(w, h, seed):
    """Mirrors FillRandom() of tests/filter/filtertest.h: exact in float32."""
    s = (seed * 2654435761 + 1) & 0xFFFFFFFF
    out = np.zeros((h, w), dtype=np.float32)
    for y in range(h):
        for x in range(w):
            s ^= (s << 13) & 0xFFFFFFFF
            s ^= s >> 17
            s ^= (s << 5) & 0xFFFFFFFF
            sign = -1.0 if s >> 31 else 1.0
            out[y, x] = F(sign * ((s & 0xFFFF) / 65536.0) * (1 << ((s >> 16) % 12)) / 16.0)
    return out


def binades_frame(nan):
    """Mirrors the frame of RowBandsMatchTheSerialLoop: 24 binades, one NaN."""
    w, h = 45, 160
    frame = np.zeros((3, h, w), dtype=np.float32)
    state = 5
    for p in range(3):
        for y in range(h):
            for x in range(w):
                state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
                v = math.ldexp(1.0 + (state >> 9) * 2.0**-23, (state >> 3) % 24)
                frame[p, y, x] = np.nan if nan and p == 1 and x == 20 and y == 90 else v
    return frame


def main():
    lines = ["# MakeGaussian(2, -1.0): 25 coefficients, row-major"]
    m = gaussian_matrix(2, -1.0)
    for row in m:
        lines.append(" ".join(repr(float(v)) for v in row))
    frame = focus_frame()
    lines.append("# focus figures: (Min, Max, rect): (1, 10, none) (2, 3, none) (2, 3, 5 4 50 30) (0, 3, none)")
    for narrow, wide, rect in [(1, 10, None), (2, 3, None), (2, 3, (5, 4, 50, 30)), (0, 3, None)]:
        lines.append(repr(focus(frame, narrow, wide, rect)))
    colour = np.stack([fill_random(53, 41, 30 + p) for p in range(3)])
    mono = fill_random(47, 33, 40)[np.newaxis]
    rects = [None, (3, 2, 40, 30), (-5, -5, 100, 100), (10, 11, 12, 13)]
    lines.append("# (Min, Max) (1, 10) (2, 4) (-1, 2) (3, -2); 53 x 41 colour, then 47 x 33 mono FillRandom frames;")
    lines.append("# whole, then rects 3 2 40 30, -5 -5 100 100, 10 11 12 13")
    for narrow, wide in [(1, 10), (2, 4), (-1, 2), (3, -2)]:
        for img in (colour, mono):
            lines.append(" ".join(repr(focus(img, narrow, wide, rect)) for rect in rects))
    lines.append("# (1, 3) on the 24-binade frames, without and with a NaN sample")
    lines.append(" ".join(repr(focus(binades_frame(nan), 1, 3)) for nan in (False, True)))
    # A sigma whose exponent denominator is not exact in float32.
    lines.append("# MakeGaussian(3, 0.7): 49 coefficients, row-major")
    for row in gaussian_matrix(3, 0.7):
        lines.append(" ".join(repr(float(v)) for v in row))
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "focus_reference.txt")
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")
    with open(os.path.join(os.path.dirname(path), "focus_frame.txt"), "w") as out:
        out.write("# 64 x 48 x 3 samples of the focus test frame, plane by plane, rows top first\n")
        for plane in frame:
            for row in plane:
                out.write(" ".join("%d" % v for v in row) + "\n")


if __name__ == "__main__":
    main()
