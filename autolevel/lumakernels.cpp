// The luminance kernels, built for each instruction set (platform/simd.h):
// the divided route (the divisions as written, a plain loop), and the
// proven route of the vector builds, which replaces the double divisions of
// the pixel functions by multiplications whose rounded results are proven
// equal, and divides as written only where the proof fails.
//
// One plane's display value. With d = s - min (the same double in every
// build), the division gives t = RN(RN(d / range) * 255) and the pixel
// functions keep float(t). The proven route computes
//     lo = RN(d * below), hi = RN(d * above),
//     below = RN(k (1 - 2^-48)), above = RN(k (1 + 2^-48)), k = RN(255 / range)
// and keeps float(lo) when it equals float(hi). With z = 255 d / range and
// u = 2^-53, while nothing underflows or overflows, t lies within a factor
// (1 +- u)^2 of z, and lo and hi within (1 +- 32u)(1 +- u)^3, one on each
// side: t lies between lo and hi (at least 27u |z| from each). Rounding to
// float is monotonic, so float(lo) == float(hi) gives float(t) == float(lo).
// A float rounding boundary falls between lo and hi for about one value in
// 2^23; such pixels, and every NaN (which compares unequal), are divided as
// written. The limits of the argument:
//   - 2^-1000 <= |range| <= 2^1000 and min finite (DisplayLuma checks it
//     and takes the divided route for other levels): k, below and above are
//     normal numbers;
//   - |z| below 2^-1000: t, lo and hi are all below 2^-990 in magnitude and
//     round to a float zero with the sign of d / range (rounding keeps the
//     sign of a product or a quotient, also for d = +-0): the check passes
//     and holds;
//   - |z| above 2^1000 (or d infinite): t, lo and hi are all at least 2^999
//     in magnitude or infinite, and round to the same float infinity;
//   - in between, every intermediate is a normal number.
// The conversions are the vector instructions' IEEE ones (round to nearest,
// overflow to infinity). Highway's plain builds (SCALAR, EMU128) saturate a
// double beyond float's range instead, so they take the divided route only.
//
// The raw scale, Y / 255 * range0 + min0. Y is a float; with r = RN(1 / 255),
// q0 = RN(Y r), e = fma(q0, 255, -Y) (exact) and q = fma(-e, r, q0), q is
// RN(Y / 255) for every finite float Y, zeros with their sign: checked for
// all 2^32 floats (tests/autolevel, ExhaustiveDivideBy255). For an infinite
// or NaN Y, e is NaN and q0 = Y r is the quotient (the infinity, or Y's
// NaN), which is taken instead. This needs a fused multiply-add: builds
// whose MulAdd is one instruction (HWY_NATIVE_FMA: AVX2, AVX-512, NEON and
// SVE on 64-bit ARM) take it; the others (SSSE3, SSE4) divide Y by 255 with
// the vector division, correctly rounded as the scalar one.
//
// The sums. The kernels hand each group of values to a sink: a store, or a
// sum that widens the group, zeroes its NaN lanes, and adds the lanes one
// by one in order. Adding right after each group keeps only a few
// additions waiting on the sequential chain, so the next group's arithmetic
// finds the schedulers free; summing a stored run afterwards leaves the
// whole run's additions waiting and stalls it. For the same reason the
// proven route computes two vectors side by side: each vector's work is one
// long chain of dependent steps, and a second chain in the same loop body
// gives the core independent work while the first one waits.
#include <algorithm>

#include "autolevel/lumakernels.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "autolevel/lumakernels.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// ---- the divided route ---------------------------------------------------------

/// Values the divided route computes into a buffer before adding them.
constexpr int kChunk = 64;

template <bool kSquares>
long long SumDivided(const float* r, const float* g, const float* b, int n, const LumaLevels& lv, double center,
                     double& sum)
{
    float values[kChunk];
    double s = sum;
    long long count = 0;
    for (int i = 0; i < n; i += kChunk) {
        const int m = std::min(kChunk, n - i);
        Divided<true>(r + i, g + i, b + i, m, values, lv);
        for (int j = 0; j < m; ++j) {
            count += AddOne<kSquares>(values[j], center, s);
        }
    }
    sum = s;
    return count;
}

template <bool kRaw>
void StoreDivided(const float* r, const float* g, const float* b, int n, float* out, const LumaLevels& lv)
{
    Divided<kRaw>(r, g, b, n, out, lv);
}

