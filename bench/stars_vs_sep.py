#!/usr/bin/python3
"""Times orbimg's star detection against SEP on the same frame, in one run.

    bench/stars_vs_sep.py [build/bench/orbimg_bench]

Runs the StarFieldDetect benchmark (background, detection and measurement of
a 6000 x 4000 mono frame with 3000 stars: CStarField::Detect), which also
writes its frame to a temporary file; then times SEP on that frame as
float64: Background, extract (threshold 5 x the global RMS) and flux_radius
(half flux within 6 a, 5 x 5 sub-pixels), as an autofocus would call it.
Prints each time (the median of 5 runs) and the ratio SEP / orbimg.
Needs Debian's python3-sep and python3-numpy (scripts/install-deps.sh --bench).
"""
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import sep

WIDTH, HEIGHT = 6000, 4000
RUNS = 5


def time_orbimg(bench, frame_path):
    env = dict(os.environ, ORBIMG_BENCH_STARS_FRAME=frame_path)
    report = frame_path + ".json"
    subprocess.run([bench, "--benchmark_filter=^StarFieldDetect/", "--benchmark_repetitions=%d" % RUNS,
                    "--benchmark_out=" + report, "--benchmark_out_format=json"], env=env, check=True,
                   capture_output=True, text=True)
    with open(report) as f:
        runs = json.load(f)["benchmarks"]
    median = [r for r in runs if r.get("aggregate_name") == "median"][0]
    plain = [r for r in runs if r.get("run_type") == "iteration"][0]
    return median["real_time"] / 1e3, int(plain["stars"]), int(plain["good"])


def time_sep(data):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        bkg = sep.Background(data)
        sub = data - bkg
        objects = sep.extract(sub, 5.0, err=bkg.globalrms)
        radius, flags = sep.flux_radius(sub, objects["x"], objects["y"], 6.0 * objects["a"], 0.5, subpix=5)
        times.append(time.perf_counter() - start)
    return sorted(times)[RUNS // 2], len(objects), float(np.median(radius))


def main():
    bench = sys.argv[1] if len(sys.argv) > 1 else "build/bench/orbimg_bench"
    sep.set_extract_pixstack(5000000)
    with tempfile.TemporaryDirectory() as tmp:
        frame_path = os.path.join(tmp, "stars.f32")
        orbimg_s, stars, good = time_orbimg(bench, frame_path)
        data = np.fromfile(frame_path, dtype=np.float32).reshape(HEIGHT, WIDTH).astype(np.float64)
    sep_s, sep_objects, sep_hfr = time_sep(data)
    print("frame          %d x %d mono, 3000 stars, %d threads" % (WIDTH, HEIGHT, os.cpu_count()))
    print("orbimg         %8.1f ms  (%d stars, %d good)" % (orbimg_s * 1e3, stars, good))
    print("SEP %-10s %8.1f ms  (%d objects, median flux radius %.3f px)" % (sep.__version__, sep_s * 1e3,
                                                                          sep_objects, sep_hfr))
    print("ratio          SEP / orbimg = %.2f" % (sep_s / orbimg_s))


if __name__ == "__main__":
    main()
