// Rendering through levels and a display stretch (internal): the prepared
// form of one plane's levels and transfer function, and the row kernels
// that take samples to display bytes or display values with it.
//
// Conventions
//   - A sample v of a plane with levels lo .. hi shows the display value u
//     (0..255 scale) of d = v - lo in float, clamped to 0..255; its byte is
//     trunc(u), then 255 where v >= hi and 0 where lo >= v or v is NaN, as
//     MapRow does for plain levels. The constants fold the levels' 1 / range
//     (inv) and the 255 in:
//       linear (a plane left linear): u = d c1, c1 = 255 / range (as the plain
//               levels: the same bytes)
//       kMTF:   u = (c1 d) / (c2 d - c3), c1 = 255 (m - 1) inv, c2 = (2 m - 1)
//               inv, c3 = m
//       kLog:   u = ln(1 + c1 d) c2, c1 = s inv, c2 = 255 / ln(1 + s)
//       kAsinh: u = ln(x + sqrt(x^2 + 1)) c2, x = c1 d, c1 = s inv,
//               c2 = 255 / asinh(s)
//     each constant computed in double and rounded to float. ln comes from
//     the float's exponent and a quartic of its mantissa (relative error
//     below 6e-5: u within 0.03 of the exact value, so a byte differs from
//     a double-precision evaluation's by at most 1, for under 1 % of
//     samples), the square root IEEE's: only + - x / sqrt and integer
//     operations, so the same bits on every build.
#pragma once

#include <cstdint>

#include "image/kelimage.h"

namespace orbimg::detail {

/// A plane's levels and stretch prepared for rendering.
struct StretchLevels {
    float lo;          ///< level minimum (float)
    float hi;          ///< level maximum (float)
    int kind;          ///< CDisplayStretch::Kind, kLinear for a plane left linear
    float c1, c2, c3;  ///< the function's constants (see above)
};

/// The prepared planes of an image.
struct StretchSet {
    StretchLevels lv[3];
};

/// Levels and stretch of planes 0 .. planes - 1 (1 or 3) of an image.
/// `levels` are the level minimum, maximum and range of each plane.
void PrepareStretch(const CDisplayStretch& stretch, int planes, const double (*levels)[3], StretchSet& set);
/// The same from the image's own levels and stretch.
void PrepareStretch(const CKelImage& image, int planes, StretchSet& set);

/// Display bytes of n samples.
void MapRow(const float* src, int n, const StretchLevels& lv, std::uint8_t* out);
/// Display values u (0..255 scale) of n samples; NaN samples give NaN.
void DisplayRow(const float* src, int n, const StretchLevels& lv, float* out);

}  // namespace orbimg::detail