long long SumRawDivided(const float* r, const float* g, const float* b, int n, const LumaLevels& lv, double& sum)
{
    return SumDivided<false>(r, g, b, n, lv, 0.0, sum);
}

long long SumRawSquaresDivided(const float* r, const float* g, const float* b, int n, const LumaLevels& lv,
                               double center, double& sum)
{
    return SumDivided<true>(r, g, b, n, lv, center, sum);
}

void DivideBy255Divided(const float* y, int n, double* out)
{
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<double>(y[i]) / 255.0;
    }
}

constexpr LumaKernels kDividedKernels = {StoreDivided<false>, StoreDivided<true>, SumRawDivided, SumRawSquaresDivided,
                                         DivideBy255Divided};

#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128

// ---- the proven route: a vector of doubles at a time ------------------------------

namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using DF = hn::Rebind<float, D>;  // as many floats as D has doubles
using V = hn::Vec<D>;
using VF = hn::Vec<DF>;

/// The most lanes D can have: the size of the buffers of one vector.
constexpr int kMaxLanes = HWY_MAX_BYTES / sizeof(double);

/// RN(y / 255) for doubles holding floats.
HWY_INLINE V DivideBy255Vector(D d, V y)
{
#if HWY_NATIVE_FMA
    const V k255 = hn::Set(d, 255.0);
    const V r = hn::Set(d, 1.0 / 255.0);
    const V q0 = hn::Mul(y, r);
    const V e = hn::MulSub(q0, k255, y);
    const V q = hn::NegMulAdd(e, r, q0);
    return hn::IfThenElse(hn::IsNaN(e), q0, q);
#else
    return hn::Div(y, hn::Set(d, 255.0));
#endif
}

/// Sinks of a vector of values: stored, or added to a sum.
struct StoreSink {
    float* out;

    HWY_INLINE void Put(DF df, VF v)
    {
        hn::StoreU(v, df, out);
        out += hn::Lanes(df);
    }
    void PutOne(float v) { *out++ = v; }
};

template <bool kSquares>
struct SumSink {
    double sum;
    double center;
    long long count = 0;

    HWY_INLINE void Put(DF df, VF v)
    {
        const D d;
        V x = hn::PromoteTo(d, v);
        const auto valid = hn::Eq(x, x);
        if constexpr (kSquares) {
            x = hn::Sub(x, hn::Set(d, center));
            x = hn::Mul(x, x);
        }
        HWY_ALIGN double t[kMaxLanes];
        hn::Store(hn::IfThenElseZero(valid, x), d, t);
        count += static_cast<long long>(hn::CountTrue(d, valid));
        const int lanes = static_cast<int>(hn::Lanes(df));
        for (int j = 0; j < lanes; ++j) {
            sum += t[j];
        }
    }
    void PutOne(float v) { count += AddOne<kSquares>(v, center, sum); }
};

/// One vector of values: each plane's display value bracketed by lo and hi,
/// then the luminance; ok tells whether the proof held in every lane.
template <bool kRaw>
HWY_INLINE VF ProvenVector(const float* r, const float* g, const float* b, const LumaLevels& lv, bool& ok)
{
    const D d;
    const DF df;
    const V min0 = hn::Set(d, lv.min[0]);
    const V dr = hn::Sub(hn::PromoteTo(d, hn::LoadU(df, r)), min0);
    const V dg = hn::Sub(hn::PromoteTo(d, hn::LoadU(df, g)), hn::Set(d, lv.min[1]));
    const V db = hn::Sub(hn::PromoteTo(d, hn::LoadU(df, b)), hn::Set(d, lv.min[2]));
    const VF rlo = hn::DemoteTo(df, hn::Mul(dr, hn::Set(d, lv.below[0])));
    const VF rhi = hn::DemoteTo(df, hn::Mul(dr, hn::Set(d, lv.above[0])));
    const VF glo = hn::DemoteTo(df, hn::Mul(dg, hn::Set(d, lv.below[1])));
    const VF ghi = hn::DemoteTo(df, hn::Mul(dg, hn::Set(d, lv.above[1])));
    const VF blo = hn::DemoteTo(df, hn::Mul(db, hn::Set(d, lv.below[2])));
    const VF bhi = hn::DemoteTo(df, hn::Mul(db, hn::Set(d, lv.above[2])));
    ok = hn::AllTrue(df, hn::And(hn::And(hn::Eq(rlo, rhi), hn::Eq(glo, ghi)), hn::Eq(blo, bhi)));
    const V y = hn::Add(
        hn::Add(hn::Mul(hn::Set(d, 0.587), hn::PromoteTo(d, glo)), hn::Mul(hn::Set(d, 0.299), hn::PromoteTo(d, rlo))),
        hn::Mul(hn::Set(d, 0.114), hn::PromoteTo(d, blo)));
    VF v = hn::DemoteTo(df, y);
    if constexpr (kRaw) {
        const V q = DivideBy255Vector(d, hn::PromoteTo(d, v));
        v = hn::DemoteTo(df, hn::Add(hn::Mul(q, hn::Set(d, lv.range[0])), min0));
    }
    return v;
}

