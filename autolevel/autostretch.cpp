// Automatic display stretch: levels and a transfer function from the median
// and the median absolute deviation of each plane (or of the planes linked).
//
// The median and the MAD are exact order statistics of the window's finite
// samples. They are looked for first in two passes over each plane, in a
// window of bins around a guess taken from a subsample:
//   1. the count and extremes, and a histogram of 65534 bins of equal width
//      over the guessed median +- 6 guessed MADs (and a bin below and one
//      above), which gives the bin of the median and, since a sample's
//      distance in bins from the median's bin gives its deviation to within
//      a bin, the few bins around the median +- the MAD where the MAD lies;
//   2. the samples of those bins alone, ordered: the median, then the MAD.
// Where the guess misses (the median outside the window, the MAD beyond its
// edge, or a check of the MAD's rank fails) the figures are found by a radix
// route instead, in up to four passes:
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
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <vector>

#include "autolevel/autolevel.h"
#include "autolevel/samples.h"
#include "platform/ppl.h"

namespace {

using orbimg::detail::Window;

constexpr int kBins = 65536;
constexpr double kMadToSigma = 1.4826;

// Row chunks of a window: at least 16, and at most 2^30 samples each (see
// ChunkCounts).
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

long long ChunkSamples(const Window& w, int chunks, int c)
{
    return static_cast<long long>(ChunkTop(w, chunks, c + 1) - ChunkTop(w, chunks, c)) * w.Width();
}

// The float's bits as an unsigned key in the floats' order (-0 before +0).
inline std::uint32_t OrderKey(float v)
{
    std::uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u ^ (static_cast<std::uint32_t>(static_cast<std::int32_t>(u) >> 31) | 0x80000000u);
}

inline float FromOrderKey(std::uint32_t key)
{
    const std::uint32_t u = (key & 0x80000000u) ? (key & 0x7FFFFFFFu) : ~key;
    float v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

// Histograms of kBins bins (and a bin kBins for samples not counted) in
// kLanes lanes, one for each task that runs at a time: a chunk's task takes
// one, counts into it and gives it back, so that a pass touches as many as
// there are threads, kept from one pass and plane to the next (no fresh
// pages to clear). Totals adds them up and clears them. A histogram that
// has counted 2^30 samples is added into 64-bit totals as it is given back,
// so that a lane counts in 32 bits.
constexpr int kLanes = 4;
constexpr int kLaneBins = kBins + 1;

class ChunkCounts {
public:
    // Lanes to count into, the caller's alone until Give.
    std::uint32_t* Take()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_free.empty()) {
            m_all.push_back(Lanes{std::vector<std::uint32_t>(static_cast<std::size_t>(kLanes) * kLaneBins, 0), 0});
            return m_all.back().counts.data();
        }
        Lanes* lanes = m_free.back();
        m_free.pop_back();
        return lanes->counts.data();
    }

    // Gives back lanes taken, in which `samples` samples were counted.
    void Give(std::uint32_t* counts, long long samples)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (Lanes& lanes : m_all) {
            if (lanes.counts.data() == counts) {
                lanes.samples += samples;
                if (lanes.samples >= (1ll << 30)) {
                    AddInto(m_total, lanes);
                }
                m_free.push_back(&lanes);
            }
        }
    }

    // The counts of every bin; all counts are cleared.
    std::vector<long long> Totals()
    {
        std::vector<long long> total(kBins, 0);
        total.swap(m_total);
        for (Lanes& lanes : m_all) {
            AddInto(total, lanes);
        }
        return total;
    }

    // The bin holding rank k (0-based) of all counts, and the count below it;
    // the counts are cleared.
    int Find(long long k, long long& below)
    {
        const std::vector<long long> total = Totals();
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
    struct Lanes {
        std::vector<std::uint32_t> counts;
        long long samples;  // counted since last added into totals
    };

    // Adds every lane's counts of `lanes` into total and clears them.
    static void AddInto(std::vector<long long>& total, Lanes& lanes)
    {
        for (int lane = 0; lane < kLanes; ++lane) {
            std::uint32_t* h = lanes.counts.data() + static_cast<std::ptrdiff_t>(lane) * kLaneBins;
            for (int bin = 0; bin < kBins; ++bin) {
                total[static_cast<std::size_t>(bin)] += h[bin];
            }
            std::fill(h, h + kLaneBins, 0u);
        }
        lanes.samples = 0;
    }

    std::mutex m_mutex;
    std::deque<Lanes> m_all;  // deque: elements stay where they are
    std::vector<Lanes*> m_free;
    std::vector<long long> m_total = std::vector<long long>(kBins, 0);
};

