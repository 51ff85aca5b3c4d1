// ToFloat: a double sample rounded to float the way IEEE rounds it, for
// every double (a plain conversion of a value beyond float's range is
// undefined in C++).
#pragma once

#include <cfloat>
#include <cmath>
#include <limits>

namespace orbimg {

/// `v` rounded to the nearest float: from FLT_MAX + half an ulp upwards to
/// infinity (the tie goes to the even neighbour, 2^128), between FLT_MAX and
/// there to FLT_MAX, and likewise below -FLT_MAX; NaN stays NaN.
inline float ToFloat(double v)
{
    constexpr double kOverflow = 0x1.ffffffp127;
    if (std::isnan(v)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    if (v >= kOverflow) {
        return std::numeric_limits<float>::infinity();
    }
    if (v <= -kOverflow) {
        return -std::numeric_limits<float>::infinity();
    }
    if (v > FLT_MAX) {
        return FLT_MAX;
    }
    if (v < -FLT_MAX) {
        return -FLT_MAX;
    }
    return static_cast<float>(v);
}

}  // namespace orbimg