/// Hands one vector of values at r, g, b on to sink: v where its proof held
/// (ok), else the values divided as written.
template <bool kRaw, class Sink>
HWY_INLINE void PutProven(const float* r, const float* g, const float* b, VF v, bool ok, const LumaLevels& lv,
                          Sink& sink)
{
    const DF df;
    if (!ok) {
        HWY_ALIGN float exact[kMaxLanes];
        Divided<kRaw>(r, g, b, static_cast<int>(hn::Lanes(df)), exact, lv);
        v = hn::Load(df, exact);
    }
    sink.Put(df, v);
}

template <bool kRaw, class Sink>
HWY_INLINE void ProvenLuma(const float* r, const float* g, const float* b, int n, const LumaLevels& lv, Sink& sink)
{
    const int lanes = static_cast<int>(hn::Lanes(DF()));
    int i = 0;
    // Two vectors at a time (see the head of this file), handed on in order.
    for (; i + 2 * lanes <= n; i += 2 * lanes) {
        const int j = i + lanes;
        bool ok0, ok1;
        const VF v0 = ProvenVector<kRaw>(r + i, g + i, b + i, lv, ok0);
        const VF v1 = ProvenVector<kRaw>(r + j, g + j, b + j, lv, ok1);
        PutProven<kRaw>(r + i, g + i, b + i, v0, ok0, lv, sink);
        PutProven<kRaw>(r + j, g + j, b + j, v1, ok1, lv, sink);
    }
    for (; i + lanes <= n; i += lanes) {
        bool ok;
        const VF v = ProvenVector<kRaw>(r + i, g + i, b + i, lv, ok);
        PutProven<kRaw>(r + i, g + i, b + i, v, ok, lv, sink);
    }
    float exact[kMaxLanes] = {};
    Divided<kRaw>(r + i, g + i, b + i, n - i, exact, lv);
    for (int j = 0; j < n - i; ++j) {
        sink.PutOne(exact[j]);
    }
}

template <bool kRaw>
void StoreProven(const float* r, const float* g, const float* b, int n, float* out, const LumaLevels& lv)
{
    StoreSink sink{out};
    ProvenLuma<kRaw>(r, g, b, n, lv, sink);
}

long long SumRawProven(const float* r, const float* g, const float* b, int n, const LumaLevels& lv, double& sum)
{
    SumSink<false> sink{sum, 0.0};
    ProvenLuma<true>(r, g, b, n, lv, sink);
    sum = sink.sum;
    return sink.count;
}

long long SumRawSquaresProven(const float* r, const float* g, const float* b, int n, const LumaLevels& lv,
                              double center, double& sum)
{
    SumSink<true> sink{sum, center};
    ProvenLuma<true>(r, g, b, n, lv, sink);
    sum = sink.sum;
    return sink.count;
}

void DivideBy255Proven(const float* y, int n, double* out)
{
    const D d;
    const DF df;
    const int lanes = static_cast<int>(hn::Lanes(d));
    int i = 0;
    for (; i + lanes <= n; i += lanes) {
        hn::StoreU(DivideBy255Vector(d, hn::PromoteTo(d, hn::LoadU(df, y + i))), d, out + i);
    }
    DivideBy255Divided(y + i, n - i, out + i);
}

constexpr LumaKernels kProvenKernels = {StoreProven<false>, StoreProven<true>, SumRawProven, SumRawSquaresProven,
                                        DivideBy255Proven};

#else

// The plain builds: the divided route for both.
constexpr LumaKernels kProvenKernels = kDividedKernels;

#endif

/// The kernels of one route in this build.
const LumaKernels* Kernels(LumaRoute route) { return route == LumaRoute::Proven ? &kProvenKernels : &kDividedKernels; }

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {

HWY_EXPORT(Kernels);

const LumaKernels& KernelsOf(LumaRoute route) { return *HWY_DYNAMIC_DISPATCH(Kernels)(route); }

}  // namespace orbimg::detail
#endif  // HWY_ONCE
