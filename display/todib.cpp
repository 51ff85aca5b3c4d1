// Rendering an image through its display levels into a memory bitmap of the
// display's depth.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "display/memorydib.h"
#include "display/rowmap.h"
#include "display/stretchrows.h"
#include "image/kelimage.h"
#include "platform/rowbands.h"

namespace {

// One call's rendering: the clipped window, the prepared levels (FloatLevels,
// or StretchLevels for a non-linear stretch) and the bitmap. Row() draws one
// row and touches nothing but that bitmap row, so rows may be drawn from
// several threads at once.
template <typename Levels>
struct Renderer {
    const CKelImage* image;
    CMemoryDIB* dib;
    int left;
    int right;
    int bits;    // 8, 16, 24 or 32
    int planes;  // 1 (grey) or 3 (colour)
    Levels lv[3];

    unsigned char* Target(int y) const
    {
        switch (bits) {
        case 8:
            return dib->GetImageAdr8(left, y);
        case 16:
            return reinterpret_cast<unsigned char*>(dib->GetImageAdr16(left, y));
        case 24:
            return dib->GetImageAdr24(left, y);
        default:
            return dib->GetImageAdr32(left, y);
        }
    }

    void Row(int y) const
    {
        unsigned char* const row = Target(y);
        if (!row) {
            return;
        }
        if constexpr (std::is_same_v<Levels, orbimg::detail::FloatLevels>) {
            if (bits == 32 && planes == 3) {
                const float* src[3];
                for (int p = 0; p < 3; ++p) {
                    src[p] = image->GetImageAdr(left, y, p, 1, nullptr);
                    if (!src[p]) {
                        return;
                    }
                }
                orbimg::detail::MapPackBGR32(src[0], src[1], src[2], right - left, lv, row);
                return;
            }
        }
        const int bytes = bits / 8;
        orbimg::detail::ForEachChunk(
            *image, y, left, right, planes, lv,
            [&](int x, int n, const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b) {
                unsigned char* out = row + static_cast<std::size_t>(x - left) * bytes;
                switch (bits) {
                case 8:
                    if (planes == 1) {
                        std::memcpy(out, r, static_cast<std::size_t>(n));
                    } else {
                        orbimg::detail::Pack332(r, g, b, n, out);
                    }
                    break;
                case 16:
                    orbimg::detail::Pack555Dither(r, g, b, n, x, y, reinterpret_cast<std::uint16_t*>(out));
                    break;
                case 24:
                    orbimg::detail::PackBGR24(r, g, b, n, out);
                    break;
                default:
                    orbimg::detail::PackBGR32(r, g, b, n, out);
                    break;
                }
            });
    }
};

}  // namespace

void CKelImage::ToDIB(CMemoryDIB* dib, CRect* rect, int)
{
    if (!dib || dib->IsEmpty()) {
        return;
    }
    const int bits = dib->GetBitCount();
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return;
    }
    const int w = dib->GetWidth();
    const int h = dib->GetHeight();
    int left = 0;
    int right = w;
    int top = 0;
    int bottom = h;
    if (rect) {
        left = std::min(std::max(rect->left, 0), w - 1);
        right = std::min(std::max(rect->right, 0), w);
        top = std::min(std::max(rect->top, 0), h - 1);
        bottom = std::min(std::max(rect->bottom, 0), h);
    }
    // Image pixel (x, y) is drawn at bitmap pixel (x, y): of a bitmap larger
    // than the image only the part the image covers is drawn.
    right = std::min(right, GetWidth());
    bottom = std::min(bottom, GetHeight());
    if (right <= left || bottom <= top) {
        return;
    }

    const int planes = IsColor() ? 3 : 1;
    auto draw = [&](const auto& job) {
        orbimg::platform::ForRowBands(top, bottom, [&job](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                job.Row(y);
            }
        });
    };
    if (!GetStretch().IsLinear()) {
        orbimg::detail::StretchSet stretch;
        orbimg::detail::PrepareStretch(*this, planes, stretch);
        Renderer<orbimg::detail::StretchLevels> job{this, dib, left, right, bits, planes, {}};
        std::copy(stretch.lv, stretch.lv + planes, job.lv);
        draw(job);
        return;
    }
    Renderer<orbimg::detail::FloatLevels> job{this, dib, left, right, bits, planes, {}};
    for (int p = 0; p < job.planes; ++p) {
        job.lv[p] = orbimg::detail::MakeFloatLevels(GetLevelMin(p), GetLevelMax(p), GetLevelRange(p));
    }
    draw(job);
}
