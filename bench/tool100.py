#!/usr/bin/python3
"""Times the orbimg tool on a 100-megapixel colour frame and on a 24-megapixel one.

    bench/tool100.py [--orbimg build/tools/orbimg/orbimg] [--dir /tmp/orbimg-tool100]
                     [--lock FILE] [--sizes 24,100] [--runs 1] [--no-python]

Makes two colour 16-bit FITS star fields (BZERO 32768) with astropy and NumPy,
12000 x 8000 and 6000 x 4000, kept in --dir for the next run. Runs `info`,
`render` to PNG and to BMP, `stars --auto` and `transform --bin 2x2` on each
under /usr/bin/time -v (wall time and peak resident memory; the best of
--runs), then the same render in Python: astropy load, percentile levels
(0.5 % and 99.9 % of all samples, planes linked), map to bytes with NumPy,
cv2.imwrite PNG at OpenCV's default (fast) settings. Prints every figure and
the ratios against the targets:
  - per-pixel time at 100 MP at most 1.2 x that at 24 MP, each command;
  - render to PNG at most 1.5 x the same render to BMP;
  - render of the 100 MP frame at most 0.35 x the Python render;
  - peak memory at most 1.3 x the frame's float size plus the output picture.
--lock FILE runs every timed command (and the making of the frames) under
flock on FILE, one at a time, so that a shared machine is quiet for each.
Needs Debian's python3-astropy, python3-numpy and python3-opencv
(scripts/install-deps.sh --bench).
"""
import argparse
import os
import re
import subprocess
import sys
import time

SIZES = {"24": (6000, 4000), "100": (12000, 8000)}
STARS_PER_MP = 40
TARGET_SCALING = 1.2
TARGET_PNG_BMP = 1.5
TARGET_PYTHON = 0.35
TARGET_MEMORY = 1.3


def make_frame(path, width, height, seed):
    """A colour star field: sky 1000 with a gradient and noise 10, 16-bit."""
    import numpy as np
    from astropy.io import fits

    rng = np.random.default_rng(seed)
    count = int(STARS_PER_MP * width * height / 1e6)
    xs = rng.uniform(8, width - 8, count)
    ys = rng.uniform(8, height - 8, count)
    peaks = np.exp(rng.uniform(np.log(50.0), np.log(60000.0), count))
    sigmas = rng.uniform(1.2, 2.4, count)
    colours = rng.uniform(0.6, 1.0, (count, 3))
    cube = np.empty((3, height, width), dtype=np.uint16)
    gradient = np.linspace(0.0, 250.0, width, dtype=np.float32)[None, :]
    r = 7
    offs = np.arange(-r, r + 1, dtype=np.float32)
    for p in range(3):
        plane = rng.standard_normal((height, width), dtype=np.float32)
        plane *= 10.0
        plane += 1000.0 + 100.0 * p
        plane += gradient
        for x, y, peak, sigma, colour in zip(xs, ys, peaks, sigmas, colours[:, p]):
            ix, iy = int(x), int(y)
            gx = np.exp(-0.5 * ((offs + ix - x) / sigma) ** 2)
            gy = np.exp(-0.5 * ((offs + iy - y) / sigma) ** 2)
            plane[iy - r:iy + r + 1, ix - r:ix + r + 1] += (peak * colour) * np.outer(gy, gx)
        np.clip(plane, 0.0, 65535.0, out=plane)
        cube[p] = plane + 0.5
        del plane
    hdu = fits.PrimaryHDU(cube)
    hdu.header["OBJECT"] = "synthetic star field"
    tmp = path + ".part"
    hdu.writeto(tmp, overwrite=True)
    os.replace(tmp, path)


def python_render(src, dst):
    """The Python pipeline the tool's render is compared with."""
    import cv2
    import numpy as np
    from astropy.io import fits

    data = fits.getdata(src)                      # (3, H, W), uint16 through BZERO
    lo, hi = np.percentile(data, (0.5, 99.9))
    scale = np.float32(255.0 / (hi - lo))
    out = np.empty(data.shape[1:] + (3,), dtype=np.uint8)
    for p, channel in enumerate((2, 1, 0)):      # OpenCV wants blue, green, red
        plane = data[p].astype(np.float32)
        plane -= np.float32(lo)
        plane *= scale
        np.clip(plane, 0.0, 255.0, out=plane)
        out[:, :, channel] = plane
    if not cv2.imwrite(dst, out[::-1]):           # FITS row 1 is the bottom one
        raise SystemExit("cv2.imwrite failed")


def locked(lock, command):
    return ["flock", lock] + command if lock else command


