// CKelImage::ToDIB: level mapping in single precision, packing at every
// depth, the 16-bit dither in image coordinates, windows and clipping, NaN
// samples, the parallel colour path against the serial one, and every build
// of the row kernels against the plain one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/simd.h"
#include "support/eachtarget.h"
#include "support/testsupport.h"

namespace {

using orbimg::test::Fill;
using orbimg::test::MakeImage;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A bitmap of the given depth whose bytes (pixels, not the pad) are `fill`.
void MakeDib(CMemoryDIB& dib, int depth, int width, int height, unsigned char fill = 0)
{
    CWnd wnd(depth);
    ASSERT_EQ(dib.Create(&wnd, width, height, 0), 1);
    if (depth >= 8) {
        for (int y = 0; y < height; ++y) {
            std::memset(dib.GetImageAdr8(0, y), fill, static_cast<std::size_t>(width) * (depth / 8));
        }
    }
}

// Every stored byte of the bitmap (rows bottom-up, pad included).
std::vector<unsigned char> Bits(CMemoryDIB& dib)
{
    HDIB block = dib.CreateHDIB();
    const std::size_t size = GlobalSize(block);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
    std::vector<unsigned char> out(bytes, bytes + size);
    GlobalUnlock(block);
    GlobalFree(block);
    return out;
}

// The display byte of a sample with single-precision levels, written out
// case by case.
int Expected(float v, double lo, double hi)
{
    const float lo32 = static_cast<float>(lo);
    const float hi32 = static_cast<float>(hi);
    const float k = static_cast<float>(255.0 / (hi - lo));
    if (lo32 >= v) {
        return 0;
    }
    if (v >= hi32) {
        return 255;
    }
    if (std::isnan(v)) {
        return 0;
    }
    const float t = (v - lo32) * k;
    return t >= 255.0f ? 255 : static_cast<int>(t);
}

TEST(ToDib, MonoGreyAt32Bits)
{
    CKelImage img = MakeImage(2, 2);
    Fill(img, 0, {0, 50, 100, 150});
    img.SetLevel(0, 0.0, 100.0);
    CMemoryDIB dib;
    MakeDib(dib, 32, 2, 2, 0x77);
    img.ToDIB(&dib, nullptr, 0);
    const int grey[4] = {0, 127, 255, 255};  // 50 x 2.55 = 127.5 truncated
    for (int i = 0; i < 4; ++i) {
        const unsigned char* p = dib.GetImageAdr32(i % 2, i / 2);
        EXPECT_EQ(p[0], grey[i]);
        EXPECT_EQ(p[1], grey[i]);
        EXPECT_EQ(p[2], grey[i]);
        EXPECT_EQ(p[3], 0x77);  // the fourth byte is untouched
    }
}

TEST(ToDib, SinglePrecisionLevels)
{
    // In float, 79 x (255 / 237) = 84.99999 gives 84 (in double it is 85).
    CKelImage img = MakeImage(1, 1);
    Fill(img, 0, {79.0f});
    img.SetLevel(0, 0.0, 237.0);
    for (int depth : {8, 24, 32}) {
        CMemoryDIB dib;
        MakeDib(dib, depth, 1, 1);
        img.ToDIB(&dib, nullptr, 0);
        EXPECT_EQ(*dib.GetImageAdr8(0, 0), 84) << depth;
    }
}

TEST(ToDib, SpecialSamplesAtEveryDepth)
{
    // NaN renders black; infinities saturate; a flat or inverted window
    // never converts an out-of-range product.
    CKelImage img = MakeImage(6, 1);
    Fill(img, 0, {kNaN, kInf, -kInf, 10.0f, 10.5f, 9.5f});
    for (auto [lo, hi] : {std::pair{0.0, 100.0}, std::pair{10.0, 10.0}, std::pair{20.0, 5.0}}) {
        img.SetLevel(0, lo, hi);
        for (int depth : {8, 16, 24, 32}) {
            SCOPED_TRACE(depth);
            CMemoryDIB dib;
            MakeDib(dib, depth, 6, 1, 0x55);
            img.ToDIB(&dib, nullptr, 0);
            for (int x = 0; x < 6; ++x) {
                const float v = orbimg::test::At(img, x, 0);
                const int g = Expected(v, lo, hi);
                if (depth == 16) {
                    const int d = std::min(g + ((x % 2 == 0) ? 4 : 0), 255) & 0xF8;
                    EXPECT_EQ(*dib.GetImageAdr16(x, 0), (d << 7) | (d << 2) | (d >> 3)) << x;
                } else {
                    EXPECT_EQ(dib.GetImageAdr8(0, 0)[x * (depth / 8)], g) << x;
                }
            }
            EXPECT_EQ(*dib.GetImageAdr8(0, 0), 0);  // NaN is black
        }
    }
}

TEST(ToDib, DitherParityInImageCoordinates)
{
    CKelImage mono = MakeImage(7, 7);
    Fill(mono, 0, [](int, int) { return 4.0f; });
    CKelImage colour = MakeImage(7, 7, 3);
    Fill(colour, 0, [](int, int) { return 251.0f; });
    Fill(colour, 1, [](int, int) { return 4.0f; });
    Fill(colour, 2, [](int, int) { return 3.0f; });
    CRect rect(1, 3, 6, 6);  // starts at odd x and odd y
    CMemoryDIB dib;
    MakeDib(dib, 16, 7, 7, 0xEE);
    mono.ToDIB(&dib, &rect, 0);
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 7; ++x) {
            const bool inside = x >= 1 && x < 6 && y >= 3 && y < 6;
            const int want = !inside ? 0xEEEE : ((x + y) % 2 == 0 ? 0x0421 : 0);
            EXPECT_EQ(*dib.GetImageAdr16(x, y), want) << x << "," << y;
        }
    }
    colour.ToDIB(&dib, &rect, 0);
    for (int y = 3; y < 6; ++y) {
        for (int x = 1; x < 6; ++x) {
            // Even x + y: R 255 -> 31, G 8 -> 1, B 7 -> 0; odd: 31, 0, 0.
            const int want = (x + y) % 2 == 0 ? (31 << 10) | (1 << 5) : (31 << 10);
            EXPECT_EQ(*dib.GetImageAdr16(x, y), want) << x << "," << y;
        }
    }
    // Grey 251 packs to white on both squares.
    Fill(mono, 0, [](int, int) { return 251.0f; });
    mono.ToDIB(&dib, nullptr, 0);
    EXPECT_EQ(*dib.GetImageAdr16(0, 0), 0x7FFF);
    EXPECT_EQ(*dib.GetImageAdr16(1, 0), 0x7FFF);
}

