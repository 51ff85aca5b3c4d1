// Resolution change: bicubic resampling.
//
// Each destination sample is the weighted mean of up to 4 x 4 source samples
// in double: for source rows j = iy - 1 .. iy + 2 (outer) and columns
// i = ix - 1 .. ix + 2 (inner), w = wx x wy is added to the weight sum and
// sample x w to the accumulator; taps at distance 2 or more, or of weight 0,
// are left out. The result is (float) accumulator / (float) weight sum.
//
// The taps of a column depend on the column only and those of a row on the row
// only, so both are worked out once: columns once per call, rows once per
// destination row, where a row tap that is left out is simply not visited. The
// source rows of every plane are fetched once per destination row, and the
// samples each column reads from a source row are gathered once per source row
// into contiguous arrays (one per column tap), shared by the destination rows
// that read that source row; where the columns of a tap read every other
// source sample (a reduction to half size) the gathering is a vector
// de-interleave. A destination row is worked out for three planes at once (the
// rest of the planes one at a time), whole vectors of columns at a time: the
// weights w and the weight sum of a column once, for every plane. While it is
// worked out, the source rows the next destination row reads first are fetched
// ahead, a share per stretch of columns, so that reading memory overlaps the
// arithmetic.
//
// A column tap that is left out is masked to +0.0 instead of skipped: both
// sums start at +0.0, a sum that starts at +0.0 is never -0.0 (round to
// nearest), so adding +0.0 leaves it bit for bit as skipping does, and the
// mask is applied to the product, so a NaN or infinite sample behind it never
// reaches the sum. When no column leaves a visited tap out (a reduction to
// half size) no mask is applied at all, and when no column uses its fourth tap
// (every column falls on a whole source position, as in an integer reduction)
// that tap is not visited at all. The per-pixel arithmetic, its order and its
// precision are those of the pixel-by-pixel computation, so the results are
// identical to it.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/rowbands.h"
#include "transform/imgresolution.h"
#include "transform/transformrows.h"

#ifndef ORBIMG_IMGBICUBIC_SHARED  // compiled once, before the kernels
#define ORBIMG_IMGBICUBIC_SHARED
namespace orbimg::detail {
namespace {

// The arrays one destination row of up to 3 planes reads and writes.
struct RowInput {
    const float* taps[3][4][4];  // [plane][row tap][column tap] -> gathered samples
    float* dst[3];
    const double* wx[4];
    const std::uint64_t* mask[4];
    double wy[4];
    // Source rows the next destination row reads first (fetched ahead, one
    // share per stretch of columns, while this row is worked out).
    const float* ahead[12];
    int aheadCount;
    int aheadWidth;
};

}  // namespace
}  // namespace orbimg::detail
#endif

// The kernels, built for each instruction set (platform/simd.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transform/imgbicubic.cpp"
#include <hwy/cache_control.h>
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// +0.0 where the mask is 0, v unchanged where it is all ones.
inline double Masked(double v, std::uint64_t mask)
{
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) & mask);
}

namespace hn = hwy::HWY_NAMESPACE;

// The samples every column reads from one source row: tap i of column x
// (source column index[i][x]) at [i x width + x], for taps 0 .. count - 1.
// Columns pairs[i][0] .. pairs[i][1] - 1 of tap i read every other source
// sample (index[i][x + 1] = index[i][x] + 2, and the sample after the last
// one exists), as in a reduction to half size: there the samples are
// de-interleaved with vector loads.
void GatherTaps(float* __restrict out, const float* __restrict src, const int* const* index, const int (*pairs)[2],
                int count, int width)
{
    const hn::ScalableTag<float> d;
    const int lanes = static_cast<int>(hn::Lanes(d));
    for (int i = 0; i < count; ++i) {
        const int* __restrict columns = index[i];
        float* __restrict to = out + static_cast<std::size_t>(i) * static_cast<std::size_t>(width);
        const int begin = pairs[i][0];
        const int end = pairs[i][1];
        int x = 0;
        for (; x < begin; ++x) {
            to[x] = src[columns[x]];
        }
        if (begin < end) {
            const float* from = src + columns[begin];
            for (; x + lanes <= end; x += lanes) {
                hn::Vec<decltype(d)> even, odd;
                hn::LoadInterleaved2(d, from + 2 * static_cast<std::ptrdiff_t>(x - begin), even, odd);
                hn::StoreU(even, d, to + x);
            }
        }
        for (; x < width; ++x) {
            to[x] = src[columns[x]];
        }
    }
}

