// Soft binning: sums of binX x binY blocks.
#include "transform/imgsoftbinning.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/rowbands.h"
#include "transform/transformrows.h"

// The kernels, built for each instruction set (platform/simd.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transform/imgsoftbinning.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// Adds one source row into the sums of `count` whole blocks: sample X takes
// columns X bin .. X bin + bin - 1, one at a time, left to right.
void AddBlocks(float* __restrict dst, const float* __restrict src, int count, int bin)
{
    if (bin == 1) {
        for (int x = 0; x < count; ++x) {
            dst[x] += src[x];
        }
    } else if (bin == 2) {
        for (int x = 0; x < count; ++x) {
            dst[x] = (dst[x] + src[2 * x]) + src[2 * x + 1];
        }
    } else {
        for (int x = 0; x < count; ++x) {
            const float* block = src + static_cast<std::size_t>(x) * static_cast<std::size_t>(bin);
            float sum = dst[x];
            for (int k = 0; k < bin; ++k) {
                sum += block[k];
            }
            dst[x] = sum;
        }
    }
}

// 2 x 2 blocks of rows a and b in one pass: the same sums, in the same order,
// as clearing the row and adding a, then b.
void SumTwoByTwo(float* __restrict dst, const float* __restrict a, const float* __restrict b, int count)
{
    for (int x = 0; x < count; ++x) {
        dst[x] = (((0.0f + a[2 * x]) + a[2 * x + 1]) + b[2 * x]) + b[2 * x + 1];
    }
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {
namespace {
HWY_EXPORT(AddBlocks);
HWY_EXPORT(SumTwoByTwo);
}  // namespace
}  // namespace orbimg::detail

namespace {

// One destination row from its source rows (at most binY, fewer at the
// bottom edge when rounding up): every sample the sum from 0.0 of its block,
// row by row, each row left to right. Columns past the last whole block form
// one partial block when the row has room for it.
void BinRow(float* dst, const std::vector<const float*>& rows, int dstWidth, int width, int bin)
{
    const int whole = std::min(dstWidth, width / bin);
    if (bin == 2 && rows.size() == 2) {
        HWY_DYNAMIC_DISPATCH(orbimg::detail::SumTwoByTwo)(dst, rows[0], rows[1], whole);
    } else {
        std::fill(dst, dst + whole, 0.0f);
        for (const float* row : rows) {
            HWY_DYNAMIC_DISPATCH(orbimg::detail::AddBlocks)(dst, row, whole, bin);
        }
    }
    if (whole < dstWidth) {
        float sum = 0.0f;
        for (const float* row : rows) {
            for (long long c = static_cast<long long>(whole) * bin; c < width; ++c) {
                sum += row[c];
            }
        }
        dst[whole] = sum;
    }
}

// Size of the binned axis: size / bin in double, rounded up or down.
int BinnedSize(int size, int bin, bool roundUp)
{
    const double q = static_cast<double>(size) / static_cast<double>(bin);
    return static_cast<int>(roundUp ? std::ceil(q) : std::floor(q));
}

}  // namespace

CImgSoftBinning::~CImgSoftBinning() = default;

int CImgSoftBinning::Do(int binX, int binY, int roundUp, int scaleLevels, CKelImage* src, int reserved)
{
    if (binX < 1 || binY < 1 || !src || !orbimg::detail::HoldsFloats(*src) || src->GetWidth() < 1 ||
        src->GetHeight() < 1) {
        return 0;
    }
    if (src == this) {
        // Re-dimensioning discards the samples: work from a copy.
        CKelImage copy(*this);
        return Do(binX, binY, roundUp, scaleLevels, &copy, reserved);
    }
    Init();
    const int width = src->GetWidth();
    const int height = src->GetHeight();
    const int newWidth = BinnedSize(width, binX, roundUp != 0);
    const int newHeight = BinnedSize(height, binY, roundUp != 0);
    if (orbimg::detail::SameGeometry(*src, *this)) {
        if (!ChangeSize(newWidth, newHeight, nullptr, nullptr)) {
            return 0;
        }
    } else {
        // Another size, planes or format: start from the source's record,
        // as a copy of the source would, without copying its samples (every
        // sample is written below, so a store of the output's shape is kept).
        if (!TakeRecord(*src, newWidth, newHeight, true)) {
            return 0;
        }
        Init();
    }
    const int planes = GetPlanes();
    orbimg::platform::ForRowBands(0, newHeight, [&](int begin, int end) {
        std::vector<const float*> rows;
        rows.reserve(static_cast<std::size_t>(std::min(binY, height)));
        for (int y = begin; y < end; ++y) {
            const orbimg::detail::LockedRows dst(*this, y);
            for (int p = 0; p < planes; ++p) {
                rows.clear();
                for (long long r = static_cast<long long>(y) * binY;
                     r < (static_cast<long long>(y) + 1) * binY && r < height; ++r) {
                    rows.push_back(src->GetImageAdr(0, static_cast<int>(r), p, 1, nullptr));
                }
                BinRow(dst.get(p), rows, newWidth, width, binX);
            }
        }
    });
    if (scaleLevels) {
        const double f = static_cast<double>(static_cast<long long>(binX) * binY);
        for (int p = 0; p < planes; ++p) {
            SetLevel(p, f * GetLevelMin(p), f * GetLevelMax(p));
        }
    }
    return 1;
}
#endif  // HWY_ONCE
