// Row kernels of rendering and export: level mapping to bytes and pixel
// packing. Each loop is branch-free over independent elements so that the
// compiler vectorises it without changing any element's arithmetic.
#include "display/rowmap.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#ifndef ORBIMG_ROWMAP_SHARED  // compiled once, before the kernels
#define ORBIMG_ROWMAP_SHARED
namespace orbimg::detail {
namespace {

// One sample through double levels, the division as written.
inline std::uint8_t MapDivide(float sample, double lo, double hi, double range)
{
    const double v = sample;
    double t = (v - lo) / range * 255.0;
    t = t > 0.0 ? t : 0.0;
    t = t < 255.0 ? t : 255.0;
    int m = static_cast<int>(t);
    m = v >= hi ? 255 : m;
    m = lo < v ? m : 0;
    return static_cast<std::uint8_t>(m);
}

// Export levels are applied in double precision, which at two lanes per
// vector and with a division costs several times the float mapping. The
// same bytes come from a float estimate that flags the few samples whose
// integer part it cannot be sure of; those are mapped again in double.
//
// Bound: with lo32 = lo rounded to float and k32 = 255 / range rounded to
// float, p = (v - lo32) x k32 in float differs from the exact
// z = (v - lo) x 255 / range by at most z x 3.0001 x 2^-24 plus
// |lo - lo32| x 255 / range x 1.0001, and the double result
// q = (v - lo) / range x 255 differs from z by at most z x 3 x 2^-53. Inside
// the window z < 256. The integer parts of p and q (both clamped to 0..255)
// can differ only when an integer 1..255 lies between them, that is when p
// lies within eps of an integer, eps bounding |p - q|.
struct FastLevels {
    float lo32;   // lo rounded to float: the subtrahend
    float k32;    // 255 / range rounded to float
    float above;  // smallest float v with v > lo (in double): the window's low test
    float top;    // smallest float v with v >= hi (in double): the window's high test
    float scale;  // power of two with eps x scale < 1: near when |d| x scale < 1
};

}  // namespace
}  // namespace orbimg::detail
#endif

// The kernels, built for each instruction set (platform/simd.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "display/rowmap.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// One sample through float levels.
inline std::uint32_t MapFloat(float v, float lo, float hi, float k)
{
    float t = (v - lo) * k;
    // Saturate before converting: NaN and negatives to 0, above 255 to
    // 255. Only values strictly between lo and hi keep t.
    t = t > 0.0f ? t : 0.0f;
    t = t < 255.0f ? t : 255.0f;
    int m = static_cast<int>(t);
    m = v >= hi ? 255 : m;
    m = lo < v ? m : 0;  // lo >= v, and NaN samples, give 0
    return static_cast<std::uint32_t>(m);
}

void MapRow(const float* src, int n, const FloatLevels& lv, std::uint8_t* out)
{
    const float lo = lv.lo;
    const float hi = lv.hi;
    const float k = lv.k;
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(MapFloat(src[i], lo, hi, k));
    }
}

// MapRow of three planes and PackBGR32 in one pass, without the byte runs
// between them.
void MapPackBGR32(const float* r, const float* g, const float* b, int n, const FloatLevels* lv, std::uint8_t* out)
{
    const float rlo = lv[0].lo;
    const float rhi = lv[0].hi;
    const float rk = lv[0].k;
    const float glo = lv[1].lo;
    const float ghi = lv[1].hi;
    const float gk = lv[1].k;
    const float blo = lv[2].lo;
    const float bhi = lv[2].hi;
    const float bk = lv[2].k;
    for (int i = 0; i < n; ++i) {
        std::uint32_t w;
        std::memcpy(&w, out + 4 * i, sizeof w);
        w = (w & 0xFF000000u) | (MapFloat(r[i], rlo, rhi, rk) << 16) | (MapFloat(g[i], glo, ghi, gk) << 8) |
            MapFloat(b[i], blo, bhi, bk);
        std::memcpy(out + 4 * i, &w, sizeof w);
    }
}

void MapRowDivide(const float* src, int n, const DoubleLevels& lv, std::uint8_t* out)
{
    const double lo = lv.lo;
    const double hi = lv.hi;
    const double range = lv.range;
    for (int i = 0; i < n; ++i) {
        out[i] = MapDivide(src[i], lo, hi, range);
    }
}

