// Auto level by mean: levels a number of standard deviations below and
// above the mean of the window.
#include "autolevel/autolevel.h"
#include "autolevel/samples.h"

using orbimg::detail::ClipWindow;
using orbimg::detail::RmsDeviation;
using orbimg::detail::SampleSet;
using orbimg::detail::Sum;
using orbimg::detail::SumValues;
using orbimg::detail::Window;

namespace {

/// Mean and population standard deviation of a sample set; valid is false
/// when the set has no value that is not NaN.
struct Stats {
    double mean = 0.0;
    double sigma = 0.0;
    bool valid = false;
};

/// Two passes in window order: sum / N, then sqrt(sum of (v - mean)^2 / N).
Stats Measure(const CKelImage& image, const Window& w, SampleSet set, int plane)
{
    Stats s;
    const Sum sum = SumValues(image, w, set, plane);
    if (sum.count > 0) {
        s.mean = sum.value / static_cast<double>(sum.count);
        s.valid = RmsDeviation(image, w, set, plane, s.mean, s.sigma);
    }
    return s;
}

}  // namespace

void CImgAutoLevel::DoByMean(double low, double high, int perPlane, CRect* rect)
{
    const Window w = ClipWindow(*this, rect);
    if (IsColor() && perPlane != 0) {
        for (int p = 0; p < GetPlanes(); ++p) {
            const Stats s = Measure(*this, w, SampleSet::Plane, p);
            if (s.valid) {
                SetLevel(p, s.mean - s.sigma * low, s.sigma * high + s.mean);
            }
        }
        return;
    }
    const Stats s = Measure(*this, w, IsColor() ? SampleSet::LumaRaw : SampleSet::Plane, 0);
    if (s.valid) {
        SetLevel(-1, s.mean - s.sigma * low, s.sigma * high + s.mean);
    }
}

void CImgAutoLevel::GetByMean(double& low, double& high, CRect* rect)
{
    low = 0.0;
    high = 1.0;
    const Window w = ClipWindow(*this, rect);
    const Stats s = Measure(*this, w, IsColor() ? SampleSet::LumaRaw : SampleSet::Plane, 0);
    if (!s.valid || s.sigma == 0.0) {
        return;  // empty or flat window: the neutral parameters
    }
    low = (s.mean - GetLevelMin(0)) / s.sigma;
    high = (GetLevelMax(0) - s.mean) / s.sigma;
}
