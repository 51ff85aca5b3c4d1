// The luminance kernels behind DisplayLuma (luma.h): a table of entry
// points per route, and the divisions as written, which the proven route
// takes where it does not prove its own result. Internal to autolevel/.
#pragma once

#include "autolevel/luma.h"

namespace orbimg::detail {

/// The entry points of one route; the arguments as in DisplayLuma.
struct LumaKernels {
    void (*to256)(const float* r, const float* g, const float* b, int n, float* out, const LumaLevels& lv);
    void (*toRaw)(const float* r, const float* g, const float* b, int n, float* out, const LumaLevels& lv);
    long long (*sumRaw)(const float* r, const float* g, const float* b, int n, const LumaLevels& lv, double& sum);
    long long (*sumRawSquares)(const float* r, const float* g, const float* b, int n, const LumaLevels& lv,
                               double center, double& sum);
    void (*divideBy255)(const float* y, int n, double* out);
};

/// The kernels of `route` in the build in use (lumakernels.cpp).
const LumaKernels& KernelsOf(LumaRoute route);

/// The display luminance of n pixels (on the raw scale of plane 0 when
/// kRaw is set), the divisions as written. Each element is computed alone,
/// in the order GetPixelBright256f and GetPixelBrightRaw use, so every
/// build gives the same bits.
template <bool kRaw>
[[gnu::always_inline]] inline void Divided(const float* r, const float* g, const float* b, int n, float* out,
                                           const LumaLevels& lv)
{
    const double min0 = lv.min[0];
    const double min1 = lv.min[1];
    const double min2 = lv.min[2];
    const double range0 = lv.range[0];
    const double range1 = lv.range[1];
    const double range2 = lv.range[2];
    for (int i = 0; i < n; ++i) {
        const float rr = static_cast<float>((static_cast<double>(r[i]) - min0) / range0 * 255.0);
        const float gg = static_cast<float>((static_cast<double>(g[i]) - min1) / range1 * 255.0);
        const float bb = static_cast<float>((static_cast<double>(b[i]) - min2) / range2 * 255.0);
        out[i] = static_cast<float>(0.587 * static_cast<double>(gg) + 0.299 * static_cast<double>(rr) +
                                    0.114 * static_cast<double>(bb));
    }
    if constexpr (kRaw) {
        for (int i = 0; i < n; ++i) {
            out[i] = static_cast<float>(static_cast<double>(out[i]) / 255.0 * range0 + min0);
        }
    }
}

/// Adds one value v (or (v - center)^2 when kSquares) to sum unless it is
/// NaN; returns 1 when added.
template <bool kSquares>
[[gnu::always_inline]] inline int AddOne(float v, double center, double& sum)
{
    if (v != v) {
        return 0;
    }
    double x = static_cast<double>(v);
    if constexpr (kSquares) {
        x = (x - center) * (x - center);
    }
    sum += x;
    return 1;
}

}  // namespace orbimg::detail
