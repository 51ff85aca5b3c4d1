// Value histograms of a window of an image: one plane, the display luminance
// of a colour image, or the three colour planes at once (the last split into
// ten row chunks on the task scheduler). One plane and the luminance are
// counted over row bands on every core (platform/rowbands.h), each band with
// its own counters, added at the end: integer counts, the same in any order.
//
// Every sample goes through the same two steps: a contiguous pass, built for
// every instruction set (histogrambins.cpp), turns a run of samples into bin
// indices (one multiply by the precomputed scale, two comparisons for the
// window), then a scalar pass increments the counters. Samples outside the
// value window and NaN samples get the index `bins`, a spare counter that is
// never copied out, so the counting pass has no branch. The bin index is
// clamped in double before the conversion to int, so no conversion ever sees
// NaN or a value out of range.
#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <vector>

#include "display/histogrambins.h"
#include "image/kelimage.h"
#include "platform/ppl.h"
#include "platform/rowbands.h"

namespace {

using orbimg::detail::BinMap;
using orbimg::detail::LumaMap;

// Samples handled per run; the index buffer lives on the stack.
constexpr int kRun = 1024;
// Row chunks of the parallel colour histogram.
constexpr int kChunks = 10;

/// Truncates toward zero into an int; NaN gives 0, values beyond the int
/// range give INT_MIN or INT_MAX.
int TruncToInt(double v)
{
    if (!(v == v)) {
        return 0;
    }
    if (v >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (v <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(v);
}

/// v rounded to float. The rounding matters (the luminance window's lo and
/// hi are compared with float samples) and the language guarantees it;
/// g++ 12's straight-line vectoriser drops it when it pairs two such
/// conversions, so the library is built without that pass under g++
/// (tests/platform/compiler_test.cpp checks the build keeps it).
float RoundToFloat(double v) { return static_cast<float>(v); }

/// The counters of one histogram: kLanes interleaved copies of bins + 1
/// entries (the last one the spare), so that neighbouring samples in the
/// same bin do not wait for each other's increment.
class Counters {
public:
    explicit Counters(int bins) : m_slot(static_cast<std::size_t>(bins) + 1), m_counts(kLanes * m_slot, 0) {}

    /// Increments the counter of each of n bin indexes.
    void Add(const int* index, int n)
    {
        int* c0 = m_counts.data();
        int* c1 = c0 + m_slot;
        int* c2 = c1 + m_slot;
        int* c3 = c2 + m_slot;
        int i = 0;
        for (; i + kLanes <= n; i += kLanes) {
            ++c0[index[i]];
            ++c1[index[i + 1]];
            ++c2[index[i + 2]];
            ++c3[index[i + 3]];
        }
        for (; i < n; ++i) {
            ++c0[index[i]];
        }
    }

    /// Adds the counts of bins 0 .. bins - 1 to out.
    void AddTo(int* out, int bins) const
    {
        for (int lane = 0; lane < kLanes; ++lane) {
            const int* c = m_counts.data() + lane * m_slot;
            for (int b = 0; b < bins; ++b) {
                out[b] += c[b];
            }
        }
    }

private:
    static constexpr int kLanes = 4;
    std::size_t m_slot;
    std::vector<int> m_counts;
};

/// Counts n samples (n <= kRun).
void CountRun(const float* s, int n, const BinMap& map, Counters& counts)
{
    int index[kRun];
    orbimg::detail::PlaneBins(s, n, map, index);
    counts.Add(index, n);
}

/// Counts the luminance of n pixels (n <= kRun).
void CountLumaRun(const float* r, const float* g, const float* b, int n, const LumaMap& luma, const BinMap& map,
                  Counters& counts)
{
    int index[kRun];
    orbimg::detail::LumaBins(r, g, b, n, luma, map, index);
    counts.Add(index, n);
}

/// Counts a contiguous row of n samples.
void CountRow(const float* s, int n, const BinMap& map, Counters& counts)
{
    for (int i = 0; i < n; i += kRun) {
        CountRun(s + i, std::min(kRun, n - i), map, counts);
    }
}

void CountLumaRow(const float* r, const float* g, const float* b, int n, const LumaMap& luma, const BinMap& map,
                  Counters& counts)
{
    for (int i = 0; i < n; i += kRun) {
        const int len = std::min(kRun, n - i);
        CountLumaRun(r + i, g + i, b + i, len, luma, map, counts);
    }
}

/// Counts the samples at the given columns of a row.
void CountGridRow(const float* row, const std::vector<int>& columns, const BinMap& map, Counters& counts)
{
    float run[kRun];
    const int n = static_cast<int>(columns.size());
    for (int i = 0; i < n; i += kRun) {
        const int len = std::min(kRun, n - i);
        for (int j = 0; j < len; ++j) {
            run[j] = row[columns[i + j]];
        }
        CountRun(run, len, map, counts);
    }
}

void CountLumaGridRow(const float* r, const float* g, const float* b, const std::vector<int>& columns,
                      const LumaMap& luma, const BinMap& map, Counters& counts)
{
    float rr[kRun];
    float gg[kRun];
    float bb[kRun];
    const int n = static_cast<int>(columns.size());
    for (int i = 0; i < n; i += kRun) {
        const int len = std::min(kRun, n - i);
        for (int j = 0; j < len; ++j) {
            const int x = columns[i + j];
            rr[j] = r[x];
            gg[j] = g[x];
            bb[j] = b[x];
        }
        CountLumaRun(rr, gg, bb, len, luma, map, counts);
    }
}

/// The histogram cull grid reduced to the indices that lie inside the image.
struct Grid {
    std::vector<int> columns;
    std::vector<int> rows;

    /// Grid points read: the product of the valid row and column counts.
    double Points() const { return static_cast<double>(columns.size()) * static_cast<double>(rows.size()); }
};

/// Decides sampled counting: cull requested, both lists present, a grid
/// reported, and the grid not the whole image. Fills `grid` with the indices
/// inside the image (the others are skipped).
bool UseGrid(const CImage& image, int cull, Grid& grid)
{
    if (!cull) {
        return false;
    }
    const int* xs = image.GetHistogramCullXPtr();
    const int* ys = image.GetHistogramCullYPtr();
    int columns = 0;
    int rows = 0;
    if (!xs || !ys || !image.GetHistogramCull(&columns, &rows)) {
        return false;
    }
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    if (columns == width && rows == height) {
        return false;
    }
    for (int j = 0; j < columns; ++j) {
        if (xs[j] >= 0 && xs[j] < width) {
            grid.columns.push_back(xs[j]);
        }
    }
    for (int i = 0; i < rows; ++i) {
        if (ys[i] >= 0 && ys[i] < height) {
            grid.rows.push_back(ys[i]);
        }
    }
    return true;
}

/// Scales counts of a grid up to the whole image: trunc(bin x W x H / N).
void ScaleUp(int* hist, int bins, const CImage& image, const Grid& grid)
{
    const double points = grid.Points();
    if (points <= 0.0) {
        return;  // nothing was read: every bin is 0 already
    }
    const double factor = static_cast<double>(image.GetWidth()) * static_cast<double>(image.GetHeight()) / points;
    for (int i = 0; i < bins; ++i) {
        hist[i] = TruncToInt(hist[i] * factor);
    }
}

/// Counts to trunc(10000 x log10(count)); an empty bin stays 0.
void ToLog(int* hist, int bins)
{
    for (int i = 0; i < bins; ++i) {
        hist[i] = hist[i] > 0 ? TruncToInt(10000.0 * std::log10(static_cast<double>(hist[i]))) : 0;
    }
}

/// trunc(2 x width x height / bins), from the whole image.
int NominalHeight(const CImage& image, int bins)
{
    return TruncToInt(2.0 * image.GetWidth() * image.GetHeight() / bins);
}

/// Row address of a plane, read-only, no lock; null outside the image.
const float* Row(const CKelImage& image, int x, int y, int plane) { return image.GetImageAdr(x, y, plane, 1, nullptr); }

/// Calls count(counters, begin, end) for row bands of 0 .. n - 1, each band
/// with counters of its own, and adds their counts of bins 0 .. bins - 1 to
/// hist.
template <class F>
void CountBands(int n, int bins, int* hist, const F& count)
{
    std::mutex lock;
    orbimg::platform::ForRowBands(0, n, [&](int begin, int end) {
        Counters part(bins);
        count(part, begin, end);
        const std::lock_guard<std::mutex> hold(lock);
        part.AddTo(hist, bins);
    });
}

/// Counts one plane of the window rows [top, bottom).
void CountPlaneRows(const CKelImage& image, int plane, int left, int right, int top, int bottom, const BinMap& map,
                    Counters& counts)
{
    for (int y = top; y < bottom; ++y) {
        if (const float* s = Row(image, left, y, plane)) {
            CountRow(s, right - left, map, counts);
        }
    }
}

/// The window of the image that a rectangle covers (null: the whole image).
struct Window {
    int left;
    int top;
    int right;
    int bottom;
};

Window ClipWindow(CKelImage& image, CRect* rect)
{
    Window w{};
    image.NormalizeRect(rect, w.left, w.top, w.right, w.bottom);
    return w;
}

}  // namespace

int CKelImage::GetHeightOfHistogram(int* hist, int bins)
{
    if (bins < 1) {
        return 0;
    }
    return *std::max_element(hist, hist + bins);
}

int CKelImage::GetHistogram(int* const hist, int bins, double lo, double hi, int plane, int logScale, int peakHeight,
                            int cull, CRect* rect, int, int)
{
    if (bins < 1) {
        return 0;
    }
    const auto [left, top, right, bottom] = ClipWindow(*this, rect);
    if (!IsColor() && plane == -1) {
        plane = 0;
    }
    std::fill(hist, hist + bins, 0);

    Grid grid;
    const bool sampled = UseGrid(*this, cull, grid);
    const int gridRows = static_cast<int>(grid.rows.size());

    if (plane != -1) {
        const BinMap map(bins, lo, hi);
        if (sampled) {
            CountBands(gridRows, bins, hist, [&](Counters& counts, int begin, int end) {
                for (int i = begin; i < end; ++i) {
                    if (const float* s = Row(*this, 0, grid.rows[i], plane)) {
                        CountGridRow(s, grid.columns, map, counts);
                    }
                }
            });
        } else if (left < right) {
            CountBands(bottom - top, bins, hist,
                       [&, l = left, r = right, t = top](Counters& counts, int begin, int end) {
                           CountPlaneRows(*this, plane, l, r, t + begin, t + end, map, counts);
                       });
        }
    } else {
        LumaMap luma;
        for (int p = 0; p < 3; ++p) {
            luma.m[p] = static_cast<float>(GetLevelMin(p));
            luma.k[p] = static_cast<float>(255.0 / GetLevelRange(p));
        }
        const double lo0 = GetLevelMin(0);
        const double range0 = GetLevelRange(0);
        const float loLuma = RoundToFloat((RoundToFloat(lo) - lo0) / range0 * 255.0);
        const float hiLuma = RoundToFloat((RoundToFloat(hi) - lo0) / range0 * 255.0);
        const BinMap map(bins, loLuma, hiLuma);
        if (sampled) {
            CountBands(gridRows, bins, hist, [&](Counters& counts, int begin, int end) {
                for (int i = begin; i < end; ++i) {
                    const int y = grid.rows[i];
                    const float* r = Row(*this, 0, y, 0);
                    const float* g = Row(*this, 0, y, 1);
                    const float* b = Row(*this, 0, y, 2);
                    if (r && g && b) {
                        CountLumaGridRow(r, g, b, grid.columns, luma, map, counts);
                    }
                }
            });
        } else if (left < right) {
            CountBands(bottom - top, bins, hist,
                       [&, l = left, w = right - left, t = top](Counters& counts, int begin, int end) {
                           for (int y = t + begin; y < t + end; ++y) {
                               const float* r = Row(*this, l, y, 0);
                               const float* g = Row(*this, l, y, 1);
                               const float* b = Row(*this, l, y, 2);
                               if (r && g && b) {
                                   CountLumaRow(r, g, b, w, luma, map, counts);
                               }
                           }
                       });
        }
    }

    if (sampled) {
        ScaleUp(hist, bins, *this, grid);
    }
    if (logScale) {
        ToLog(hist, bins);
    }
    return peakHeight ? GetHeightOfHistogram(hist, bins) : NominalHeight(*this, bins);
}

int CKelImage::GetHistogramRGB(int* const histR, int* const histG, int* const histB, int bins, double lo, double hi,
                               double* const, double* const, int logScale, int peakHeight, int cull, CRect* rect, int,
                               int)
{
    if (!IsColor()) {
        return -1;
    }
    if (bins < 1) {
        return 0;
    }
    const auto [left, top, right, bottom] = ClipWindow(*this, rect);
    int* const hist[3] = {histR, histG, histB};
    for (int p = 0; p < 3; ++p) {
        std::fill(hist[p], hist[p] + bins, 0);
    }

    const BinMap map(bins, lo, hi);
    Grid grid;
    const bool sampled = UseGrid(*this, cull, grid);

    if (sampled) {
        std::vector<Counters> counts(3, Counters(bins));
        for (const int y : grid.rows) {
            for (int p = 0; p < 3; ++p) {
                if (const float* s = Row(*this, 0, y, p)) {
                    CountGridRow(s, grid.columns, map, counts[p]);
                }
            }
        }
        for (int p = 0; p < 3; ++p) {
            counts[p].AddTo(hist[p], bins);
            ScaleUp(hist[p], bins, *this, grid);
        }
    } else if (left < right && top < bottom) {
        if (CVmManager::GetCurrentSwapSize() != 0) {
            // Part of the store is swapped out: count on this thread only.
            std::vector<Counters> counts(3, Counters(bins));
            for (int y = top; y < bottom; ++y) {
                for (int p = 0; p < 3; ++p) {
                    CountPlaneRows(*this, p, left, right, y, y + 1, map, counts[p]);
                }
            }
            for (int p = 0; p < 3; ++p) {
                counts[p].AddTo(hist[p], bins);
            }
        } else {
            // Ten row chunks, each with its own partial histograms (chunk i
            // owns partial[3 i + p]), so no counter is shared between threads;
            // a chunk counts its rows one plane after another (plane by
            // plane keeps one set of counters in cache: 1.3x faster here).
            std::vector<Counters> partial(3 * kChunks, Counters(bins));
            const int rowsPerChunk = (bottom - top + kChunks - 1) / kChunks;
            // The window's ends by init-capture: clang before 16 cannot capture structured bindings.
            auto countChunk = [&, left = left, right = right, top = top, bottom = bottom](int chunk) {
                const int first = top + chunk * rowsPerChunk;
                const int last = std::min(first + rowsPerChunk, bottom);
                for (int p = 0; p < 3; ++p) {
                    CountPlaneRows(*this, p, left, right, first, last, map, partial[3 * chunk + p]);
                }
            };
            Concurrency::parallel_for(0, kChunks, 1, countChunk);
            for (int chunk = 0; chunk < kChunks; ++chunk) {
                for (int p = 0; p < 3; ++p) {
                    partial[3 * chunk + p].AddTo(hist[p], bins);
                }
            }
        }
    }

    if (logScale) {
        for (int p = 0; p < 3; ++p) {
            ToLog(hist[p], bins);
        }
    }
    if (!peakHeight) {
        return NominalHeight(*this, bins);
    }
    int height = GetHeightOfHistogram(hist[0], bins);
    height = std::max(height, GetHeightOfHistogram(hist[1], bins));
    return std::max(height, GetHeightOfHistogram(hist[2], bins));
}
