#!/usr/bin/python3
"""Reference for the 8-bit colour export: display levels, the 15-bit colour
histogram and the adaptive palette, written independently with numpy (sorts
and argmin/argmax over whole arrays instead of repeated scans).

Writes palette_case<N>.txt next to this script for a few small synthetic
colour images: size, levels, samples, the expected 256-entry palette and
the expected palette index of every pixel. Samples are multiples of 1/4 and
levels short decimals, so every number reads back exactly.

Run: /usr/bin/python3 tests/reference/palette_reference.py
"""
import math
import os

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))

WEIGHTS = [20, 28, 37, 48, 45, 32, 20, 10]
BAND_SLOTS = 240
SATURATION = 32000


def display_values(samples, lo, hi):
    """Samples (float32) to 0..255 with double levels: 0 at or below lo,
    255 at or above hi, else trunc((v - lo) / (hi - lo) * 255)."""
    v = samples.astype(np.float64)
    rng = hi - lo
    with np.errstate(invalid="ignore", divide="ignore"):
        t = np.trunc((v - lo) / rng * 255.0)
    out = np.where(v >= hi, 255.0, np.clip(np.nan_to_num(t), 0.0, 255.0))
    out = np.where(lo >= v, 0.0, out)
    return out.astype(np.int64)


def bucket_centres():
    c = np.arange(32768)
    red = (c >> 10) * 8 + 4
    green = ((c >> 5) & 31) * 8 + 4
    blue = (c & 31) * 8 + 4
    rgb = np.stack([red, green, blue], axis=1)
    lightness = (rgb.max(axis=1) + rgb.min(axis=1)) // 2
    return rgb, lightness


def reduce_colours(r, g, b, floor=8.0, cap=65536, half=0.5):
    """Returns (palette as 256 x 3 red, green, blue; index of every pixel).
    `floor`, `cap` and `half` exist only so the script can prove that a
    case depends on the quota floor, the distance cap and the rounding of
    the slot boundaries."""
    codes = ((r & 0xF8) << 7) | ((g >> 3) << 5) | (b >> 3)
    counts = np.minimum(np.bincount(codes.ravel(), minlength=32768), SATURATION).astype(np.int64)
    rgb, lightness = bucket_centres()
    band = (255 - lightness) // 32
    present = counts > 0

    # Quotas, in the same double operations and order as the library.
    total = 0.0
    roots = []
    for k in range(8):
        s = int(counts[present & (band == k)].sum())
        roots.append(math.sqrt(float(s)))
        total += roots[-1]
    quotas = []
    qsum = 0.0
    for k in range(8):
        n = int(np.count_nonzero(present & (band == k)))
        q = WEIGHTS[k] * roots[k] / total * 8.0
        if q < floor:
            q = floor
        if n < q:
            q = float(n)
        if 1.5 * WEIGHTS[k] < q:
            q = 1.5 * WEIGHTS[k]
        quotas.append(q)
        qsum += q
    scale = float(256 - 16) / qsum
    bounds = [0]
    acc = 0.0
    for k in range(8):
        acc += quotas[k] * scale
        bounds.append(int(acc + half))
    assert bounds[-1] == BAND_SLOTS or half != 0.5

    state = counts.copy()
    palette = np.zeros((256, 3), dtype=np.int64)

    # Band picks: the band's colours sorted by count (descending), then by
    # colour index (descending); the slots take them in that order, colour
    # 0 once they run out.
    for k in range(8):
        window = (lightness >= 224 - 32 * k) & (lightness <= 256 - 32 * k)
        cand = np.nonzero(window & (state > 0))[0]
        order = cand[np.lexsort((-cand, -state[cand]))]
        for i, s in enumerate(range(bounds[k], bounds[k + 1])):
            c = int(order[i]) if i < len(order) else 0
            palette[s] = rgb[c]
            state[c] = -s

    # Least squared distance to the band picks, capped at 65536.
    least = np.min([((rgb - e) ** 2).sum(axis=1) for e in palette[:BAND_SLOTS]], axis=0)
    least = np.minimum(least, cap)
    pos = state > 0
    state[pos] = least[pos]

    # Spread picks: farthest remaining colour, the lowest index on ties.
    for s in range(BAND_SLOTS, 256):
        d = np.minimum(((rgb - palette[s - 1]) ** 2).sum(axis=1), cap)
        pos = state > 0
        state[pos] = np.minimum(state[pos], d[pos])
        if np.any(state > 0):
            c = int(np.argmax(np.where(state > 0, state, -1)))
        else:
            c = 0
        palette[s] = rgb[c]
        state[c] = -s

    # Lookup: nearest entry, the lowest entry index on ties.
    nearest = np.argmin([((rgb - e) ** 2).sum(axis=1) for e in palette], axis=0)
    lut = np.where(state < 0, -state, np.where(state == 0, 0, nearest))
    return palette, lut[codes]