TEST(ToDib, ColourPacking)
{
    CKelImage img = MakeImage(4, 1, 3);
    Fill(img, 0, {255, 0, 0, 0x33});
    Fill(img, 1, {0, 255, 0, 0x22});
    Fill(img, 2, {0, 0, 255, 0x11});
    CMemoryDIB dib8;
    MakeDib(dib8, 8, 4, 1);
    img.ToDIB(&dib8, nullptr, 0);
    EXPECT_EQ(dib8.GetImageAdr8(0, 0)[0], 7);
    EXPECT_EQ(dib8.GetImageAdr8(0, 0)[1], 0x38);
    EXPECT_EQ(dib8.GetImageAdr8(0, 0)[2], 0xC0);
    EXPECT_EQ(dib8.GetImageAdr8(0, 0)[3], (0x11 & 0xC0) | ((0x22 >> 2) & 0x38) | (0x33 >> 5));
    for (int depth : {24, 32}) {
        CMemoryDIB dib;
        MakeDib(dib, depth, 4, 1);
        img.ToDIB(&dib, nullptr, 0);
        const unsigned char* p = depth == 24 ? dib.GetImageAdr24(3, 0) : dib.GetImageAdr32(3, 0);
        EXPECT_EQ(p[0], 0x11);
        EXPECT_EQ(p[1], 0x22);
        EXPECT_EQ(p[2], 0x33);
        EXPECT_EQ((depth == 24 ? dib.GetImageAdr24(0, 0) : dib.GetImageAdr32(0, 0))[2], 255);
    }
}

