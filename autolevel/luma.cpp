// The display luminance of runs of colour pixels: the levels, and the choice
// of route. The kernels are in lumakernels.cpp.
#include "autolevel/luma.h"

#include <cmath>

#include "autolevel/lumakernels.h"

namespace orbimg::detail {

namespace {

/// Levels the proven route covers (the limits of the argument in
/// lumakernels.cpp).
bool Covered(double min, double range)
{
    const double magnitude = std::fabs(range);
    return std::isfinite(min) && magnitude >= 0x1p-1000 && magnitude <= 0x1p1000;
}

}  // namespace

void DivideBy255(const float* y, int n, double* out) { KernelsOf(LumaRoute::Proven).divideBy255(y, n, out); }

DisplayLuma::DisplayLuma(const CKelImage& image, LumaRoute route) : m_route(route)
{
    bool covered = true;
    for (int p = 0; p < 3; ++p) {
        m_levels.min[p] = image.GetLevelMin(p);
        m_levels.range[p] = image.GetLevelRange(p);
        // The bounds of the proven route: RN(k (1 -+ 2^-48)) with
        // k = RN(255 / range).
        const double k = 255.0 / m_levels.range[p];
        m_levels.below[p] = k * (1.0 - 0x1p-48);
        m_levels.above[p] = k * (1.0 + 0x1p-48);
        covered = covered && Covered(m_levels.min[p], m_levels.range[p]);
    }
    if (!covered) {
        m_route = LumaRoute::Divided;
    }
    m_kernels = &KernelsOf(m_route);
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