// One destination column x of P planes, from R row taps (outer) and C column
// taps (inner), in order: w = wx x wy, the weight sum of Masked(w, mask) and
// each plane's sum of Masked(sample x w, mask); with Mask false every mask is
// all ones and is not applied.
template <int R, int C, int P, bool Mask>
inline void CubicColumn(const RowInput& in, const float* const (&g)[P][4][4], float* const (&dst)[P], int x)
{
    double w[4][4];
    double wsum = 0.0;
    for (int t = 0; t < R; ++t) {
        for (int i = 0; i < C; ++i) {
            w[t][i] = in.wx[i][x] * in.wy[t];
            wsum += Mask ? Masked(w[t][i], in.mask[i][x]) : w[t][i];
        }
    }
    for (int p = 0; p < P; ++p) {
        double acc = 0.0;
        for (int t = 0; t < R; ++t) {
            for (int i = 0; i < C; ++i) {
                const double v = static_cast<double>(g[p][t][i][x]) * w[t][i];
                acc += Mask ? Masked(v, in.mask[i][x]) : v;
            }
        }
        dst[p][x] = static_cast<float>(acc) / static_cast<float>(wsum);
    }
}

// One destination row of P planes, the same as CubicColumn on every column:
// whole vectors of columns, then the rest one by one. The plain build is the
// plain loop (its emulated conversion to float would clamp infinities).
template <int R, int C, int P, bool Mask>
void CubicRows(const RowInput& in, int width)
{
    const hn::ScalableTag<double> d;
    const hn::Rebind<float, decltype(d)> f;
    const hn::Rebind<std::uint64_t, decltype(d)> u;
    using V = hn::Vec<decltype(d)>;
    constexpr bool kPlain = HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const float* g[P][4][4];
    float* dst[P];
    const double* wx[4];
    const std::uint64_t* mask[4];
    double wy[4];
    for (int p = 0; p < P; ++p) {
        dst[p] = in.dst[p];
        for (int t = 0; t < 4; ++t) {
            for (int i = 0; i < 4; ++i) {
                g[p][t][i] = in.taps[p][t][i];
            }
        }
    }
    for (int i = 0; i < 4; ++i) {
        wx[i] = in.wx[i];
        mask[i] = in.mask[i];
        wy[i] = in.wy[i];
    }
    constexpr int kStretch = 32;
    constexpr int kLine = 16;  // floats per 64-byte cache line
    const std::size_t lines = (static_cast<std::size_t>(in.aheadWidth) + kLine - 1) / kLine;
    const std::size_t total = lines * static_cast<std::size_t>(in.aheadCount);
    std::size_t next = 0;
    int x = 0;
    for (int begin = 0; begin < width; begin += kStretch) {
        const int end = std::min(width, begin + kStretch);
        for (const std::size_t upto = total * static_cast<std::size_t>(end) / static_cast<std::size_t>(width);
             next < upto; ++next) {
            hwy::Prefetch(in.ahead[next / lines] + (next % lines) * kLine);
        }
        for (; !kPlain && x + lanes <= end; x += lanes) {
            // No arrays of vectors (sizeless on some targets): one sum per
            // plane, the weights formed where they are used.
            V wsum = hn::Zero(d);
            V acc0 = hn::Zero(d);
            V acc1 = hn::Zero(d);
            V acc2 = hn::Zero(d);
            for (int t = 0; t < R; ++t) {
                const V wyt = hn::Set(d, wy[t]);
                for (int i = 0; i < C; ++i) {
                    const auto masked = [&](V v) HWY_ATTR {
                        if constexpr (Mask) {
                            return hn::And(v, hn::BitCast(d, hn::LoadU(u, mask[i] + x)));
                        } else {
                            return v;
                        }
                    };
                    const auto sample = [&](int p) HWY_ATTR { return hn::PromoteTo(d, hn::LoadU(f, g[p][t][i] + x)); };
                    const V w = hn::Mul(hn::LoadU(d, wx[i] + x), wyt);
                    wsum = hn::Add(wsum, masked(w));
                    acc0 = hn::Add(acc0, masked(hn::Mul(sample(0), w)));
                    if constexpr (P == 3) {
                        acc1 = hn::Add(acc1, masked(hn::Mul(sample(1), w)));
                        acc2 = hn::Add(acc2, masked(hn::Mul(sample(2), w)));
                    }
                }
            }
            const auto sum = hn::DemoteTo(f, wsum);
            hn::StoreU(hn::Div(hn::DemoteTo(f, acc0), sum), f, dst[0] + x);
            if constexpr (P == 3) {
                hn::StoreU(hn::Div(hn::DemoteTo(f, acc1), sum), f, dst[1] + x);
                hn::StoreU(hn::Div(hn::DemoteTo(f, acc2), sum), f, dst[2] + x);
            }
        }
        if (end == width) {
            for (; x < width; ++x) {
                CubicColumn<R, C, P, Mask>(in, g, dst, x);
            }
        }
    }
}

