// Helpers of the display tests: packed blocks read and freed, bitmaps made
// and filled, and the display byte of a sample.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "support/testsupport.h"

namespace orbimg::test {

/// The bytes of a global block, which is then freed; it must come back
/// unlocked. Empty for a null block.
inline std::vector<unsigned char> Take(HGLOBAL block)
{
    if (!block) {
        return {};
    }
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
    std::vector<unsigned char> out(bytes, bytes + GlobalSize(block));
    EXPECT_FALSE(GlobalUnlock(block)) << "the block was handed over locked";
    GlobalFree(block);
    return out;
}

/// A packed DIB: header, colour table (8 bits), rows bottom-up.
struct Packed {
    std::vector<unsigned char> bytes;

    explicit Packed(HGLOBAL block) : bytes(Take(block)) {}
    bool Valid() const { return bytes.size() >= 40; }
    const BITMAPINFOHEADER& Header() const { return *reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data()); }
    const RGBQUAD* Colors() const { return reinterpret_cast<const RGBQUAD*>(bytes.data() + 40); }
    int Stride() const { return (Header().biWidth * Header().biBitCount / 8 + 3) / 4 * 4; }
    /// Storage of image row y.
    const unsigned char* Row(int y) const
    {
        const std::size_t table = Header().biBitCount <= 8 ? 4u << Header().biBitCount : 0;
        return bytes.data() + 40 + table + static_cast<std::size_t>(Header().biHeight - 1 - y) * Stride();
    }
};

/// The display byte of a sample: single-precision levels as ToDIB maps them
/// ((v - lo) x float(255 / (hi - lo)) in float), or double-precision ones as
/// the packed exports do ((v - lo) / (hi - lo) x 255 in double).
inline int Expected(float v, double lo, double hi, bool single)
{
    const double low = single ? static_cast<float>(lo) : lo;
    if (low >= v || std::isnan(v)) {
        return 0;
    }
    if (v >= (single ? static_cast<float>(hi) : hi)) {
        return 255;
    }
    const double t = single ? static_cast<double>((v - static_cast<float>(lo)) * static_cast<float>(255.0 / (hi - lo)))
                            : (v - lo) / (hi - lo) * 255.0;
    return t >= 255.0 ? 255 : static_cast<int>(t);
}

/// A bitmap of the given depth whose pixel bytes (not the pad) are `fill`.
inline void MakeDib(CMemoryDIB& dib, int depth, int width, int height, unsigned char fill = 0)
{
    CWnd wnd(depth);
    ASSERT_EQ(dib.Create(&wnd, width, height, 0), 1);
    for (int y = 0; depth >= 8 && y < height; ++y) {
        std::memset(dib.GetImageAdr8(0, y), fill, static_cast<std::size_t>(width) * (depth / 8));
    }
}

/// Every stored byte of a bitmap, as exported (header, table, rows, pad).
inline std::vector<unsigned char> Bits(CMemoryDIB& dib) { return Take(dib.CreateHDIB()); }

}  // namespace orbimg::test
