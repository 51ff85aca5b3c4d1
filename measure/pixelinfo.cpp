// CImgPixelInfo: box, rectangle, sky and star statistics per plane, and the
// FWHM of the star nearest a point.
#include "measure/pixelinfo.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "measure/psf.h"

namespace {

constexpr double kPi = 3.141592653589793;

/// Half side of CalcFWHM's search box.
constexpr int kFwhmSearch = 10;

/// The five statistics of one plane.
struct Stats {
    double max;
    double min;
    double mean;
    double stddev;
    double median;
};

/// Sets entries 0 .. 2 of an output array to 0.0 (a null array is skipped).
void ClearEntries(double* out)
{
    if (out) {
        out[0] = 0.0;
        out[1] = 0.0;
        out[2] = 0.0;
    }
}

/// The caller's five output arrays.
struct Outputs {
    double* max;
    double* min;
    double* mean;
    double* stddev;
    double* median;

    void Clear() const
    {
        for (double* out : {max, min, mean, stddev, median}) {
            ClearEntries(out);
        }
    }
    void Write(int plane, const Stats& s) const
    {
        const std::pair<double*, double> items[] = {
            {max, s.max}, {min, s.min}, {mean, s.mean}, {stddev, s.stddev}, {median, s.median}};
        for (const auto& [out, value] : items) {
            if (out) {
                out[plane] = value;
            }
        }
    }
};

/// Planes measured: those of the image, at most the three of the outputs.
int MeasuredPlanes(const CKelImage& image) { return std::clamp(image.GetPlanes(), 0, 3); }

int Saturate(long long v) { return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX)); }

/// A rectangle clamped to the image; empty when it holds no pixel.
struct Box {
    int left;
    int top;
    int right;
    int bottom;
    bool Empty() const { return right <= left || bottom <= top; }
};

Box ClampRect(CKelImage& image, CRect rect)
{
    Box b{};
    image.NormalizeRect(&rect, b.left, b.top, b.right, b.bottom);
    return b;
}

/// True when the rectangle as given has an area of exactly one pixel.
bool IsSingleSample(const CRect& rect)
{
    // w x h = 1 in whole numbers only for 1 x 1 and -1 x -1; the product
    // itself would overflow for corners near the ends of the int range.
    const long long w = static_cast<long long>(rect.right) - rect.left;
    const long long h = static_cast<long long>(rect.bottom) - rect.top;
    return (w == 1 && h == 1) || (w == -1 && h == -1);
}

/// Calls fn(row, count) for each row of the box in one plane.
template <class Fn>
void VisitBox(const CKelImage& image, const Box& b, int plane, Fn&& fn)
{
    for (int row = b.top; row < b.bottom; ++row) {
        const float* s = image.GetImageAdr(b.left, row, plane, 0, nullptr);
        if (s) {
            fn(s, b.right - b.left);
        }
    }
}

/// Largest k >= 0 with k * k <= v (v >= 0).
long long ISqrt(long long v)
{
    long long k = static_cast<long long>(std::sqrt(static_cast<double>(v)));
    while (k > 0 && k * k > v) {
        --k;
    }
    while ((k + 1) * (k + 1) <= v) {
        ++k;
    }
    return k;
}

/// Calls fn(row, count) for the span of each row of the circle of `radius`
/// about (x, y) in one plane: the columns with dx^2 + dy^2 < radius^2,
/// clamped to the image. Nothing for a radius below 1 or a centre outside.
template <class Fn>
void VisitCircle(const CKelImage& image, int x, int y, int radius, int plane, Fn&& fn)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    if (radius < 1 || x < 0 || y < 0 || x >= width || y >= height) {
        return;
    }
    const long long r = radius;
    const long long r2 = r * r;
    // Rows with |dy| < r: the box's first row (dy = -r) holds no pixel.
    const int top = static_cast<int>(std::max<long long>(y - r + 1, 0));
    const int bottom = static_cast<int>(std::min<long long>(y + r, height));
    for (int row = top; row < bottom; ++row) {
        const long long dy = row - y;
        // r^2 - dy^2 >= 2r - 1 >= 1: the span holds the centre column.
        const long long k = ISqrt(r2 - dy * dy - 1);
        const int left = static_cast<int>(std::max<long long>(x - k, 0));
        const int right = static_cast<int>(std::min<long long>(x + k + 1, width));
        const float* s = image.GetImageAdr(left, row, plane, 0, nullptr);
        if (s) {
            fn(s, right - left);
        }
    }
}

/// Appends the finite samples of a row span.
auto FiniteInto(std::vector<float>& out)
{
    return [&out](const float* s, int count) {
        for (int i = 0; i < count; ++i) {
            if (std::isfinite(s[i])) {
                out.push_back(s[i]);
            }
        }
    };
}

/// Truncation toward zero to an integer, saturating; NaN gives 0.
long long TruncSaturate(double v)
{
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= 9.0e18) {
        return LLONG_MAX;
    }
    if (v <= -9.0e18) {
        return LLONG_MIN;
    }
    return static_cast<long long>(v);
}

