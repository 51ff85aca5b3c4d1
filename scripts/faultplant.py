#!/usr/bin/env python3
"""Plants single faults in the library and tool sources and checks that two
versions of the test suite catch them.

The "old" suite is the tests (tests/, tools/orbimg/tests/) as of git revision
--old; the "new" suite is the current tree's (or those of --new REV). Both are
built against the current tree's library and tool sources, in two trees under
the work directory. For each fault the source file is changed in both trees,
the test program of the fault's label is rebuilt and `ctest -L <label>` runs;
the fault is caught when the build fails or a test that passed without the
fault fails. The file is restored afterwards, also on Ctrl-C.

  scripts/faultplant.py --old REV [--new REV2] [--only ID,...] [--jobs 2]
  scripts/faultplant.py --list | --check

Prints a markdown table (also written to the work directory) and "lost: N",
the faults the old suite caught and the new one missed; exits 1 when N > 0.
Builds and test runs take the shared CPU lock (--lock) one command at a time.
"""
import argparse
import contextlib
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TEST_DIRS = ["tests", "tools/orbimg/tests"]

# (id, label, file, old text, new text, what the fault does). The old text
# occurs exactly once in the file. Label = the ctest label whose program
# (test_<label>) exercises the code.
FAULTS = [
    # platform
    ("gdi-unlock", "platform", "platform/gdi.cpp", "    --b->locks;\n    return b->locks > 0",
     "    return b->locks > 0", "GlobalUnlock does not release the lock"),
    ("gdi-stride", "platform", "platform/gdi.cpp", "* bc + 31) / 32) * 4", "* bc + 30) / 32) * 4",
     "DIB section stride rounded up from 30 bits, not 31"),
    ("gdi-fill", "platform", "platform/gdi.cpp", "if (!(flags & GMEM_ZEROINIT) && bytes < kFillLimit)",
     "if ((flags & GMEM_ZEROINIT) && bytes < kFillLimit)", "GMEM_ZEROINIT test inverted: zeroed blocks filled"),
    ("gdi-delete-selected", "platform", "platform/gdi.cpp",
     "            if (dc->selected == object) {\n                return FALSE;",
     "            if (dc->selected == object) {\n                break;",
     "DeleteObject deletes a bitmap still selected into a DC"),
    ("ppl-count", "platform", "platform/ppl.cpp", "(last - first + step - 1) / step", "(last - first) / step",
     "parallel_for drops the last index when the step does not divide the span"),
    ("thread-release", "platform", "imagecore/threadindex.cpp", "m_used[static_cast<std::size_t>(index)] = false;",
     "m_used[static_cast<std::size_t>(index)] = true;", "a thread index is never given back"),
    ("bands-end", "transform", "platform/rowbands.h",
     "const int end = first + static_cast<int>(rows * (band + 1) / bands);",
     "const int end = first + static_cast<int>(rows * (band + 1) / bands) - 1;",
     "each row band stops one row short"),
    ("bands-swap", "transform", "platform/rowbands.h", "GetCurrentSwapSize() == 0; }",
     "GetCurrentSwapSize() != 0; }", "row bands run in parallel while the store is swapped out"),
    ("ordered-alternate-sum", "platform", "platform/orderedsum.cpp",
     "grid(v, next, m_alternates[static_cast<std::size_t>(r)], bits, tiedNext);",
     "grid(v, next, m_alternates[static_cast<std::size_t>(r)], bits, tiedNext);\n"
     "m_alternates[static_cast<std::size_t>(r)].plus += 1.0;",
     "a costly row's second reduction one unit out"),
    ("ordered-kept-row", "platform", "platform/orderedsum.cpp", "std::copy_n(v, width,\n",
     "std::copy_n(v, width - 1,\n", "a row kept for the in-order pass loses its last value"),
    # imagecore
    ("adr-edge", "image", "imagecore/image.cpp", "x >= m_width || y >= m_height",
     "x > m_width || y >= m_height", "GetImageAdr accepts x == width"),
    ("bzero-sign", "image", "imagecore/image.cpp", "return DecodeStored(p) * m_bscale + m_bzero;",
     "return DecodeStored(p) * m_bscale - m_bzero;", "BZERO subtracted instead of added"),
    ("unlock-kept", "image", "imagecore/image.cpp", "compare_exchange_weak(held, held - 1,",
     "compare_exchange_weak(held, held,", "Unlock reports success without releasing the lock"),
    ("int16-unsigned", "image", "imagecore/image.cpp",
     "static_cast<double>(static_cast<std::int16_t>(v))", "static_cast<double>(static_cast<std::uint16_t>(v))",
     "signed 16-bit samples read as unsigned"),
    # image
    ("bright-order", "image", "image/pixel.cpp", "return kBrightG * g + kBrightR * r + kBrightB * b;",
     "return kBrightR * r + kBrightG * g + kBrightB * b;", "CalcBright sum reordered"),
    ("toraw-order", "image", "image/pixel.cpp", "return v / 255.0 * GetLevelRange(plane) + GetLevelMin(plane);",
     "return v * GetLevelRange(plane) / 255.0 + GetLevelMin(plane);", "ToRaw multiplies before dividing"),
    ("avr-float", "image", "image/levels.cpp", "    double sum = 0.0;\n    for (int y = 0; y < height; ++y) {",
     "    float sum = 0.0f;\n    for (int y = 0; y < height; ++y) {", "plane average summed in float"),
    ("maxpixel-ties", "image", "image/levels.cpp", "if (haveMax ? (v > max) : !std::isnan(v))",
     "if (haveMax ? (v >= max) : !std::isnan(v))", "GetMaxPixel takes the last of equal maxima"),
    ("maxpixel-nan", "image", "image/levels.cpp", "bool haveMax = !std::isnan(max);", "bool haveMax = true;",
     "GetMaxPixel keeps a NaN first sample as the maximum"),
    ("linked-swap", "image", "image/levels.cpp",
     "CImage::SetLevel(1, lo[1] + range[1] * fMin, hi[1] + range[1] * fMax);",
     "CImage::SetLevel(1, hi[1] + range[1] * fMax, lo[1] + range[1] * fMin);",
     "linked levels: plane 1 minimum and maximum swapped"),
    ("copy-bottom", "image", "image/kelimage.cpp",
     "std::min(static_cast<long long>(srcHeight) + y, static_cast<long long>(height));",
     "std::min(static_cast<long long>(srcHeight) + y - 1, static_cast<long long>(height));",
     "Copy pastes one row too few"),
    # display
    ("dither-parity", "display", "display/rowmap.cpp", "const int first = (x0 + y) & 1;",
     "const int first = (x0 + y + 1) & 1;", "16-bit dither on odd pixels instead of even"),
    ("setpixel16-parity", "display", "display/memorydib.cpp", "if (((x + y) & 1) == 0) {",
     "if (((x + y) & 1) == 1) {", "SetPixel16 dithers the wrong parity"),
    ("mapdivide-order", "display", "display/rowmap.cpp", "double t = (v - lo) / range * 255.0;",
     "double t = (v - lo) * 255.0 / range;", "double level mapping multiplies before dividing"),
    ("pack332-shift", "display", "display/rowmap.cpp", "((g[i] >> 2) & 0x38)", "((g[i] >> 3) & 0x38)",
     "3-3-2 packing takes the wrong green bits"),
    ("bgr32-plane", "display", "display/rowmap.cpp", "const float rk = lv[0].k;", "const float rk = lv[1].k;",
     "32-bit colour maps red with green's scale"),
    ("hdib-unlock", "display", "display/memorydib.cpp",
     "    std::memcpy(out + headerBytes, m_pBits, imageBytes);\n    GlobalUnlock(block);\n",
     "    std::memcpy(out + headerBytes, m_pBits, imageBytes);\n", "CreateHDIB leaves its block locked"),
    ("dib-empty-order", "display", "display/memorydib.cpp",
     "    m_dc.DeleteDC();\n    m_pHeader.reset();\n    if (m_hBitmap) {\n        DeleteObject(m_hBitmap);\n"
     "        m_hBitmap = nullptr;\n    }\n",
     "    m_pHeader.reset();\n    if (m_hBitmap) {\n        DeleteObject(m_hBitmap);\n"
     "        m_hBitmap = nullptr;\n    }\n    m_dc.DeleteDC();\n",
     "bitmap deleted while still selected (leaks)"),
    # histogram
    ("hist-top-bin", "histogram", "display/histogrambins.h", "t = t < top ? t : last;", "t = t < top ? t : top;",
     "the maximum value falls out of the top bin"),
    ("hist-low-edge", "histogram", "display/histogrambins.h", "return ((lo <= v) & (v <= hi)) ? b : bins;",
     "return ((lo < v) & (v <= hi)) ? b : bins;", "the minimum value is not counted"),
    ("bins-luma-order", "histogram", "display/histogrambins.cpp", "l.Luma(r[i], g[i], b[i])",
     "l.Luma(g[i], r[i], b[i])", "the luminance kernel takes red for green"),
    ("hist-scale-order", "histogram", "display/histogram.cpp",
     "static_cast<double>(image.GetWidth()) * static_cast<double>(image.GetHeight()) / points;",
     "static_cast<double>(image.GetWidth()) * (static_cast<double>(image.GetHeight()) / points);",
     "grid scale factor divided before multiplying"),
    # filter
    ("mirror-edge", "filter", "filter/filterproc.cpp", "m = period - 1 - m;", "m = period - m;",
     "rows mirrored at the edge one row off"),
    ("filter-unlock", "filter", "filter/filterproc.cpp", "    m_image->Unlock(handle);\n", "",
     "LoadRow does not unlock the source row"),
    ("combine-tail", "filter", "filter/rowkernels.cpp", "    for (; c < count; ++c) {\n        for (int o = 0;",
     "    for (; c < count - 1; ++c) {\n        for (int o = 0;", "vector kernel's column tail stops one short"),
    ("taps-order", "filter", "filter/rowkernels.cpp", "sum[i] = (sum[i] + k0 * a[i]) + k1 * b[i];",
     "sum[i] = sum[i] + (k0 * a[i] + k1 * b[i]);", "two-tap sum reordered"),
    ("normalize-double", "filter", "filter/filtermatrix.cpp", "    float sum = 0.0f;\n    for (int i = 0; i < m_count",
     "    double sum = 0.0;\n    for (int i = 0; i < m_count", "kernel normalised with a double sum"),
    ("gauss-float", "filter", "filter/filtermatrix.cpp", "const double denominator = s * -2.0 * s;",
     "const float denominator = static_cast<float>(s * -2.0 * s);", "Gaussian exponent denominator in float"),
    # autolevel
    ("walkup-edge", "autolevel", "autolevel/range.cpp",
     "        if (sum > target) {\n            return i;\n        }\n    }\n    return kBins;",
     "        if (sum >= target) {\n            return i;\n        }\n    }\n    return kBins;",
     "low percentile walk stops at the target, not past it"),
    ("normal-high-bin", "autolevel", "autolevel/range.cpp", "highLevel = (i + 1) * range / kBins + min;",
     "highLevel = i * range / kBins + min;", "high level at the bottom of its bin"),
    ("mean-swap", "autolevel", "autolevel/mean.cpp", "SetLevel(p, s.mean - s.sigma * low, s.sigma * high + s.mean);",
     "SetLevel(p, s.sigma * high + s.mean, s.mean - s.sigma * low);", "per-plane mean levels: min and max swapped"),
    ("luma-weight", "autolevel", "autolevel/lumakernels.cpp", "hn::Mul(hn::Set(d, 0.114), ",
     "hn::Mul(hn::Set(d, 0.144), ", "vector luminance: blue weight 0.144"),
    ("luma-tail", "autolevel", "autolevel/lumakernels.cpp", "for (int j = 0; j < n - i; ++j) {",
     "for (int j = 0; j < n - i - 1; ++j) {", "vector luminance tail loop one short"),
    ("luma-pair-check", "autolevel", "autolevel/lumakernels.cpp", "v1, ok1, lv, sink", "v1, ok0, lv, sink",
     "vector luminance: the second vector of a pair trusts the first one's proof"),
    ("stretch-median-rank", "autolevel", "autolevel/autostretch.cpp",
     "f.median = RankOf(middle, k - below,", "f.median = RankOf(middle, k - below - (k > below),",
     "auto stretch: the median one rank low"),
    ("stretch-mad-rank", "autolevel", "autolevel/autostretch.cpp", "f.mad = RankOf(between, k - less,",
     "f.mad = RankOf(between, (k - less) / 2,", "auto stretch: the MAD taken at the wrong rank among the band's"),
    ("extremes-finite", "autolevel", "autolevel/finiteextremes.cpp", "const auto finite = hn::Le(hn::Abs(v), top);",
     "const auto finite = hn::Not(hn::IsNaN(v));", "vector extremes take infinities"),
    # measure
    ("info-nan", "measure", "measure/pixelinfo.cpp",
     "                if (!std::isfinite(v)) {\n                    continue;\n                }\n                if (v > hi)",
     "                if (v > hi)", "pixel statistics count NaN samples"),
    ("circle-edge", "measure", "measure/pixelinfo.cpp", "ISqrt(r2 - dy * dy - 1)", "ISqrt(r2 - dy * dy)",
     "circle includes samples at distance = radius"),
    ("kept-median", "measure", "measure/pixelinfo.cpp", "kept[kept.size() / 2]}", "kept[(kept.size() - 1) / 2]}",
     "trimmed median takes the lower middle"),
    ("psf-edge-sign", "measure", "measure/psf.cpp",
     "ray.step < 0 ? static_cast<double>(c) + t : static_cast<double>(c) - t",
     "ray.step < 0 ? static_cast<double>(c) - t : static_cast<double>(c) + t", "half-maximum crossing on the wrong side"),
    ("psf-median", "measure", "measure/psf.cpp", "values[m_count / 2];", "values[(m_count - 1) / 2];",
     "median PSF takes the lower middle"),
    ("cholesky-transpose", "measure", "measure/lmfit.cpp", "s -= l[k * n + i] * x[k];", "s -= l[i * n + k] * x[k];",
     "back substitution reads L instead of its transpose"),
    ("moffat-clamp", "measure", "measure/lmfit.cpp",
     "void Clamp(double* p) const override { p[7] = std::clamp(p[7], kBetaMin, kBetaMax); }",
     "void Clamp(double*) const override {}", "Moffat beta not clamped to its range"),
    ("sky-luma-order", "measure", "measure/skybackground.cpp", "(CKelImage::kBrightG * g[x] + CKelImage::kBrightR * r[x])",
     "(CKelImage::kBrightR * r[x] + CKelImage::kBrightG * g[x])", "signal luminance sum reordered"),
    ("sky-nan", "measure", "measure/skybackground.cpp",
     "const bool usable = std::isfinite(s) && !(hasSaturation && s >= saturation);",
     "const bool usable = !(hasSaturation && s >= saturation);", "sky tiles take NaN samples"),
    ("sky-mode", "measure", "measure/skybackground.cpp", "2.5 * median - 1.5 * mean", "3.0 * median - 2.0 * mean",
     "sky mode estimator 3 median - 2 mean"),
    # transform
    ("bright-sum-order", "transform", "transform/imgbright.cpp",
     "(((t - c.pivot) * c.gain + c.brightness) + t) * c.toRaw", "((t - c.pivot) * c.gain + (c.brightness + t)) * c.toRaw",
     "brightness sum reordered"),
    ("bright-rect-edge", "transform", "transform/imgbright.cpp", "y >= top && y < bottom;", "y >= top && y <= bottom;",
     "brightness changes the row below the window"),
    ("lockedrows-unlock", "transform", "transform/transformrows.h", "                m_image.Unlock(m_handles[p]);\n",
     "", "LockedRows does not unlock"),
    ("bilinear-w00", "transform", "transform/imgresolution.cpp", "const float w00 = (1.0f - fx) * oneMinusFy;",
     "const float w00 = 1.0f - fx - w01;", "bilinear corner weight by subtraction"),
    ("rowpair-edge", "transform", "transform/imgresolution.cpp",
     "    if (p.first >= size - 1) {\n        p.f = static_cast<float>(y)",
     "    if (p.first > size - 1) {\n        p.f = static_cast<float>(y)", "last source row paired with the row past it"),
    ("bin-partial", "transform", "transform/imgsoftbinning.cpp", "c < width; ++c) {", "c < width - 1; ++c) {",
     "partial bin drops the last column"),
    ("bin2-order", "transform", "transform/imgsoftbinning.cpp",
     "(((0.0f + a[2 * x]) + a[2 * x + 1]) + b[2 * x]) + b[2 * x + 1]",
     "(((0.0f + a[2 * x]) + b[2 * x]) + a[2 * x + 1]) + b[2 * x + 1]", "2x2 bin sum reordered"),
    ("bin-level-swap", "transform", "transform/imgsoftbinning.cpp", "SetLevel(p, f * GetLevelMin(p), f * GetLevelMax(p));",
     "SetLevel(p, f * GetLevelMax(p), f * GetLevelMin(p));", "scaled levels: min and max swapped"),
    ("flip-half", "transform", "transform/imgflip.cpp", "ForRowBands(0, height / 2,", "ForRowBands(0, (height - 1) / 2,",
     "in-place flip leaves the middle pair of an even height"),
    # colour
    ("cross-order", "colour", "colour/mosaickernels.cpp", "(((up[x] + s[x - 1]) + s[x + 1]) + dn[x]) * 0.25f",
     "(((up[x] + dn[x]) + s[x - 1]) + s[x + 1]) * 0.25f", "bilinear green sum reordered"),
    ("interior-tail", "colour", "colour/mosaickernels.cpp", "for (int x = 1; x < n - 1; ++x) {",
     "for (int x = 1; x < n - 2; ++x) {", "interior row kernel stops one column short"),
    ("bayer-parity", "colour", "colour/debayer.cpp", "redRow ? ph.rx : (ph.rx ^ 1)", "redRow ? (ph.rx ^ 1) : ph.rx",
     "Bayer column phase flipped in the interior"),
    ("bayer-nan", "colour", "colour/debayer.cpp",
     "            if (v != v) {\n                continue;\n            }\n", "", "debayer mean takes NaN neighbours"),
    ("superpixel-green", "colour", "colour/mosaickernels.cpp", "const int gBottom = gTop ^ 1;",
     "const int gBottom = gTop;", "super-pixel reads a red/blue site as green"),
    # tool
    ("coords-flip", "tool", "tools/orbimg/src/coords.cpp", "height - ylo + 1);", "height - ylo);",
     "FITS rectangle loses its bottom library row"),
    ("coords-back", "tool", "tools/orbimg/src/coords.cpp", "height - (rect.bottom - 1)", "height - rect.bottom",
     "library rectangle to FITS one row off"),
    ("coords-range", "tool", "tools/orbimg/src/coords.cpp", "xhi > width ||", "xhi >= width ||",
     "rectangle at the last column refused"),
    ("opt-int-range", "tool", "tools/orbimg/src/options.cpp",
     "if (!v || *v < lo || *v > hi) {\n        BadValue(what, text, \"a whole number",
     "if (!v || *v < lo || *v >= hi) {\n        BadValue(what, text, \"a whole number",
     "integer option refuses its maximum"),
    ("opt-range-order", "tool", "tools/orbimg/src/options.cpp", "if (lo && hi && *lo < *hi) {",
     "if (lo && hi && *lo <= *hi) {", "MIN,MAX accepts MIN == MAX"),
    ("fits-read-bound", "tool", "tools/orbimg/src/fitsscan.cpp", "n > m_size - offset", "n >= m_size - offset",
     "scan refuses a read that ends at the end of the file"),
    ("fits-block-pad", "tool", "tools/orbimg/src/fitsscan.cpp", "(n + kBlock - 1) / kBlock * kBlock",
     "(n + kBlock) / kBlock * kBlock", "2880-byte padding adds a block to a whole one"),
    ("dib-topdown", "tool", "tools/orbimg/src/dibfile.h", "bottomUp ? height - 1 - y : y;",
     "bottomUp ? height - 1 - y : height - 1 - y;", "top-down DIB rows written bottom-up"),
    ("png-sub-bpp", "tool", "tools/orbimg/src/dibfile.cpp", "row[i] - row[i - bpp]", "row[i] - row[i - 1]",
     "PNG Sub filter subtracts the previous byte, not the previous pixel's"),
    ("png-three-codes", "tool", "tools/orbimg/src/literaldeflate.cpp",
     "static_cast<std::uint64_t>(c & 0xFFFFu) << lab", "static_cast<std::uint64_t>(c & 0xFFFFu) << la",
     "PNG literal coder: the third code of a put at the second's place"),
    ("png-band-crc", "tool", "tools/orbimg/src/dibfile.cpp", "band.crc = Crc32(0L,", "band.crc = Crc32(1L,",
     "PNG: the bands' CRC-32 started from 1"),
    ("png-sub-vector", "tool", "tools/orbimg/src/pngrows.cpp", "hn::StoreInterleaved3(hn::Sub(r, pr), hn::Sub(g, pg), hn::Sub(b, pb), d, out + 3 * x);\n        }\n    } else",
     "hn::StoreInterleaved3(hn::Sub(b, pb), hn::Sub(g, pg), hn::Sub(r, pr), d, out + 3 * x);\n        }\n    } else",
     "PNG: a 24-bit DIB's vector Sub row keeps blue first"),
    ("png-adler-lanes", "tool", "tools/orbimg/src/pngrows.cpp", "lanes * sum2[j] - j * sum1[j]",
     "lanes * sum2[j] - (j + 1) * sum1[j]", "PNG: the vector Adler-32 weighs lane j as j + 1"),
    ("hist-bar-scale", "tool", "tools/orbimg/src/histplot.cpp",
     "static_cast<long long>(std::max(count, 0)) * plotHeight / peak",
     "static_cast<long long>(std::max(count, 0)) * (plotHeight - 1) / peak",
     "histogram bars scaled one row short of the plot height"),
    ("finder-plateau", "tool", "tools/orbimg/src/starfinder.cpp", "peak = peak && !(right && row[x + 1] > v);",
     "peak = peak && !(right && row[x + 1] >= v);", "a flat-topped peak has no maximum"),
    ("stars-lum-rows", "tool", "tools/orbimg/src/starfinder.cpp", "parallel_for(0, image.GetHeight(),",
     "parallel_for(1, image.GetHeight(),", "in-place luminance leaves the top row red"),
    ("stars-lum-plane", "tool", "tools/orbimg/src/cmd_stars.cpp", "params.plane = 0;", "params.plane = -1;",
     "stars --auto on a colour frame detects on the luminance of its luminance"),
]