TEST(ToDib, WindowClippingAndUntouchedPixels)
{
    // Wide enough for several row chunks; each plane has its own levels.
    const int w = 2600;
    const int h = 70;
    CKelImage img = MakeImage(w, h, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p](int x, int y) { return static_cast<float>((x * 7 + y * 13 + p * 29) % 1000) * 0.37f; });
        img.SetLevel(p, 10.0 + p, 300.0 - 20.0 * p);
    }
    // Rows 40 to 59 across the whole width and beyond it; a strip above the
    // image; the last pixel; an inverted window that draws nothing.
    const CRect rects[] = {CRect(-5, 40, w + 100, 60), CRect(3, -9, 1500, 1), CRect(w - 1, h - 1, w + 5, h + 5),
                           CRect(50, 30, 40, 35)};
    for (int swap : {0, 1}) {
        CVmManager::SetCurrentSwapSize(swap);
        for (int depth : {8, 16, 24, 32}) {
            for (const CRect& r : rects) {
                SCOPED_TRACE(::testing::Message() << depth << " swap " << swap << " rect " << r.left << "," << r.top);
                CRect rect = r;
                CMemoryDIB dib;
                MakeDib(dib, depth, w, h, 0xAB);
                img.ToDIB(&dib, &rect, 0);
                EXPECT_EQ(rect, r);  // not modified
                const int left = std::clamp(r.left, 0, w - 1);
                const int right = std::clamp(r.right, 0, w);
                const int top = std::clamp(r.top, 0, h - 1);
                const int bottom = std::clamp(r.bottom, 0, h);
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        const bool inside = x >= left && x < right && y >= top && y < bottom;
                        const unsigned char* p = dib.GetImageAdr8(0, y) + x * (depth / 8);
                        if (!inside) {
                            ASSERT_EQ(p[0], 0xAB) << x << "," << y;
                            continue;
                        }
                        if (depth == 24 || depth == 32) {
                            ASSERT_EQ(p[2], Expected(orbimg::test::At(img, x, y, 0), 10.0, 300.0)) << x << "," << y;
                            ASSERT_EQ(p[1], Expected(orbimg::test::At(img, x, y, 1), 11.0, 280.0)) << x << "," << y;
                            ASSERT_EQ(p[0], Expected(orbimg::test::At(img, x, y, 2), 12.0, 260.0)) << x << "," << y;
                        }
                    }
                }
            }
        }
    }
    CVmManager::SetCurrentSwapSize(0);
}