// Counts binOf(v) (0 .. kBins, kBins not counted) of the samples of a row:
// the bins of a block of kBlock samples first (in vectors where binOf
// allows), then their counts, column x in lane x % kLanes, so that a run of
// samples in one bin (the sky) does not wait on its own increments. Collect
// takes its flags in blocks of the same size.
constexpr int kBlock = 256;

template <typename BinOf>
void CountRow(const float* row, int width, std::uint32_t* lanes, const BinOf& binOf)
{
    alignas(64) std::int32_t bins[kBlock];
    for (int x0 = 0; x0 < width; x0 += kBlock) {
        const int n = std::min(kBlock, width - x0);
        for (int i = 0; i < n; ++i) {
            bins[i] = binOf(row[x0 + i]);
        }
        int i = 0;
        for (; i + kLanes <= n; i += kLanes) {
            for (int k = 0; k < kLanes; ++k) {
                ++lanes[k * kLaneBins + bins[i + k]];
            }
        }
        for (int k = 0; i < n; ++i, ++k) {
            ++lanes[k * kLaneBins + bins[i]];
        }
    }
}

using Figures = orbimg::detail::StretchFigures;
using Guess = orbimg::detail::StretchGuess;

// The count and extremes of the finite samples of the plane into f, and the
// histogram of binOf(v) into counts.
template <typename BinOf>
void CountPass(const CKelImage& image, int plane, const Window& w, ChunkCounts& counts, const BinOf& binOf, Figures& f)
{
    const int chunks = ChunkCount(w);
    struct Extremes {
        float lo = HUGE_VALF;
        float hi = -HUGE_VALF;
        long long n = 0;
    };
    std::vector<Extremes> extremes(static_cast<std::size_t>(chunks));
    ForChunks(chunks, [&](int c) {
        Extremes& e = extremes[static_cast<std::size_t>(c)];
        std::uint32_t* h = counts.Take();
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            const float* row = image.GetImageAdr(w.left, y, plane, 1, nullptr);
            e.n += orbimg::detail::FiniteExtremes(row, w.Width(), e.lo, e.hi);
            CountRow(row, w.Width(), h, binOf);
        }
        counts.Give(h, ChunkSamples(w, chunks, c));
    });
    f.count = 0;
    float lo = HUGE_VALF;
    float hi = -HUGE_VALF;
    for (const Extremes& e : extremes) {
        f.count += e.n;
        lo = std::min(lo, e.lo);
        hi = std::max(hi, e.hi);
    }
    // A zero extreme is +0, whichever zeros the lanes met.
    f.min = f.count > 0 && lo != 0.0f ? lo : 0.0;
    f.max = f.count > 0 && hi != 0.0f ? hi : 0.0;
}

