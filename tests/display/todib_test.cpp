// CKelImage::ToDIB: level mapping in single precision, packing at every
// depth, the 16-bit dither in image coordinates, windows and clipping, NaN
// samples, the parallel colour path against the serial one, every build of
// the row kernels against the plain one, and the display stretches against
// the double-precision numpy reference (within 1 display level).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "display/displaysupport.h"
#include "platform/simd.h"
#include "support/eachtarget.h"

namespace orbimg::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The bytes of a pixel whose planes map to the display bytes r, g, b, at
// (x, y) of a bitmap of the given depth: grey (mono at 8 bits), 3-3-2 with
// blue in the top bits, 5-5-5 dithered by +4 (capped) where x + y is even,
// or blue, green, red. Unused places hold -1.
std::array<int, 3> Pixel(int depth, bool mono, int r, int g, int b, int x, int y)
{
    if (depth == 8) {
        return {mono ? g : (b & 0xC0) | ((g >> 2) & 0x38) | (r >> 5), -1, -1};
    }
    if (depth == 16) {
        const auto five = [d = (x + y) % 2 == 0 ? 4 : 0](int v) { return std::min(v + d, 255) >> 3; };
        const int w = (five(r) << 10) | (five(g) << 5) | five(b);
        return {w & 0xFF, w >> 8, -1};
    }
    return {b, g, r};
}

// The bytes of pixel (x, y) of a bitmap, as Pixel gives them.
std::array<int, 3> Stored(CMemoryDIB& dib, int depth, int x, int y)
{
    const unsigned char* px = dib.GetImageAdr8(0, y) + x * (depth / 8);
    return {px[0], depth > 8 ? px[1] : -1, depth > 16 ? px[2] : -1};
}

TEST(ToDib, LevelsAndSpecialSamplesAtEveryDepth)
{
    // NaN renders black; infinities saturate; a flat or inverted window
    // never converts an out-of-range product. Single precision: 79 x
    // float(255 / 237) = 84.99999 gives 84 (in double it is 85). The part of
    // the bitmap beyond the image (at 8 bits within the window) is left alone,
    // and so are bitmaps of depths below 8 and empty or missing ones.
    ASSERT_EQ(Expected(79.0f, 0.0, 237.0, true), 84);
    CKelImage img = MakeImage(9, 1);
    Fill(img, 0, {kNaN, kInf, -kInf, 10.0f, 10.5f, 9.5f, 79.0f, 50.0f, 150.0f});
    for (auto [lo, hi] : {std::pair{0.0, 100.0}, std::pair{10.0, 10.0}, std::pair{20.0, 5.0}, std::pair{0.0, 237.0}}) {
        img.SetLevel(0, lo, hi);
        for (int depth : {1, 4, 8, 16, 24, 32}) {
            SCOPED_TRACE(::testing::Message() << "depth " << depth << ", levels " << lo << " .. " << hi);
            CMemoryDIB dib;
            MakeDib(dib, depth, 11, 3, 0x55);
            const std::vector<unsigned char> before = Bits(dib);
            CRect all(0, 0, 11, 3);
            img.ToDIB(&dib, depth == 8 ? &all : nullptr, 0);
            for (int y = 0; y < 3 && depth >= 8; ++y) {
                for (int x = 0; x < 11; ++x) {
                    const int g = x < 9 && y == 0 ? Expected(At(img, x, 0), lo, hi, true) : -1;
                    const std::array<int, 3> beyond = {0x55, depth > 8 ? 0x55 : -1, depth > 16 ? 0x55 : -1};
                    EXPECT_EQ(Stored(dib, depth, x, y), g < 0 ? beyond : Pixel(depth, true, g, g, g, x, 0)) << x;
                    EXPECT_TRUE(depth < 32 || dib.GetImageAdr8(0, y)[4 * x + 3] == 0x55) << "fourth byte of " << x;
                }
            }
            EXPECT_TRUE(depth >= 8 || Bits(dib) == before);
        }
    }
    CMemoryDIB empty;
    img.ToDIB(&empty, nullptr, 0);
    img.ToDIB(nullptr, nullptr, 0);
    EXPECT_TRUE(empty.IsEmpty());
}