// The float estimate; near[i] = 1 where it may differ from the double
// result. Returns the count of those.
int MapRowFast(const float* src, int n, const FastLevels& fl, std::uint8_t* out, std::uint8_t* near)
{
    constexpr float kRoundMagic = 0x1.8p23f;  // (p + this) - this rounds p (|p| < 2^22) to an integer
    const float lo32 = fl.lo32;
    const float k32 = fl.k32;
    const float above = fl.above;
    const float top = fl.top;
    const float scale = fl.scale;
    int flagged = 0;
    for (int i = 0; i < n; ++i) {
        const float v = src[i];
        const float p = (v - lo32) * k32;
        float t = p > 0.0f ? p : 0.0f;
        t = t < 255.0f ? t : 255.0f;
        int m = static_cast<int>(t);
        m = v >= top ? 255 : m;
        m = v >= above ? m : 0;  // NaN samples give 0
        out[i] = static_cast<std::uint8_t>(m);
        // Distance to the nearest integer, then f = 1 when |d| x scale < 1;
        // arithmetic and selects so that the loop vectorises. Only samples
        // strictly inside the window are flagged (elsewhere m is exact).
        const float d = p - ((p + kRoundMagic) - kRoundMagic);
        float e = std::fabs(d) * scale;
        e = e < 1.0f ? e : 1.0f;
        int f = 1 - static_cast<int>(e);
        f = v >= top ? 0 : f;
        f = v >= above ? f : 0;
        near[i] = static_cast<std::uint8_t>(f);
        flagged += f;
    }
    return flagged;
}

void PackCode15(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint16_t* out)
{
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint16_t>(((r[i] & 0xF8) << 7) | ((g[i] >> 3) << 5) | (b[i] >> 3));
    }
}

void Pack332(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out)
{
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>((b[i] & 0xC0) | ((g[i] >> 2) & 0x38) | (r[i] >> 5));
    }
}

void Pack555Dither(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, int x0, int y,
                   std::uint16_t* out)
{
    // Pixel i is dithered when x0 + i + y is even: i of parity `first`.
    const int first = (x0 + y) & 1;
    for (int i = 0; i < n; ++i) {
        const int add = ((i & 1) == first) ? 4 : 0;
        int rr = r[i] + add;
        int gg = g[i] + add;
        int bb = b[i] + add;
        rr = rr < 255 ? rr : 255;
        gg = gg < 255 ? gg : 255;
        bb = bb < 255 ? bb : 255;
        out[i] = static_cast<std::uint16_t>(((rr & 0xF8) << 7) | ((gg & 0xF8) << 2) | (bb >> 3));
    }
}

void PackBGR24(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out)
{
    for (int i = 0; i < n; ++i) {
        out[3 * i] = b[i];
        out[3 * i + 1] = g[i];
        out[3 * i + 2] = r[i];
    }
}

