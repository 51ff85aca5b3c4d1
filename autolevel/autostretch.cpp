// Automatic display stretch: levels and a transfer function from the median
// and the median absolute deviation of each plane (or of the planes linked).
//
// The median and the MAD are exact order statistics of the window's finite
// samples, found in three passes: the extremes, a histogram of 65536 bins
// over them (which bin holds the wanted rank), and the samples of that bin
// alone, ordered. Each pass splits the rows into chunks on the task
// scheduler (serially while the sample store is partly swapped out); an
// order statistic does not depend on the order the samples are met in.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "autolevel/autolevel.h"
#include "autolevel/samples.h"
#include "platform/ppl.h"

namespace {

using orbimg::detail::Window;

constexpr int kChunks = 16;
constexpr int kBins = 65536;
constexpr double kMadToSigma = 1.4826;

// Runs fn(chunk) for the row chunks of the window.
template <typename Fn>
void ForChunks(const Fn& fn)
{
    if (CVmManager::GetCurrentSwapSize() != 0) {
        for (int c = 0; c < kChunks; ++c) {
            fn(c);
        }
        return;
    }
    Concurrency::parallel_for(0, kChunks, fn);
}

int ChunkTop(const Window& w, int c)
{
    return w.top + static_cast<int>(static_cast<long long>(w.Height()) * c / kChunks);
}

// The figures of one plane.
struct PlaneFigures {
    long long count = 0;  // finite samples
    double min = 0.0;
    double max = 0.0;
    double median = 0.0;
    double mad = 0.0;  // median of |v - median|
};

// The value of rank k (0-based, ascending) among map(v) of the plane's
// finite samples, all of which lie in lo .. hi.
template <typename Map>
double Rank(const CKelImage& image, int plane, const Window& w, long long k, double lo, double hi, const Map& map)
{
    const double scale = hi > lo ? kBins / (hi - lo) : 0.0;
    auto binOf = [&](double v) {
        const double t = (v - lo) * scale;
        return t < kBins - 1 ? static_cast<int>(t) : kBins - 1;
    };
    std::vector<std::vector<long long>> counts(kChunks);
    ForChunks([&](int c) {
        std::vector<long long>& h = counts[static_cast<std::size_t>(c)];
        h.assign(kBins, 0);
        for (int y = ChunkTop(w, c); y < ChunkTop(w, c + 1); ++y) {
            const float* row = image.GetImageAdr(w.left, y, plane, 1, nullptr);
            for (int x = 0; x < w.Width(); ++x) {
                const float v = row[x];
                if (std::isfinite(v)) {
                    ++h[static_cast<std::size_t>(binOf(map(v)))];
                }
            }
        }
    });
    long long below = 0;
    int bin = 0;
    for (; bin < kBins; ++bin) {
        long long n = 0;
        for (const auto& h : counts) {
            n += h[static_cast<std::size_t>(bin)];
        }
        if (below + n > k) {
            break;
        }
        below += n;
    }
    std::vector<std::vector<double>> values(kChunks);
    ForChunks([&](int c) {
        std::vector<double>& out = values[static_cast<std::size_t>(c)];
        for (int y = ChunkTop(w, c); y < ChunkTop(w, c + 1); ++y) {
            const float* row = image.GetImageAdr(w.left, y, plane, 1, nullptr);
            for (int x = 0; x < w.Width(); ++x) {
                const float v = row[x];
                if (std::isfinite(v)) {
                    const double m = map(v);
                    if (binOf(m) == bin) {
                        out.push_back(m);
                    }
                }
            }
        }
    });
    std::vector<double> all;
    for (auto& v : values) {
        all.insert(all.end(), v.begin(), v.end());
    }
    const auto nth = all.begin() + (k - below);
    std::nth_element(all.begin(), nth, all.end());
    return *nth;
}

PlaneFigures Measure(const CKelImage& image, int plane, const Window& w)
{
    PlaneFigures f;
    std::vector<long long> counts(kChunks, 0);
    std::vector<double> lows(kChunks, HUGE_VAL);
    std::vector<double> highs(kChunks, -HUGE_VAL);
    ForChunks([&](int c) {
        long long n = 0;
        float lo = HUGE_VALF;
        float hi = -HUGE_VALF;
        for (int y = ChunkTop(w, c); y < ChunkTop(w, c + 1); ++y) {
            const float* row = image.GetImageAdr(w.left, y, plane, 1, nullptr);
            for (int x = 0; x < w.Width(); ++x) {
                const float v = row[x];
                if (std::isfinite(v)) {
                    ++n;
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
        }
        counts[static_cast<std::size_t>(c)] = n;
        lows[static_cast<std::size_t>(c)] = lo;
        highs[static_cast<std::size_t>(c)] = hi;
    });
    for (int c = 0; c < kChunks; ++c) {
        f.count += counts[static_cast<std::size_t>(c)];
        f.min = c == 0 ? lows[0] : std::min(f.min, lows[static_cast<std::size_t>(c)]);
        f.max = c == 0 ? highs[0] : std::max(f.max, highs[static_cast<std::size_t>(c)]);
    }
    if (f.count == 0) {
        return f;
    }
    const long long k = f.count / 2;
    f.median = Rank(image, plane, w, k, f.min, f.max, [](float v) { return static_cast<double>(v); });
    const double median = f.median;
    const double spread = std::max(f.max - median, median - f.min);
    f.mad =
        Rank(image, plane, w, k, 0.0, spread, [median](float v) { return std::fabs(static_cast<double>(v) - median); });
    return f;
}

// The parameter for a median at t, or the kind's identity (or mildest) one.
double Parameter(int kind, double t, double target)
{
    const double p = CDisplayStretch::ParamFor(kind, t, target);
    if (p == p) {
        return p;
    }
    return kind == CDisplayStretch::kMTF ? 0.5 : 1e-3;
}

}  // namespace

void CImgAutoLevel::DoAutoStretch(int kind, int linked, double shadows, double target, CRect* rect)
{
    if (!(shadows == shadows) || !(target == target)) {
        return;
    }
    const Window w = orbimg::detail::ClipWindow(*this, rect);
    if (w.Empty()) {
        return;
    }
    const int planes = IsColor() && GetPlanes() >= 3 ? 3 : 1;
    PlaneFigures f[3];
    double lo[3];
    double hi[3];
    for (int p = 0; p < planes; ++p) {
        f[p] = Measure(*this, p, w);
        if (f[p].count == 0) {
            return;
        }
        const double sigma = kMadToSigma * f[p].mad;
        lo[p] = sigma > 0.0 ? std::clamp(f[p].median + shadows * sigma, f[p].min, f[p].max) : f[p].min;
        hi[p] = f[p].max;
    }
    CDisplayStretch stretch(kind, 0.5);
    if (planes == 3 && linked) {
        const double low = (lo[0] + lo[1] + lo[2]) / 3.0;
        const double high = std::max({hi[0], hi[1], hi[2]});
        const double median = (f[0].median + f[1].median + f[2].median) / 3.0;
        for (int p = 0; p < 3; ++p) {
            lo[p] = low;
            hi[p] = high;
        }
        stretch.SetParam(-1, Parameter(kind, high > low ? (median - low) / (high - low) : 0.0, target));
    } else {
        for (int p = 0; p < planes; ++p) {
            const double range = hi[p] - lo[p];
            stretch.SetParam(p, Parameter(kind, range > 0.0 ? (f[p].median - lo[p]) / range : 0.0, target));
        }
    }
    for (int p = 0; p < planes; ++p) {
        if (!(hi[p] > lo[p])) {
            hi[p] = lo[p] + 1.0;
        }
        CImage::SetLevel(p, lo[p], hi[p]);
    }
    SetStretch(stretch);
}