// Samples over about -900 .. 1200, NaN and infinities now and then; each
// plane has its own levels.
CKelImage Picture(int w, int h, int planes)
{
    CKelImage img = MakeImage(w, h, planes);
    for (int p = 0; p < planes; ++p) {
        Fill(img, p, [p](int x, int y) {
            const float specials[] = {kNaN, kInf, -kInf};
            const int k = (x * 31 + y * 17 + p) % 89;
            return k < 3 ? specials[k]
                         : std::sin(static_cast<float>(x * (p + 1)) * 0.013f) * 900.0f + static_cast<float>(y) * 3.1f;
        });
        img.SetLevel(p, -700.0 + 50.3 * p, 1100.0 - 150.3 * p);
    }
    return img;
}

// Row bands against the serial loop, mono and colour, at every depth and
// window: the same bytes; outside the window nothing is written, inside it
// each pixel is mapped (each plane with its own levels) and packed, the
// 16-bit dither in image coordinates. Windows: none; rows 41 to 59 across the
// whole width and beyond it; a strip above the image; the last pixel; an
// inverted window that draws nothing. Rows long enough for several chunks,
// of an odd width. The packed 8- and 24-bit exports: the same block from the
// bands as from the serial loop (the palette's counts added over the bands);
// mono 8 bits a grey table, grey and 24-bit bytes by each plane's levels in
// double, rows padded with zeros.
TEST(ToDib, WindowsAndParallelAndSerialPathsAgree)
{
    const int w = 2601;
    const int h = 103;
    const CRect rects[] = {CRect(0, 0, w, h), CRect(-5, 41, w + 100, 60), CRect(3, -9, 1500, 1),
                           CRect(w - 1, h - 1, w + 5, h + 5), CRect(50, 30, 40, 35)};
    for (const int planes : {3, 1}) {
        CKelImage img = Picture(w, h, planes);
        for (int depth : {8, 16, 24, 32}) {
            for (const CRect& r : rects) {
                SCOPED_TRACE(::testing::Message()
                             << planes << " planes, depth " << depth << ", rect " << r.left << "," << r.top);
                CMemoryDIB dib[2];
                for (const int serial : {0, 1}) {
                    CRect rect = r;
                    MakeDib(dib[serial], depth, w, h, 0xAB);
                    CVmManager::SetCurrentSwapSize(serial);
                    img.ToDIB(&dib[serial], r == rects[0] ? nullptr : &rect, 0);
                    CVmManager::SetCurrentSwapSize(0);
                    EXPECT_EQ(rect, r);  // not modified
                }
                EXPECT_EQ(Bits(dib[0]), Bits(dib[1]));
                const CRect in(std::clamp(r.left, 0, w - 1), std::clamp(r.top, 0, h - 1), std::clamp(r.right, 0, w),
                               std::clamp(r.bottom, 0, h));
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        if (x < in.left || x >= in.right || y < in.top || y >= in.bottom) {
                            ASSERT_EQ(dib[0].GetImageAdr8(0, y)[x * (depth / 8)], 0xAB) << x << "," << y;
                            continue;
                        }
                        int v[3];
                        for (int q = 0; q < 3; ++q) {
                            const int plane = planes == 3 ? q : 0;
                            v[q] = Expected(At(img, x, y, plane), img.GetLevelMin(plane), img.GetLevelMax(plane), true);
                        }
                        ASSERT_EQ(Stored(dib[0], depth, x, y), Pixel(depth, planes == 1, v[0], v[1], v[2], x, y))
                            << x << "," << y;
                    }
                }
            }
        }
        for (const int bits : {8, 24}) {
            SCOPED_TRACE(::testing::Message() << "GetDib " << bits << " bits, " << planes << " planes");
            CVmManager::SetCurrentSwapSize(1);
            const std::vector<unsigned char> serial = Take(img.GetDib(bits));
            CVmManager::SetCurrentSwapSize(0);
            const Packed dib(img.GetDib(bits));
            ASSERT_TRUE(dib.Valid());
            EXPECT_TRUE(dib.bytes == serial);
            if (bits == 8 && planes == 3) {
                continue;  // palette indexes: getdib_test.cpp
            }
            const BITMAPINFOHEADER& hd = dib.Header();
            const unsigned stride = (bits == 8 ? 2604u : 7804u);
            EXPECT_TRUE(hd.biSize == 40 && hd.biWidth == w && hd.biHeight == h && hd.biPlanes == 1 &&
                        hd.biBitCount == bits && hd.biCompression == BI_RGB && hd.biXPelsPerMeter == 0 &&
                        hd.biYPelsPerMeter == 0 && hd.biClrUsed == 0 && hd.biClrImportant == 0);
            ASSERT_EQ(hd.biSizeImage, stride * h);
            ASSERT_EQ(dib.bytes.size(), 40u + (bits == 8 ? 1024u : 0u) + hd.biSizeImage);
            for (int i = 0; i < 256 && bits == 8; ++i) {
                const RGBQUAD& c = dib.Colors()[i];
                ASSERT_TRUE(c.rgbBlue == i && c.rgbGreen == i && c.rgbRed == i && c.rgbReserved == 0) << i;
            }
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < static_cast<int>(stride); ++x) {  // blue, green, red
                    const int p = planes == 1 ? 0 : 2 - x % 3;
                    ASSERT_EQ(dib.Row(y)[x], x >= w * bits / 8
                                                 ? 0
                                                 : Expected(At(img, x * 8 / bits, y, p), img.GetLevelMin(p),
                                                            img.GetLevelMax(p), false))
                        << x << "," << y;
                }
            }
        }
    }
}

