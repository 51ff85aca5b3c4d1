// The division-free builds of the display luminance: AVX2 + FMA (four
// pixels at a time) and AVX-512 (eight). They replace the double divisions
// of the pixel functions by multiplications whose rounded results are
// proven equal, and divide as written only where the proof fails.
//
// One plane's display value. With d = s - min (the same double in every
// build), the division gives t = RN(RN(d / range) * 255) and the pixel
// functions keep float(t). These builds compute
//     lo = RN(d * below), hi = RN(d * above),
//     below = RN(k (1 - 2^-48)), above = RN(k (1 + 2^-48)), k = RN(255 / range)
// and keep float(lo) when it equals float(hi). With z = 255 d / range and
// u = 2^-53, while nothing underflows or overflows, t lies within a factor
// (1 +- u)^2 of z, and lo and hi within (1 +- 32u)(1 +- u)^3, one on each
// side: t lies between lo and hi (at least 27u |z| from each). Rounding to
// float is monotonic, so float(lo) == float(hi) gives float(t) == float(lo).
// A float rounding boundary falls between lo and hi for about one value in
// 2^23; such pixels, and every NaN (which compares unequal), are divided as
// written. The limits of the argument:
//   - 2^-1000 <= |range| <= 2^1000 and min finite (DisplayLuma checks it
//     and takes a dividing build for other levels): k, below and above are
//     normal numbers;
//   - |z| below 2^-1000: t, lo and hi are all below 2^-990 in magnitude and
//     round to a float zero with the sign of d / range (rounding keeps the
//     sign of a product or a quotient, also for d = +-0): the check passes
//     and holds;
//   - |z| above 2^1000 (or d infinite): t, lo and hi are all at least 2^999
//     in magnitude or infinite, and round to the same float infinity;
//   - in between, every intermediate is a normal number.
//
// The raw scale, Y / 255 * range0 + min0. Y is a float; with r = RN(1 / 255),
// q0 = RN(Y r), e = fma(q0, 255, -Y) (exact) and q = fma(-e, r, q0), q is
// RN(Y / 255) for every finite float Y, zeros with their sign: checked for
// all 2^32 floats (tests/autolevel, ExhaustiveDivideBy255). For an infinite
// or NaN Y, e is NaN and q0 = Y r is the quotient (the infinity, or Y's
// NaN), which is taken instead.
//
// The sums. The kernels hand each group of values to a sink: a store, or a
// sum that widens the group, zeroes its NaN lanes, and adds the lanes one
// by one in order. Adding right after each group keeps only a few
// additions waiting on the sequential chain, so the next group's arithmetic
// finds the schedulers free; summing a stored run afterwards leaves the
// whole run's additions waiting and stalls it.
#include <immintrin.h>

#include "autolevel/lumakernels.h"

namespace orbimg::detail {

namespace {

// ---- AVX2 + FMA: four pixels at a time ---------------------------------------

#define ORBIMG_FMA gnu::target("avx2,fma,popcnt")

/// Display values of four samples of one plane (doubles holding floats);
/// the lanes whose proof fails are cleared in ok.
[[ORBIMG_FMA, gnu::always_inline]] inline __m256d Display4(const float* s, __m256d min, __m256d below,
                                                           __m256d above, __m128& ok)
{
    const __m256d d = _mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(s)), min);
    const __m128 lo = _mm256_cvtpd_ps(_mm256_mul_pd(d, below));
    const __m128 hi = _mm256_cvtpd_ps(_mm256_mul_pd(d, above));
    ok = _mm_and_ps(ok, _mm_cmp_ps(lo, hi, _CMP_EQ_OQ));
    return _mm256_cvtps_pd(lo);
}

/// RN(y / 255) for four doubles holding floats.
[[ORBIMG_FMA, gnu::always_inline]] inline __m256d DivideBy255x4(__m256d y)
{
    const __m256d k255 = _mm256_set1_pd(255.0);
    const __m256d r = _mm256_set1_pd(1.0 / 255.0);
    const __m256d q0 = _mm256_mul_pd(y, r);
    const __m256d e = _mm256_fmsub_pd(q0, k255, y);
    const __m256d q = _mm256_fnmadd_pd(e, r, q0);
    return _mm256_blendv_pd(q, q0, _mm256_cmp_pd(e, e, _CMP_UNORD_Q));
}

