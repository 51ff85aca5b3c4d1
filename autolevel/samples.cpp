// The sample sets of the auto-level methods: display luminance of runs of
// pixels, extremes and the double sums over a window.
#include "autolevel/samples.h"

#include <cmath>

namespace orbimg::detail {

Window ClipWindow(CKelImage& image, CRect* rect)
{
    Window w;
    image.NormalizeRect(rect, w.left, w.top, w.right, w.bottom);
    return w;
}

DisplayLuma::DisplayLuma(const CKelImage& image)
{
    for (int p = 0; p < 3; ++p) {
        m_min[p] = image.GetLevelMin(p);
        m_range[p] = image.GetLevelRange(p);
    }
}

void DisplayLuma::To256(const float* r, const float* g, const float* b, int n, float* out) const
{
    const double min0 = m_min[0];
    const double min1 = m_min[1];
    const double min2 = m_min[2];
    const double range0 = m_range[0];
    const double range1 = m_range[1];
    const double range2 = m_range[2];
    for (int i = 0; i < n; ++i) {
        const float rr = static_cast<float>((static_cast<double>(r[i]) - min0) / range0 * 255.0);
        const float gg = static_cast<float>((static_cast<double>(g[i]) - min1) / range1 * 255.0);
        const float bb = static_cast<float>((static_cast<double>(b[i]) - min2) / range2 * 255.0);
        out[i] = static_cast<float>(0.587 * static_cast<double>(gg) + 0.299 * static_cast<double>(rr) +
                                    0.114 * static_cast<double>(bb));
    }
}

void DisplayLuma::ToRaw(const float* r, const float* g, const float* b, int n, float* out) const
{
    To256(r, g, b, n, out);
    const double min0 = m_min[0];
    const double range0 = m_range[0];
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<float>(static_cast<double>(out[i]) / 255.0 * range0 + min0);
    }
}

Extremes FindExtremes(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    Extremes e;
    ForEachRun(image, w, set, plane, [&e](const float* v, int n) {
        int i = 0;
        if (e.count == 0) {
            // Start at the first value that is not NaN.
            while (i < n && v[i] != v[i]) {
                ++i;
            }
            if (i == n) {
                return;
            }
            e.min = v[i];
            e.max = v[i];
            e.count = 1;
            ++i;
        }
        float min = e.min;
        float max = e.max;
        long long count = 0;
        for (; i < n; ++i) {
            const float x = v[i];
            min = x < min ? x : min;  // NaN compares false: skipped
            max = x > max ? x : max;
            count += (x == x);
        }
        e.min = min;
        e.max = max;
        e.count += count;
    });
    return e;
}

Sum SumValues(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    Sum s;
    ForEachRun(image, w, set, plane, [&s](const float* v, int n) {
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
    ForEachRun(image, w, set, plane, [&s, center](const float* v, int n) {
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
