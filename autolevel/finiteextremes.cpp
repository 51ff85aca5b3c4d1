// The count and extremes of a row's finite samples, in vectors (see
// samples.h). Infinities and NaN are replaced by the identity of each
// reduction before it, so the lanes' order does not matter but for the sign
// of a zero extreme.
#include <cfloat>
#include <cmath>

#include "autolevel/samples.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "autolevel/finiteextremes.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

long long FiniteExtremesRow(const float* row, int n, float& lo, float& hi)
{
    const hn::ScalableTag<float> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const auto top = hn::Set(d, FLT_MAX);
    const auto up = hn::Set(d, HUGE_VALF);
    const auto down = hn::Set(d, -HUGE_VALF);
    auto least = up;
    auto greatest = down;
    long long count = 0;
    int x = 0;
    for (; x + lanes <= n; x += lanes) {
        const auto v = hn::LoadU(d, row + x);
        const auto finite = hn::Le(hn::Abs(v), top);
        least = hn::Min(least, hn::IfThenElse(finite, v, up));
        greatest = hn::Max(greatest, hn::IfThenElse(finite, v, down));
        count += static_cast<long long>(hn::CountTrue(d, finite));
    }
    float a = std::fmin(lo, hn::GetLane(hn::MinOfLanes(d, least)));
    float b = std::fmax(hi, hn::GetLane(hn::MaxOfLanes(d, greatest)));
    for (; x < n; ++x) {
        const float v = row[x];
        const bool finite = std::fabs(v) <= FLT_MAX;
        a = finite ? std::fmin(a, v) : a;
        b = finite ? std::fmax(b, v) : b;
        count += finite;
    }
    lo = a;
    hi = b;
    return count;
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {

HWY_EXPORT(FiniteExtremesRow);

long long FiniteExtremes(const float* row, int n, float& lo, float& hi)
{
    return HWY_DYNAMIC_DISPATCH(FiniteExtremesRow)(row, n, lo, hi);
}

}  // namespace orbimg::detail
#endif  // HWY_ONCE
