// CDisplayStretch: the display transfer function an image is shown through
// after its levels (CKelImage::SetStretch).
//
// Conventions
//   - The levels take a sample v of plane p to t = (v - min_p) / range_p,
//     clamped to 0..1; the stretch takes t to the display value y = f(t), 0..1,
//     shown as the byte trunc(255 y). As with plain levels, v <= min_p shows 0,
//     v >= max_p shows 255 and NaN samples show 0.
//   - Functions, each with one parameter per plane (0 red, 1 green, 2 blue;
//     a mono image uses plane 0's):
//       kLinear  f(t) = t; the parameter is not used. The default: an image
//                with a linear stretch renders exactly as with levels alone.
//       kMTF     the midtones transfer function with midtones balance m,
//                0 < m < 1: f(t) = (m - 1) t / ((2 m - 1) t - m). f(m) = 1/2;
//                m = 1/2 is the identity, a smaller m brightens the shadows.
//       kAsinh   f(t) = asinh(s t) / asinh(s), strength 0 < s <= 1e5.
//       kLog     f(t) = log(1 + s t) / log(1 + s), strength 0 < s <= 1e6.
//     A parameter outside its range, or NaN, leaves that plane linear
//     (f(t) = t) under a non-linear stretch.
//   - Rendering (ToDIB at every depth, GetDib) evaluates f in single
//     precision, the logarithm and square root by polynomial and Newton
//     steps of its own (the same bits on every build); the byte is within 1
//     of trunc(255 f(t)) computed exactly from the same levels.
//   - Apply and Inverse below evaluate f and its inverse in double precision.
#pragma once

#include "platform/export.h"

class ORBIMG_API CDisplayStretch {
public:
    enum Kind { kLinear = 0, kMTF = 1, kAsinh = 2, kLog = 3 };

    /// Linear.
    CDisplayStretch() = default;
    /// `kind` (a Kind; anything else is linear) with `param` on every plane.
    CDisplayStretch(int kind, double param);

    int GetKind() const { return m_kind; }
    /// The parameter of plane 0..2 (another plane reads plane 2's).
    double GetParam(int plane) const;
    /// Sets the parameter of plane 0..2, or of every plane with -1.
    void SetParam(int plane, double value);
    /// True for kLinear.
    bool IsLinear() const { return m_kind == kLinear; }
    /// True when the plane's parameter is in the range of the kind (always
    /// for kLinear).
    bool IsValid(int plane) const;

    /// f(t) of the plane in double precision, t clamped to 0..1 (NaN stays
    /// NaN).
    double Apply(double t, int plane) const;
    /// The t in 0..1 with f(t) = y (y clamped to 0..1; NaN stays NaN).
    double Inverse(double y, int plane) const;

    /// The parameter that takes `t` to `y` (both strictly inside 0..1):
    /// kMTF the midtones balance, kAsinh and kLog the strength (found by
    /// bisection, held to their ranges: a y that cannot be reached gives the
    /// nearest end). kLinear, or t and y outside (0, 1): NaN. A kMTF with
    /// y < t darkens (m > 1/2); kAsinh and kLog cannot darken and give their
    /// least strength then (1e-3).
    static double ParamFor(int kind, double t, double y);

private:
    int m_kind = kLinear;
    double m_param[3] = {0.5, 0.5, 0.5};
};