def run(cmd, cwd=None, log=None, lock=None):
    """Runs cmd under the CPU lock; returns its exit status."""
    with open(lock, "a") if lock else contextlib.nullcontext() as held:
        if held:
            fcntl.flock(held, fcntl.LOCK_EX)
        out = open(log, "a") if log else subprocess.DEVNULL
        try:
            return subprocess.call(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)
        finally:
            if log:
                out.close()


def git(*args):
    return subprocess.check_output(["git", "-C", ROOT, *args])


def tracked_files(rev=None):
    """Relative paths and contents: the current tree (tracked and untracked, not
    ignored) or, with rev, the test folders as of rev."""
    files = {}
    if rev is None:
        for path in git("ls-files", "-z", "--cached", "--others", "--exclude-standard").decode().split("\0"):
            full = os.path.join(ROOT, path)
            if path and os.path.isfile(full) and not os.path.islink(full):
                with open(full, "rb") as f:
                    files[path] = f.read()
        return files
    with tempfile.TemporaryDirectory() as tmp:
        archive = subprocess.Popen(["git", "-C", ROOT, "archive", rev, *TEST_DIRS], stdout=subprocess.PIPE)
        subprocess.check_call(["tar", "-x", "-C", tmp], stdin=archive.stdout)
        if archive.wait() != 0:
            sys.exit(f"git archive {rev} failed")
        for base, _, names in os.walk(tmp):
            for name in names:
                full = os.path.join(base, name)
                with open(full, "rb") as f:
                    files[os.path.relpath(full, tmp)] = f.read()
    return files


