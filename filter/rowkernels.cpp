// Row kernels of the separable filters, built for each instruction set
// (platform/simd.h).
#include "filter/rowkernels.h"

#include <algorithm>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "filter/rowkernels.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

// sum[i] = (((sum[i] + k[0] src[0][i]) + k[1] src[1][i]) + ...), taps 0..n-1
// (n <= 4): up to four taps in one pass over the sums, the same order with
// fewer loads and stores of them.
void AddTaps(float* __restrict sum, const float* const* src, const float* k, int taps, int count)
{
    switch (taps) {
    case 4: {
        const float k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3];
        const float* __restrict a = src[0];
        const float* __restrict b = src[1];
        const float* __restrict c = src[2];
        const float* __restrict d = src[3];
        for (int i = 0; i < count; ++i) {
            sum[i] = (((sum[i] + k0 * a[i]) + k1 * b[i]) + k2 * c[i]) + k3 * d[i];
        }
        break;
    }
    case 3: {
        const float k0 = k[0], k1 = k[1], k2 = k[2];
        const float* __restrict a = src[0];
        const float* __restrict b = src[1];
        const float* __restrict c = src[2];
        for (int i = 0; i < count; ++i) {
            sum[i] = ((sum[i] + k0 * a[i]) + k1 * b[i]) + k2 * c[i];
        }
        break;
    }
    case 2: {
        const float k0 = k[0], k1 = k[1];
        const float* __restrict a = src[0];
        const float* __restrict b = src[1];
        for (int i = 0; i < count; ++i) {
            sum[i] = (sum[i] + k0 * a[i]) + k1 * b[i];
        }
        break;
    }
    case 1: {
        const float k0 = k[0];
        const float* __restrict a = src[0];
        for (int i = 0; i < count; ++i) {
            sum[i] = sum[i] + k0 * a[i];
        }
        break;
    }
    default:
        break;
    }
}

// Adds source row s of a strip to the sums of output rows first .. last
// (output row o takes tap s - o): the vector at column c into a0 .. a3 and,
// for a strip of two vectors, the next into b0 .. b3.
template <int kVectors, class D, class V>
HWY_INLINE void AddRow(D d, V& a0, V& a1, V& a2, V& a3, V& b0, V& b1, V& b2, V& b3, const float* const* src,
                       const float* k, int c, int s, int first, int last)
{
    const V u = hn::LoadU(d, src[s] + c);
    V v = u;
    if constexpr (kVectors == 2) {
        v = hn::LoadU(d, src[s] + c + hn::Lanes(d));
    }
    for (int o = first; o <= last; ++o) {
        const V w = hn::Set(d, k[s - o]);
        V& a = o == 0 ? a0 : o == 1 ? a1 : o == 2 ? a2 : a3;
        a = hn::Add(a, hn::Mul(w, u));
        if constexpr (kVectors == 2) {
            V& b = o == 0 ? b0 : o == 1 ? b1 : o == 2 ? b2 : b3;
            b = hn::Add(b, hn::Mul(w, v));
        }
    }
}

// The sums of four output rows over a strip of kVectors (1 or 2) vectors
// from column c, stored: source rows 0 .. size + 2, the first and last
// three feeding fewer output rows.
template <int kVectors, class D>
HWY_INLINE void FourRowsStrip(D d, float* const* out, const float* const* src, const float* k, int size, int c)
{
    using V = hn::Vec<D>;
    V a0 = hn::Zero(d), a1 = hn::Zero(d), a2 = hn::Zero(d), a3 = hn::Zero(d);
    V b0 = hn::Zero(d), b1 = hn::Zero(d), b2 = hn::Zero(d), b3 = hn::Zero(d);
    AddRow<kVectors>(d, a0, a1, a2, a3, b0, b1, b2, b3, src, k, c, 0, 0, 0);
    AddRow<kVectors>(d, a0, a1, a2, a3, b0, b1, b2, b3, src, k, c, 1, 0, 1);
    AddRow<kVectors>(d, a0, a1, a2, a3, b0, b1, b2, b3, src, k, c, 2, 0, 2);
    for (int s = 3; s < size; ++s) {
        AddRow<kVectors>(d, a0, a1, a2, a3, b0, b1, b2, b3, src, k, c, s, 0, 3);
    }
    AddRow<kVectors>(d, a0, a1, a2, a3, b0, b1, b2, b3, src, k, c, size, 1, 3);
    AddRow<kVectors>(d, a0, a1, a2, a3, b0, b1, b2, b3, src, k, c, size + 1, 2, 3);
    AddRow<kVectors>(d, a0, a1, a2, a3, b0, b1, b2, b3, src, k, c, size + 2, 3, 3);
    const int n = static_cast<int>(hn::Lanes(d));
    hn::StoreU(a0, d, out[0] + c);
    hn::StoreU(a1, d, out[1] + c);
    hn::StoreU(a2, d, out[2] + c);
    hn::StoreU(a3, d, out[3] + c);
    if constexpr (kVectors == 2) {
        hn::StoreU(b0, d, out[0] + c + n);
        hn::StoreU(b1, d, out[1] + c + n);
        hn::StoreU(b2, d, out[2] + c + n);
        hn::StoreU(b3, d, out[3] + c + n);
    }
}

// Four output rows at once: each source row is read once for all four
// outputs. A strip of columns keeps its sums in registers, each in tap order
// from 0.0 with separate multiplies and adds: two vectors per output row
// (eight independent chains of additions), then one, then single columns.
// Highway's operations rather than a plain loop: the compiler does not keep
// the sums of a loop over taps in registers.
void CombineFourRows(float* const* out, const float* const* src, const float* k, int size, int count)
{
    const hn::ScalableTag<float> d;
    const int n = static_cast<int>(hn::Lanes(d));
    int c = 0;
    for (; c + 2 * n <= count; c += 2 * n) {
        FourRowsStrip<2>(d, out, src, k, size, c);
    }
    for (; c + n <= count; c += n) {
        FourRowsStrip<1>(d, out, src, k, size, c);
    }
    for (; c < count; ++c) {
        for (int o = 0; o < 4; ++o) {
            float sum = 0.0f;
            for (int t = 0; t < size; ++t) {
                sum += k[t] * src[o + t][c];
            }
            out[o][c] = sum;
        }
    }
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace {

// Columns per block of CombineRows: one block of sums stays in L1.
constexpr int kBlock = 1024;

}  // namespace

namespace orbimg::detail {

HWY_EXPORT(AddTaps);
HWY_EXPORT(CombineFourRows);

void CombineRows(float* out, int count, const float* k, int taps, const float* const* src)
{
    for (int c0 = 0; c0 < count; c0 += kBlock) {
        const int n = std::min(kBlock, count - c0);
        float* sum = out + c0;
        std::fill_n(sum, n, 0.0f);
        for (int t = 0; t < taps; t += 4) {
            const int group = std::min(4, taps - t);
            const float* block[4] = {};
            for (int g = 0; g < group; ++g) {
                block[g] = src[t + g] + c0;
            }
            HWY_DYNAMIC_DISPATCH(AddTaps)(sum, block, k + t, group, n);
        }
    }
}

void CombineFourRows(float* const* out, const float* const* src, const float* k, int size, int count)
{
    HWY_DYNAMIC_DISPATCH(CombineFourRows)(out, src, k, size, count);
}

}  // namespace orbimg::detail
#endif  // HWY_ONCE