def quarter(x):
    return np.round(np.asarray(x, dtype=np.float64) * 4.0) / 4.0


def case_few_colours(rng):
    """16 x 12 from 40 colours of uneven frequency: repeated counts and ties."""
    w, h = 16, 12
    levels = [(0.0, 255.0)] * 3
    colours = rng.integers(0, 256, size=(40, 3))
    colours[:6] = [[200, 200, 200], [199, 201, 198], [10, 10, 10], [255, 255, 255], [0, 0, 0], [96, 96, 96]]
    pick = rng.choice(40, size=w * h, p=np.linspace(3, 1, 40) / np.linspace(3, 1, 40).sum())
    planes = [colours[pick, p].astype(np.float64).reshape(h, w) for p in range(3)]
    return w, h, levels, planes


def case_many_colours(rng):
    """32 x 32 random colours with a level window per plane: many distinct
    colours, so every band fills and the spread picks and lookup matter."""
    w, h = 32, 32
    levels = [(100.0, 1100.0), (-50.5, 949.5), (0.0, 2000.0)]
    planes = []
    for lo, hi in levels:
        v = quarter(rng.uniform(lo - 80.0, hi + 80.0, size=(h, w)))
        v[0, :4] = [lo, hi, lo + 0.25, hi - 0.25]
        planes.append(v)
    return w, h, levels, planes


def case_band_edges(rng):
    """20 x 10 mostly one dark band with lightness on band boundaries (a
    colour qualifies for two bands) and a few bright outliers."""
    w, h = 20, 10
    levels = [(0.0, 255.0)] * 3
    base = np.array([[64, 64, 64], [32, 32, 32], [96, 96, 96], [128, 128, 128], [60, 68, 56], [24, 40, 32]])
    pick = rng.integers(0, len(base), size=w * h)
    rgbv = base[pick] + rng.integers(0, 8, size=(w * h, 3))
    rgbv[:5] = [[250, 250, 250], [255, 0, 0], [0, 255, 0], [0, 0, 255], [224, 224, 224]]
    planes = [rgbv[:, p].astype(np.float64).reshape(h, w) for p in range(3)]
    return w, h, levels, planes


def case_gradient(rng):
    """64 x 4 smooth colour ramps: neighbouring buckets, near-equal counts."""
    w, h = 64, 4
    levels = [(0.0, 63.0), (0.0, 255.0), (-10.0, 10.0)]
    x = np.arange(w, dtype=np.float64)
    red = np.tile(x, (h, 1))
    green = np.tile(255.0 - 4.0 * x, (h, 1)) + np.arange(h)[:, None] * 16.0
    blue = quarter(np.tile(np.sin(x / 7.0) * 9.0, (h, 1)) + rng.uniform(-0.5, 0.5, size=(h, w)))
    return w, h, levels, [red, green, blue]


