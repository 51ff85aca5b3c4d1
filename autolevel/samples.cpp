// The sample sets of the auto-level methods: the clipped window, extremes
// and the double sums over a window, over row bands on every core (serial
// while the store is partly swapped out); the sums keep window order, bit
// for bit (platform/orderedsum.h).
#include "autolevel/samples.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/orderedsum.h"
#include "platform/rowbands.h"

namespace orbimg::detail {

Window ClipWindow(CKelImage& image, CRect* rect)
{
    Window w;
    image.NormalizeRect(rect, w.left, w.top, w.right, w.bottom);
    return w;
}

namespace {

using orbimg::platform::ForRowBands;
using orbimg::platform::OrderedSum;
using orbimg::platform::RowBandsParallel;
using orbimg::platform::SumTerms;

/// Computed values per slab: the sums take the luminance of a slab of rows
/// of about this many values at a time.
constexpr long long kSlabValues = 1 << 20;

/// Calls f(band) for bands of consecutive rows of the window, in parallel
/// (see platform/rowbands.h).
template <class F>
void ForWindowBands(const Window& w, const F& f)
{
    if (w.Empty()) {
        return;
    }
    ForRowBands(w.top, w.bottom, [&](int begin, int end) {
        Window band = w;
        band.top = begin;
        band.bottom = end;
        f(band);
    });
}

/// Adds the values of the window to `sum` in window order: plane rows as
/// they are, computed values made row by row where the sum reduces them,
/// a slab of rows at a time.
void AddWindow(const CKelImage& image, const Window& w, SampleSet set, int plane, OrderedSum& sum)
{
    if (w.Empty()) {
        return;
    }
    const int width = w.Width();
    if (set == SampleSet::Plane) {
        std::vector<const float*> rows(static_cast<std::size_t>(w.Height()));
        for (int y = w.top; y < w.bottom; ++y) {
            rows[static_cast<std::size_t>(y - w.top)] = image.GetImageAdr(w.left, y, plane, 1, nullptr);
        }
        sum.AddRows(rows.data(), w.Height(), width);
        return;
    }
    const DisplayLuma luma(image);
    const int slabRows = static_cast<int>(std::clamp<long long>(kSlabValues / width, 1, w.Height()));
    for (int top = w.top; top < w.bottom; top += slabRows) {
        const auto row = [&](int i, float* out) -> const float* {
            const int y = top + i;
            const float* r = image.GetImageAdr(w.left, y, 0, 1, nullptr);
            const float* g = image.GetImageAdr(w.left, y, 1, 1, nullptr);
            const float* b = image.GetImageAdr(w.left, y, 2, 1, nullptr);
            if (!(r && g && b)) {
                return nullptr;
            }
            if (set == SampleSet::Luma256) {
                luma.To256(r, g, b, width, out);
            } else {
                luma.ToRaw(r, g, b, width, out);
            }
            return out;
        };
        sum.AddRows(row, std::min(slabRows, w.bottom - top), width);
    }
}

/// Running extremes in kLanes independent lanes (value i goes to lane
/// i % kLanes within a run), so that the compares do not wait on each other.
/// The smallest (largest) value does not depend on the order; only the sign
/// of a zero does, which FirstZero settles.
struct LaneExtremes {
    static constexpr int kLanes = 8;
    float min[kLanes];
    float max[kLanes];
    long long count = 0;
    bool started = false;

    void Add(const float* v, int n)
    {
        int i = 0;
        if (!started) {
            // Every lane starts at the first value that is not NaN.
            while (i < n && v[i] != v[i]) {
                ++i;
            }
            if (i == n) {
                return;
            }
            std::fill(min, min + kLanes, v[i]);
            std::fill(max, max + kLanes, v[i]);
            started = true;
        }
        float lo[kLanes];
        float hi[kLanes];
        long long counts[kLanes] = {};
        std::copy(min, min + kLanes, lo);
        std::copy(max, max + kLanes, hi);
        for (; i + kLanes <= n; i += kLanes) {
            for (int k = 0; k < kLanes; ++k) {
                const float x = v[i + k];
                lo[k] = x < lo[k] ? x : lo[k];  // NaN compares false: skipped
                hi[k] = x > hi[k] ? x : hi[k];
                counts[k] += (x == x);
            }
        }
        for (int k = 0; i < n; ++i, ++k) {
            const float x = v[i];
            lo[k] = x < lo[k] ? x : lo[k];
            hi[k] = x > hi[k] ? x : hi[k];
            counts[k] += (x == x);
        }
        std::copy(lo, lo + kLanes, min);
        std::copy(hi, hi + kLanes, max);
        for (const long long c : counts) {
            count += c;
        }
    }