// CubicRows for 1 or 3 planes, with or without masks.
template <int R, int C>
void CubicRowsMasked(const RowInput& in, int planes, bool masked, int width)
{
    if (planes == 3) {
        masked ? CubicRows<R, C, 3, true>(in, width) : CubicRows<R, C, 3, false>(in, width);
    } else {
        masked ? CubicRows<R, C, 1, true>(in, width) : CubicRows<R, C, 1, false>(in, width);
    }
}

// One destination row of `planes` (1 or 3) planes with `rows` row taps (0..4)
// and `columns` column taps (3 or 4); `masked` when a visited column tap is
// left out somewhere.
void CubicRowsOf(const RowInput& in, int planes, int rows, int columns, bool masked, int width)
{
    using Kernel = void (*)(const RowInput&, int, bool, int);
    static constexpr Kernel kKernels[5][2] = {
        {CubicRowsMasked<0, 3>, CubicRowsMasked<0, 4>}, {CubicRowsMasked<1, 3>, CubicRowsMasked<1, 4>},
        {CubicRowsMasked<2, 3>, CubicRowsMasked<2, 4>}, {CubicRowsMasked<3, 3>, CubicRowsMasked<3, 4>},
        {CubicRowsMasked<4, 3>, CubicRowsMasked<4, 4>},
    };
    kKernels[rows][columns - 3](in, planes, masked, width);
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {
HWY_EXPORT(GatherTaps);
HWY_EXPORT(CubicRowsOf);
}  // namespace orbimg::detail

namespace {

// The cubic convolution kernel with a = -0.1 at distance t (0 <= t < 2).
double Kernel(double t)
{
    const double t2 = t * t;
    if (t < 1.0) {
        return (1.0 - t2 * 2.9) + (t2 * 1.9) * t;
    }
    return ((0.4 - t * 0.8) + t2 * 0.5) - (t2 * 0.1) * t;
}

// Index j mirrored once about the edge sample it lies beyond, without
// repeating it (-1 reads 1, size reads size - 2); on an axis below 3 samples
// the mirrored index can still fall outside, and is then clamped to the
// nearest edge.
int Mirror(int j, int size)
{
    if (j < 0) {
        j = -j;
    } else if (j > size - 1) {
        j = 2 * (size - 1) - j;
    }
    return std::clamp(j, 0, size - 1);
}

// The four taps of position s = n x scale along an axis of `size` samples:
// source indices whole - 1 .. whole + 2, mirrored; a tap is used when its
// distance is below 2 and its weight is not 0.
struct Taps {
    int index[4];
    double weight[4];
    bool used[4];
};

Taps AxisTaps(int n, double scale, int size)
{
    const double s = static_cast<double>(n) * scale;
    const int whole = static_cast<int>(s);
    Taps taps{};
    for (int k = 0; k < 4; ++k) {
        const int j = whole - 1 + k;
        const double d = std::fabs(static_cast<double>(j) - s);
        const double w = (d < 2.0) ? Kernel(d) : 0.0;
        taps.index[k] = Mirror(j, size);
        taps.weight[k] = w;
        taps.used[k] = d < 2.0 && w != 0.0;
    }
    return taps;
}

// The column taps of every destination column, one array per tap, and the
// number of taps visited (3 when no column uses its fourth).
struct ColumnTaps {
    std::vector<int> index[4];
    std::vector<double> weight[4];
    std::vector<std::uint64_t> mask[4];
    int pairs[4][2] = {};  // per tap, the longest run of columns reading every other sample
    int count = 3;
    bool masked = false;  // a visited tap is left out in some column

    ColumnTaps(int width, double scale, int size)
    {
        for (int k = 0; k < 4; ++k) {
            index[k].resize(width);
            weight[k].resize(width);
            mask[k].resize(width);
        }
        for (int x = 0; x < width; ++x) {
            const Taps t = AxisTaps(x, scale, size);
            for (int k = 0; k < 4; ++k) {
                index[k][x] = t.index[k];
                weight[k][x] = t.weight[k];
                mask[k][x] = t.used[k] ? ~std::uint64_t{0} : 0;
            }
            count = t.used[3] ? 4 : count;
        }
        for (int k = 0; k < count; ++k) {
            masked = masked || std::find(mask[k].begin(), mask[k].end(), 0) != mask[k].end();
        }
        for (int k = 0; k < 4; ++k) {
            int start = 0;
            for (int x = 0; x < width; ++x) {
                const bool pair = index[k][x] + 1 < size;
                if (!pair || (x > start && index[k][x] != index[k][x - 1] + 2)) {
                    start = pair ? x : x + 1;
                }
                if (pair && x + 1 - start > pairs[k][1] - pairs[k][0]) {
                    pairs[k][0] = start;
                    pairs[k][1] = x + 1;
                }
            }
        }
    }
};

// The used row taps of one destination row, in order.
struct RowTaps {
    int count = 0;
    int index[4] = {0, 0, 0, 0};
    double weight[4] = {0.0, 0.0, 0.0, 0.0};

    RowTaps(int y, double scale, int size)
    {
        const Taps t = AxisTaps(y, scale, size);
        for (int k = 0; k < 4; ++k) {
            if (t.used[k]) {
                index[count] = t.index[k];
                weight[count] = t.weight[k];
                ++count;
            }
        }
    }
};

// Gathered source rows of one plane, the least recently used replaced first.
// A destination row reads at most 4 source rows, so with 5 entries the rows
// of the current destination row are never replaced while it needs them.
class TapCache {
public:
    TapCache(int width, int taps) : m_width(width)
    {
        for (Entry& e : m_entries) {
            e.samples.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(taps));
        }
    }

    const float* Get(int row, const float* src, const ColumnTaps& columns)
    {
        ++m_clock;
        Entry* oldest = &m_entries[0];
        for (Entry& e : m_entries) {
            if (e.row == row) {
                e.used = m_clock;
                return e.samples.data();
            }
            oldest = (e.used < oldest->used) ? &e : oldest;
        }
        const int* index[4] = {columns.index[0].data(), columns.index[1].data(), columns.index[2].data(),
                               columns.index[3].data()};
        HWY_DYNAMIC_DISPATCH(orbimg::detail::GatherTaps)
        (oldest->samples.data(), src, index, columns.pairs, columns.count, m_width);
        oldest->row = row;
        oldest->used = m_clock;
        return oldest->samples.data();
    }

private:
    struct Entry {
        int row = -1;
        unsigned long long used = 0;
        std::vector<float> samples;
    };
    int m_width;
    unsigned long long m_clock = 0;
    Entry m_entries[5];
};

}  // namespace

