// Row kernels of the separable filters, compiled for several instruction sets.
#include "filter/rowkernels.h"

#include <algorithm>
#include <cstring>

namespace {

// Columns per block of the row kernels: one block of sums stays in L1.
constexpr int kBlock = 1024;

// The kernels' bodies are compiled for several instruction sets (RowKernels,
// below) and the widest the processor runs is picked once at run time.
// (Clones resolved by the loader, target_clones, cannot run under
// ThreadSanitizer.)
#define ORBIMG_INLINE inline __attribute__((always_inline))

// sum[i] = (((sum[i] + k[0] src[0][i]) + k[1] src[1][i]) + ...), taps 0..n-1
// (n <= 4): up to four taps in one pass over the sums, the same order with
// fewer loads and stores of them.
ORBIMG_INLINE void AddTapsBody(float* __restrict sum, const float* const* src, const float* k, int taps, int count)
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

// Four output rows at once (CombineFourRows): each source row is read once
// for all four outputs; the sums of a strip of 16 columns stay in
// registers, each in tap order from 0.0.
using Vec16 = float __attribute__((vector_size(64)));

// By reference: a 64-byte vector passed by value would depend on the target.
ORBIMG_INLINE void Load16(Vec16& v, const float* p) { std::memcpy(&v, p, sizeof v); }

ORBIMG_INLINE void Store16(float* p, const Vec16& v) { std::memcpy(p, &v, sizeof v); }

ORBIMG_INLINE void CombineFourRowsBody(float* const* out, const float* const* src, const float* k, int size, int count)
{
    int c = 0;
    for (; c + 16 <= count; c += 16) {
        Vec16 a0 = {}, a1 = {}, a2 = {}, a3 = {};
        Vec16 v;
        Load16(v, src[0] + c);
        a0 = a0 + k[0] * v;
        Load16(v, src[1] + c);
        a0 = a0 + k[1] * v;
        a1 = a1 + k[0] * v;
        Load16(v, src[2] + c);
        a0 = a0 + k[2] * v;
        a1 = a1 + k[1] * v;
        a2 = a2 + k[0] * v;
        for (int s = 3; s < size; ++s) {
            Load16(v, src[s] + c);
            a0 = a0 + k[s] * v;
            a1 = a1 + k[s - 1] * v;
            a2 = a2 + k[s - 2] * v;
            a3 = a3 + k[s - 3] * v;
        }
        Load16(v, src[size] + c);
        a1 = a1 + k[size - 1] * v;
        a2 = a2 + k[size - 2] * v;
        a3 = a3 + k[size - 3] * v;
        Load16(v, src[size + 1] + c);
        a2 = a2 + k[size - 1] * v;
        a3 = a3 + k[size - 2] * v;
        Load16(v, src[size + 2] + c);
        a3 = a3 + k[size - 1] * v;
        Store16(out[0] + c, a0);
        Store16(out[1] + c, a1);
        Store16(out[2] + c, a2);
        Store16(out[3] + c, a3);
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

// The kernels for one instruction set.
struct RowKernels {
    void (*addTaps)(float* __restrict sum, const float* const* src, const float* k, int taps, int count);
    void (*combineFourRows)(float* const* out, const float* const* src, const float* k, int size, int count);
};

#define ORBIMG_ROW_KERNELS(attributes, suffix)                                                              \
    attributes void AddTaps##suffix(float* __restrict sum, const float* const* src, const float* k, int taps, \
                                    int count)                                                                \
    {                                                                                                         \
        AddTapsBody(sum, src, k, taps, count);                                                                \
    }                                                                                                         \
    attributes void CombineFourRows##suffix(float* const* out, const float* const* src, const float* k,        \
                                            int size, int count)                                              \
    {                                                                                                         \
        CombineFourRowsBody(out, src, k, size, count);                                                        \
    }

ORBIMG_ROW_KERNELS(, Plain)
#if defined(__GNUC__) && defined(__x86_64__)
ORBIMG_ROW_KERNELS(__attribute__((target("avx2"))), Avx2)
ORBIMG_ROW_KERNELS(__attribute__((target("avx512f"))), Avx512)
#endif

/// The widest kernels the processor runs, chosen on first use.
const RowKernels& Kernels()
{
    static const RowKernels kernels = [] {
#if defined(__GNUC__) && defined(__x86_64__)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) {
            return RowKernels{AddTapsAvx512, CombineFourRowsAvx512};
        }
        if (__builtin_cpu_supports("avx2")) {
            return RowKernels{AddTapsAvx2, CombineFourRowsAvx2};
        }
#endif
        return RowKernels{AddTapsPlain, CombineFourRowsPlain};
    }();
    return kernels;
}

}  // namespace

namespace orbimg::detail {

void CombineRows(float* out, int count, const float* k, int taps, const float* const* src)
{
    const RowKernels& kernels = Kernels();
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
            kernels.addTaps(sum, block, k + t, group, n);
        }
    }
}

void CombineFourRows(float* const* out, const float* const* src, const float* k, int size, int count)
{
    Kernels().combineFourRows(out, src, k, size, count);
}

}  // namespace orbimg::detail
