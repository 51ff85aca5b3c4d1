// The sample sets of the auto-level methods: the clipped window, extremes
// and the double sums over a window.
#include "autolevel/samples.h"

#include <algorithm>
#include <cmath>

namespace orbimg::detail {

Window ClipWindow(CKelImage& image, CRect* rect)
{
    Window w;
    image.NormalizeRect(rect, w.left, w.top, w.right, w.bottom);
    return w;
}

namespace {

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
};

/// The first value equal to zero (+0 or -0) in window order.
float FirstZero(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    bool found = false;
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

}  // namespace

Extremes FindExtremes(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    LaneExtremes lanes;
    ForEachRun(image, w, set, plane, kLongRun, [&lanes](const float* v, int n) { lanes.Add(v, n); });
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

bool RmsDeviation(const CKelImage& image, const Window& w, SampleSet set, int plane, double center,
                  double& deviation)
{
    const Sum sq = SumSquares(image, w, set, plane, center);
    if (sq.count == 0) {
        return false;
    }
    deviation = std::sqrt(sq.value / static_cast<double>(sq.count));
    return true;
}

}  // namespace orbimg::detail
