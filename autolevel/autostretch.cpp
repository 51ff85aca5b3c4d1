// Automatic display stretch: levels and a transfer function from the median
// and the median absolute deviation of each plane (or of the planes linked).
//
// The median and the MAD are exact order statistics of the window's finite
// samples, found in four passes over each plane:
//   1. the count and extremes, and a histogram of the upper 16 bits of the
//      samples' order keys (the float bits as an unsigned number in the
//      floats' order), which gives the bucket of the median;
//   2. a histogram of the lower 16 bits of the samples in that bucket: the
//      median itself;
//   3. a histogram of 65536 bins of |v - median| over 0 .. the greatest
//      deviation, which gives the bin of the MAD;
//   4. the deviations in that bin alone, ordered: the MAD.
// Each pass splits the rows into chunks on the task scheduler (serially while
// the sample store is partly swapped out); an order statistic does not depend
// on the order the samples are met in. The passes run without branches on
// the samples' values (the sky falls in a few bins, in no order).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "autolevel/autolevel.h"
#include "autolevel/samples.h"
#include "platform/ppl.h"

namespace {

using orbimg::detail::Window;

constexpr int kBins = 65536;
constexpr double kMadToSigma = 1.4826;

// Row chunks of a window: at least 16, and at most 2^30 samples each, so that
// a lane of a chunk's histogram counts in 32 bits.
int ChunkCount(const Window& w)
{
    const long long big = (w.Pixels() >> 30) + 1;
    return static_cast<int>(std::clamp<long long>(big, 16, std::max(16, w.Height())));
}

// Runs fn(chunk) for the row chunks of the window.
template <typename Fn>
void ForChunks(int chunks, const Fn& fn)
{
    if (CVmManager::GetCurrentSwapSize() != 0) {
        for (int c = 0; c < chunks; ++c) {
            fn(c);
        }
        return;
    }
    Concurrency::parallel_for(0, chunks, fn);
}

int ChunkTop(const Window& w, int chunks, int c)
{
    return w.top + static_cast<int>(static_cast<long long>(w.Height()) * c / chunks);
}

// The float's bits as an unsigned key in the floats' order (-0 before +0).
inline std::uint32_t OrderKey(float v)
{
    std::uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

inline float FromOrderKey(std::uint32_t key)
{
    const std::uint32_t u = (key & 0x80000000u) ? (key & 0x7FFFFFFFu) : ~key;
    float v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

// Per-chunk histograms of kBins bins (and a bin kBins for samples not
// counted) in kLanes lanes, kept from one pass to the next (no fresh pages
// to clear): a chunk's task counts into its lanes and folds them into lane 0;
// Find adds up the chunks' lane 0 and clears it for the next pass.
constexpr int kLanes = 4;
constexpr int kLaneBins = kBins + 1;

class ChunkCounts {
public:
    explicit ChunkCounts(int chunks) : m_counts(static_cast<std::size_t>(chunks)) {}

    // The lanes of chunk c, all zero.
    std::uint32_t* Lanes(int c)
    {
        std::vector<std::uint32_t>& lanes = m_counts[static_cast<std::size_t>(c)];
        if (lanes.empty()) {
            lanes.assign(static_cast<std::size_t>(kLanes) * kLaneBins, 0);
        }
        return lanes.data();
    }

    // Adds lanes 1 .. kLanes - 1 of chunk c into lane 0 and clears them.
    void Fold(int c)
    {
        std::uint32_t* h = m_counts[static_cast<std::size_t>(c)].data();
        for (int lane = 1; lane < kLanes; ++lane) {
            std::uint32_t* other = h + static_cast<std::ptrdiff_t>(lane) * kLaneBins;
            for (int bin = 0; bin < kLaneBins; ++bin) {
                h[bin] += other[bin];
                other[bin] = 0;
            }
        }
    }

    // The bin holding rank k (0-based) of all counts, and the count below it;
    // the counts are cleared.
    int Find(long long k, long long& below)
    {
        std::vector<long long> total(kBins, 0);
        for (auto& lanes : m_counts) {
            if (lanes.empty()) {
                continue;
            }
            for (int bin = 0; bin < kBins; ++bin) {
                total[static_cast<std::size_t>(bin)] += lanes[static_cast<std::size_t>(bin)];
            }
            std::fill(lanes.begin(), lanes.begin() + kLaneBins, 0u);
        }
        below = 0;
        for (int bin = 0; bin < kBins; ++bin) {
            const long long n = total[static_cast<std::size_t>(bin)];
            if (below + n > k) {
                return bin;
            }
            below += n;
        }
        return kBins - 1;
    }

private:
    std::vector<std::vector<std::uint32_t>> m_counts;
};

// Counts binOf(v, lane) (0 .. kBins, kBins not counted) of the samples of a
// row, column x in lane x % kLanes, so that a run of samples in one bin (the
// sky) does not wait on its own increments.
template <typename BinOf>
void CountRow(const float* row, int width, std::uint32_t* lanes, const BinOf& binOf)
{
    int x = 0;
    for (; x + kLanes <= width; x += kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            ++lanes[k * kLaneBins + binOf(row[x + k], k)];
        }
    }
    for (int k = 0; x < width; ++x, ++k) {
        ++lanes[k * kLaneBins + binOf(row[x], k)];
    }
}

// The figures of one plane.
struct PlaneFigures {
    long long count = 0;  // finite samples
    double min = 0.0;
    double max = 0.0;
    double median = 0.0;
    double mad = 0.0;  // median of |v - median|
};

// Passes 1 and 2: count, extremes and median (as the sample of rank k =
// count / 2).
void MeasureMedian(const CKelImage& image, int plane, const Window& w, ChunkCounts& upper, PlaneFigures& f)
{
    const int chunks = ChunkCount(w);
    std::vector<long long> counts(static_cast<std::size_t>(chunks), 0);
    std::vector<float> lows(static_cast<std::size_t>(chunks), HUGE_VALF);
    std::vector<float> highs(static_cast<std::size_t>(chunks), -HUGE_VALF);
    ForChunks(chunks, [&](int c) {
        std::uint32_t* h = upper.Lanes(c);
        long long n[kLanes] = {};
        float lo[kLanes];
        float hi[kLanes];
        std::fill(lo, lo + kLanes, HUGE_VALF);
        std::fill(hi, hi + kLanes, -HUGE_VALF);
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            CountRow(image.GetImageAdr(w.left, y, plane, 1, nullptr), w.Width(), h, [&](float v, int k) {
                const bool finite = std::isfinite(v);
                n[k] += finite;
                lo[k] = std::min(lo[k], finite ? v : HUGE_VALF);
                hi[k] = std::max(hi[k], finite ? v : -HUGE_VALF);
                return finite ? static_cast<int>(OrderKey(v) >> 16) : kBins;
            });
        }
        upper.Fold(c);
        counts[static_cast<std::size_t>(c)] = n[0] + n[1] + n[2] + n[3];
        lows[static_cast<std::size_t>(c)] = *std::min_element(lo, lo + kLanes);
        highs[static_cast<std::size_t>(c)] = *std::max_element(hi, hi + kLanes);
    });
    for (int c = 0; c < chunks; ++c) {
        f.count += counts[static_cast<std::size_t>(c)];
    }
    if (f.count == 0) {
        return;
    }
    f.min = *std::min_element(lows.begin(), lows.end());
    f.max = *std::max_element(highs.begin(), highs.end());
    const long long k = f.count / 2;
    long long below = 0;
    const auto bucket = static_cast<std::uint32_t>(upper.Find(k, below));

    ChunkCounts& lower = upper;
    ForChunks(chunks, [&](int c) {
        std::uint32_t* h = lower.Lanes(c);
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            CountRow(image.GetImageAdr(w.left, y, plane, 1, nullptr), w.Width(), h, [bucket](float v, int) {
                const std::uint32_t key = OrderKey(v);
                return std::isfinite(v) && (key >> 16) == bucket ? static_cast<int>(key & 0xFFFFu) : kBins;
            });
        }
        lower.Fold(c);
    });
    long long skipped = 0;
    const auto low = static_cast<std::uint32_t>(lower.Find(k - below, skipped));
    f.median = FromOrderKey((bucket << 16) | low);
}

