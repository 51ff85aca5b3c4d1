// Display transfer functions: the exact functions (CDisplayStretch), their
// prepared form for rendering and the row kernels of the stretched path.
#include "display/stretch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "display/rowmap.h"
#include "display/stretchrows.h"

#ifndef ORBIMG_STRETCH_SHARED  // compiled once, before the kernels
#define ORBIMG_STRETCH_SHARED
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMaxAsinh = 1e5;
constexpr double kMaxLog = 1e6;
constexpr double kLeastStrength = 1e-3;

double Clamp01(double v) { return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v; }

double Mtf(double t, double m) { return (m - 1.0) * t / ((2.0 * m - 1.0) * t - m); }

// f of a valid non-linear kind.
double Evaluate(int kind, double param, double t)
{
    switch (kind) {
    case CDisplayStretch::kMTF:
        return Mtf(t, param);
    case CDisplayStretch::kAsinh:
        return std::asinh(param * t) / std::asinh(param);
    case CDisplayStretch::kLog:
        return std::log1p(param * t) / std::log1p(param);
    default:
        return t;
    }
}

bool InRange(int kind, double p)
{
    switch (kind) {
    case CDisplayStretch::kMTF:
        return p > 0.0 && p < 1.0;
    case CDisplayStretch::kAsinh:
        return p > 0.0 && p <= kMaxAsinh;
    case CDisplayStretch::kLog:
        return p > 0.0 && p <= kMaxLog;
    default:
        return true;
    }
}

}  // namespace

CDisplayStretch::CDisplayStretch(int kind, double param)
    : m_kind(kind >= kLinear && kind <= kLog ? kind : kLinear), m_param{param, param, param}
{
}

double CDisplayStretch::GetParam(int plane) const { return m_param[std::clamp(plane, 0, 2)]; }

void CDisplayStretch::SetParam(int plane, double value)
{
    if (plane < 0) {
        m_param[0] = m_param[1] = m_param[2] = value;
    } else if (plane <= 2) {
        m_param[plane] = value;
    }
}

bool CDisplayStretch::IsValid(int plane) const { return InRange(m_kind, GetParam(plane)); }

double CDisplayStretch::Apply(double t, int plane) const
{
    if (t != t) {
        return t;
    }
    t = Clamp01(t);
    return IsValid(plane) ? Evaluate(m_kind, GetParam(plane), t) : t;
}

double CDisplayStretch::Inverse(double y, int plane) const
{
    if (y != y) {
        return y;
    }
    y = Clamp01(y);
    if (!IsValid(plane)) {
        return y;
    }
    const double p = GetParam(plane);
    switch (m_kind) {
    case kMTF:
        return Mtf(y, 1.0 - p);
    case kAsinh:
        return Clamp01(std::sinh(y * std::asinh(p)) / p);
    case kLog:
        return Clamp01(std::expm1(y * std::log1p(p)) / p);
    default:
        return y;
    }
}