def case_floor_and_cap(rng):
    """A case built to depend on the quota floor and the distance cap. Four
    bands hold more distinct colours than their share of slots; the lightest
    band has 9 single pixels (its quota is raised to the floor of 8); the
    middle band has 60 greenish colours of 2 pixels, a pure red and a pure
    blue pixel. That band runs out of slots before red and blue, and every
    colour lies farther than 256 from both, so the distance cap makes them
    tie in the first spread pick and the lower colour (blue) wins. Draws
    until these hold, and until the slot boundaries depend on rounding
    half up (checked by running the reduction without the floor, without
    the cap, and rounding at 0.4 and 0.6)."""
    w, h = 40, 22
    levels = [(0.0, 255.0)] * 3
    rgb_all, lightness = bucket_centres()
    band = (255 - lightness) // 32
    red = np.array([252, 4, 4])
    blue = np.array([4, 4, 252])
    dist_red = ((rgb_all - red) ** 2).sum(axis=1)
    dist_blue = ((rgb_all - blue) ** 2).sum(axis=1)
    far = (dist_red > 70000) & (dist_blue > 70000)
    greenish = (rgb_all[:, 1] >= 200) & (rgb_all[:, 0] <= 76) & (rgb_all[:, 2] <= 76)

    for _ in range(200):
        pixels = []
        for k, n, per, extra in ((0, 9, 1, far), (1, 42, 4, far), (2, 55, 3, far), (3, 60, 2, greenish),
                                 (4, 67, 3, far), (5, 48, 4, far)):
            pool = np.nonzero((band == k) & extra)[0]
            for c in np.sort(rng.choice(pool, size=n, replace=False)):
                pixels.extend([list(rgb_all[c])] * per)
        pixels.append([255, 0, 0])
        pixels.append([0, 0, 255])
        while len(pixels) < w * h:
            pixels.append(pixels[9 + len(pixels) % 150])
        arr = np.array(pixels, dtype=np.float64)[rng.permutation(w * h)]
        planes = [arr[:, p].reshape(h, w) for p in range(3)]
        disp = [display_values(np.asarray(pl, dtype=np.float32), 0.0, 255.0) for pl in planes]
        base = reduce_colours(*disp)[0]
        variants = ({"floor": 0.0}, {"cap": 10**9}, {"half": 0.4}, {"half": 0.6})
        if all(not np.array_equal(base, reduce_colours(*disp, **v)[0]) for v in variants):
            return w, h, levels, planes
    raise RuntimeError("no draw depends on the floor, the cap and the rounding")


def write_case(n, w, h, levels, planes):
    f32 = [np.asarray(p, dtype=np.float32) for p in planes]
    for p in f32:
        assert np.all(p.astype(np.float64) * 4.0 == np.round(p.astype(np.float64) * 4.0))
    disp = [display_values(f32[p], levels[p][0], levels[p][1]) for p in range(3)]
    palette, index = reduce_colours(disp[0], disp[1], disp[2])
    path = os.path.join(HERE, "palette_case%d.txt" % n)
    with open(path, "w") as out:
        out.write("# written by palette_reference.py\n# width height\n%d %d\n" % (w, h))
        out.write("# levels: lo hi of planes 0, 1, 2\n")
        out.write(" ".join(repr(float(v)) for lv in levels for v in lv) + "\n")
        for p in range(3):
            out.write("# plane %d samples, rows top first\n" % p)
            for row in f32[p]:
                out.write(" ".join(repr(float(v)) for v in row) + "\n")
        out.write("# palette: red green blue of entries 0..255\n")
        for e in palette:
            out.write("%d %d %d\n" % tuple(e))
        out.write("# palette index of every pixel, rows top first\n")
        for row in index:
            out.write(" ".join(str(int(v)) for v in row) + "\n")


def self_check():
    # One single colour: its centre in slot 0, the other band slots colour 0.
    r = np.full((3, 3), 100)
    g = np.full((3, 3), 180)
    b = np.full((3, 3), 20)
    palette, index = reduce_colours(r, g, b)
    assert list(palette[0]) == [100, 180, 20]
    assert all(list(e) == [4, 4, 4] for e in palette[1:])
    assert np.all(index == 0)


def main():
    self_check()
    rng = np.random.default_rng(20240607)
    cases = [case_few_colours, case_many_colours, case_band_edges, case_gradient, case_floor_and_cap]
    for n, make in enumerate(cases, start=1):
        write_case(n, *make(rng))


if __name__ == "__main__":
    main()
