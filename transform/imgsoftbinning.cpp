// Soft binning: sums of binX x binY blocks.
#include "transform/imgsoftbinning.h"

#include <algorithm>
#include <cmath>

#include "transform/transformrows.h"

namespace {

// Adds one source row of `width` samples into the destination row: sample X
// takes columns X bin .. X bin + bin - 1, one at a time, stopping at the end of
// the source row.
void AddRow(float* __restrict dst, const float* __restrict src, int dstWidth, int width, int bin)
{
    // Blocks that lie wholly inside the source row.
    const int whole = std::min(dstWidth, width / bin);
    if (bin == 1) {
        for (int x = 0; x < whole; ++x) {
            dst[x] += src[x];
        }
    } else if (bin == 2) {
        for (int x = 0; x < whole; ++x) {
            dst[x] = (dst[x] + src[2 * x]) + src[2 * x + 1];
        }
    } else {
        for (int x = 0; x < whole; ++x) {
            const float* block = src + static_cast<std::size_t>(x) * static_cast<std::size_t>(bin);
            float sum = dst[x];
            for (int k = 0; k < bin; ++k) {
                sum += block[k];
            }
            dst[x] = sum;
        }
    }
    // A partial block at the right edge (kept when rounding up).
    if (whole < dstWidth) {
        float sum = dst[whole];
        for (long long c = static_cast<long long>(whole) * bin; c < width; ++c) {
            sum += src[c];
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
    if (binX < 1 || binY < 1 || !src || !orbimg::detail::SameGeometry(*src, *this)) {
        return 0;
    }
    if (src == this) {
        // Re-dimensioning discards the samples: work from a copy.
        CKelImage copy(*this);
        return Do(binX, binY, roundUp, scaleLevels, &copy, reserved);
    }
    Init();
    const int width = GetWidth();
    const int height = GetHeight();
    const int newWidth = BinnedSize(width, binX, roundUp != 0);
    const int newHeight = BinnedSize(height, binY, roundUp != 0);
    if (!ChangeSize(newWidth, newHeight, nullptr, nullptr)) {
        return 0;
    }
    for (int p = 0; p < GetPlanes(); ++p) {
        int r = 0;
        for (int y = 0; y < newHeight; ++y) {
            const orbimg::detail::LockedRow dst(*this, y, p);
            std::fill(dst.get(), dst.get() + newWidth, 0.0f);
            for (int k = 0; k < binY && r < height; ++k, ++r) {
                AddRow(dst.get(), src->GetImageAdr(0, r, p, 1, nullptr), newWidth, width, binX);
            }
        }
    }
    if (scaleLevels) {
        const double f = static_cast<double>(static_cast<long long>(binX) * binY);
        for (int p = 0; p < GetPlanes(); ++p) {
            SetLevel(p, f * GetLevelMin(p), f * GetLevelMax(p));
        }
    }
    return 1;
}
