// The display luminance of runs of colour pixels for the auto-level passes,
// bit for bit GetPixelBright256f and GetPixelBrightRaw. Not part of the
// exported interface.
//
// Conventions
//   - Every value is computed as the pixel functions compute it: each plane
//     to the 0..255 scale, (s - min) / range * 255 in double, rounded to
//     float; 0.587 G' + 0.299 R' + 0.114 B' in double, rounded to float; on
//     the raw scale Y / 255 * range0 + min0 in double, rounded to float.
//   - Two routes give the same bits in every build (platform/simd.h): the
//     divided one (the divisions as written), and the proven one of the
//     vector builds, which proves each division's result from products
//     (see lumakernels.cpp) and divides only where the proof does not go
//     through. The plain build has the divided route only.
//   - The sums add their terms one by one in window order, as a plain loop
//     would; only the work on independent values is done side by side.
//   - NaN samples give NaN values, with the payload the divisions give.
#pragma once

#include "image/kelimage.h"

namespace orbimg::detail {

/// The routes of the luminance kernels.
enum class LumaRoute {
    Proven,   ///< products in place of the divisions where the result is proven equal
    Divided,  ///< the divisions as written
};

struct LumaKernels;

/// The levels of the three planes as the kernels take them.
struct LumaLevels {
    double min[3];
    double range[3];
    double below[3];  // bounds of the proven route (lumakernels.cpp)
    double above[3];
};

/// The display luminance of runs of colour pixels, with the levels read once.
class DisplayLuma {
public:
    /// Levels read from the image; the kernels of the build in use
    /// (platform/simd.h) on `route`. The proven route gives way to the
    /// divided one for levels it does not cover: a level min that is not
    /// finite, or a level range outside 2^-1000 .. 2^1000 in magnitude (0,
    /// NaN, inf).
    explicit DisplayLuma(const CKelImage& image, LumaRoute route = LumaRoute::Proven);
    /// The route the kernels of this object take.
    LumaRoute Route() const { return m_route; }
    /// n values of GetPixelBright256f(r + i, g + i, b + i) into out.
    void To256(const float* r, const float* g, const float* b, int n, float* out) const;
    /// n values of GetPixelBrightRaw(r + i, g + i, b + i) into out.
    void ToRaw(const float* r, const float* g, const float* b, int n, float* out) const;
    /// Adds each of the n values of GetPixelBrightRaw(r + i, g + i, b + i)
    /// that is not NaN, widened to double, to sum, one by one in order;
    /// returns how many were added. sum must not be -0.0 (NaN values add
    /// +0.0 in their place, which leaves any other sum unchanged).
    long long SumRaw(const float* r, const float* g, const float* b, int n, double& sum) const;
    /// The same with (v - center)^2 in place of each value v.
    long long SumRawSquares(const float* r, const float* g, const float* b, int n, double center, double& sum) const;

private:
    LumaLevels m_levels;
    LumaRoute m_route;
    const LumaKernels* m_kernels;
};

/// y[i] / 255.0 (y widened to double, correctly rounded) for n values, by
/// the route ToRaw takes on the proven route in the build in use; for the
/// exhaustive check of the proven route.
void DivideBy255(const float* y, int n, double* out);

}  // namespace orbimg::detail