/// Kept indices lo .. hi (inclusive) of n >= 1 sorted values trimmed about
/// their median.
std::pair<std::size_t, std::size_t> TrimIndices(std::size_t n, double upper, double lower)
{
    const long long count = static_cast<long long>(n);
    const double dn = static_cast<double>(count);
    long long lo = TruncSaturate(dn * (1.0 - lower) * 0.5);
    lo = std::max(lo, 0LL);
    lo = std::min(lo, count / 2);
    long long hi = TruncSaturate(dn * (upper + 1.0) * 0.5);
    hi = std::max(hi, count / 2 + 1);
    hi = std::min(hi, count - 1);
    return {static_cast<std::size_t>(lo), static_cast<std::size_t>(hi)};
}

/// Rearranges v so that v[lo .. hi] hold, in order, the values that a full
/// ascending sort puts there (lo <= hi < size).
void SelectSorted(std::vector<float>& v, std::size_t lo, std::size_t hi)
{
    const auto b = v.begin();
    const auto at = [&b](std::size_t i) { return b + static_cast<std::ptrdiff_t>(i); };
    if (lo > 0) {
        // [lo, end) now holds exactly the values of sorted positions lo ..
        std::nth_element(b, at(lo), v.end());
    }
    if (hi + 1 < v.size()) {
        // v[hi] in place, [lo, hi) holds the values below it.
        std::nth_element(at(lo), at(hi), v.end());
        std::sort(at(lo), at(hi));
    } else {
        std::sort(at(lo), v.end());
    }
}

/// Statistics of sorted kept values (at least one): extremes from the first
/// kept value, sums in ascending order, median at index m / 2.
Stats KeptStats(std::span<const float> kept)
{
    float max = kept[0];
    float min = kept[0];
    double sum = 0.0;
    for (const float v : kept) {
        if (v > max) {
            max = v;
        }
        if (v < min) {
            min = v;
        }
        sum += static_cast<double>(v);
    }
    const double m = static_cast<double>(kept.size());
    const double mean = sum / m;
    double squares = 0.0;
    for (const float v : kept) {
        const double d = static_cast<double>(v) - mean;
        squares += d * d;
    }
    return {max, min, mean, std::sqrt(squares / m), kept[kept.size() / 2]};
}

/// Statistics of the non-empty values trimmed about their median.
Stats TrimmedStats(std::vector<float>& values, double upper, double lower)
{
    const auto [lo, hi] = TrimIndices(values.size(), upper, lower);
    SelectSorted(values, lo, hi);
    return KeptStats(std::span<const float>(values.data() + lo, hi - lo + 1));
}

/// The single-sample case: the sample at (x, y) of each plane, where it lies
/// inside the image and is finite.
void WriteSingleSample(const CKelImage& image, int x, int y, const Outputs& out)
{
    for (int p = 0; p < MeasuredPlanes(image); ++p) {
        const float* s = image.GetImageAdr(x, y, p, 0, nullptr);
        if (s && std::isfinite(*s)) {
            const double v = *s;
            out.Write(p, {v, v, v, 0.0, v});
        }
    }
}

/// Clears the outputs and measures each plane of the clamped rectangle with
/// measure(plane, box), which gives the plane's statistics or nothing. With
/// `single`, a rectangle of area 1 as given reads its one sample instead.
template <class Measure>
void MeasureRect(CKelImage& image, const CRect& rect, bool single, const Outputs& out, Measure&& measure)
{
    out.Clear();
    if (single && IsSingleSample(rect)) {
        WriteSingleSample(image, rect.left, rect.top, out);
        return;
    }
    const Box box = ClampRect(image, rect);
    if (box.Empty()) {
        return;
    }
    for (int p = 0; p < MeasuredPlanes(image); ++p) {
        if (const std::optional<Stats> s = measure(p, box)) {
            out.Write(p, *s);
        }
    }
}

}  // namespace

void CImgPixelInfo::Calc(CPoint pt, int size, double* max, double* min, double* mean, double* stddev, double* median)
{
    const long long h = size / 2;
    const long long x = pt.x;
    const long long y = pt.y;
    const CRect rect(Saturate(x - h), Saturate(y - h), Saturate(x + 1 + h), Saturate(y + 1 + h));
    Calc(rect, max, min, mean, stddev, median);
}

