// Resampling (CImgResolution) to another pixel size: the common frame and
// bilinear resampling (a canvas resize without resampling is CImgResize,
// imgresize.cpp).
#include "transform/imgresolution.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/rowbands.h"
#include "transform/transformrows.h"

// The kernels, built for each instruction set (platform/simd.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transform/imgresolution.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// The two samples every destination column reads from one source row
// (columns first[x] and second[x]), gathered into contiguous arrays.
void GatherPair(float* __restrict left, float* __restrict right, const float* __restrict src,
                const int* __restrict first, const int* __restrict second, int width)
{
    for (int x = 0; x < width; ++x) {
        left[x] = src[first[x]];
        right[x] = src[second[x]];
    }
}

// A row at a whole source row with every column whole: a plain pick.
void PickRow(float* __restrict dst, const float* __restrict src, const int* __restrict first, int width)
{
    for (int x = 0; x < width; ++x) {
        dst[x] = src[first[x]];
    }
}

// One destination row from the gathered pairs of the upper and lower rows
// (p00 upLeft, p10 upRight, p01 loLeft, p11 loRight) and the column
// fractions fxs. Weights w11 = fx fy, w01 = fy - w11, w10 = fx - w11,
// w00 = (1 - fx)(1 - fy); value ((w00 p00 + w01 p01) + w10 p10) + w11 p11 in
// float, a term whose weight is 0 left out, and p00 itself where fx and fy
// are both 0. The selects keep the loop free of branches (all four samples
// are loaded; a left-out one only does not enter the value).
void BilinearRow(float* __restrict dst, const float* __restrict upLeft, const float* __restrict upRight,
                 const float* __restrict loLeft, const float* __restrict loRight, const float* __restrict fxs, float fy,
                 int width)
{
    const float oneMinusFy = 1.0f - fy;
    for (int x = 0; x < width; ++x) {
        const float fx = fxs[x];
        const float p00 = upLeft[x];
        const float p01 = loLeft[x];
        const float p10 = upRight[x];
        const float p11 = loRight[x];
        const float w11 = fx * fy;
        const float w01 = fy - w11;
        const float w10 = fx - w11;
        const float w00 = (1.0f - fx) * oneMinusFy;
        // Every sum is formed, then kept or passed over.
        const float v0 = w00 * p00;
        const float v1 = Pick(NonZeroMask(w01), v0 + w01 * p01, v0);
        const float v2 = Pick(NonZeroMask(w10), v1 + w10 * p10, v1);
        const float v3 = Pick(NonZeroMask(w11), v2 + w11 * p11, v2);
        dst[x] = Pick(NonZeroMask(fx) | NonZeroMask(fy), v3, p00);
    }
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {
HWY_EXPORT(GatherPair);
HWY_EXPORT(PickRow);
HWY_EXPORT(BilinearRow);
}  // namespace orbimg::detail

namespace {

// One axis of a bilinear destination position: the source indices of the
// pair and the position, in float, of the sample between (or past) them.
struct Pair {
    int first;
    int second;
    float f;
};

// Integer part of s = i x scale, clamped to the last index (reached only when
// rounding carries s onto or past `size`), and the fraction beside it.
Pair Split(int i, float scale, int size)
{
    const float s = static_cast<float>(i) * scale;
    const int whole = (s < static_cast<float>(size)) ? static_cast<int>(s) : size - 1;
    return {whole, whole, s - static_cast<float>(whole)};
}

// Column pair: a one-column source pairs column 0 with itself; past the last
// column the last two are extrapolated (f between 1 and 2); else the column
// and the next. When f is 0 the second column is never read; it is clamped
// into the row all the same.
Pair ColumnPair(int x, float scale, int size)
{
    Pair p = Split(x, scale, size);
    if (size == 1) {
        p.first = p.second = 0;
    } else if (p.f != 0.0f && p.first >= size - 1) {
        p.f = static_cast<float>(x) * scale - static_cast<float>(p.first - 1);
        p.second = p.first;
        p.first -= 1;
    } else {
        p.second = std::min(p.first + 1, size - 1);
    }
    return p;
}

// Row pair: a whole position or a one-row source reads one row; past the last
// row the last two are extrapolated; else the row and the next.
Pair RowPair(int y, float scale, int size)
{
    Pair p = Split(y, scale, size);
    if (p.f == 0.0f || size == 1) {
        return p;
    }
    if (p.first >= size - 1) {
        p.f = static_cast<float>(y) * scale - static_cast<float>(p.first - 1);
        p.second = p.first;
        p.first -= 1;
    } else {
        p.second = p.first + 1;
    }
    return p;
}

// Column pairs of every destination column, set up once per call.
struct Columns {
    std::vector<int> first;
    std::vector<int> second;
    std::vector<float> f;
    bool allWhole = true;  // every f is 0: each column reads one source column

    Columns(int width, float scale, int size) : first(width), second(width), f(width)
    {
        for (int x = 0; x < width; ++x) {
            const Pair p = ColumnPair(x, scale, size);
            first[x] = p.first;
            second[x] = p.second;
            f[x] = p.f;
            allWhole = allWhole && p.f == 0.0f;
        }
    }
};

// Gathered pairs of the last two source rows of one plane, so that
// consecutive destination rows reading the same source row gather it once.
class PairCache {
public:
    struct Entry {
        int row = -1;
        std::vector<float> left;
        std::vector<float> right;
    };

    explicit PairCache(int width)
    {
        for (Entry& e : m_entries) {
            e.left.resize(width);
            e.right.resize(width);
        }
    }

    // Forgets every row (a new plane).
    void Reset()
    {
        for (Entry& e : m_entries) {
            e.row = -1;
        }
    }

    // The gathered pair of source row `row` (whose samples start at `src`),
    // keeping the entry of row `keep`.
    const Entry& Get(int row, int keep, const float* src, const Columns& columns)
    {
        for (const Entry& e : m_entries) {
            if (e.row == row) {
                return e;
            }
        }
        Entry& e = (m_entries[0].row == keep) ? m_entries[1] : m_entries[0];
        HWY_DYNAMIC_DISPATCH(orbimg::detail::GatherPair)
        (e.left.data(), e.right.data(), src, columns.first.data(), columns.second.data(),
         static_cast<int>(e.left.size()));
        e.row = row;
        return e;
    }

private:
    Entry m_entries[2];
};

}  // namespace

CImgResolution::~CImgResolution() = default;

int CImgResolution::Do(CKelImage* src, int width, int height, int reserved)
{
    return Bilinear(src, width, height, reserved);
}

int CImgResolution::Bilinear(CKelImage* src, int width, int height, int) { return Resample(src, width, height, false); }

int CImgResolution::Bicubic(CKelImage* src, int width, int height, int) { return Resample(src, width, height, true); }

int CImgResolution::Resample(CKelImage* src, int width, int height, bool bicubic)
{
    if (!src || !orbimg::detail::HoldsFloats(*src) || src->GetWidth() < 1 || src->GetHeight() < 1) {
        return 0;
    }
    if (src == this) {
        // Re-dimensioning discards the samples: work from a copy.
        CKelImage copy(*this);
        return Resample(&copy, width, height, bicubic);
    }
    Init();
    const int srcWidth = src->GetWidth();
    const int srcHeight = src->GetHeight();
    if (orbimg::detail::SameGeometry(*src, *this)) {
        if (!ChangeSize(width, height, nullptr, nullptr)) {
            return 0;
        }
    } else {
        // Another size, planes or format: start from the source's record,
        // as a copy of the source would, without copying its samples (every
        // sample is written below, so a store of the output's shape is kept).
        if (!TakeRecord(*src, width, height, true)) {
            return 0;
        }
        Init();
    }
    if (bicubic) {
        DoBicubic(src, width, height);
    } else {
        DoBilinear(src, width, height, static_cast<float>(srcWidth), static_cast<float>(srcHeight));
    }
    return 1;
}

void CImgResolution::DoBilinear(CKelImage* src, int width, int height, float srcWidth, float srcHeight)
{
    // Indices are clamped with the source's own size; the floats give the
    // scales only.
    const int w = src->GetWidth();
    const int h = src->GetHeight();
    const Columns columns(width, srcWidth / static_cast<float>(width), w);
    const float yScale = srcHeight / static_cast<float>(height);
    const int planes = GetPlanes();
    orbimg::platform::ForRowBands(0, height, [&](int begin, int end) {
        PairCache cache(width);
        for (int p = 0; p < planes; ++p) {
            cache.Reset();
            for (int y = begin; y < end; ++y) {
                const Pair rows = RowPair(y, yScale, h);
                const orbimg::detail::LockedRow dst(*this, y, p);
                const float* up = src->GetImageAdr(0, rows.first, p, 1, nullptr);
                if (rows.f == 0.0f && columns.allWhole) {
                    HWY_DYNAMIC_DISPATCH(orbimg::detail::PickRow)(dst.get(), up, columns.first.data(), width);
                    continue;
                }
                const float* lo = src->GetImageAdr(0, rows.second, p, 1, nullptr);
                const PairCache::Entry& upper = cache.Get(rows.first, rows.second, up, columns);
                const PairCache::Entry& lower = cache.Get(rows.second, rows.first, lo, columns);
                HWY_DYNAMIC_DISPATCH(orbimg::detail::BilinearRow)
                (dst.get(), upper.left.data(), upper.right.data(), lower.left.data(), lower.right.data(),
                 columns.f.data(), rows.f, width);
            }
        }
    });
}
#endif  // HWY_ONCE