/// Sinks of four values: stored, or added to a sum.
struct Store4 {
    float* out;

    [[ORBIMG_FMA, gnu::always_inline]] void Put(__m128 v)
    {
        _mm_storeu_ps(out, v);
        out += 4;
    }
    void PutOne(float v) { *out++ = v; }
};

template <bool kSquares>
struct Sum4 {
    double sum;
    double center;
    long long count = 0;

    [[ORBIMG_FMA, gnu::always_inline]] void Put(__m128 v)
    {
        __m256d x = _mm256_cvtps_pd(v);
        const __m256d valid = _mm256_cmp_pd(x, x, _CMP_ORD_Q);
        if constexpr (kSquares) {
            x = _mm256_sub_pd(x, _mm256_set1_pd(center));
            x = _mm256_mul_pd(x, x);
        }
        alignas(32) double t[4];
        _mm256_store_pd(t, _mm256_and_pd(x, valid));
        count += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(valid)));
        sum += t[0];
        sum += t[1];
        sum += t[2];
        sum += t[3];
    }
    void PutOne(float v) { count += AddOne<kSquares>(v, center, sum); }
};

template <bool kRaw, class Sink>
[[ORBIMG_FMA, gnu::always_inline]] inline void Luma4(const float* r, const float* g, const float* b, int n,
                                                     const LumaLevels& lv, Sink& sink)
{
    const __m256d wr = _mm256_set1_pd(0.299);
    const __m256d wg = _mm256_set1_pd(0.587);
    const __m256d wb = _mm256_set1_pd(0.114);
    const __m256d min0 = _mm256_set1_pd(lv.min[0]);
    const __m256d min1 = _mm256_set1_pd(lv.min[1]);
    const __m256d min2 = _mm256_set1_pd(lv.min[2]);
    const __m256d range0 = _mm256_set1_pd(lv.range[0]);
    const __m256d below0 = _mm256_set1_pd(lv.below[0]);
    const __m256d below1 = _mm256_set1_pd(lv.below[1]);
    const __m256d below2 = _mm256_set1_pd(lv.below[2]);
    const __m256d above0 = _mm256_set1_pd(lv.above[0]);
    const __m256d above1 = _mm256_set1_pd(lv.above[1]);
    const __m256d above2 = _mm256_set1_pd(lv.above[2]);
    const __m128 all = _mm_castsi128_ps(_mm_set1_epi32(-1));
    alignas(16) float exact[4];
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128 ok = all;
        const __m256d rr = Display4(r + i, min0, below0, above0, ok);
        const __m256d gg = Display4(g + i, min1, below1, above1, ok);
        const __m256d bb = Display4(b + i, min2, below2, above2, ok);
        const __m256d y = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(wg, gg), _mm256_mul_pd(wr, rr)),
                                        _mm256_mul_pd(wb, bb));
        __m128 v = _mm256_cvtpd_ps(y);
        if constexpr (kRaw) {
            const __m256d q = DivideBy255x4(_mm256_cvtps_pd(v));
            v = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(q, range0), min0));
        }
        if (_mm_movemask_ps(ok) != 0xF) {
            Divided<kRaw>(r + i, g + i, b + i, 4, exact, lv);
            v = _mm_load_ps(exact);
        }
        sink.Put(v);
    }
    Divided<kRaw>(r + i, g + i, b + i, n - i, exact, lv);
    for (int j = 0; j < n - i; ++j) {
        sink.PutOne(exact[j]);
    }
}

template <bool kRaw>
[[ORBIMG_FMA]] void StoreFma(const float* r, const float* g, const float* b, int n, float* out,
                             const LumaLevels& lv)
{
    Store4 sink{out};
    Luma4<kRaw>(r, g, b, n, lv, sink);
}