TEST(ToDib, ParallelAndSerialPathsAgree)
{
    CKelImage img = MakeImage(1500, 203, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p](int x, int y) {
            if ((x * 31 + y * 17 + p) % 97 == 0) {
                return kNaN;
            }
            return std::sin(static_cast<float>(x * (p + 1)) * 0.013f) * 900.0f + static_cast<float>(y) * 3.1f;
        });
    }
    img.SetLevel(0, -700.0, 1100.0);
    img.SetLevel(1, -650.3, 950.7);
    img.SetLevel(2, -800.0, 1300.0);
    CKelImage mono = MakeImage(1500, 203, 1);
    Fill(mono, 0, [&img](int x, int y) { return orbimg::test::At(img, x, y, 1); });
    mono.SetLevel(0, -650.3, 950.7);
    for (CKelImage* image : {&img, &mono}) {
        for (int depth : {8, 16, 24, 32}) {
            for (const bool withRect : {false, true}) {
                SCOPED_TRACE(::testing::Message() << image->GetPlanes() << " planes, depth " << depth);
                CRect rect(13, 7, 1490, 199);
                CMemoryDIB parallel;
                CMemoryDIB serial;
                MakeDib(parallel, depth, 1500, 203, 0x3C);
                MakeDib(serial, depth, 1500, 203, 0x3C);
                CVmManager::SetCurrentSwapSize(0);
                image->ToDIB(&parallel, withRect ? &rect : nullptr, 0);
                CVmManager::SetCurrentSwapSize(1);
                image->ToDIB(&serial, withRect ? &rect : nullptr, 0);
                CVmManager::SetCurrentSwapSize(0);
                EXPECT_EQ(Bits(parallel), Bits(serial));
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
    for (int bits : {8, 24}) {
        const HDIB block = img.GetDib(bits);
        const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
        out.emplace_back(bytes, bytes + GlobalSize(block));
        GlobalUnlock(block);
        GlobalFree(block);
    }
    return out;
}

using ToDibEachTarget = orbimg::test::EachTarget;
ORBIMG_EACH_TARGET(ToDibEachTarget);

TEST_P(ToDibEachTarget, EveryDepthAgreesWithThePlainBuild)
{
    // Rows long enough for the widest vectors, an uneven width, special
    // samples, and levels for the fast and the dividing export routes.
    for (const int planes : {1, 3}) {
        CKelImage img = MakeImage(301, 5, planes);
        for (int p = 0; p < planes; ++p) {
            Fill(img, p, [p](int x, int y) {
                const float specials[] = {kNaN, kInf, -kInf};
                const int k = (x * 31 + y * 17 + p) % 89;
                if (k < 3) {
                    return specials[k];
                }
                return std::sin(static_cast<float>(x * (p + 1)) * 0.05f) * 900.0f + static_cast<float>(y);
            });
        }
        for (const auto& [lo, hi] : {std::pair{-700.0, 1100.0}, std::pair{-1e35, 1e35}, std::pair{3.0, 3.0}}) {
            for (int p = 0; p < planes; ++p) {
                img.SetLevel(p, lo + p, hi + 2 * p);
            }
            // Plain levels and each display stretch.
            const std::pair<int, double> stretches[] = {{CDisplayStretch::kLinear, 0.5},
                                                        {CDisplayStretch::kMTF, 0.2},
                                                        {CDisplayStretch::kAsinh, 50.0},
                                                        {CDisplayStretch::kLog, 300.0},
                                                        {CDisplayStretch::kAsinh, 1e5}};  // steep at the black point
            for (const auto& [kind, param] : stretches) {
                img.SetStretch(CDisplayStretch(kind, param));
                const auto built = Renderings(img);
                const orbimg::simd::ForceTarget plain(orbimg::simd::Targets().back());
                EXPECT_EQ(built, Renderings(img))
                    << planes << " planes, levels " << lo << " .. " << hi << ", stretch " << kind;
            }
        }
    }
}

TEST(ToDib, LowDepthsAndEmptyBitmapsAreLeftAlone)
{
    CKelImage img = MakeImage(8, 4, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [](int, int) { return 255.0f; });
    }
    for (int depth : {1, 4}) {
        CMemoryDIB dib;
        MakeDib(dib, depth, 8, 4);
        const std::vector<unsigned char> before = Bits(dib);
        img.ToDIB(&dib, nullptr, 0);
        EXPECT_EQ(Bits(dib), before) << depth;
    }
    CMemoryDIB empty;
    img.ToDIB(&empty, nullptr, 0);
    img.ToDIB(nullptr, nullptr, 0);
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(ToDib, BitmapLargerThanImage)
{
    CKelImage img = MakeImage(3, 2);
    Fill(img, 0, [](int, int) { return 100.0f; });
    for (int depth : {8, 16, 24, 32}) {
        CMemoryDIB dib;
        MakeDib(dib, depth, 5, 4, 0xAB);
        CRect all(0, 0, 5, 4);
        img.ToDIB(&dib, depth == 8 ? &all : nullptr, 0);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 5; ++x) {
                const unsigned char b = dib.GetImageAdr8(0, y)[x * (depth / 8)];
                if (x < 3 && y < 2) {
                    EXPECT_NE(b, 0xAB) << depth << ":" << x << "," << y;
                } else {
                    EXPECT_EQ(b, 0xAB) << depth << ":" << x << "," << y;
                }
            }
        }
    }
}

}  // namespace
