// The display luminance of runs of colour pixels for the auto-level passes,
// bit for bit GetPixelBright256f and GetPixelBrightRaw. Not part of the
// exported interface.
//
// Conventions
//   - Every value is computed as the pixel functions compute it: each plane
//     to the 0..255 scale, (s - min) / range * 255 in double, rounded to
//     float; 0.587 G' + 0.299 R' + 0.114 B' in double, rounded to float; on
//     the raw scale Y / 255 * range0 + min0 in double, rounded to float.
//   - Four builds give the same bits: the plain one (the divisions as
//     written), an AVX2 one (the same arithmetic, wider registers), and an
//     AVX2 + FMA one and an AVX-512 one that prove each division's result
//     without dividing (see lumafast.cpp) and divide only where the proof
//     does not go through.
//   - The sums add their terms one by one in window order, as a plain loop
//     would; only the work on independent values is done side by side.
//   - NaN samples give NaN values, with the payload the divisions give.
#pragma once

#include "image/kelimage.h"

namespace orbimg::detail {

/// The builds of the luminance kernels.
enum class LumaBuild {
    Plain,   ///< any processor
    Avx2,    ///< AVX2: the same instructions, four values at a time
    Fma,     ///< AVX2 and FMA: division-free where the result is proven
    Avx512,  ///< AVX-512 (F, VL, DQ): the same as Fma, eight values at a time
};

struct LumaKernels;

/// The levels of the three planes as the kernels take them.
struct LumaLevels {
    double min[3];
    double range[3];
    double below[3];  // bounds of the division-free builds (lumafast.cpp)
    double above[3];
};

/// The display luminance of runs of colour pixels, with the levels read once.
class DisplayLuma {
public:
    /// Levels read from the image; `build` picks the kernels (by default the
    /// best the processor has). The division-free builds give way to the
    /// AVX2 one for levels they do not cover: a level min that is not
    /// finite, or a level range outside 2^-1000 .. 2^1000 in magnitude (0,
    /// NaN, inf).
    explicit DisplayLuma(const CKelImage& image, LumaBuild build = Best());
    /// The best build this processor runs.
    static LumaBuild Best();
    /// True when the processor runs `build`.
    static bool Runs(LumaBuild build);
    /// The build the kernels of this object use.
    LumaBuild Build() const { return m_build; }
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
    long long SumRawSquares(const float* r, const float* g, const float* b, int n, double center,
                            double& sum) const;

private:
    LumaLevels m_levels;
    LumaBuild m_build;
    const LumaKernels* m_kernels;
};

/// y[i] / 255.0 (y widened to double, correctly rounded) for n values, by
/// the route ToRaw takes in `build` (the processor must run it); for the
/// exhaustive check of the division-free routes.
void DivideBy255(LumaBuild build, const float* y, int n, double* out);

}  // namespace orbimg::detail
