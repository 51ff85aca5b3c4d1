// The display luminance of runs of colour pixels: the choice of build, and
// the two builds that divide as written (plain, and AVX2 with the same
// arithmetic four values at a time). The division-free builds are in
// lumafast.cpp.
#include "autolevel/luma.h"

#include <algorithm>
#include <cmath>

#include "autolevel/lumakernels.h"

namespace orbimg::detail {

namespace {

/// Values a dividing build computes into a buffer before adding them.
constexpr int kChunk = 64;

template <bool kSquares>
[[gnu::always_inline]] inline long long SumDivided(const float* r, const float* g, const float* b, int n,
                                                   const LumaLevels& lv, double center, double& sum)
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

void To256Plain(const float* r, const float* g, const float* b, int n, float* out, const LumaLevels& lv)
{
    Divided<false>(r, g, b, n, out, lv);
}

void ToRawPlain(const float* r, const float* g, const float* b, int n, float* out, const LumaLevels& lv)
{
    Divided<true>(r, g, b, n, out, lv);
}

long long SumRawPlain(const float* r, const float* g, const float* b, int n, const LumaLevels& lv, double& sum)
{
    return SumDivided<false>(r, g, b, n, lv, 0.0, sum);
}

long long SumRawSquaresPlain(const float* r, const float* g, const float* b, int n, const LumaLevels& lv,
                             double center, double& sum)
{
    return SumDivided<true>(r, g, b, n, lv, center, sum);
}

[[gnu::target("avx2")]] void To256Avx2(const float* r, const float* g, const float* b, int n, float* out,
                                       const LumaLevels& lv)
{
    Divided<false>(r, g, b, n, out, lv);
}

[[gnu::target("avx2")]] void ToRawAvx2(const float* r, const float* g, const float* b, int n, float* out,
                                       const LumaLevels& lv)
{
    Divided<true>(r, g, b, n, out, lv);
}

[[gnu::target("avx2")]] long long SumRawAvx2(const float* r, const float* g, const float* b, int n,
                                             const LumaLevels& lv, double& sum)
{
    return SumDivided<false>(r, g, b, n, lv, 0.0, sum);
}

[[gnu::target("avx2")]] long long SumRawSquaresAvx2(const float* r, const float* g, const float* b, int n,
                                                    const LumaLevels& lv, double center, double& sum)
{
    return SumDivided<true>(r, g, b, n, lv, center, sum);
}

void DivideBy255Plain(const float* y, int n, double* out)
{
    for (int i = 0; i < n; ++i) {
        out[i] = static_cast<double>(y[i]) / 255.0;
    }
}

constexpr LumaKernels kPlainKernels = {To256Plain, ToRawPlain, SumRawPlain, SumRawSquaresPlain, DivideBy255Plain};
constexpr LumaKernels kAvx2Kernels = {To256Avx2, ToRawAvx2, SumRawAvx2, SumRawSquaresAvx2, DivideBy255Plain};

const LumaKernels& KernelsOf(LumaBuild build)
{
    switch (build) {
    case LumaBuild::Avx512:
        return kAvx512Kernels;
    case LumaBuild::Fma:
        return kFmaKernels;
    case LumaBuild::Avx2:
        return kAvx2Kernels;
    case LumaBuild::Plain:
        break;
    }
    return kPlainKernels;
}

/// Levels the division-free builds cover (the limits of the argument in
/// lumafast.cpp).
bool Covered(double min, double range)
{
    const double magnitude = std::fabs(range);
    return std::isfinite(min) && magnitude >= 0x1p-1000 && magnitude <= 0x1p1000;
}

}  // namespace

void DivideBy255(LumaBuild build, const float* y, int n, double* out)
{
    KernelsOf(build).divideBy255(y, n, out);
}

bool DisplayLuma::Runs(LumaBuild build)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool fma = avx2 && __builtin_cpu_supports("fma") && __builtin_cpu_supports("popcnt");
    static const bool avx512 = fma && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
    switch (build) {
    case LumaBuild::Plain:
        return true;
    case LumaBuild::Avx2:
        return avx2;
    case LumaBuild::Fma:
        return fma;
    case LumaBuild::Avx512:
        return avx512;
    }
    return false;
}

LumaBuild DisplayLuma::Best()
{
    for (const LumaBuild build : {LumaBuild::Avx512, LumaBuild::Fma, LumaBuild::Avx2}) {
        if (Runs(build)) {
            return build;
        }
    }
    return LumaBuild::Plain;
}

DisplayLuma::DisplayLuma(const CKelImage& image, LumaBuild build) : m_build(build)
{
    bool covered = true;
    for (int p = 0; p < 3; ++p) {
        m_levels.min[p] = image.GetLevelMin(p);
        m_levels.range[p] = image.GetLevelRange(p);
        // The bounds of the division-free builds: RN(k (1 -+ 2^-48)) with
        // k = RN(255 / range).
        const double k = 255.0 / m_levels.range[p];
        m_levels.below[p] = k * (1.0 - 0x1p-48);
        m_levels.above[p] = k * (1.0 + 0x1p-48);
        covered = covered && Covered(m_levels.min[p], m_levels.range[p]);
    }
    if ((m_build == LumaBuild::Fma || m_build == LumaBuild::Avx512) && !covered) {
        m_build = LumaBuild::Avx2;
    }
    m_kernels = &KernelsOf(m_build);
}

void DisplayLuma::To256(const float* r, const float* g, const float* b, int n, float* out) const
{
    m_kernels->to256(r, g, b, n, out, m_levels);
}

void DisplayLuma::ToRaw(const float* r, const float* g, const float* b, int n, float* out) const
{
    m_kernels->toRaw(r, g, b, n, out, m_levels);
}

long long DisplayLuma::SumRaw(const float* r, const float* g, const float* b, int n, double& sum) const
{
    return m_kernels->sumRaw(r, g, b, n, m_levels, sum);
}

long long DisplayLuma::SumRawSquares(const float* r, const float* g, const float* b, int n, double center,
                                     double& sum) const
{
    return m_kernels->sumRawSquares(r, g, b, n, m_levels, center, sum);
}

}  // namespace orbimg::detail