void CImgResolution::DoBicubic(CKelImage* src, int width, int height)
{
    const int w = src->GetWidth();
    const int h = src->GetHeight();
    const int planes = GetPlanes();
    const ColumnTaps columns(width, static_cast<double>(w) / static_cast<double>(width), w);
    const double yScale = static_cast<double>(h) / static_cast<double>(height);

    // Gathered rows per thread, shared by its bands (a row gathered for one
    // band is the same for the next).
    orbimg::platform::PerThread<std::vector<TapCache>> cachesOf;
    orbimg::platform::ForRowBands(0, height, [&](int begin, int end) {
        std::vector<TapCache>& caches = cachesOf.Get([&] {
            std::vector<TapCache> made;
            made.reserve(static_cast<std::size_t>(planes));
            for (int p = 0; p < planes; ++p) {
                made.emplace_back(width, columns.count);
            }
            return made;
        });
        orbimg::detail::RowInput in{};
        for (int i = 0; i < 4; ++i) {
            in.wx[i] = columns.weight[i].data();
            in.mask[i] = columns.mask[i].data();
        }
        in.aheadWidth = w;
        for (int y = begin; y < end; ++y) {
            const RowTaps rowTaps(y, yScale, h);
            // The rows of the next destination row this one does not read.
            int ahead[4];
            int aheadCount = 0;
            if (y + 1 < end) {
                const RowTaps nextTaps(y + 1, yScale, h);
                for (int t = 0; t < nextTaps.count; ++t) {
                    const int* last = rowTaps.index + rowTaps.count;
                    if (std::find(rowTaps.index, last, nextTaps.index[t]) == last) {
                        ahead[aheadCount++] = nextTaps.index[t];
                    }
                }
            }
            for (int t = 0; t < rowTaps.count; ++t) {
                in.wy[t] = rowTaps.weight[t];
            }
            const orbimg::detail::LockedRows dst(*this, y);
            // The planes three at a time, the rest one at a time.
            for (int first = 0; first < planes;) {
                const int group = planes - first >= 3 ? 3 : 1;
                in.aheadCount = 0;
                for (int q = 0; q < group; ++q) {
                    const int p = first + q;
                    in.dst[q] = dst.get(p);
                    for (int t = 0; t < rowTaps.count; ++t) {
                        const int row = rowTaps.index[t];
                        const float* gathered = caches[p].Get(row, src->GetImageAdr(0, row, p, 1, nullptr), columns);
                        for (int i = 0; i < columns.count; ++i) {
                            in.taps[q][t][i] = gathered + static_cast<std::size_t>(i) * static_cast<std::size_t>(width);
                        }
                    }
                    for (int a = 0; a < aheadCount; ++a) {
                        in.ahead[in.aheadCount++] = src->GetImageAdr(0, ahead[a], p, 1, nullptr);
                    }
                }
                HWY_DYNAMIC_DISPATCH(orbimg::detail::CubicRowsOf)
                (in, group, rowTaps.count, columns.count, columns.masked, width);
                first += group;
            }
        }
    });
}
#endif  // HWY_ONCE