void PackBGR32(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out)
{
    for (int i = 0; i < n; ++i) {
        std::uint32_t w;
        std::memcpy(&w, out + 4 * i, sizeof w);
        w = (w & 0xFF000000u) | (static_cast<std::uint32_t>(r[i]) << 16) | (static_cast<std::uint32_t>(g[i]) << 8) |
            b[i];
        std::memcpy(out + 4 * i, &w, sizeof w);
    }
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {

HWY_EXPORT(MapRow);
HWY_EXPORT(MapRowDivide);
HWY_EXPORT(MapRowFast);
HWY_EXPORT(MapPackBGR32);
HWY_EXPORT(PackCode15);
HWY_EXPORT(Pack332);
HWY_EXPORT(Pack555Dither);
HWY_EXPORT(PackBGR24);
HWY_EXPORT(PackBGR32);

// PackBGR32 builds a pixel as a little-endian word (blue in the low byte).
static_assert(std::endian::native == std::endian::little);

FloatLevels MakeFloatLevels(double lo, double hi, double range)
{
    return {ToFloat(lo), ToFloat(hi), ToFloat(255.0 / range)};
}

namespace {

// Smallest float f with (double)f > x (strict) or >= x, for finite x within
// float range.
float SmallestFloatAbove(double x, bool strict)
{
    float f = static_cast<float>(x);
    auto ok = [&](float g) { return strict ? static_cast<double>(g) > x : static_cast<double>(g) >= x; };
    while (!ok(f)) {
        f = std::nextafter(f, std::numeric_limits<float>::infinity());
    }
    for (float g = std::nextafter(f, -std::numeric_limits<float>::infinity()); ok(g);
         g = std::nextafter(g, -std::numeric_limits<float>::infinity())) {
        f = g;
    }
    return f;
}

// False when the levels are outside the bound's conditions (not finite, a
// range that is not positive, values near float's limits) or the bound is
// too loose to help; the division is used then.
bool PrepareFast(const DoubleLevels& lv, FastLevels& fast)
{
    constexpr double kLimit = 1e30;
    const double c = 255.0 / lv.range;
    if (!(lv.range > 0.0) || !(std::fabs(lv.lo) <= kLimit) || !(std::fabs(lv.hi) <= kLimit) || !(lv.range <= kLimit) ||
        !(c <= kLimit)) {
        return false;
    }
    fast.lo32 = static_cast<float>(lv.lo);
    fast.k32 = static_cast<float>(c);
    fast.above = SmallestFloatAbove(lv.lo, true);
    fast.top = SmallestFloatAbove(lv.hi, false);
    const double shift = std::fabs(lv.lo - static_cast<double>(fast.lo32));
    // 4 x 2^-24 x 256 covers both relative terms with room; 2^-40 covers
    // the absolute error of subnormal float intermediates.
    const double eps = 256.0 * 4.0 * 0x1p-24 + shift * c * 1.01 + 0x1p-40;
    if (!(eps < 1.0 / 16.0)) {
        return false;
    }
    int e = 0;
    std::frexp(eps, &e);  // 2^(e-1) <= eps < 2^e
    fast.scale = static_cast<float>(std::ldexp(1.0, -e));
    return true;
}

}  // namespace

void MapRow(const float* src, int n, const FloatLevels& lv, std::uint8_t* out)
{
    HWY_DYNAMIC_DISPATCH(MapRow)(src, n, lv, out);
}

void MapRow(const float* src, int n, const DoubleLevels& lv, std::uint8_t* out)
{
    FastLevels fast;
    if (!PrepareFast(lv, fast)) {
        HWY_DYNAMIC_DISPATCH(MapRowDivide)(src, n, lv, out);
        return;
    }
    std::uint8_t near[kRowChunk];
    for (int x = 0; x < n; x += kRowChunk) {
        const int m = n - x < kRowChunk ? n - x : kRowChunk;
        const int flagged = HWY_DYNAMIC_DISPATCH(MapRowFast)(src + x, m, fast, out + x, near);
        if (flagged == 0) {
            continue;
        }
        if (flagged > m / 8) {
            HWY_DYNAMIC_DISPATCH(MapRowDivide)(src + x, m, lv, out + x);
            continue;
        }
        for (int i = 0; i < m; i += 8) {
            const int len = m - i < 8 ? m - i : 8;
            std::uint64_t word = 0;
            std::memcpy(&word, near + i, static_cast<std::size_t>(len));
            for (int j = i; word != 0 && j < i + len; ++j) {
                if (near[j]) {
                    out[x + j] = MapDivide(src[x + j], lv.lo, lv.hi, lv.range);
                }
            }
        }
    }
}

void MapPackBGR32(const float* r, const float* g, const float* b, int n, const FloatLevels* lv, std::uint8_t* out)
{
    HWY_DYNAMIC_DISPATCH(MapPackBGR32)(r, g, b, n, lv, out);
}

void PackCode15(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint16_t* out)
{
    HWY_DYNAMIC_DISPATCH(PackCode15)(r, g, b, n, out);
}

void Pack332(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out)
{
    HWY_DYNAMIC_DISPATCH(Pack332)(r, g, b, n, out);
}

void Pack555Dither(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, int x0, int y,
                   std::uint16_t* out)
{
    HWY_DYNAMIC_DISPATCH(Pack555Dither)(r, g, b, n, x0, y, out);
}

void PackBGR24(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out)
{
    HWY_DYNAMIC_DISPATCH(PackBGR24)(r, g, b, n, out);
}

void PackBGR32(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out)
{
    HWY_DYNAMIC_DISPATCH(PackBGR32)(r, g, b, n, out);
}

}  // namespace orbimg::detail
#endif  // HWY_ONCE
