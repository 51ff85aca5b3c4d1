#!/usr/bin/python3
"""Reference levels of the auto level by range (percentile walks over a
5000-bin histogram) for two synthetic images, written to
autolevel_reference.txt beside this script.

The images are made from an integer hash that HashSample in
tests/autolevel/autolevel_support.h computes the same way; every sample is exact in float32. The float32 steps of
the luminance histogram are done in numpy float32, everything else in float64.
"""
import os

import numpy as np

BINS = 5000


def frame(width, height, plane):
    x = np.arange(width, dtype=np.uint32)[None, :]
    y = np.arange(height, dtype=np.uint32)[:, None]
    h = (x * np.uint32(73856093)) ^ (y * np.uint32(19349663)) ^ np.uint32(plane * 83492791)
    h = h * np.uint32(2654435761)
    v = 1000.0 + ((h >> np.uint32(8)) % np.uint32(400)).astype(np.float64) * 0.25
    star = ((h >> np.uint32(20)) % np.uint32(50)) == 0
    v = v + np.where(star, ((h >> np.uint32(4)) % np.uint32(4096)).astype(np.float64) * 8.0, 0.0)
    return v.astype(np.float32)


def bins_of(values, lo, hi):
    """Raw-scale binning: lo <= v <= hi counts in trunc((v - lo) * scale)."""
    scale = BINS / (hi - lo)
    v = values.astype(np.float64).ravel()
    v = v[(lo <= v) & (v <= hi)]
    b = np.trunc((v - lo) * scale)
    b = np.clip(b, 0, BINS - 1).astype(np.int64)
    return np.bincount(b, minlength=BINS)


def walk_up(hist, target):
    cum = np.cumsum(hist + 1)
    hit = np.nonzero(cum > target)[0]
    return int(hit[0]) if hit.size else BINS


def walk_down(hist, target):
    cum = np.cumsum((hist + 1)[::-1])
    hit = np.nonzero(cum > target)[0]
    return BINS - 1 - int(hit[0]) if hit.size else -1


def levels(hist, n, mn, mx, low, high):
    total = n + BINS
    rng = mx - mn
    if low <= 0.0 or low >= 1.0:
        lo_level = low * rng + mn
    else:
        lo_level = walk_up(hist, int(total * low)) * rng / BINS + mn
    if high <= 0.0 or high >= 1.0:
        hi_level = rng * high + mn
    else:
        hi_level = (walk_down(hist, int((1.0 - high) * total)) + 1) * rng / BINS + mn
    return lo_level, hi_level


def params(hist, n, mn, mx, lmin, lmax):
    """GetByNormal: fraction outside the extremes, percentile inside."""
    total = n + BINS
    rng = mx - mn
    low, high = 0.0, 1.0
    if mn >= lmin or lmin >= mx:
        low = (lmin - mn) / rng
    else:
        before = after = 0
        for i in range(BINS):
            before = after
            after += int(hist[i]) + 1
            if i / BINS * rng + mn > lmin:
                low = (after + before) * 0.5 / total
                break
    if lmax >= mx or mn >= lmax:
        high = (lmax - mn) / rng
    else:
        before = after = 0
        for i in range(BINS - 1, 0, -1):
            before = after
            after += int(hist[i]) + 1
            if i / BINS * rng + mn < lmax:
                high = 1.0 - (after + before) * 0.5 / total
                break
    return low, high


PAIRS = [(0.001, 0.999), (0.01, 0.99), (0.5, 0.5), (0.25, 0.9), (0.1, 0.75), (0.0, 1.0), (-0.1, 1.1)]
LEVELS = [(1010.0, 1090.0), (1000.0, 1099.75), (990.0, 40000.0), (1050.0, 5000.0)]
COLOR_LEVELS = [(950.0, 1150.0), (900.0, 1300.0), (1000.0, 1100.0)]