// The samples for which keep(v) holds, each chunk's in its own list. keep
// is worked out for a block of samples at a time (in vectors where it
// allows) and the blocks' rare kept samples found 8 flags at a time.
template <typename Keep>
std::vector<std::vector<float>> Collect(const CKelImage& image, int plane, const Window& w, const Keep& keep)
{
    const int chunks = ChunkCount(w);
    std::vector<std::vector<float>> kept(static_cast<std::size_t>(chunks));
    ForChunks(chunks, [&](int c) {
        const Keep inRegisters = keep;  // not reloaded after each store
        std::vector<float>& out = kept[static_cast<std::size_t>(c)];
        alignas(8) unsigned char flags[kBlock];
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            const float* row = image.GetImageAdr(w.left, y, plane, 1, nullptr);
            for (int x0 = 0; x0 < w.Width(); x0 += kBlock) {
                const int n = std::min(kBlock, w.Width() - x0);
                const float* v = row + x0;
                for (int i = 0; i < n; ++i) {
                    flags[i] = inRegisters(v[i]) ? 1 : 0;
                }
                for (int i = n; i < (n + 7) / 8 * 8; ++i) {
                    flags[i] = 0;
                }
                for (int i = 0; i < n; i += 8) {
                    std::uint64_t word;
                    std::memcpy(&word, flags + i, sizeof word);
                    for (int j = 0; word != 0; ++j, word >>= 8) {
                        if (word & 1u) {
                            out.push_back(v[i + j]);
                        }
                    }
                }
            }
        }
    });
    return kept;
}

// The value of rank k of the lists' values taken together, widened to double
// by convert.
template <typename Convert>
double RankOf(const std::vector<std::vector<float>>& lists, long long k, const Convert& convert)
{
    std::vector<double> all;
    for (const auto& list : lists) {
        for (const float v : list) {
            all.push_back(convert(v));
        }
    }
    const auto nth = all.begin() + k;
    std::nth_element(all.begin(), nth, all.end());
    return *nth;
}

// Radix passes 1 and 2: count, extremes and median.
void MeasureMedian(const CKelImage& image, int plane, const Window& w, ChunkCounts& counts, Figures& f)
{
    CountPass(
        image, plane, w, counts, [](float v) { return std::isfinite(v) ? static_cast<int>(OrderKey(v) >> 16) : kBins; },
        f);
    if (f.count == 0) {
        return;
    }
    const long long k = f.count / 2;
    long long below = 0;
    const auto bucket = static_cast<std::uint32_t>(counts.Find(k, below));

    const int chunks = ChunkCount(w);
    ForChunks(chunks, [&](int c) {
        std::uint32_t* h = counts.Take();
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            CountRow(image.GetImageAdr(w.left, y, plane, 1, nullptr), w.Width(), h, [bucket](float v) {
                const std::uint32_t key = OrderKey(v);
                return std::isfinite(v) && (key >> 16) == bucket ? static_cast<int>(key & 0xFFFFu) : kBins;
            });
        }
        counts.Give(h, ChunkSamples(w, chunks, c));
    });
    long long skipped = 0;
    const auto low = static_cast<std::uint32_t>(counts.Find(k - below, skipped));
    f.median = FromOrderKey((bucket << 16) | low);
}

// Radix passes 3 and 4: the MAD, the deviation |v - median| (in double) of
// rank count / 2.
void MeasureMad(const CKelImage& image, int plane, const Window& w, ChunkCounts& counts, Figures& f)
{
    const int chunks = ChunkCount(w);
    const double median = f.median;
    const double spread = std::max(f.max - median, median - f.min);
    const double scale = spread > 0.0 ? kBins / spread : 0.0;
    // The bin of a sample's deviation (kBins for a sample not finite).
    const auto binOf = [scale, median](float v) {
        const double t = std::fabs(static_cast<double>(v) - median) * scale;
        return std::isfinite(v) ? (t < kBins - 1 ? static_cast<int>(t) : kBins - 1) : kBins;
    };
    ForChunks(chunks, [&](int c) {
        std::uint32_t* h = counts.Take();
        for (int y = ChunkTop(w, chunks, c); y < ChunkTop(w, chunks, c + 1); ++y) {
            CountRow(image.GetImageAdr(w.left, y, plane, 1, nullptr), w.Width(), h, binOf);
        }
        counts.Give(h, ChunkSamples(w, chunks, c));
    });
    const long long k = f.count / 2;
    long long below = 0;
    const int bin = counts.Find(k, below);
    const auto kept = Collect(image, plane, w, [&](float v) { return binOf(v) == bin; });
    f.mad = RankOf(kept, k - below, [median](float v) { return std::fabs(static_cast<double>(v) - median); });
}