// The bytes of a bitmap of every depth rendered from `img`, and of the
// packed 8- and 24-bit exports.
std::vector<std::vector<unsigned char>> Renderings(CKelImage& img)
{
    std::vector<std::vector<unsigned char>> out;
    for (int depth : {8, 16, 24, 32}) {
        CMemoryDIB dib;
        MakeDib(dib, depth, img.GetWidth(), img.GetHeight(), 0x3C);
        img.ToDIB(&dib, nullptr, 0);
        out.push_back(Bits(dib));
    }
    out.push_back(Take(img.GetDib(8)));
    out.push_back(Take(img.GetDib(24)));
    return out;
}

using ToDibEachTarget = EachTarget;
ORBIMG_EACH_TARGET(ToDibEachTarget);

TEST_P(ToDibEachTarget, EveryDepthAgreesWithThePlainBuild)
{
    // Rows long enough for the widest vectors, an uneven width, special
    // samples, and levels for the fast and the dividing export routes. Plain
    // levels and each display stretch (asinh 1e5: steep at the black point;
    // last an MTF whose green parameter is out of range). A linear stretch
    // draws exactly the bytes of the levels alone, and so does a plane whose
    // parameter is out of range (green of the 32-bit bitmap).
    CDisplayStretch mixed(CDisplayStretch::kMTF, 0.2);
    mixed.SetParam(1, 1.5);
    const CDisplayStretch stretches[] = {{CDisplayStretch::kLinear, 0.5}, {CDisplayStretch::kMTF, 0.2},
                                         {CDisplayStretch::kAsinh, 50.0}, {CDisplayStretch::kLog, 300.0},
                                         {CDisplayStretch::kAsinh, 1e5},  mixed};
    for (const int planes : {1, 3}) {
        CKelImage img = Picture(301, 5, planes);
        for (const auto& [lo, hi] : {std::pair{-700.0, 1100.0}, std::pair{-1e35, 1e35}, std::pair{3.0, 3.0}}) {
            for (int p = 0; p < planes; ++p) {
                img.SetLevel(p, lo + p, hi + 2 * p);
            }
            img.SetStretch(CDisplayStretch());
            const auto levels = Renderings(img);
            for (const CDisplayStretch& stretch : stretches) {
                SCOPED_TRACE(::testing::Message() << planes << " planes, levels " << lo << " .. " << hi << ", stretch "
                                                  << stretch.GetKind());
                img.SetStretch(stretch);
                const auto built = Renderings(img);
                EXPECT_TRUE(!stretch.IsLinear() || built == levels);
                if (planes == 3 && !stretch.IsValid(1)) {
                    for (std::size_t i = 40; i < built[3].size(); i += 4) {
                        EXPECT_EQ(built[3][i + 1], levels[3][i + 1]) << "green byte of pixel " << (i - 40) / 4;
                    }
                    EXPECT_TRUE(lo == hi || built[3] != levels[3]) << "red and blue are stretched";
                }
                const orbimg::simd::ForceTarget plain(orbimg::simd::Targets().back());
                EXPECT_EQ(built, Renderings(img));
            }
        }
    }
}

// ---- display stretches ----------------------------------------------------------

// Case i of stretch_reference.txt (stretch_reference.py): the file holds the
// count n and positions t of the samples (the last sample is NaN), then per
// case the kind, parameter x 3, lo, hi x 3 and n bytes of each plane.
struct StretchCase {
    const double* t;
    const double* head;
    int n;
    int Kind() const { return static_cast<int>(head[0]); }
    double Param(int p) const { return head[1 + p]; }
    double Lo(int p) const { return head[4 + 2 * p]; }
    double Hi(int p) const { return head[5 + 2 * p]; }
    int Byte(int p, int x) const { return static_cast<int>(head[10 + p * n + x]); }
};