def timed(command, lock):
    """Runs a command under /usr/bin/time -v: (wall seconds, peak RSS bytes)."""
    run = subprocess.run(locked(lock, ["/usr/bin/time", "-v"] + command), capture_output=True, text=True)
    if run.returncode != 0:
        sys.stderr.write(run.stdout + run.stderr)
        raise SystemExit("failed: " + " ".join(command))
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+)", run.stderr)
    rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
    seconds = int(wall.group(1) or 0) * 3600 + int(wall.group(2)) * 60 + float(wall.group(3))
    return seconds, int(rss.group(1)) * 1024


def best_of(command, lock, runs):
    results = [timed(command, lock) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--orbimg", default="build/tools/orbimg/orbimg")
    parser.add_argument("--dir", default="/tmp/orbimg-tool100")
    parser.add_argument("--lock", default="")
    parser.add_argument("--sizes", default="24,100")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--no-python", action="store_true")
    parser.add_argument("--python-render", nargs=2, metavar=("IN", "OUT"), help=argparse.SUPPRESS)
    parser.add_argument("--make-frame", nargs=4, metavar=("PATH", "W", "H", "SEED"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.make_frame:
        path, width, height, seed = args.make_frame
        make_frame(path, int(width), int(height), int(seed))
        return
    if args.python_render:
        python_render(*args.python_render)
        return

    os.makedirs(args.dir, exist_ok=True)
    orbimg = os.path.abspath(args.orbimg)
    sizes = args.sizes.split(",")
    frames = {}
    for size in sizes:
        width, height = SIZES[size]
        path = os.path.join(args.dir, "frame-%dx%d.fits" % (width, height))
        if not os.path.exists(path):
            print("making %s" % path, flush=True)
            subprocess.run(locked(args.lock, [sys.executable, os.path.abspath(__file__), "--make-frame", path,
                                              str(width), str(height), size]), check=True)
        frames[size] = path

    out = lambda name: os.path.join(args.dir, name)
    commands = [
        ("info", lambda f: [orbimg, "info", f]),
        ("render png", lambda f: [orbimg, "render", f, "-o", out("render.png")]),
        ("render bmp", lambda f: [orbimg, "render", f, "-o", out("render.bmp")]),
        ("stars --auto", lambda f: [orbimg, "stars", f, "--auto"]),
        ("transform --bin 2x2", lambda f: [orbimg, "transform", f, "-o", out("binned.fits"), "--bin", "2x2"]),
    ]
    results = {}
    for size in sizes:
        for name, command in commands:
            results[(size, name)] = best_of(command(frames[size]), args.lock, args.runs)
            seconds, rss = results[(size, name)]
            print("%-4s MP  %-20s %7.2f s  %7.0f MB" % (size, name, seconds, rss / 2**20), flush=True)
        if not args.no_python:
            results[(size, "python")] = best_of([sys.executable, os.path.abspath(__file__), "--python-render",
                                                 frames[size], out("python.png")], args.lock, args.runs)
            seconds, rss = results[(size, "python")]
            print("%-4s MP  %-20s %7.2f s  %7.0f MB" % (size, "python render", seconds, rss / 2**20), flush=True)

    print()
    verdict = lambda ok: "ok" if ok else "MISSED"
    if "24" in sizes and "100" in sizes:
        pixels = {s: SIZES[s][0] * SIZES[s][1] for s in ("24", "100")}
        for name, _ in commands:
            ratio = (results[("100", name)][0] / pixels["100"]) / (results[("24", name)][0] / pixels["24"])
            print("per-pixel 100 / 24 MP  %-20s %5.2f  (target <= %.1f) %s" %
                  (name, ratio, TARGET_SCALING, verdict(ratio <= TARGET_SCALING)))
    for size in sizes:
        ratio = results[(size, "render png")][0] / results[(size, "render bmp")][0]
        print("render PNG / BMP  %-4s MP               %5.2f  (target <= %.1f) %s" %
              (size, ratio, TARGET_PNG_BMP, verdict(ratio <= TARGET_PNG_BMP)))
    for size in sizes:
        if (size, "python") in results:
            ratio = results[(size, "render png")][0] / results[(size, "python")][0]
            print("render / Python   %-4s MP               %5.2f  (target <= %.2f) %s" %
                  (size, ratio, TARGET_PYTHON, verdict(ratio <= TARGET_PYTHON)))
    for size in sizes:
        width, height = SIZES[size]
        floats = width * height * 3 * 4
        outputs = {"render png": width * height * 3, "render bmp": width * height * 3,
                   "transform --bin 2x2": floats // 4}
        for name, _ in commands:
            budget = TARGET_MEMORY * floats + outputs.get(name, 0)
            ratio = results[(size, name)][1] / budget
            print("peak memory / budget  %-4s MP %-20s %5.2f  (%4.0f of %4.0f MB) %s" %
                  (size, name, ratio, results[(size, name)][1] / 2**20, budget / 2**20, verdict(ratio <= 1.0)))


if __name__ == "__main__":
    main()
