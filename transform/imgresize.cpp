// Canvas resize (CImgResize): the frame grows or shrinks around an anchor and
// new area takes a fill value; samples are moved, never resampled (resampling
// to another pixel size is CImgResolution, imgresolution.cpp).
#include "transform/imgresize.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/rowbands.h"
#include "transform/transformrows.h"

namespace {

// Offset of the source on one axis: anchor column (or row) 0 = start,
// 1 = centre, 2 = end of the grid; halves truncate toward zero.
int AnchorOffset(int position, int size, int srcSize)
{
    switch (position) {
    case 1:
        return (size - srcSize) / 2;
    case 2:
        return size - srcSize;
    default:
        return 0;
    }
}

}  // namespace

CImgResize::~CImgResize() = default;

int CImgResize::Do(int width, int height, int anchor, float* const fill, CImage* src, int progress)
{
    if (!src || !orbimg::detail::HoldsFloats(*src) || !orbimg::detail::HoldsFloats(*this)) {
        return 0;
    }
    if (src == this) {
        // Re-dimensioning discards the samples: work from a copy.
        CImage copy(*this);
        return Do(width, height, anchor, fill, &copy, progress);
    }

    Init();
    if (!ChangeSize(width, height, nullptr, progress ? L"" : nullptr)) {
        return 0;
    }

    // Anchors 0..8 run row by row over a 3 x 3 grid; others act as 0.
    const bool known = anchor >= 0 && anchor <= 8;
    const int dx = known ? AnchorOffset(anchor % 3, width, src->GetWidth()) : 0;
    const int dy = known ? AnchorOffset(anchor / 3, height, src->GetHeight()) : 0;

    const int dstX0 = std::max(dx, 0);
    const int srcX0 = std::max(-dx, 0);
    const int dstX1 = std::min(width, dstX0 - srcX0 + src->GetWidth());
    const int dstY0 = std::max(dy, 0);
    const int srcY0 = std::max(-dy, 0);
    const int dstY1 = std::min(height, src->GetHeight() + dy);
    const bool pastes = dstX1 > dstX0 && dstY1 > dstY0;
    const std::size_t bytes = pastes ? static_cast<std::size_t>(dstX1 - dstX0) * sizeof(float) : 0;
    const int planes = GetPlanes();
    const int shared = std::min(planes, src->GetPlanes());
    std::vector<float> fills(static_cast<std::size_t>(planes));
    for (int p = 0; p < planes; ++p) {
        fills[static_cast<std::size_t>(p)] = ToRaw(fill ? fill[p] : 0.0f, 0);
    }
    // Each row is filled, then the source's part of it pasted.
    orbimg::platform::ForRowBands(0, height, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            const bool inside = pastes && y >= dstY0 && y < dstY1;
            for (int p = 0; p < planes; ++p) {
                float* row = GetImageAdr(0, y, p, 0, nullptr);
                std::fill(row, row + width, fills[static_cast<std::size_t>(p)]);
                if (inside && p < shared) {
                    const unsigned char* from = src->GetImageAdr(srcX0, y - dstY0 + srcY0, p, 1, nullptr);
                    std::memcpy(row + dstX0, from, bytes);
                }
            }
        }
    });
    return 1;
}
