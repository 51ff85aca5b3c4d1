// Bin indexes of histogram runs, as plain loops built for every instruction
// set (the compiler vectorises them with each target's instructions); the
// arithmetic is BinMap::Index's and LumaMap::Luma's, so every build gives
// the same indexes.
#include "display/histogrambins.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "display/histogrambins.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {

void PlaneBins(const float* s, int n, const BinMap& map, int* index)
{
    const BinMap m = map;  // a local copy: its fields stay in registers
    for (int i = 0; i < n; ++i) {
        index[i] = m.Index(static_cast<double>(s[i]));
    }
}

void LumaBins(const float* r, const float* g, const float* b, int n, const LumaMap& luma, const BinMap& map, int* index)
{
    const BinMap m = map;
    const LumaMap l = luma;
    for (int i = 0; i < n; ++i) {
        index[i] = m.Index(l.Luma(r[i], g[i], b[i]));
    }
}

}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {

HWY_EXPORT(PlaneBins);
HWY_EXPORT(LumaBins);

void PlaneBins(const float* s, int n, const BinMap& map, int* index)
{
    HWY_DYNAMIC_DISPATCH(PlaneBins)(s, n, map, index);
}

void LumaBins(const float* r, const float* g, const float* b, int n, const LumaMap& luma, const BinMap& map, int* index)
{
    HWY_DYNAMIC_DISPATCH(LumaBins)(r, g, b, n, luma, map, index);
}

}  // namespace orbimg::detail
#endif  // HWY_ONCE
