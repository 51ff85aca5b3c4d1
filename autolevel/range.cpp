// Auto level by range: the extremes of the window, with the two parameters
// read as fractions of the extreme range or as percentiles of a 5000-bin
// histogram of the window.
#include <cmath>
#include <vector>

#include "autolevel/autolevel.h"
#include "autolevel/samples.h"

using orbimg::detail::ClipWindow;
using orbimg::detail::Extremes;
using orbimg::detail::FindExtremes;
using orbimg::detail::SampleSet;
using orbimg::detail::Window;

namespace {

constexpr int kBins = 5000;

/// Fraction mode: a parameter at or outside 0 .. 1 (and NaN, which then
/// gives a NaN level rather than a walk target).
bool IsFraction(double x) { return !(x > 0.0 && x < 1.0); }

/// trunc(v) for a product in 0 .. total (v is never NaN here).
long long Trunc(double v) { return static_cast<long long>(v); }

/// First bin from the bottom at which the running sum of (count + 1)
/// exceeds target; kBins when none does.
int WalkUp(const std::vector<int>& hist, long long target)
{
    long long sum = 0;
    for (int i = 0; i < kBins; ++i) {
        sum += static_cast<long long>(hist[i]) + 1;
        if (sum > target) {
            return i;
        }
    }
    return kBins;
}

/// First bin from the top at which the running sum of (count + 1) exceeds
/// target; -1 when none does.
int WalkDown(const std::vector<int>& hist, long long target)
{
    long long sum = 0;
    for (int i = kBins - 1; i >= 0; --i) {
        sum += static_cast<long long>(hist[i]) + 1;
        if (sum > target) {
            return i;
        }
    }
    return -1;
}

/// Counts of the histogram: the samples it holds.
long long Total(const std::vector<int>& hist)
{
    long long n = 0;
    for (const int c : hist) {
        n += c;
    }
    return n;
}

}  // namespace

void CImgAutoLevel::DoByNormal(double low, double high, int perPlane, CRect* rect)
{
    const Window w = ClipWindow(*this, rect);
    const bool luma = perPlane == 0 && IsColor();
    std::vector<int> hist(kBins);
    const int passes = luma ? 1 : GetPlanes();
    if (w.Empty()) {
        return;
    }
    for (int p = 0; p < passes; ++p) {
        const int plane = luma ? -1 : p;
        double min = 0.0;
        double max = 0.0;
        long long n = 0;
        if (luma) {
            const Extremes e = FindExtremes(*this, w, SampleSet::Luma256, 0);
            if (e.count == 0) {
                return;  // every pixel NaN
            }
            min = ToRaw(static_cast<double>(e.min), 0);
            max = ToRaw(static_cast<double>(e.max), 0);
            n = e.count;
        } else {
            GetMinMax(p, &min, &max);
        }
        GetHistogram(hist.data(), kBins, min, max, plane, 0, 1, 0, rect, 0, 0);
        if (!luma) {
            // The extremes are the whole plane's, so every window sample that
            // is not NaN lies in min .. max and is counted: the histogram
            // holds the window's count.
            n = Total(hist);
            if (n == 0) {
                continue;  // the window of this plane is all NaN
            }
        }
        const long long total = n + kBins;
        const double range = max - min;

        double lowLevel;
        if (IsFraction(low)) {
            lowLevel = low * range + min;
        } else {
            const int i = WalkUp(hist, Trunc(static_cast<double>(total) * low));
            lowLevel = i * range / kBins + min;
        }
        double highLevel;
        if (IsFraction(high)) {
            highLevel = range * high + min;
        } else {
            const int i = WalkDown(hist, Trunc((1.0 - high) * static_cast<double>(total)));
            highLevel = (i + 1) * range / kBins + min;
        }
        SetLevel(plane, lowLevel, highLevel);
    }
}

void CImgAutoLevel::GetByNormal(double& low, double& high, CRect* rect)
{
    low = 0.0;
    high = 1.0;
    const Window w = ClipWindow(*this, rect);
    const double levelMin = GetLevelMin(0);
    const double levelMax = GetLevelMax(0);
    std::vector<int> hist(kBins);

    double min;
    double max;
    long long n;
    if (IsColor()) {
        const Extremes e = FindExtremes(*this, w, SampleSet::Luma256, 0);
        min = ToRaw(static_cast<double>(e.min), 0);
        max = ToRaw(static_cast<double>(e.max), 0);
        n = e.count;
    } else {
        const Extremes e = FindExtremes(*this, w, SampleSet::Plane, 0);
        min = e.min;
        max = e.max;
        n = e.count;
    }
    const double range = max - min;
    if (n == 0 || range == 0.0) {
        return;  // empty or flat window: the neutral parameters
    }
    GetHistogram(hist.data(), kBins, min, max, -1, 0, 1, 0, rect, 0, 0);
    const double total = static_cast<double>(n + kBins);

    if (min >= levelMin || levelMin >= max) {
        low = (levelMin - min) / range;
    } else {
        long long before = 0;
        long long after = 0;
        for (int i = 0; i < kBins; ++i) {
            before = after;
            after += static_cast<long long>(hist[i]) + 1;
            if (static_cast<double>(i) / kBins * range + min > levelMin) {
                low = static_cast<double>(after + before) * 0.5 / total;
                break;
            }
        }
    }

    if (levelMax >= max || min >= levelMax) {
        high = (levelMax - min) / range;
    } else {
        long long before = 0;
        long long after = 0;
        for (int i = kBins - 1; i >= 1; --i) {
            before = after;
            after += static_cast<long long>(hist[i]) + 1;
            if (static_cast<double>(i) / kBins * range + min < levelMax) {
                high = 1.0 - static_cast<double>(after + before) * 0.5 / total;
                break;
            }
        }
    }
}