void CImgPixelInfo::Calc(CRect rect, double* max, double* min, double* mean, double* stddev, double* median)
{
    std::vector<float> values;
    const Outputs out{max, min, mean, stddev, median};
    MeasureRect(*this, rect, true, out, [&](int p, const Box& box) -> std::optional<Stats> {
        // Pass 1, in row order: extremes and sum (and the values to select
        // the median from). Starting from -inf / +inf, the first finite
        // sample becomes both extremes.
        values.clear();
        float hi = -INFINITY;
        float lo = INFINITY;
        double sum = 0.0;
        std::size_t count = 0;
        VisitBox(*this, box, p, [&](const float* s, int n) {
            for (int i = 0; i < n; ++i) {
                const float v = s[i];
                if (!std::isfinite(v)) {
                    continue;
                }
                if (v > hi) {
                    hi = v;
                }
                if (v < lo) {
                    lo = v;
                }
                sum += static_cast<double>(v);
                ++count;
                if (median) {
                    values.push_back(v);
                }
            }
        });
        if (count == 0) {
            return std::nullopt;
        }
        const double m = sum / static_cast<double>(count);

        // Pass 2, in the same order: squared deviations.
        double squares = 0.0;
        const auto deviations = [&](const float* s, int n) {
            for (int i = 0; i < n; ++i) {
                if (std::isfinite(s[i])) {
                    const double d = static_cast<double>(s[i]) - m;
                    squares += d * d;
                }
            }
        };
        if (median) {
            deviations(values.data(), static_cast<int>(values.size()));
        } else {
            VisitBox(*this, box, p, deviations);
        }

        double med = 0.0;
        if (median) {
            const auto mid = values.begin() + static_cast<std::ptrdiff_t>(count / 2);
            std::nth_element(values.begin(), mid, values.end());
            med = *mid;
        }
        return Stats{hi, lo, m, std::sqrt(squares / static_cast<double>(count)), med};
    });
}

void CImgPixelInfo::CalcSky(CRect rect, double* max, double* min, double* mean, double* stddev, double* median)
{
    std::vector<float> values;
    const Outputs out{max, min, mean, stddev, median};
    MeasureRect(*this, rect, true, out, [&](int p, const Box& box) -> std::optional<Stats> {
        values.clear();
        VisitBox(*this, box, p, FiniteInto(values));
        const std::size_t kept = values.size() / 2;
        if (kept == 0) {
            return std::nullopt;
        }
        SelectSorted(values, 0, kept - 1);
        return KeptStats(std::span<const float>(values.data(), kept));
    });
}

void CImgPixelInfo::CalcSky(int x, int y, int radius, double upper, double lower, double* max, double* min,
                            double* mean, double* stddev, double* median)
{
    const Outputs out{max, min, mean, stddev, median};
    out.Clear();
    std::vector<float> values;
    for (int p = 0; p < MeasuredPlanes(*this); ++p) {
        values.clear();
        VisitCircle(*this, x, y, radius, p, FiniteInto(values));
        if (!values.empty()) {
            out.Write(p, TrimmedStats(values, upper, lower));
        }
    }
}

void CImgPixelInfo::CalcSky(CRect rect, double upper, double lower, double* max, double* min, double* mean,
                            double* stddev, double* median)
{
    std::vector<float> values;
    const Outputs out{max, min, mean, stddev, median};
    MeasureRect(*this, rect, false, out, [&](int p, const Box& box) -> std::optional<Stats> {
        values.clear();
        VisitBox(*this, box, p, FiniteInto(values));
        if (values.empty()) {
            return std::nullopt;
        }
        return TrimmedStats(values, upper, lower);
    });
}

void CImgPixelInfo::CalcStar(int x, int y, int radius, double upper, double lower, double* max, double* min,
                             double* mean, double* stddev, double* median, double* sixth, double* diameter)
{
    const Outputs out{max, min, mean, stddev, median};
    out.Clear();
    ClearEntries(sixth);
    ClearEntries(diameter);
    std::vector<float> values;
    for (int p = 0; p < MeasuredPlanes(*this); ++p) {
        values.clear();
        VisitCircle(*this, x, y, radius, p, FiniteInto(values));
        if (values.empty()) {
            continue;
        }
        const double peak = *std::max_element(values.begin(), values.end());
        const Stats s = TrimmedStats(values, upper, lower);
        out.Write(p, s);
        const double threshold = (s.median + peak) * 0.5;
        const auto count = std::count_if(values.begin(), values.end(),
                                         [threshold](float v) { return static_cast<double>(v) > threshold; });
        if (diameter) {
            diameter[p] = 2.0 * std::sqrt(static_cast<double>(count) / kPi);
        }
    }
}

void CImgPixelInfo::CalcFWHM(int x, int y, double* fwhm)
{
    if (!fwhm) {
        return;
    }
    PSF psf(this);
    CRect box(Saturate(static_cast<long long>(x) - kFwhmSearch), Saturate(static_cast<long long>(y) - kFwhmSearch),
              Saturate(static_cast<long long>(x) + kFwhmSearch), Saturate(static_cast<long long>(y) + kFwhmSearch));
    int px = -1;
    int py = -1;
    GetMaxPixel(0, &box, px, py);
    if (px < 0 || py < 0 || !psf.Add(CPoint(px, py))) {
        *fwhm = 0.0;
        return;
    }
    psf.GetMeanFWHM(fwhm);
}
