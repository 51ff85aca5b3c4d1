#!/usr/bin/python3
# Reference statistics for CImgPixelInfo (tests/measure/pixelinfo_test.cpp).
#
# Writes measure_reference.txt: a small three-plane float32 image with a
# star and a few blank samples, then queries with their expected outputs.
# Sums run one value at a time in double (as the library does), so the
# results are exact to the bit. Run: /usr/bin/python3 measure_reference.py
import math
import os

import numpy as np

W, H, P = 17, 13, 3
rng = np.random.default_rng(20240611)
img = np.empty((P, H, W), dtype=np.float32)
yy, xx = np.mgrid[0:H, 0:W]
for p in range(P):
    sky = 1000.0 + 40.0 * p + rng.normal(0.0, 15.0, size=(H, W))
    star = 600.0 * (1.0 - 0.2 * p) * np.exp(-((xx - 8.3) ** 2 + (yy - 6.2) ** 2) / (2 * 1.6 ** 2))
    img[p] = (sky + star).astype(np.float32)
# A few repeated values, so ties are sorted too.
img[0, 1, 1:5] = img[0, 1, 0]
# Blanks: (plane, x, y, kind) with kind 0 NaN, 1 +inf, 2 -inf.
# A blank first sample, where the extremes start.
blanks = [(1, 3, 4, 0), (2, 10, 2, 1), (0, 12, 9, 2), (1, 8, 7, 0), (2, 0, 0, 0)]
values = img.astype(np.float64)
for p, x, y, kind in blanks:
    values[p, y, x] = [math.nan, math.inf, -math.inf][kind]


def finite(seq):
    return [v for v in seq if math.isfinite(v)]