[[ORBIMG_FMA]] long long SumRawFma(const float* r, const float* g, const float* b, int n, const LumaLevels& lv,
                                   double& sum)
{
    Sum4<false> sink{sum, 0.0};
    Luma4<true>(r, g, b, n, lv, sink);
    sum = sink.sum;
    return sink.count;
}

[[ORBIMG_FMA]] long long SumRawSquaresFma(const float* r, const float* g, const float* b, int n,
                                          const LumaLevels& lv, double center, double& sum)
{
    Sum4<true> sink{sum, center};
    Luma4<true>(r, g, b, n, lv, sink);
    sum = sink.sum;
    return sink.count;
}

[[ORBIMG_FMA]] void DivideBy255Fma(const float* y, int n, double* out)
{
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        _mm256_storeu_pd(out + i, DivideBy255x4(_mm256_cvtps_pd(_mm_loadu_ps(y + i))));
    }
    for (; i < n; ++i) {
        out[i] = static_cast<double>(y[i]) / 255.0;
    }
}

// ---- AVX-512: eight pixels at a time -----------------------------------------

#define ORBIMG_AVX512 gnu::target("avx512f,avx512vl,fma,popcnt")

// The conversions through their zero-masked forms with every lane set: the
// same instructions, without g++ 12's false "may be used uninitialized" on
// the undefined source operand of the plain forms.
[[ORBIMG_AVX512, gnu::always_inline]] inline __m512d Widen8(__m256 v)
{
    return _mm512_maskz_cvtps_pd(0xFF, v);
}

[[ORBIMG_AVX512, gnu::always_inline]] inline __m256 Narrow8(__m512d v)
{
    return _mm512_maskz_cvtpd_ps(0xFF, v);
}

[[ORBIMG_AVX512, gnu::always_inline]] inline __m512d Display8(const float* s, __m512d min, __m512d below,
                                                              __m512d above, __mmask8& ok)
{
    const __m512d d = _mm512_sub_pd(Widen8(_mm256_loadu_ps(s)), min);
    const __m256 lo = Narrow8(_mm512_mul_pd(d, below));
    const __m256 hi = Narrow8(_mm512_mul_pd(d, above));
    ok &= _mm256_cmp_ps_mask(lo, hi, _CMP_EQ_OQ);
    return Widen8(lo);
}

[[ORBIMG_AVX512, gnu::always_inline]] inline __m512d DivideBy255x8(__m512d y)
{
    const __m512d k255 = _mm512_set1_pd(255.0);
    const __m512d r = _mm512_set1_pd(1.0 / 255.0);
    const __m512d q0 = _mm512_mul_pd(y, r);
    const __m512d e = _mm512_fmsub_pd(q0, k255, y);
    const __m512d q = _mm512_fnmadd_pd(e, r, q0);
    return _mm512_mask_blend_pd(_mm512_cmp_pd_mask(e, e, _CMP_UNORD_Q), q, q0);
}

struct Store8 {
    float* out;

    [[ORBIMG_AVX512, gnu::always_inline]] void Put(__m256 v)
    {
        _mm256_storeu_ps(out, v);
        out += 8;
    }
    void PutOne(float v) { *out++ = v; }
};

template <bool kSquares>
struct Sum8 {
    double sum;
    double center;
    long long count = 0;

    [[ORBIMG_AVX512, gnu::always_inline]] void Put(__m256 v)
    {
        __m512d x = Widen8(v);
        const __mmask8 valid = _mm512_cmp_pd_mask(x, x, _CMP_ORD_Q);
        if constexpr (kSquares) {
            x = _mm512_sub_pd(x, _mm512_set1_pd(center));
            x = _mm512_mul_pd(x, x);
        }
        alignas(64) double t[8];
        _mm512_store_pd(t, _mm512_maskz_mov_pd(valid, x));
        count += __builtin_popcount(static_cast<unsigned>(valid));
        sum += t[0];
        sum += t[1];
        sum += t[2];
        sum += t[3];
        sum += t[4];
        sum += t[5];
        sum += t[6];
        sum += t[7];
    }
    void PutOne(float v) { count += AddOne<kSquares>(v, center, sum); }
};