def in_tests(path):
    return any(path == d or path.startswith(d + "/") for d in TEST_DIRS)


def sync_tree(dest, sources, tests):
    """Makes dest hold the current sources with the given test folders, writing
    only files that differ (so that a second run rebuilds little)."""
    want = {p: b for p, b in sources.items() if not in_tests(p)}
    want.update(tests)
    for base, dirs, names in os.walk(dest):
        dirs[:] = [d for d in dirs if d != "build"] if base == dest else dirs
        for name in names:
            rel = os.path.relpath(os.path.join(base, name), dest)
            if rel not in want:
                os.remove(os.path.join(base, name))
    for rel, data in want.items():
        path = os.path.join(dest, rel)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        if os.access(os.path.join(ROOT, rel), os.X_OK):
            os.chmod(path, 0o755)


def check_faults(faults, sources):
    """Messages for faults whose old text is not found exactly once."""
    problems = []
    for fid, _, path, old, new, _ in faults:
        text = sources.get(path, b"").decode()
        count = text.count(old)
        if path not in sources:
            problems.append(f"{fid}: {path} does not exist")
        elif count != 1:
            problems.append(f"{fid}: text found {count} times in {path}")
        elif old == new:
            problems.append(f"{fid}: the fault changes nothing")
    return problems


class Tree:
    def __init__(self, name, root, args):
        self.name, self.root, self.args = name, root, args
        self.build = os.path.join(root, "build")
        self.log = os.path.join(args.workdir, f"{name}.log")
        self.baseline = {}  # label -> set of failing tests, or None when it does not build
        self.ran = 0  # test cases in the last run

    def configure(self):
        gen = ["-G", "Ninja"] if shutil.which("ninja") else []
        cmd = ["cmake", "-S", self.root, "-B", self.build, *gen, "-DCMAKE_BUILD_TYPE=Release",
               "-DORBIMG_BUILD_BENCH=OFF", "-DORBIMG_BUILD_EXAMPLES=OFF", "-DORBIMG_BUILD_FUZZ=OFF"]
        if shutil.which("ccache"):
            cmd.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        if run(cmd, log=self.log, lock=self.args.lock) != 0:
            sys.exit(f"configuring {self.root} failed (see {self.log})")

    def test(self, label, skip=None):
        """Failing tests of a label after building its program; None when the
        build fails. With `skip` (the tests that fail without a fault), those
        are left out and the run stops at the first failure."""
        self.ran = 0
        target = f"test_{label}"
        if run(["cmake", "--build", self.build, "-j", str(self.args.jobs), "--target", target],
               log=self.log, lock=self.args.lock) != 0:
            return None
        junit = os.path.join(self.build, f"faultplant-{label}.xml")
        if os.path.exists(junit):
            os.remove(junit)
        cmd = ["ctest", "--test-dir", self.build, "-j", str(self.args.jobs), "-L", f"^{label}$",
               "--timeout", str(self.args.timeout), "--output-junit", junit]
        if skip is not None:
            cmd.append("--stop-on-failure")
            names = [re.escape(n) for n in sorted(skip) if n != "(ctest)"]
            cmd += ["-E", "^(" + "|".join(names) + ")$"] if names else []
        status = run(cmd, log=self.log, lock=self.args.lock)
        failed = set()
        if os.path.exists(junit):
            for case in ET.parse(junit).getroot().iter("testcase"):
                self.ran += 1
                if case.get("status") not in ("run", "disabled"):
                    failed.add(case.get("name"))
        if status != 0 and not failed:
            failed.add("(ctest)")
        return failed

    def verdict(self, label):
        base = self.baseline.get(label)
        if base is None:
            return "n/a"
        failed = self.test(label, skip=base)
        if failed is None:
            return "caught (build)"
        return "caught" if failed - base else "missed"


