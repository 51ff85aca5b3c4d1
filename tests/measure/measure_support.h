// Star images and white-box access shared by the measurement tests.
#pragma once

#include <vector>

#include "support/testsupport.h"

namespace orbimg::detail {

/// Reaches PSF's private steps and fields.
struct PsfAccess {
    static CPoint Climb(PSF& p, CPoint pt) { return p.ClimbToPeak(pt); }
    static int Base(PSF& p, CPoint peak, double* base) { return p.GetBase(peak, base); }
    static int Fwhm(PSF& p, CPoint peak, double base, double* f) { return p.GetFWHM(peak, base, f); }
    static double Limit(const PSF& p) { return p.m_limit; }
    static std::vector<double> Values(const PSF& p) { return {p.m_values.get(), p.m_values.get() + p.m_count}; }
};

}  // namespace orbimg::detail

namespace orbimg::test {

/// Cross stars on a one-plane checkerboard sky ((x + y) mod 2): along the
/// row and column through (x, y), 100 at the centre, `near` one pixel out,
/// 100 on to half - 1 pixels out and `edge` at `half` pixels out (pixels
/// outside the image are dropped). With the sky's median of 1 the half height
/// is 50.5, so an edge value of 50.5 gives a FWHM of exactly 2 half.
struct Cross {
    int x;
    int y;
    int half;
    float edge;
    float near = 100.0f;
};

inline CKelImage CrossStar(int width, int height, const std::vector<Cross>& stars)
{
    CKelImage img = MakeImage(width, height);
    Fill(img, 0, [](int x, int y) { return static_cast<float>((x + y) % 2); });
    for (const Cross& s : stars) {
        for (int d = -s.half; d <= s.half; ++d) {
            const float v = (d == -s.half || d == s.half) ? s.edge : (d == -1 || d == 1) ? s.near : 100.0f;
            for (float* at :
                 {img.GetImageAdr(s.x + d, s.y, 0, 0, nullptr), img.GetImageAdr(s.x, s.y + d, 0, 0, nullptr)}) {
                if (at) {
                    *at = v;
                }
            }
        }
    }
    return img;
}

/// The worked star at (cx, cy): 100 at the peak, `near` at its four
/// neighbours and 10 two steps away along its row and column.
inline CKelImage CheckerStar(int width, int height, int cx, int cy, float near = 50.0f)
{
    return CrossStar(width, height, {{cx, cy, 2, 10.0f, near}});
}

}  // namespace orbimg::test