def mono(out):
    img = frame(120, 90, 0)
    mn, mx = float(img.min()), float(img.max())
    hist = bins_of(img, mn, mx)
    n = img.size
    out.append("# mono 120 x 90: DoByNormal(low, high) -> low level, high level")
    for low, high in PAIRS:
        out.append("%r %r %r %r" % ((low, high) + levels(hist, n, mn, mx, low, high)))
    out.append("# mono: GetByNormal with levels (min, max) -> low, high")
    for lmin, lmax in LEVELS:
        out.append("%r %r %r %r" % ((lmin, lmax) + params(hist, n, mn, mx, lmin, lmax)))


def luma256(planes, lv):
    """GetPixelBright256f of every pixel."""
    t = []
    for p in range(3):
        mn, mx = lv[p]
        t.append(((planes[p].astype(np.float64) - mn) / (mx - mn) * 255.0).astype(np.float32))
    y = 0.587 * t[1].astype(np.float64) + 0.299 * t[0].astype(np.float64) + 0.114 * t[2].astype(np.float64)
    return y.astype(np.float32)


def luma_hist(planes, lv, lo, hi):
    """GetHistogram(plane -1): planes to 0..255 in float32, luminance in double."""
    s = []
    for p in range(3):
        mn, mx = lv[p]
        m = np.float32(mn)
        k = np.float32(255.0 / (mx - mn))
        s.append(((planes[p] - m) * k).astype(np.float32))
    y = 0.587 * s[1].astype(np.float64) + 0.299 * s[0].astype(np.float64) + 0.114 * s[2].astype(np.float64)
    mn0, mx0 = lv[0]
    lo2 = float(np.float32((float(np.float32(lo)) - mn0) / (mx0 - mn0) * 255.0))
    hi2 = float(np.float32((float(np.float32(hi)) - mn0) / (mx0 - mn0) * 255.0))
    return bins_of(y, lo2, hi2)


def color(out):
    planes = [frame(128, 96, p) for p in range(3)]
    lv = COLOR_LEVELS
    y = luma256(planes, lv)
    mn0, mx0 = lv[0]
    mn = float(y.min()) / 255.0 * (mx0 - mn0) + mn0
    mx = float(y.max()) / 255.0 * (mx0 - mn0) + mn0
    hist = luma_hist(planes, lv, mn, mx)
    out.append("# colour 128 x 96, levels %r: luminance DoByNormal(low, high) -> plane 0 levels" % (lv,))
    for low, high in PAIRS:
        out.append("%r %r %r %r" % ((low, high) + levels(hist, y.size, mn, mx, low, high)))


# 100 x 100 images of zeros (the first, in row order) and 5000s: range 5000,
# bin i covers i .. i + 1 and 5000 (the maximum) lands in the top bin; the
# total is 10000 + 5000 bins = 15000. Low 0.5 with 7499 zeros: target 7500,
# bin 0 holds 7499 + 1, not above it, so the walk stops at bin 1: level 1.
# High 0.9 with 8501 zeros: target trunc((1 - 0.9) x 15000) = 1499 (1 - 0.9
# is just below 0.1); the top bin holds 1499 + 1 > 1499: level 5000 (with
# 1500 the walk would go on to bin 4998 and give 4999). Fractions beyond the
# extremes: a tenth of the range outside.
TWO_VALUES = [(7499, 0.5, 1.0), (8501, 0.0, 0.9), (8501, -0.1, 1.1)]


def two_values(out):
    out.append("# 100 x 100, zeros then 5000s: zeros, DoByNormal(low, high) -> low level, high level")
    for zeros, low, high in TWO_VALUES:
        img = np.where(np.arange(10000) < zeros, 0.0, 5000.0).astype(np.float32)
        hist = bins_of(img, 0.0, 5000.0)
        out.append("%d %r %r %r %r" % ((zeros, low, high) + levels(hist, img.size, 0.0, 5000.0, low, high)))


def main():
    out = ["# written by autolevel_reference.py; numbers only on the other lines"]
    mono(out)
    color(out)
    two_values(out)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "autolevel_reference.txt")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