// Bins of the window route: 0 below the window, 1 .. kWindowBins across it,
// kWindowBins + 1 above it, kBins for a sample not finite. The bin never
// decreases as the sample grows (each rounding step is monotonic), and a
// sample in window bin j has (v - base) x scale in [j - 1, j) to within 0.02
// (three float roundings of a figure below 65536). No branch: the sky's
// samples fall in bins in no order.
constexpr int kWindowBins = kBins - 2;
constexpr double kWindowMads = 6.0;

struct WindowBin {
    float base;
    float scale;
    int operator()(float v) const
    {
        constexpr auto kTop = static_cast<float>(kWindowBins + 1);
        float t = (v - base) * scale + 1.0f;
        t = t > 0.0f ? t : 0.0f;  // NaN too
        t = t < kTop ? t : kTop;
        return std::isfinite(v) ? static_cast<int>(t) : kBins;
    }
};

// The least finite float whose bin is `bin` or above (+inf for none), by
// bisection of the order keys.
float FirstInBin(const WindowBin& binOf, int bin)
{
    std::uint32_t lo = OrderKey(-FLT_MAX);
    std::uint32_t hi = OrderKey(FLT_MAX);
    if (binOf(FromOrderKey(hi)) < bin) {
        return HUGE_VALF;
    }
    while (lo < hi) {  // the answer lies in [lo, hi]
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (binOf(FromOrderKey(mid)) >= bin) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return FromOrderKey(lo);
}

// Up to three ranges [lo, hi) of values, as one test without a branch.
struct Ranges {
    float lo[3];
    float hi[3];
    bool operator()(float v) const
    {
        return ((v >= lo[0]) & (v < hi[0])) | ((v >= lo[1]) & (v < hi[1])) | ((v >= lo[2]) & (v < hi[2]));
    }
};

enum class Route { Done, MedianMissed, MadMissed };

// The window route. For samples in bins at distance i and j >= i + 2 from
// the median's bin, the first deviates less (below i + 1 bins, the median
// being in its own bin) than the second (above j - 1 bins): so the samples
// within d1 bins all deviate less than A = d1 + 1.5 bins, those d2 bins
// away or more all deviate more than B = d2 - 1.5 bins, and the MAD is
// taken from the deviations between A and B of the samples between, once
// their rank shows that it lies there.
Route MeasureInWindow(const CKelImage& image, int plane, const Window& w, ChunkCounts& counts, const Guess& guess,
                      Figures& f)
{
    const double reach = kWindowMads * guess.mad;
    const auto base = static_cast<float>(guess.median - reach);
    const auto scale = static_cast<float>(kWindowBins / (2.0 * reach));
    if (!(reach > 0.0) || !std::isfinite(base) || !(scale > 0.0f) || !std::isfinite(scale)) {
        return Route::MedianMissed;
    }
    const WindowBin binOf{base, scale};
    CountPass(image, plane, w, counts, binOf, f);
    const std::vector<long long> h = counts.Totals();
    if (f.count == 0) {
        return Route::Done;
    }
    const long long k = f.count / 2;
    long long below = 0;
    int median = 0;
    while (below + h[static_cast<std::size_t>(median)] <= k) {
        below += h[static_cast<std::size_t>(median++)];
    }
    if (median == 0 || median > kWindowBins) {
        return Route::MedianMissed;
    }
    // near[i]: the samples within i bins of the median's bin.
    std::vector<long long> near{h[static_cast<std::size_t>(median)]};
    for (int i = 1; near.back() <= k && median - i >= 1 && median + i <= kWindowBins; ++i) {
        near.push_back(near.back() + h[static_cast<std::size_t>(median - i)] + h[static_cast<std::size_t>(median + i)]);
    }
    const bool band = near.back() > k;
    const int d1 = band ? static_cast<int>(near.size()) - 4 : 0;
    const int d2 = band ? d1 + 6 : d1 + 1;  // none between d1 and d1 + 1

    // The samples of the median's bin and of the bins d1 + 1 .. d2 - 1 away
    // from it, as ranges of values (the bins grow with the values).
    const auto first = [&binOf](int bin) { return FirstInBin(binOf, std::clamp(bin, 0, kWindowBins + 2)); };
    const Ranges inBand{{first(median), first(median - d2 + 1), first(median + d1 + 1)},
                        {first(median + 1), first(median - d1), first(median + d2)}};
    const auto kept = Collect(image, plane, w, inBand);
    std::vector<std::vector<float>> middle(kept.size());
    for (std::size_t c = 0; c < kept.size(); ++c) {
        std::copy_if(kept[c].begin(), kept[c].end(), std::back_inserter(middle[c]),
                     [&](float v) { return binOf(v) == median; });
    }
    f.median = RankOf(middle, k - below, [](float v) { return static_cast<double>(v); });
    if (!band) {
        return Route::MadMissed;
    }
    const double a = (d1 + 1.5) / static_cast<double>(scale);
    const double b = (d2 - 1.5) / static_cast<double>(scale);
    long long less = d1 >= 0 ? near[static_cast<std::size_t>(d1)] : 0;
    std::vector<std::vector<float>> between(1);
    for (const auto& list : kept) {
        for (const float v : list) {
            const int distance = std::abs(binOf(v) - median);
            const double deviation = std::fabs(static_cast<double>(v) - f.median);
            if (distance > d1 && distance < d2) {
                less += deviation < a;
                if (deviation >= a && deviation <= b) {
                    between[0].push_back(v);
                }
            }
        }
    }
    if (less > k || k >= less + static_cast<long long>(between[0].size())) {
        return Route::MadMissed;
    }
    const double m = f.median;
    f.mad = RankOf(between, k - less, [m](float v) { return std::fabs(static_cast<double>(v) - m); });
    return Route::Done;
}

// The median and MAD of a subsample of about 65536 samples from evenly
// spaced rows and columns; false when it has no finite sample.
bool GuessFigures(const CKelImage& image, int plane, const Window& w, Guess& guess)
{
    const int rowStep = std::max(1, w.Height() / 256);
    const int rows = (w.Height() + rowStep - 1) / rowStep;
    const int columnStep = std::max(1, static_cast<int>(static_cast<long long>(w.Width()) * rows / 65536));
    std::vector<double> values;
    for (int y = w.top; y < w.bottom; y += rowStep) {
        const float* row = image.GetImageAdr(w.left, y, plane, 1, nullptr);
        for (int x = 0; x < w.Width(); x += columnStep) {
            if (std::isfinite(row[x])) {
                values.push_back(row[x]);
            }
        }
    }
    if (values.empty()) {
        return false;
    }
    guess.median = orbimg::detail::UpperMedian(values);
    for (double& v : values) {
        v = std::fabs(v - guess.median);
    }
    guess.mad = orbimg::detail::UpperMedian(values);
    return true;
}

Figures Measure(const CKelImage& image, int plane, const Window& w, ChunkCounts& counts, const Guess* given)
{
    Figures f;
    Guess guess{NAN, NAN};
    if (given) {
        guess = *given;
    } else if (!GuessFigures(image, plane, w, guess)) {
        return f;
    }
    switch (MeasureInWindow(image, plane, w, counts, guess, f)) {
    case Route::Done:
        break;
    case Route::MedianMissed:
        MeasureMedian(image, plane, w, counts, f);
        if (f.count > 0) {
            MeasureMad(image, plane, w, counts, f);
        }
        break;
    case Route::MadMissed:
        MeasureMad(image, plane, w, counts, f);
        break;
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

orbimg::detail::StretchFigures orbimg::detail::MeasureStretchFigures(const CKelImage& image, int plane, const Window& w,
                                                                     const StretchGuess* guess)
{
    if (w.Empty()) {
        return {};
    }
    ChunkCounts counts;
    return Measure(image, plane, w, counts, guess);
}

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
    Figures f[3];
    ChunkCounts counts;
    double lo[3];
    double hi[3];
    for (int p = 0; p < planes; ++p) {
        f[p] = Measure(*this, p, w, counts, nullptr);
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