def kept_stats(kept):
    mx = mn = kept[0]
    s = 0.0
    for v in kept:
        if v > mx:
            mx = v
        if v < mn:
            mn = v
        s += v
    mean = s / len(kept)
    ss = 0.0
    for v in kept:
        ss += (v - mean) * (v - mean)
    return [mx, mn, mean, math.sqrt(ss / len(kept)), kept[len(kept) // 2]]


def clamp_rect(l, t, r, b):
    return (min(max(l, 0), W), min(max(t, 0), H), min(max(r, 0), W), min(max(b, 0), H))


def rect_samples(p, l, t, r, b):
    l, t, r, b = clamp_rect(l, t, r, b)
    return finite(values[p, y, x] for y in range(t, b) for x in range(l, r))


def circle_samples(p, cx, cy, rad):
    out = []
    if not (0 <= cx < W and 0 <= cy < H):  # a centre outside the image: none
        return out
    for y in range(max(cy - rad, 0), min(cy + rad, H)):
        for x in range(max(cx - rad, 0), min(cx + rad, W)):
            if (x - cx) ** 2 + (y - cy) ** 2 < rad * rad:
                out.append(values[p, y, x])
    return finite(out)


def trunc(v):  # towards zero, saturating at the ends of 64 bits
    return 0 if math.isnan(v) else min(max(int(v), -2 ** 63), 2 ** 63 - 1) if math.isfinite(v) else (
        2 ** 63 - 1 if v > 0 else -2 ** 63)


def trimmed(vals, upper, lower):
    s = sorted(vals)
    n = len(s)
    lo = min(max(trunc(n * (1 - lower) * 0.5), 0), n // 2)
    hi = min(max(trunc(n * (upper + 1) * 0.5), n // 2 + 1), n - 1)
    return kept_stats(s[lo:hi + 1])


def single(p, x, y):
    v = values[p, y, x] if 0 <= x < W and 0 <= y < H else math.nan
    return [v, v, v, 0.0, v] if math.isfinite(v) else None


def calc(p, l, t, r, b):
    if (r - l) * (b - t) == 1:
        return single(p, l, t)
    vals = rect_samples(p, l, t, r, b)
    if not vals:
        return None
    mx, mn = max(vals), min(vals)
    s = 0.0
    for v in vals:
        s += v
    mean = s / len(vals)
    ss = 0.0
    for v in vals:
        ss += (v - mean) * (v - mean)
    return [mx, mn, mean, math.sqrt(ss / len(vals)), sorted(vals)[len(vals) // 2]]


def sky_dark(p, l, t, r, b):
    if (r - l) * (b - t) == 1:
        return single(p, l, t)
    vals = sorted(rect_samples(p, l, t, r, b))
    m = len(vals) // 2
    return kept_stats(vals[:m]) if m else None


def star(p, cx, cy, rad, upper, lower):
    vals = circle_samples(p, cx, cy, rad)
    if not vals:
        return None
    st = trimmed(vals, upper, lower)
    threshold = (st[4] + max(vals)) * 0.5
    count = sum(1 for v in vals if v > threshold)
    return st + [2.0 * math.sqrt(count / 3.141592653589793)]


def point(p, x, y, size):
    h = int(size / 2)  # towards zero, as C++ divides
    sat = lambda v: min(max(v, -2 ** 31), 2 ** 31 - 1)
    return calc(p, sat(x - h), sat(y - h), sat(x + 1 + h), sat(y + 1 + h))


# kind: 0 Calc(rect), 1 CalcSky(rect), 2 CalcSky(rect, upper, lower),
# 3 CalcSky(x, y, radius, upper, lower), 4 CalcStar(x, y, radius, upper, lower),
# 5 Calc(point, size)
IMIN, IMAX = -2 ** 31, 2 ** 31 - 1
queries = [
    (0, 0, 0, 17, 13, 0, 0), (0, 2, 3, 9, 8, 0, 0), (0, -3, -2, 4, 5, 0, 0), (0, 15, 11, 20, 20, 0, 0),
    (0, 5, 5, 6, 6, 0, 0), (0, 9, 8, 8, 7, 0, 0),
    (1, 0, 0, 17, 13, 0, 0), (1, 2, 3, 9, 8, 0, 0), (1, -3, -2, 4, 5, 0, 0), (1, 10, 2, 11, 3, 0, 0),
    (2, 0, 0, 17, 13, 0.5, 0.5), (2, 2, 3, 9, 8, 1, 1), (2, 1, 1, 12, 10, 0, 0), (2, 3, 2, 16, 13, 0.3, 0.8),
    (2, 0, 0, 17, 13, 0.9, 0.1), (2, 0, 0, 3, 1, 0.5, 0.5),
    (3, 8, 6, 5, 0.5, 0.5), (3, 8, 6, 3, 1, 1), (3, 1, 1, 4, 0.5, 0.5), (3, 16, 12, 6, 0.2, 0.7),
    (3, 8, 6, 1, 0.5, 0.5),
    (4, 8, 6, 5, 0.5, 0.5), (4, 8, 6, 4, 0.8, 0.2), (4, 2, 10, 3, 1, 1), (4, 8, 6, 2, 0, 0),
    # Trimming along a row of ten: half, all, the fewest kept (at least two
    # from three), beyond the ends, NaN and infinite fractions.
    (2, 0, 2, 10, 3, 0.5, 0.5), (2, 0, 2, 10, 3, 1, 1), (2, 0, 2, 10, 3, 0, 0), (2, 0, 2, 3, 3, 0, 0),
    (2, 0, 2, 2, 3, 0, 0), (2, 0, 2, 1, 3, 0, 0), (2, 0, 2, 10, 3, 5, 5), (2, 0, 2, 10, 3, -3, -3),
    (2, 0, 2, 10, 3, math.nan, math.nan), (2, 0, 2, 10, 3, math.inf, math.inf), (2, 0, 2, 10, 3, 1e300, -1e300),
    # Points: a pixel (sizes 0 and 1), odd and even boxes, far outside, the whole image.
    (5, 4, 5, 0), (5, 4, 5, 1), (5, 4, 4, 5), (5, 4, 4, 4), (5, 16, 0, 3), (5, IMAX, IMIN, IMAX), (5, 2, 2, IMAX),
    # Empty regions: outside, one sample outside, clamped to one pixel, no
    # rows, star centres outside, radii of 0 and below.
    (0, 18, 0, 20, 13, 0, 0), (0, -1, -1, 0, 0, 0, 0), (1, 17, 12, 18, 13, 0, 0), (1, 16, 12, 20, 20, 0, 0),
    (2, 3, 3, 3, 9, 0.5, 0.5), (4, -1, 2, 3, 0.5, 0.5), (4, 17, 2, 3, 0.5, 0.5), (4, 2, 13, 3, 0.5, 0.5),
    (4, IMIN, IMAX, 3, 0.5, 0.5), (3, 2, 2, 0, 0.5, 0.5), (3, 2, 2, -4, 0.5, 0.5), (3, 2, 2, IMIN, 0.5, 0.5),
    # The ends of the int range (the first area overflows 64 bits).
    (0, IMIN, IMIN, IMAX, IMAX, 0, 0), (0, IMAX, IMAX, IMIN, IMIN, 0, 0), (2, IMIN, IMIN, IMAX, IMAX, 1, 1),
    (3, 8, 6, IMAX, 1, 1),
]
# Circles have no fourth coordinate, points no fourth nor trimming: written as 0.
queries = [q if len(q) == 7 else q[:4] + (0,) + q[4:] if len(q) == 6 else q + (0, 0, 0) for q in queries]

lines = ["# W H P", f"{W} {H} {P}", "# samples, plane by plane, row-major (blanks as nan, inf, -inf)"]
for p in range(P):
    for y in range(H):
        lines.append(" ".join(repr(float(v)) for v in values[p, y]))
lines.append("# queries: kind a b c d upper lower, then per plane max min mean stddev median diameter")
lines.append(str(len(queries)))
for q in queries:
    kind, a, b, c, d, up, lo = q
    out = []
    for p in range(P):
        if kind == 0:
            r = calc(p, a, b, c, d)
        elif kind == 1:
            r = sky_dark(p, a, b, c, d)
        elif kind == 2:
            vals = rect_samples(p, a, b, c, d)
            r = trimmed(vals, up, lo) if vals else None
        elif kind == 3:
            vals = circle_samples(p, a, b, c)
            r = trimmed(vals, up, lo) if vals else None
        elif kind == 4:
            r = star(p, a, b, c, up, lo)
        else:
            r = point(p, a, b, c)
        r = (r or [0.0] * 5) + ([0.0] if len(r or []) < 6 else [])
        out += r
    lines.append(" ".join(repr(float(v)) for v in list(q) + out))

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "measure_reference.txt"), "w") as f:
    f.write("\n".join(lines) + "\n")