// Passes 3 and 4: the MAD, the deviation |v - median| (in double) of rank
// count / 2.
void MeasureMad(const CKelImage& image, int plane, const Window& w, ChunkCounts& counts, PlaneFigures& f)
{
    const int chunks = ChunkCount(w);
    const double median = f.median;
    const double spread = std::max(f.max - median, median - f.min);
    const double scale = spread > 0.0 ? kBins / spread : 0.0;
    // The bin of a sample's deviation (kBins for a sample not finite).
    const auto binOf = [scale, median](float v, int = 0) {
        const double t = std::fabs(static_cast<double>(v) - median) * scale;
        return std::isfinite(v) ? (t < kBins - 1 ? static_cast<int>(t) : kBins - 1) : kBins;
    };
    ForChunks(chunks, [&](int c) {
        std::uint32_t* h = counts.Lanes(c);
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            CountRow(image.GetImageAdr(w.left, y, plane, 1, nullptr), w.Width(), h, binOf);
        }
        counts.Fold(c);
    });
    const long long k = f.count / 2;
    long long below = 0;
    const int bin = counts.Find(k, below);

    // The deviations in that bin, kept without a branch: each is written
    // and the end moves past it when it is in the bin.
    std::vector<std::vector<double>> values(static_cast<std::size_t>(chunks));
    ForChunks(chunks, [&](int c) {
        std::vector<double>& out = values[static_cast<std::size_t>(c)];
        std::vector<double> row(static_cast<std::size_t>(w.Width()) + 1);
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            const float* v = image.GetImageAdr(w.left, y, plane, 1, nullptr);
            std::size_t n = 0;
            for (int x = 0; x < w.Width(); ++x) {
                row[n] = std::fabs(static_cast<double>(v[x]) - median);
                n += binOf(v[x]) == bin;
            }
            out.insert(out.end(), row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n));
        }
    });
    std::vector<double> all;
    for (auto& v : values) {
        all.insert(all.end(), v.begin(), v.end());
    }
    const auto nth = all.begin() + (k - below);
    std::nth_element(all.begin(), nth, all.end());
    f.mad = *nth;
}

PlaneFigures Measure(const CKelImage& image, int plane, const Window& w, ChunkCounts& counts)
{
    PlaneFigures f;
    MeasureMedian(image, plane, w, counts, f);
    if (f.count > 0) {
        MeasureMad(image, plane, w, counts, f);
    }
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
    ChunkCounts counts(ChunkCount(w));
    double lo[3];
    double hi[3];
    for (int p = 0; p < planes; ++p) {
        f[p] = Measure(*this, p, w, counts);
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
