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

/// A one-plane checkerboard sky ((x + y) mod 2) with a star at (cx, cy):
/// 100 at the peak, `near` at its four neighbours and 10 two steps away
/// along its row and column (pixels outside the image are dropped).
inline CKelImage CheckerStar(int width, int height, int cx, int cy, float near = 50.0f)
{
    CKelImage img = MakeImage(width, height);
    Fill(img, 0, [](int x, int y) { return static_cast<float>((x + y) % 2); });
    const auto set = [&img](int x, int y, float v) {
        if (float* s = img.GetImageAdr(x, y, 0, 0, nullptr)) {
            *s = v;
        }
    };
    set(cx, cy, 100.0f);
    for (const int d : {-1, 1}) {
        set(cx + d, cy, near);
        set(cx, cy + d, near);
        set(cx + 2 * d, cy, 10.0f);
        set(cx, cy + 2 * d, 10.0f);
    }
    return img;
}

/// A cross star: along the row and column through (x, y), 100 up to
/// half - 1 pixels out and `edge` at `half` pixels out.
struct Cross {
    int x;
    int y;
    int half;
    float edge;
};

/// Cross stars on the checkerboard sky; with the sky's median of 1 the half
/// height is 50.5, so an edge value of 50.5 gives a FWHM of exactly 2 half.
inline CKelImage CrossStar(int width, int height, const std::vector<Cross>& stars)
{
    CKelImage img = MakeImage(width, height);
    Fill(img, 0, [](int x, int y) { return static_cast<float>((x + y) % 2); });
    for (const Cross& s : stars) {
        for (int d = -s.half; d <= s.half; ++d) {
            const float v = (d == -s.half || d == s.half) ? s.edge : 100.0f;
            *img.GetImageAdr(s.x + d, s.y, 0, 0, nullptr) = v;
            *img.GetImageAdr(s.x, s.y + d, 0, 0, nullptr) = v;
        }
    }
    return img;
}

}  // namespace orbimg::test