template <bool kRaw, class Sink>
[[ORBIMG_AVX512, gnu::always_inline]] inline void Luma8(const float* r, const float* g, const float* b, int n,
                                                        const LumaLevels& lv, Sink& sink)
{
    const __m512d wr = _mm512_set1_pd(0.299);
    const __m512d wg = _mm512_set1_pd(0.587);
    const __m512d wb = _mm512_set1_pd(0.114);
    const __m512d min0 = _mm512_set1_pd(lv.min[0]);
    const __m512d min1 = _mm512_set1_pd(lv.min[1]);
    const __m512d min2 = _mm512_set1_pd(lv.min[2]);
    const __m512d range0 = _mm512_set1_pd(lv.range[0]);
    const __m512d below0 = _mm512_set1_pd(lv.below[0]);
    const __m512d below1 = _mm512_set1_pd(lv.below[1]);
    const __m512d below2 = _mm512_set1_pd(lv.below[2]);
    const __m512d above0 = _mm512_set1_pd(lv.above[0]);
    const __m512d above1 = _mm512_set1_pd(lv.above[1]);
    const __m512d above2 = _mm512_set1_pd(lv.above[2]);
    alignas(32) float exact[8];
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        __mmask8 ok = 0xFF;
        const __m512d rr = Display8(r + i, min0, below0, above0, ok);
        const __m512d gg = Display8(g + i, min1, below1, above1, ok);
        const __m512d bb = Display8(b + i, min2, below2, above2, ok);
        const __m512d y = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(wg, gg), _mm512_mul_pd(wr, rr)),
                                        _mm512_mul_pd(wb, bb));
        __m256 v = Narrow8(y);
        if constexpr (kRaw) {
            const __m512d q = DivideBy255x8(Widen8(v));
            v = Narrow8(_mm512_add_pd(_mm512_mul_pd(q, range0), min0));
        }
        if (ok != 0xFF) {
            Divided<kRaw>(r + i, g + i, b + i, 8, exact, lv);
            v = _mm256_load_ps(exact);
        }
        sink.Put(v);
    }
    Divided<kRaw>(r + i, g + i, b + i, n - i, exact, lv);
    for (int j = 0; j < n - i; ++j) {
        sink.PutOne(exact[j]);
    }
}

template <bool kRaw>
[[ORBIMG_AVX512]] void StoreAvx512(const float* r, const float* g, const float* b, int n, float* out,
                                   const LumaLevels& lv)
{
    Store8 sink{out};
    Luma8<kRaw>(r, g, b, n, lv, sink);
}

[[ORBIMG_AVX512]] long long SumRawAvx512(const float* r, const float* g, const float* b, int n,
                                         const LumaLevels& lv, double& sum)
{
    Sum8<false> sink{sum, 0.0};
    Luma8<true>(r, g, b, n, lv, sink);
    sum = sink.sum;
    return sink.count;
}

[[ORBIMG_AVX512]] long long SumRawSquaresAvx512(const float* r, const float* g, const float* b, int n,
                                                const LumaLevels& lv, double center, double& sum)
{
    Sum8<true> sink{sum, center};
    Luma8<true>(r, g, b, n, lv, sink);
    sum = sink.sum;
    return sink.count;
}

[[ORBIMG_AVX512]] void DivideBy255Avx512(const float* y, int n, double* out)
{
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        _mm512_storeu_pd(out + i, DivideBy255x8(Widen8(_mm256_loadu_ps(y + i))));
    }
    for (; i < n; ++i) {
        out[i] = static_cast<double>(y[i]) / 255.0;
    }
}

#undef ORBIMG_FMA
#undef ORBIMG_AVX512

}  // namespace

const LumaKernels kFmaKernels = {StoreFma<false>, StoreFma<true>, SumRawFma, SumRawSquaresFma, DivideBy255Fma};
const LumaKernels kAvx512Kernels = {StoreAvx512<false>, StoreAvx512<true>, SumRawAvx512, SumRawSquaresAvx512,
                                    DivideBy255Avx512};

}  // namespace orbimg::detail
