// Pieces shared by the auto-level methods: the clipped window, the sample
// sets of a window walked in runs, their extremes and sums, and the median
// choice. Not part of the exported interface.
//
// Conventions
//   - Runs come in window order (rows from top, each from left to right),
//     so sums over them are taken in window order.
//   - NaN values are skipped by every reduction here; the counts returned
//     are the counts of values that are not NaN.
//   - A row that does not exist (a plane the image lacks) is skipped.
#pragma once

#include <algorithm>
#include <vector>

#include "autolevel/luma.h"
#include "image/kelimage.h"

namespace orbimg::detail {

/// A clipped window of an image; right and bottom exclusive.
struct Window {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right > left ? right - left : 0; }
    int Height() const { return bottom > top ? bottom - top : 0; }
    long long Pixels() const { return static_cast<long long>(Width()) * Height(); }
    bool Empty() const { return Pixels() == 0; }
};

/// rect clipped to the image as NormalizeRect does (null: the whole image).
Window ClipWindow(CKelImage& image, CRect* rect);

/// The values a pass over a window reads.
enum class SampleSet {
    Plane,    ///< the samples of one plane
    Luma256,  ///< display luminance, 0..255 scale (GetPixelBright256f)
    LumaRaw,  ///< display luminance on the raw scale of plane 0, rounded to float
};

/// Pixels per run of computed values (the run buffer is on the stack). The
/// sums take short runs, which let the arithmetic of the next run proceed
/// while the sequential sum over this one waits on its chain of additions
/// (the raw luminance is summed inside its kernels instead, see luma.h);
/// the extremes, whose lanes do not wait, take long ones.
constexpr int kSumRun = 32;
constexpr int kLongRun = 256;

/// Calls f(r, g, b, width) with the three plane rows of every row of the
/// window that has them, in window order.
template <class F>
void ForEachColorRow(const CKelImage& image, const Window& w, F&& f)
{
    if (w.Empty()) {
        return;
    }
    for (int y = w.top; y < w.bottom; ++y) {
        const float* r = image.GetImageAdr(w.left, y, 0, 1, nullptr);
        const float* g = image.GetImageAdr(w.left, y, 1, 1, nullptr);
        const float* b = image.GetImageAdr(w.left, y, 2, 1, nullptr);
        if (r && g && b) {
            f(r, g, b, w.Width());
        }
    }
}

/// Calls f(const float* values, int n) for every value of the window, in
/// window order, a row (plane samples) or a run of at most `run` (up to
/// kLongRun) computed values at a time. `plane` is used by SampleSet::Plane
/// only.
template <class F>
void ForEachRun(const CKelImage& image, const Window& w, SampleSet set, int plane, int run, F&& f)
{
    run = std::clamp(run, 1, kLongRun);
    if (w.Empty()) {
        return;
    }
    if (set == SampleSet::Plane) {
        for (int y = w.top; y < w.bottom; ++y) {
            if (const float* row = image.GetImageAdr(w.left, y, plane, 1, nullptr)) {
                f(row, w.Width());
            }
        }
        return;
    }
    const DisplayLuma luma(image);
    float values[kLongRun];
    ForEachColorRow(image, w, [&](const float* r, const float* g, const float* b, int width) {
        for (int x = 0; x < width; x += run) {
            const int n = std::min(run, width - x);
            if (set == SampleSet::Luma256) {
                luma.To256(r + x, g + x, b + x, n, values);
            } else {
                luma.ToRaw(r + x, g + x, b + x, n, values);
            }
            f(static_cast<const float*>(values), n);
        }
    });
}

/// Smallest and largest value (first one kept among equals) and the count
/// of values; min and max are 0 when the count is 0.
struct Extremes {
    float min = 0.0f;
    float max = 0.0f;
    long long count = 0;
};
Extremes FindExtremes(const CKelImage& image, const Window& w, SampleSet set, int plane);

/// A double sum in window order and the count of its terms.
struct Sum {
    double value = 0.0;
    long long count = 0;
};
/// Sum of the values, each widened to double.
Sum SumValues(const CKelImage& image, const Window& w, SampleSet set, int plane);
/// Sum of (v - center)^2, each v widened to double.
Sum SumSquares(const CKelImage& image, const Window& w, SampleSet set, int plane, double center);
/// sqrt(SumSquares / count): the root-mean-square deviation from center;
/// false (deviation untouched) when there is no value.
bool RmsDeviation(const CKelImage& image, const Window& w, SampleSet set, int plane, double center, double& deviation);

/// The value at index size / 2 of the values in ascending order (the upper
/// middle one for an even size); values holds no NaN and is not empty. The
/// order of the values is changed.
inline double UpperMedian(std::vector<double>& values)
{
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

/// The count of the finite samples of row[0 .. n); their least and greatest
/// are taken into lo and hi (which start at +inf and -inf, or at earlier
/// extremes). A zero extreme may come out as +0 or -0, whichever lanes met.
long long FiniteExtremes(const float* row, int n, float& lo, float& hi);

/// The figures the auto stretch takes from one plane of a window: the count
/// of finite samples (NaN and infinities are left out), their extremes, the
/// median (the sample of rank count / 2 in ascending order, 0-based) and the
/// MAD (the deviation |v - median|, in double, of rank count / 2). All are 0
/// when the count is 0.
struct StretchFigures {
    long long count = 0;
    double min = 0.0;
    double max = 0.0;
    double median = 0.0;
    double mad = 0.0;
};

/// A guess of a plane's median and MAD, which only sets where the exact
/// figures are looked for first.
struct StretchGuess {
    double median = 0.0;
    double mad = 0.0;
};

/// The exact StretchFigures of `plane` over `w`, in two passes over the
/// samples when the median and the MAD fall near `guess` (null: guessed
/// here from a subsample) and in up to four otherwise; any guess, even NaN,
/// gives the same figures.
StretchFigures MeasureStretchFigures(const CKelImage& image, int plane, const Window& w,
                                     const StretchGuess* guess = nullptr);

}  // namespace orbimg::detail
