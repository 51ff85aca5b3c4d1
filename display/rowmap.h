// Row kernels shared by rendering (ToDIB) and packed DIB export (GetDib):
// samples through display levels to bytes, and bytes packed to pixels; and
// the DIB layout rules the memory bitmap and the export share. Internal to
// the library.
//
// Conventions
//   - Every kernel walks one contiguous run of n samples or pixels (n >= 0)
//     and keeps the arithmetic of each element in the order written below,
//     so the vectorised loops give the same bytes as a plain loop.
//   - Level mapping: 0 when lo >= v, else 255 when v >= hi, else
//     (v - lo) x k (float) or (v - lo) / range x 255 (double), truncated.
//     NaN samples give 0; a product outside 0..255 (levels whose range does
//     not match their ends) saturates; no conversion is ever undefined.
//   - Colour bytes come as three runs r, g, b; a grey run is passed as all
//     three.
#pragma once

#include <cstdint>

#include "image/kelimage.h"
#include "imagecore/tofloat.h"
#include "platform/wintypes.h"

namespace orbimg::detail {

/// Bytes per row of a DIB: width x bit count bits rounded up to a multiple
/// of 32 bits (64-bit, so that no width overflows).
constexpr std::uint64_t DibStride(int width, int bitCount)
{
    return (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitCount) + 31) / 32 * 4;
}

/// A bottom-up BI_RGB header of one plane; resolution and important
/// colours 0.
inline BITMAPINFOHEADER MakeInfoHeader(int width, int height, int bitCount, DWORD sizeImage, DWORD colorsUsed)
{
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = sizeImage;
    h.biClrUsed = colorsUsed;
    return h;
}

/// Pixels per chunk when a row is mapped into stack buffers before packing.
constexpr int kRowChunk = 1024;

/// A plane's display levels in single precision (rendering).
struct FloatLevels {
    float lo;  ///< level minimum
    float hi;  ///< level maximum
    float k;   ///< 255 / level range
};

/// A plane's display levels in double precision (export).
struct DoubleLevels {
    double lo;     ///< level minimum
    double hi;     ///< level maximum
    double range;  ///< level range
};

/// A double rounded to float as IEEE does (imagecore/tofloat.h).
using orbimg::ToFloat;

/// Levels of plane values prepared for rendering: lo and hi rounded to
/// float, k = 255 / range rounded to float.
FloatLevels MakeFloatLevels(double lo, double hi, double range);

void MapRow(const float* src, int n, const FloatLevels& lv, std::uint8_t* out);
void MapRow(const float* src, int n, const DoubleLevels& lv, std::uint8_t* out);

/// Planes r, g and b mapped through lv[0..2] and packed as PackBGR32 packs
/// them: the same bytes as MapRow three times and PackBGR32, in one pass.
void MapPackBGR32(const float* r, const float* g, const float* b, int n, const FloatLevels* lv, std::uint8_t* out);

/// 15-bit colour codes (r5 << 10) | (g5 << 5) | b5 from the top five bits.
void PackCode15(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint16_t* out);
/// 3-3-2 index: (b & 0xC0) | ((g >> 2) & 0x38) | (r >> 5).
void Pack332(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out);
/// 5-5-5 words; pixel i has image coordinates (x0 + i, y), and where their
/// sum is even every component is first raised by 4 (capped at 255).
void Pack555Dither(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, int x0, int y,
                   std::uint16_t* out);
/// Bytes b, g, r per pixel.
void PackBGR24(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out);
/// Bytes b, g, r of 4-byte pixels; the fourth byte keeps its value.
void PackBGR32(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b, int n, std::uint8_t* out);

/// Maps columns left .. right - 1 of image row y through the levels, one
/// chunk of at most kRowChunk pixels at a time, and calls fn(x, n, r, g, b)
/// for each chunk starting at column x. `planes` is 1 (grey: r, g and b are
/// the same run) or 3 (lv[p] for plane p). Each plane's row is fetched once.
/// Returns false, calling nothing, when a plane's row cannot be fetched.
template <typename Levels, typename Fn>
bool ForEachChunk(const CKelImage& image, int y, int left, int right, int planes, const Levels* lv, Fn&& fn)
{
    const float* src[3] = {nullptr, nullptr, nullptr};
    for (int p = 0; p < planes; ++p) {
        src[p] = image.GetImageAdr(left, y, p, 1, nullptr);
        if (!src[p]) {
            return false;
        }
    }
    std::uint8_t buf[3][kRowChunk];
    for (int x = left; x < right; x += kRowChunk) {
        const int n = right - x < kRowChunk ? right - x : kRowChunk;
        for (int p = 0; p < planes; ++p) {
            MapRow(src[p] + (x - left), n, lv[p], buf[p]);
        }
        if (planes == 1) {
            fn(x, n, buf[0], buf[0], buf[0]);
        } else {
            fn(x, n, buf[0], buf[1], buf[2]);
        }
    }
    return true;
}

}  // namespace orbimg::detail