@contextlib.contextmanager
def planted(trees, path, old, new):
    originals = []
    try:
        for tree in trees:
            full = os.path.join(tree.root, path)
            with open(full, encoding="utf-8") as f:
                text = f.read()
            originals.append((full, text))
            with open(full, "w", encoding="utf-8") as f:
                f.write(text.replace(old, new, 1))
        yield
    finally:
        for full, text in originals:
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--old", help="revision whose tests are the old suite")
    ap.add_argument("--new", default="worktree", help="revision whose tests are the new suite (default: this tree)")
    ap.add_argument("--only", help="comma-separated fault ids")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=int, default=120, help="seconds per test")
    ap.add_argument("--workdir", default="/tmp/orbimg-faultplant")
    ap.add_argument("--lock", default="/tmp/orbimg-cpu.lock", help="CPU lock file ('' for none)")
    ap.add_argument("--list", action="store_true", help="print the faults")
    ap.add_argument("--check", action="store_true", help="only check that every fault applies")
    args = ap.parse_args()

    faults = FAULTS
    if args.only:
        ids = args.only.split(",")
        unknown = set(ids) - {f[0] for f in FAULTS}
        if unknown:
            sys.exit("unknown fault ids: " + ", ".join(sorted(unknown)))
        faults = [f for f in FAULTS if f[0] in ids]
    if args.list:
        for fid, label, path, _, _, what in faults:
            print(f"{fid:20} {label:10} {path:34} {what}")
        print(f"{len(faults)} faults")
        return 0
    sources = tracked_files()
    problems = check_faults(faults, sources)
    for p in problems:
        print("fault does not apply:", p, file=sys.stderr)
    if args.check:
        print(f"{len(faults) - len(problems)} of {len(faults)} faults apply")
        return 1 if problems else 0
    if problems:
        return 2
    if not args.old:
        ap.error("--old REV is required")

    os.makedirs(args.workdir, exist_ok=True)
    # Both trees compile the same library sources: ccache shares them when
    # paths are taken relative to the work directory.
    os.environ["CCACHE_BASEDIR"] = os.path.abspath(args.workdir)
    new_tests = ({p: b for p, b in sources.items() if in_tests(p)} if args.new == "worktree"
                 else tracked_files(args.new))
    trees = [Tree("old", os.path.join(args.workdir, "old"), args), Tree("new", os.path.join(args.workdir, "new"), args)]
    for tree, tests in zip(trees, [tracked_files(args.old), new_tests]):
        sync_tree(tree.root, sources, tests)
        tree.configure()
    labels = sorted({f[1] for f in faults})
    for tree in trees:
        for label in labels:
            tree.baseline[label] = tree.test(label)
            base = tree.baseline[label]
            if base is None:
                print(f"warning: {tree.name} suite: test_{label} does not build without a fault", file=sys.stderr)
            elif base:
                print(f"warning: {tree.name} suite fails without a fault: {', '.join(sorted(base))}", file=sys.stderr)
            if not tree.ran:
                print(f"warning: {tree.name} suite has no tests labelled {label}", file=sys.stderr)

    rows, lost = [], 0

    def table():
        return "\n".join(["| id | module | file | fault | old suite | new suite |", "|---|---|---|---|---|---|",
                          *rows, "", f"lost: {lost}"])

    try:
        for n, (fid, label, path, old, new, what) in enumerate(faults, 1):
            with planted(trees, path, old, new):
                verdicts = [tree.verdict(label) for tree in trees]
            print(f"[{n}/{len(faults)}] {fid}: old {verdicts[0]}, new {verdicts[1]}", file=sys.stderr, flush=True)
            lost += verdicts[0].startswith("caught") and not verdicts[1].startswith("caught")
            module = "tool" if path.startswith("tools/") else path.split("/")[0]
            rows.append(f"| {fid} | {module} | {path} | {what} | {verdicts[0]} | {verdicts[1]} |")
            with open(os.path.join(args.workdir, "faults.md"), "w") as f:
                f.write(table() + "\n")
    except KeyboardInterrupt:
        print("interrupted: the table holds the faults run so far", file=sys.stderr)
    print(table())
    return 1 if lost else 0


if __name__ == "__main__":
    sys.exit(main())
