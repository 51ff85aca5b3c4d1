// Images for the auto-level tests.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "autolevel/luma.h"
#include "support/testsupport.h"

namespace orbimg::test {

inline const float kNaN = std::numeric_limits<float>::quiet_NaN();

inline CImgAutoLevel MakeAuto(int width, int height, int planes = 1)
{
    return CImgAutoLevel(width, height, planes, -32, 1.0, 0.0, 1);
}

/// Sky near 1000..1100 in steps of 0.25 with one star in 50 (up to +32760):
/// the hash that tests/reference/autolevel_reference.py computes with numpy.
inline float HashSample(int x, int y, int plane)
{
    std::uint32_t h = (static_cast<std::uint32_t>(x) * 73856093u) ^ (static_cast<std::uint32_t>(y) * 19349663u) ^
                      (static_cast<std::uint32_t>(plane) * 83492791u);
    h *= 2654435761u;
    double v = 1000.0 + static_cast<double>((h >> 8) % 400u) * 0.25;
    if ((h >> 20) % 50u == 0) {
        v += static_cast<double>((h >> 4) % 4096u) * 8.0;
    }
    return static_cast<float>(v);
}

inline CImgAutoLevel HashImage(int width, int height, int planes)
{
    CImgAutoLevel img = MakeAuto(width, height, planes);
    Fill(img, HashSample);
    return img;
}

// Colour image with different levels per plane; the same levels on every
// plane when `sameLevels`.
inline CImgAutoLevel ColorImage(bool sameLevels, int width = 48, int height = 36)
{
    CImgAutoLevel img = HashImage(width, height, 3);
    for (int p = 0; p < 3; ++p) {
        img.SetLevel(p, sameLevels ? 950.0 : 950.0 + 30 * p, sameLevels ? 1200.0 : 1200.0 + 77.7 * p);
    }
    return img;
}

/// Levels of a plane as a pair, for comparisons.
inline std::pair<double, double> Levels(const CImgAutoLevel& img, int plane)
{
    return {img.GetLevelMin(plane), img.GetLevelMax(plane)};
}

/// The figures Get reads back from plane 0's levels by a method.
inline std::pair<double, double> Get(CImgAutoLevel& img, int method, CRect* rect)
{
    double low = 9.0;
    double high = 9.0;
    img.Get(low, high, method, rect);
    return {low, high};
}

}  // namespace orbimg::test
