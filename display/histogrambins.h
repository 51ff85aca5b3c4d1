// Bin indexes of histogram runs (internal): the value window, the display
// luminance, and the kernels that turn a run of samples into bin indexes,
// built for every instruction set (platform/simd.h) with the same indexes.
#pragma once

namespace orbimg::detail {

/// The value window and its bins: v counts when lo <= v <= hi, in bin
/// trunc((v - lo) * scale) clamped to 0 .. bins - 1.
struct BinMap {
    double lo;
    double hi;
    double scale;
    double top;   // bins, as a double
    double last;  // bins - 1, as a double
    int bins;

    BinMap(int binCount, double low, double high)
        : lo(low), hi(high), scale(binCount / (high - low)), top(binCount), last(binCount - 1.0), bins(binCount)
    {
    }

    /// Bin of v, or `bins` (the spare counter) when v is outside the window
    /// or NaN. Branch-free so that runs of it vectorise.
    int Index(double v) const
    {
        double t = (v - lo) * scale;
        t = t > 0.0 ? t : 0.0;  // also takes a NaN product (0 x inf) to 0
        t = t < top ? t : last;
        const int b = static_cast<int>(t);
        return ((lo <= v) & (v <= hi)) ? b : bins;
    }
};

/// Display luminance of the histogram: each plane to the 0..255 scale in
/// float, (s - m_p) x k_p, then 0.587 G' + 0.299 R' + 0.114 B' in double.
struct LumaMap {
    float m[3];
    float k[3];

    double Luma(float r, float g, float b) const
    {
        const float rr = (r - m[0]) * k[0];
        const float gg = (g - m[1]) * k[1];
        const float bb = (b - m[2]) * k[2];
        return 0.587 * static_cast<double>(gg) + 0.299 * static_cast<double>(rr) + 0.114 * static_cast<double>(bb);
    }
};

/// index[i] = map.Index(s[i]) for i < n.
void PlaneBins(const float* s, int n, const BinMap& map, int* index);

/// index[i] = map.Index(luma.Luma(r[i], g[i], b[i])) for i < n.
void LumaBins(const float* r, const float* g, const float* b, int n, const LumaMap& luma, const BinMap& map,
              int* index);

}  // namespace orbimg::detail
