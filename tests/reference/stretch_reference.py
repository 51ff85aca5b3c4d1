#!/usr/bin/python3
"""Reference display bytes of the display stretches, in double precision.

A sample v (a float32) of a plane with levels lo .. hi shows the byte
floor(255 f(t)), t = (v - lo) / (hi - lo) clamped to 0..1, with 0 for
v <= lo and NaN, 255 for v >= hi; f is the transfer function of the case:
  mtf    f(t) = (m - 1) t / ((2 m - 1) t - m)
  asinh  f(t) = asinh(s t) / asinh(s)
  log    f(t) = log(1 + s t) / log(1 + s)
Each case has its own levels and parameter per colour plane (0, 1, 2).

Writes stretch_reference.txt, numbers only (# lines are comments): the
count n of samples and their positions t (the samples of plane p are
float32(lo_p + t (hi_p - lo_p)), and one NaN); then per case a line
"kind p0 p1 p2 lo0 hi0 lo1 hi1 lo2 hi2" (kind as CDisplayStretch numbers
it: 1 mtf, 2 asinh, 3 log) followed by three lines of n bytes, one per
plane, in the order of the samples.

Run: /usr/bin/python3 tests/reference/stretch_reference.py
"""
import math
import os

import numpy as np

CASES = [
    ("mtf", (0.05, 0.12, 0.3), ((1000.0, 3000.0), (950.0, 2800.0), (1100.0, 4000.0))),
    ("mtf", (0.5, 0.9, 0.002), ((0.0, 1.0), (-5.0, 5.0), (100.0, 65535.0))),
    ("asinh", (10.0, 1000.0, 100000.0), ((1000.0, 3000.0), (0.0, 1.0), (200.0, 60000.0))),
    ("log", (100.0, 3000.0, 1000000.0), ((1000.0, 3000.0), (0.0, 1.0), (200.0, 60000.0))),
]

KINDS = ["linear", "mtf", "asinh", "log"]  # CDisplayStretch::Kind


def positions():
    t = [-0.5, -1e-3, 0.0]
    t += [10.0 ** e for e in np.arange(-7.0, 0.0, 0.25)]
    t += list(np.linspace(0.0005, 0.9995, 97))
    t += [0.99999, 1.0, 1.0001, 2.0]
    return t


def f(kind, p, t):
    if kind == "mtf":
        return (p - 1.0) * t / ((2.0 * p - 1.0) * t - p)
    if kind == "asinh":
        return math.asinh(p * t) / math.asinh(p)
    return math.log1p(p * t) / math.log1p(p)


def byte(kind, p, lo, hi, v):
    if math.isnan(v) or v <= lo:
        return 0
    if v >= hi:
        return 255
    t = min(max((v - lo) / (hi - lo), 0.0), 1.0)
    return min(255, max(0, int(math.floor(255.0 * f(kind, p, t)))))


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stretch_reference.txt")
    ts = positions()
    with open(out, "w") as fh:
        fh.write("# sample count, positions (the last sample is NaN)\n%d\n" % (len(ts) + 1))
        fh.write(" ".join("%.17g" % t for t in ts) + " nan\n")
        for kind, params, levels in CASES:
            fh.write("# %s: kind, parameter per plane, levels per plane, bytes per plane\n" % kind)
            fh.write("%d %s %s\n" % (KINDS.index(kind), " ".join("%.17g" % p for p in params),
                                     " ".join("%.17g %.17g" % lh for lh in levels)))
            for p, (lo, hi) in zip(params, levels):
                values = [float(np.float32(lo + t * (hi - lo))) for t in ts] + [float("nan")]
                fh.write(" ".join(str(byte(kind, p, lo, hi, v)) for v in values) + "\n")


if __name__ == "__main__":
    main()
