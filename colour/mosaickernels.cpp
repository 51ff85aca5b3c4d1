// Row kernels of the bilinear and super-pixel methods and of RCD's scale,
// built for each instruction set (platform/simd.h): plain loops, the same
// operations in the same order on every build.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "colour/mosaicrows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "colour/mosaickernels.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// Columns 1 .. n - 2 of a row whose non-green sites are of colour A (at
// columns of parity a), the other chroma C on the rows above and below. All
// five means are formed at every column and the site's parity picks three,
// so the loop has no branch; the terms are added in the order of the 3 x 3
// window's rows, as BilinearAt adds them.
void InteriorRow(const float* __restrict up, const float* __restrict s, const float* __restrict dn, int n, int a,
                 float* __restrict outA, float* __restrict outG, float* __restrict outC)
{
    for (int x = 1; x < n - 1; ++x) {
        const float own = s[x];
        const float cross = (((up[x] + s[x - 1]) + s[x + 1]) + dn[x]) * 0.25f;
        const float diagonal = (((up[x - 1] + up[x + 1]) + dn[x - 1]) + dn[x + 1]) * 0.25f;
        const float across = (s[x - 1] + s[x + 1]) * 0.5f;
        const float along = (up[x] + dn[x]) * 0.5f;
        const bool site = ((x ^ a) & 1) == 0;
        outA[x] = site ? own : across;
        outG[x] = site ? cross : own;
        outC[x] = site ? diagonal : along;
    }
}

// Count of NaN samples among n of three rows.
int CountNaN(const float* a, const float* b, const float* c, int n)
{
    int count = 0;
    for (int x = 0; x < n; ++x) {
        count += static_cast<int>(a[x] != a[x]) + static_cast<int>(b[x] != b[x]) + static_cast<int>(c[x] != c[x]);
    }
    return count;
}

// One output row of super-pixels from the cell rows t (top) and b (bottom).
void SuperPixelRow(const float* __restrict t, const float* __restrict b, int n, int rx, int ry, float* __restrict r,
                   float* __restrict g, float* __restrict bl)
{
    const float* redRow = ry == 0 ? t : b;
    const float* blueRow = ry == 0 ? b : t;
    const int gTop = ry == 0 ? (rx ^ 1) : rx;  // column of the green site of the top row
    const int gBottom = gTop ^ 1;
    const int redX = rx;
    const int blueX = rx ^ 1;
    for (int i = 0; i < n; ++i) {
        r[i] = redRow[2 * i + redX];
        bl[i] = blueRow[2 * i + blueX];
        g[i] = (t[2 * i + gTop] + b[2 * i + gBottom]) * 0.5f;
    }
    for (int i = 0; i < n; ++i) {
        if (g[i] != g[i]) {
            const float top = t[2 * i + gTop];
            const float bottom = b[2 * i + gBottom];
            g[i] = top != top ? bottom : bottom != bottom ? top : g[i];
        }
    }
}

// Extremes of the finite samples of a row as order-preserving integer keys
// (integer minima and maxima vectorise where float ones do not): the key of
// a float is its bit pattern with the magnitude bits flipped for negative
// values; NaN and infinities leave the running keys as they are. The bits
// are copied out in chunks, so the loop reads integers.
void KeyExtremes(const float* __restrict row, int n, std::int32_t* __restrict low, std::int32_t* __restrict high)
{
    constexpr int kChunk = 256;
    std::int32_t bits[kChunk];
    std::int32_t lo = *low;
    std::int32_t hi = *high;
    for (int x0 = 0; x0 < n; x0 += kChunk) {
        const int m = std::min(kChunk, n - x0);
        std::memcpy(bits, row + x0, static_cast<std::size_t>(m) * sizeof(float));
        for (int i = 0; i < m; ++i) {
            const std::int32_t b = bits[i];
            const std::int32_t key = b ^ ((b >> 31) & 0x7fffffff);
            const std::int32_t odd = (b & 0x7f800000) == 0x7f800000 ? -1 : 0;  // NaN or infinite
            lo = std::min(lo, (key & ~odd) | (odd & std::numeric_limits<std::int32_t>::max()));
            hi = std::max(hi, (key & ~odd) | (odd & std::numeric_limits<std::int32_t>::min()));
        }
    }
    *low = lo;
    *high = hi;
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {

HWY_EXPORT(InteriorRow);
HWY_EXPORT(CountNaN);
HWY_EXPORT(SuperPixelRow);
HWY_EXPORT(KeyExtremes);

void BilinearInteriorRow(const float* up, const float* s, const float* dn, int n, int a, float* outA, float* outG,
                         float* outC)
{
    HWY_DYNAMIC_DISPATCH(InteriorRow)(up, s, dn, n, a, outA, outG, outC);
}

int CountNaN(const float* a, const float* b, const float* c, int n)
{
    return HWY_DYNAMIC_DISPATCH(CountNaN)(a, b, c, n);
}

void SuperPixelRow(const float* t, const float* b, int n, BayerPhase ph, float* r, float* g, float* bl)
{
    HWY_DYNAMIC_DISPATCH(SuperPixelRow)(t, b, n, ph.rx, ph.ry, r, g, bl);
}

void KeyExtremes(const float* row, int n, std::int32_t* low, std::int32_t* high)
{
    HWY_DYNAMIC_DISPATCH(KeyExtremes)(row, n, low, high);
}

}  // namespace orbimg::detail
#endif  // HWY_ONCE