double CDisplayStretch::ParamFor(int kind, double t, double y)
{
    if (!(t > 0.0 && t < 1.0 && y > 0.0 && y < 1.0)) {
        return kNaN;
    }
    if (kind == kMTF) {
        return t * (1.0 - y) / (t + y - 2.0 * t * y);
    }
    if (kind != kAsinh && kind != kLog) {
        return kNaN;
    }
    // f rises with the strength, from t (strength 0) towards 1.
    double lo = std::log(kLeastStrength);
    double hi = std::log(kind == kAsinh ? kMaxAsinh : kMaxLog);
    if (Evaluate(kind, std::exp(lo), t) >= y) {
        return std::exp(lo);
    }
    if (Evaluate(kind, std::exp(hi), t) <= y) {
        return std::exp(hi);
    }
    for (int i = 0; i < 200 && hi - lo > 1e-12; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (Evaluate(kind, std::exp(mid), t) < y) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return std::exp(0.5 * (lo + hi));
}

namespace orbimg::detail {

void PrepareStretch(const CDisplayStretch& stretch, int planes, const double (*levels)[3], StretchSet& set)
{
    for (int p = 0; p < planes; ++p) {
        StretchLevels& lv = set.lv[p];
        const double lo = levels[p][0];
        const double hi = levels[p][1];
        const double inv = 1.0 / levels[p][2];
        lv.lo = ToFloat(lo);
        lv.hi = ToFloat(hi);
        lv.kind = stretch.IsValid(p) ? stretch.GetKind() : CDisplayStretch::kLinear;
        const double param = stretch.GetParam(p);
        switch (lv.kind) {
        case CDisplayStretch::kMTF:
            lv.c1 = ToFloat(255.0 * (param - 1.0) * inv);
            lv.c2 = ToFloat((2.0 * param - 1.0) * inv);
            lv.c3 = static_cast<float>(param);
            break;
        case CDisplayStretch::kAsinh:
        case CDisplayStretch::kLog:
            lv.c1 = ToFloat(param * inv);
            lv.c2 = ToFloat(255.0 / (lv.kind == CDisplayStretch::kAsinh ? std::asinh(param) : std::log1p(param)));
            lv.c3 = 0.0f;
            break;
        default:
            lv.c1 = ToFloat(255.0 / levels[p][2]);  // as MakeFloatLevels: the plain path's bits
            lv.c2 = 0.0f;
            lv.c3 = 0.0f;
            break;
        }
    }
}

void PrepareStretch(const CKelImage& image, int planes, StretchSet& set)
{
    // Filled for all three planes (the unused ones read as zero): a loop bounded by `planes`
    // makes g++ 12 with sanitizers warn of an index it cannot bound.
    double levels[3][3] = {};
    for (unsigned p = 0; p < 3u; ++p) {
        const int plane = static_cast<int>(p);
        if (plane < planes) {
            levels[p][0] = image.GetLevelMin(plane);
            levels[p][1] = image.GetLevelMax(plane);
            levels[p][2] = image.GetLevelRange(plane);
        }
    }
    PrepareStretch(image.GetStretch(), planes, levels, set);
}

}  // namespace orbimg::detail
#endif  // ORBIMG_STRETCH_SHARED

// The row kernels, built for each instruction set (platform/simd.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "display/stretch.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// ln(w) for a float w >= 1 (values below 1, which the rounding of the
// square root can give, are taken as 1): w = 2^e m, m in [1, 2),
// ln(m) = x q(x) for x = m - 1, q a quartic fitted to ln(1 + x) / x on
// [0, 1) (relative error below 6e-5: a display value u = ln(w) c2 <= 255
// lies within 0.03 of the exact one), ln 2 rounded to float.
constexpr float kLn0 = 9.9994301795959473e-1f;
constexpr float kLn1 = 4.9697512388229370e-1f;
constexpr float kLn2 = 3.0629345774650574e-1f;
constexpr float kLn3 = 1.5742009878158569e-1f;
constexpr float kLn4 = 4.1345398873090744e-2f;
constexpr float kLnOf2 = 6.93147182e-1f;

inline float LnFromOne(float w)
{
    std::int32_t bits = std::bit_cast<std::int32_t>(w);
    bits = bits > 0x3f800000 ? bits : 0x3f800000;  // as integers, in the order of the floats >= 0
    const float fe = static_cast<float>((bits >> 23) - 127);
    const float x = std::bit_cast<float>((bits & 0x007fffff) | 0x3f800000) - 1.0f;
    float q = kLn4;
    q = q * x - kLn3;
    q = q * x + kLn2;
    q = q * x - kLn1;
    q = q * x + kLn0;
    return fe * kLnOf2 + x * q;
}

// Display values on the 0..255 scale from d = v - lo, not yet clamped
// (outside the window the byte rules decide; there the value may be any
// float, NaN included).
inline float MtfScaled(float d, float c1, float c2, float c3) { return (c1 * d) / (c2 * d - c3); }

inline float LogScaled(float d, float c1, float c2) { return LnFromOne(1.0f + c1 * d) * c2; }

inline float AsinhScaled(float d, float c1, float c2)
{
    const float x = c1 * d;
    return LnFromOne(x + std::sqrt(x * x + 1.0f)) * c2;
}

// The byte of a display value, with the level rules for the sample: the
// value is clamped to 0..255 before the conversion (NaN to 0), samples at or
// above hi give 255, at or below lo (and NaN) 0.
inline std::uint8_t Byte(float u, float v, float lo, float hi)
{
    u = u > 0.0f ? u : 0.0f;
    u = u < 255.0f ? u : 255.0f;
    int q = static_cast<int>(u);
    q = v >= hi ? 255 : q;
    q = lo < v ? q : 0;
    return static_cast<std::uint8_t>(q);
}

void MapRowMtf(const float* __restrict src, int n, float lo, float hi, float c1, float c2, float c3,
               std::uint8_t* __restrict out)
{
    for (int i = 0; i < n; ++i) {
        const float v = src[i];
        out[i] = Byte(MtfScaled(v - lo, c1, c2, c3), v, lo, hi);
    }
}

void MapRowLog(const float* __restrict src, int n, float lo, float hi, float c1, float c2, std::uint8_t* __restrict out)
{
    for (int i = 0; i < n; ++i) {
        const float v = src[i];
        out[i] = Byte(LogScaled(v - lo, c1, c2), v, lo, hi);
    }
}

namespace hn = hwy::HWY_NAMESPACE;

// Bytes of asinh, LnFromOne and Byte in vectors: Highway's square root is
// the IEEE one of std::sqrt (the plain loop would call the library function
// for its errno), every other operation as written above, so the same bits.
void MapRowAsinh(const float* HWY_RESTRICT src, int n, float loS, float hiS, float c1S, float c2S,
                 std::uint8_t* HWY_RESTRICT out)
{
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    const hn::Rebind<std::uint8_t, decltype(df)> d8;
    const int lanes = static_cast<int>(hn::Lanes(df));
    const auto lo = hn::Set(df, loS);
    const auto hi = hn::Set(df, hiS);
    const auto c1 = hn::Set(df, c1S);
    const auto c2 = hn::Set(df, c2S);
    const auto one = hn::Set(df, 1.0f);
    const auto zero = hn::Zero(df);
    const auto top = hn::Set(df, 255.0f);
    const auto oneBits = hn::Set(di, 0x3f800000);
    const auto mantissa = hn::Set(di, 0x007fffff);
    const auto bias = hn::Set(di, 127);
    const auto full = hn::Set(di, 255);
    int i = 0;
    for (; i + lanes <= n; i += lanes) {
        const auto v = hn::LoadU(df, src + i);
        const auto x = hn::Mul(c1, hn::Sub(v, lo));
        const auto w = hn::Add(x, hn::Sqrt(hn::Add(hn::Mul(x, x), one)));
        const auto bits = hn::Max(hn::BitCast(di, w), oneBits);
        const auto fe = hn::ConvertTo(df, hn::Sub(hn::ShiftRight<23>(bits), bias));
        const auto m = hn::Sub(hn::BitCast(df, hn::Or(hn::And(bits, mantissa), oneBits)), one);
        auto q = hn::Set(df, kLn4);
        q = hn::Sub(hn::Mul(q, m), hn::Set(df, kLn3));
        q = hn::Add(hn::Mul(q, m), hn::Set(df, kLn2));
        q = hn::Sub(hn::Mul(q, m), hn::Set(df, kLn1));
        q = hn::Add(hn::Mul(q, m), hn::Set(df, kLn0));
        auto u = hn::Mul(hn::Add(hn::Mul(fe, hn::Set(df, kLnOf2)), hn::Mul(m, q)), c2);
        u = hn::IfThenElse(hn::Gt(u, zero), u, zero);
        u = hn::IfThenElse(hn::Lt(u, top), u, top);
        auto b = hn::ConvertTo(di, u);
        b = hn::IfThenElse(hn::RebindMask(di, hn::Ge(v, hi)), full, b);
        b = hn::IfThenElseZero(hn::RebindMask(di, hn::Lt(lo, v)), b);
        hn::StoreU(hn::DemoteTo(d8, b), d8, out + i);
    }
    for (; i < n; ++i) {
        const float v = src[i];
        out[i] = Byte(AsinhScaled(v - loS, c1S, c2S), v, loS, hiS);
    }
}

void MapRowPlain(const float* __restrict src, int n, float lo, float hi, float c1, std::uint8_t* __restrict out)
{
    for (int i = 0; i < n; ++i) {
        const float v = src[i];
        out[i] = Byte((v - lo) * c1, v, lo, hi);
    }
}

// A display value with the level rules: clamped to 0..255, 255 where
// v >= hi, 0 where lo >= v, NaN for NaN samples.
inline float Value(float u, float v, float lo, float hi)
{
    u = u > 0.0f ? u : 0.0f;
    u = u < 255.0f ? u : 255.0f;
    u = v >= hi ? 255.0f : u;
    u = lo < v ? u : 0.0f;
    return v == v ? u : v;
}

void MapRowStretch(const float* src, int n, const StretchLevels& lv, std::uint8_t* out)
{
    switch (lv.kind) {
    case CDisplayStretch::kMTF:
        MapRowMtf(src, n, lv.lo, lv.hi, lv.c1, lv.c2, lv.c3, out);
        break;
    case CDisplayStretch::kAsinh:
        MapRowAsinh(src, n, lv.lo, lv.hi, lv.c1, lv.c2, out);
        break;
    case CDisplayStretch::kLog:
        MapRowLog(src, n, lv.lo, lv.hi, lv.c1, lv.c2, out);
        break;
    default:
        MapRowPlain(src, n, lv.lo, lv.hi, lv.c1, out);
        break;
    }
}

void DisplayRowStretch(const float* src, int n, const StretchLevels& lv, float* out)
{
    for (int i = 0; i < n; ++i) {
        const float v = src[i];
        const float d = v - lv.lo;
        float u;
        switch (lv.kind) {
        case CDisplayStretch::kMTF:
            u = MtfScaled(d, lv.c1, lv.c2, lv.c3);
            break;
        case CDisplayStretch::kAsinh:
            u = AsinhScaled(d, lv.c1, lv.c2);
            break;
        case CDisplayStretch::kLog:
            u = LogScaled(d, lv.c1, lv.c2);
            break;
        default:
            u = d * lv.c1;
            break;
        }
        out[i] = Value(u, v, lv.lo, lv.hi);
    }
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {

HWY_EXPORT(MapRowStretch);
HWY_EXPORT(DisplayRowStretch);

void MapRow(const float* src, int n, const StretchLevels& lv, std::uint8_t* out)
{
    HWY_DYNAMIC_DISPATCH(MapRowStretch)(src, n, lv, out);
}

void DisplayRow(const float* src, int n, const StretchLevels& lv, float* out)
{
    HWY_DYNAMIC_DISPATCH(DisplayRowStretch)(src, n, lv, out);
}

}  // namespace orbimg::detail
#endif  // HWY_ONCE
