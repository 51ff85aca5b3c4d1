// Flip top to bottom or left to right.
#include "transform/imgflip.h"

#include <algorithm>
#include <cstring>

#include "platform/rowbands.h"
#include "transform/transformrows.h"

namespace {

using orbimg::platform::ForRowBands;

// Destination row y takes source row height - 1 - y.
void FlipRows(CKelImage& dst, const CKelImage& src)
{
    const int width = dst.GetWidth();
    const int height = dst.GetHeight();
    const int planes = dst.GetPlanes();
    const std::size_t bytes = static_cast<std::size_t>(width) * sizeof(float);
    ForRowBands(0, height, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int p = 0; p < planes; ++p) {
                float* to = dst.GetImageAdr(0, y, p, 0, nullptr);
                const float* from = src.GetImageAdr(0, height - 1 - y, p, 1, nullptr);
                std::memcpy(to, from, bytes);
            }
        }
    });
}

// Each row reversed into the destination row.
void FlipColumns(CKelImage& dst, const CKelImage& src)
{
    const int width = dst.GetWidth();
    const int planes = dst.GetPlanes();
    ForRowBands(0, dst.GetHeight(), [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int p = 0; p < planes; ++p) {
                float* __restrict to = dst.GetImageAdr(0, y, p, 0, nullptr);
                const float* __restrict from = src.GetImageAdr(0, y, p, 1, nullptr);
                const float* last = from + (width - 1);
                for (int x = 0; x < width; ++x) {
                    to[x] = last[-x];
                }
            }
        }
    });
}

// In place: rows swapped pairwise from the outside in (a band holds the
// upper rows of its pairs).
void FlipRowsInPlace(CKelImage& image)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int planes = image.GetPlanes();
    ForRowBands(0, height / 2, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int p = 0; p < planes; ++p) {
                float* top = image.GetImageAdr(0, y, p, 0, nullptr);
                float* bottom = image.GetImageAdr(0, height - 1 - y, p, 0, nullptr);
                std::swap_ranges(top, top + width, bottom);
            }
        }
    });
}

// In place: each row reversed.
void FlipColumnsInPlace(CKelImage& image)
{
    const int width = image.GetWidth();
    const int planes = image.GetPlanes();
    ForRowBands(0, image.GetHeight(), [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            for (int p = 0; p < planes; ++p) {
                float* row = image.GetImageAdr(0, y, p, 0, nullptr);
                std::reverse(row, row + width);
            }
        }
    });
}

}  // namespace

CImgFlip::~CImgFlip() = default;

void CImgFlip::Do(int mode, CKelImage* src, int)
{
    if ((mode != 0 && mode != 1) || !src) {
        return;
    }
    if (orbimg::detail::TakesSourceSize(*src, *this)) {
        // Every sample is written below: take the source's record and size
        // without copying its samples.
        if (!TakeRecord(*src, src->GetWidth(), src->GetHeight())) {
            return;
        }
    }
    if (!orbimg::detail::Covers(*src, *this) || GetWidth() < 1 || GetHeight() < 1) {
        return;
    }
    if (src == this) {
        if (mode == 0) {
            FlipRowsInPlace(*this);
        } else {
            FlipColumnsInPlace(*this);
        }
        return;
    }
    if (mode == 0) {
        FlipRows(*this, *src);
    } else {
        FlipColumns(*this, *src);
    }
}