StretchCase Case(int i)
{
    static const std::vector<double> v = ReadNumbers("stretch_reference.txt");
    const int n = static_cast<int>(v.at(0));
    EXPECT_EQ(v.size(), 1u + n + 4u * (10 + 3 * n));
    return {v.data() + 1, v.data() + 1 + n + i * (10 + 3 * n), n};
}

// The case's samples on two rows of `planes` planes (plane p of a mono
// image: the case's plane `only`), its levels and stretch installed.
CKelImage Stretched(const StretchCase& c, int planes, int only = 0)
{
    const int width = c.n;
    CKelImage img = MakeImage(width, 2, planes);
    CDisplayStretch stretch(c.Kind(), 0.5);
    for (int p = 0; p < planes; ++p) {
        const int q = planes == 1 ? only : p;
        Fill(img, p, [&](int x, int) {
            return x == width - 1 ? NAN : static_cast<float>(c.Lo(q) + c.t[x] * (c.Hi(q) - c.Lo(q)));
        });
        img.SetLevel(p, c.Lo(q), c.Hi(q));
        stretch.SetParam(p, c.Param(q));
    }
    img.SetStretch(stretch);
    return img;
}

class StretchReference : public ::testing::TestWithParam<int> {};

TEST_P(StretchReference, WithinOneLevelAtEveryDepth)
{
    const StretchCase c = Case(GetParam());
    CKelImage colour = Stretched(c, 3);
    const int width = colour.GetWidth();
    auto near = [&c](int got, int p, int x, const char* what, int shift = 0, int add = 0) {
        const int want = std::min(c.Byte(p, x) + add, 255) >> shift;
        EXPECT_LE(std::abs(got - want), 1) << what << " plane " << p << " sample " << x;
    };
    for (const int depth : {8, 16, 24, 32}) {
        CMemoryDIB dib;
        MakeDib(dib, depth, width, 2);
        colour.ToDIB(&dib, nullptr, 0);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* px = dib.GetImageAdr8(0, y) + x * (depth / 8);
                std::uint16_t w;
                std::memcpy(&w, px, sizeof w);
                for (int p = 0; p < 3; ++p) {
                    if (depth >= 24) {
                        near(px[2 - p], p, x, "ToDIB 24/32");
                    } else if (depth == 16) {
                        near((w >> (10 - 5 * p)) & 31, p, x, "ToDIB 16", 3, (x + y) % 2 == 0 ? 4 : 0);
                    } else {
                        near((px[0] >> (3 * p)) & (p == 2 ? 3 : 7), p, x, "ToDIB 8 (3-3-2)", p == 2 ? 6 : 5);
                    }
                }
            }
        }
    }
    const Packed packed(colour.GetDib(24));
    for (int x = 0; x < width; ++x) {
        for (int p = 0; p < 3; ++p) {
            near(packed.Row(0)[3 * x + 2 - p], p, x, "GetDib 24");
        }
    }
    // Mono: each plane alone, 8-bit grey rendering and export, and the
    // display histogram at 255 bins (bin = byte, 255 in the top bin).
    for (int p = 0; p < 3; ++p) {
        CKelImage mono = Stretched(c, 1, p);
        CMemoryDIB dib;
        MakeDib(dib, 8, width, 2);
        mono.ToDIB(&dib, nullptr, 0);
        const Packed grey(mono.GetDib(8));
        std::vector<int> counts(255, 0);
        for (int x = 0; x < width; ++x) {
            near(dib.GetImageAdr8(0, 1)[x], p, x, "ToDIB 8 grey");
            near(grey.Row(1)[x], p, x, "GetDib 8 grey");
            if (x < width - 1) {
                ++counts[static_cast<std::size_t>(std::min<int>(dib.GetImageAdr8(0, 1)[x], 254))];
            }
        }
        std::vector<int> hist(255, -1);
        CRect row(0, 1, width, 2);
        mono.GetHistogramDisplay(hist.data(), 255, -1, &row);
        EXPECT_EQ(hist, counts) << "display histogram of plane " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StretchReference, ::testing::Range(0, 4));

}  // namespace
}  // namespace orbimg::test
