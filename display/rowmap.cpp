// Row kernels of rendering and export: level mapping to bytes and pixel
// packing. Each loop is branch-free over independent elements so that the
// compiler vectorises it without changing any element's arithmetic.
#include "display/rowmap.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace orbimg::detail {

// PackBGR32 builds a pixel as a little-endian word (blue in the low byte).
static_assert(std::endian::native == std::endian::little);

float ToFloat(double v)
{
    // From FLT_MAX + half an ulp upwards IEEE rounds to infinity (the tie
    // goes to the even neighbour, 2^128); between FLT_MAX and there it gives
    // FLT_MAX. Converting such values with a cast is undefined in C++.
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

FloatLevels MakeFloatLevels(double lo, double hi, double range)
{
    return {ToFloat(lo), ToFloat(hi), ToFloat(255.0 / range)};
}

void MapRow(const float* src, int n, const FloatLevels& lv, std::uint8_t* out)
{
    const float lo = lv.lo;
    const float hi = lv.hi;
    const float k = lv.k;
    for (int i = 0; i < n; ++i) {
        const float v = src[i];
        float t = (v - lo) * k;
        // Saturate before converting: NaN and negatives to 0, above 255 to
        // 255. Only values strictly between lo and hi keep t.
        t = t > 0.0f ? t : 0.0f;
        t = t < 255.0f ? t : 255.0f;
        int m = static_cast<int>(t);
        m = v >= hi ? 255 : m;
        m = lo < v ? m : 0;  // lo >= v, and NaN samples, give 0
        out[i] = static_cast<std::uint8_t>(m);
    }
}

void MapRow(const float* src, int n, const DoubleLevels& lv, std::uint8_t* out)
{
    const double lo = lv.lo;
    const double hi = lv.hi;
    const double range = lv.range;
    for (int i = 0; i < n; ++i) {
        const double v = src[i];
        double t = (v - lo) / range * 255.0;
        t = t > 0.0 ? t : 0.0;
        t = t < 255.0 ? t : 255.0;
        int m = static_cast<int>(t);
        m = v >= hi ? 255 : m;
        m = lo < v ? m : 0;
        out[i] = static_cast<std::uint8_t>(m);
    }
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

}  // namespace orbimg::detail