    /// Takes in the extremes and count of another part of the values.
    void Merge(const LaneExtremes& other)
    {
        if (!other.started) {
            return;
        }
        if (!started) {
            *this = other;
            return;
        }
        for (int k = 0; k < kLanes; ++k) {
            min[k] = other.min[k] < min[k] ? other.min[k] : min[k];
            max[k] = other.max[k] > max[k] ? other.max[k] : max[k];
        }
        count += other.count;
    }
};

/// The first value equal to zero (+0 or -0) in window order; found tells
/// whether there is one.
float FirstZeroIn(const CKelImage& image, const Window& w, SampleSet set, int plane, bool& found)
{
    found = false;
    float zero = 0.0f;
    ForEachRun(image, w, set, plane, kLongRun, [&](const float* v, int n) {
        for (int i = 0; i < n && !found; ++i) {
            if (v[i] == 0.0f) {
                zero = v[i];
                found = true;
            }
        }
    });
    return zero;
}

/// The first value equal to zero in window order: the first found by the
/// band that starts highest.
float FirstZero(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    std::mutex lock;
    int top = w.bottom;
    float zero = 0.0f;
    ForWindowBands(w, [&](const Window& band) {
        bool found = false;
        const float z = FirstZeroIn(image, band, set, plane, found);
        const std::lock_guard<std::mutex> hold(lock);
        if (found && band.top < top) {
            top = band.top;
            zero = z;
        }
    });
    return zero;
}

}  // namespace

Extremes FindExtremes(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    LaneExtremes lanes;
    std::mutex lock;
    ForWindowBands(w, [&](const Window& band) {
        LaneExtremes part;
        ForEachRun(image, band, set, plane, kLongRun, [&part](const float* v, int n) { part.Add(v, n); });
        const std::lock_guard<std::mutex> hold(lock);
        lanes.Merge(part);
    });
    Extremes e;
    if (!lanes.started) {
        return e;
    }
    e.min = *std::min_element(lanes.min, lanes.min + LaneExtremes::kLanes);
    e.max = *std::max_element(lanes.max, lanes.max + LaneExtremes::kLanes);
    e.count = lanes.count;
    // A scan in window order keeps the first of equal values; equal values
    // other than zeros have the same bits.
    if (e.min == 0.0f || e.max == 0.0f) {
        const float zero = FirstZero(image, w, set, plane);
        e.min = e.min == 0.0f ? zero : e.min;
        e.max = e.max == 0.0f ? zero : e.max;
    }
    return e;
}

Sum SumValues(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    Sum s;
    if (RowBandsParallel()) {
        OrderedSum sum(SumTerms{});
        AddWindow(image, w, set, plane, sum);
        return {sum.Value(), sum.Count()};
    }
    if (set == SampleSet::LumaRaw) {
        const DisplayLuma luma(image);
        ForEachColorRow(image, w, [&](const float* r, const float* g, const float* b, int width) {
            s.count += luma.SumRaw(r, g, b, width, s.value);
        });
        return s;
    }
    ForEachRun(image, w, set, plane, kSumRun, [&s](const float* v, int n) {
        // The sum starts at +0.0 and so never becomes -0.0: adding +0.0 for
        // a NaN leaves it unchanged, bit for bit.
        double sum = s.value;
        long long count = 0;
        for (int i = 0; i < n; ++i) {
            const float x = v[i];
            sum += (x == x) ? static_cast<double>(x) : 0.0;
            count += (x == x);
        }
        s.value = sum;
        s.count += count;
    });
    return s;
}

Sum SumSquares(const CKelImage& image, const Window& w, SampleSet set, int plane, double center)
{
    Sum s;
    if (RowBandsParallel()) {
        OrderedSum sum(SumTerms{center, true, true});
        AddWindow(image, w, set, plane, sum);
        return {sum.Value(), sum.Count()};
    }
    if (set == SampleSet::LumaRaw) {
        const DisplayLuma luma(image);
        ForEachColorRow(image, w, [&](const float* r, const float* g, const float* b, int width) {
            s.count += luma.SumRawSquares(r, g, b, width, center, s.value);
        });
        return s;
    }
    ForEachRun(image, w, set, plane, kSumRun, [&s, center](const float* v, int n) {
        double sum = s.value;
        long long count = 0;
        for (int i = 0; i < n; ++i) {
            const float x = v[i];
            const double d = static_cast<double>(x) - center;
            sum += (x == x) ? d * d : 0.0;
            count += (x == x);
        }
        s.value = sum;
        s.count += count;
    });
    return s;
}

bool RmsDeviation(const CKelImage& image, const Window& w, SampleSet set, int plane, double center, double& deviation)
{
    const Sum sq = SumSquares(image, w, set, plane, center);
    if (sq.count == 0) {
        return false;
    }
    deviation = std::sqrt(sq.value / static_cast<double>(sq.count));
    return true;
}

}  // namespace orbimg::detail
