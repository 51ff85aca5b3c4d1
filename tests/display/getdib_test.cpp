// Packed bitmaps. CKelImage::GetDib: refusals, double-precision levels next
// to every threshold, and the adaptive palette against the independent
// reference in tests/reference (layout and the bands against the serial loop:
// todib_test.cpp).
// CMemoryDIB: creation at every depth (with and without a palette), lifecycle
// and leak counts, deep copy, pixel writers and packed export.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "display/displaysupport.h"
#include "support/eachtarget.h"

namespace orbimg::test {
namespace {

using GetDibTest = NoLeaks;

TEST_F(GetDibTest, NullResults)
{
    CKelImage img = MakeImage(4, 4, 3);
    for (int bits : {0, 1, 4, 16, 32, -8}) {
        EXPECT_EQ(img.GetDib(bits), nullptr) << bits;
    }
    CKelImage empty;
    EXPECT_EQ(empty.GetDib(8), nullptr);
    EXPECT_EQ(empty.GetDib(24), nullptr);
    CKelImage noRows = MakeImage(5, 0, 3);
    EXPECT_EQ(noRows.GetDib(8), nullptr);
    // 65536 x 21846 x 3 bytes > 4 GiB - 1. The samples are never touched,
    // so their (zeroed, lazily mapped) store costs no memory.
    CKelImage huge = MakeImage(65536, 21846);
    ASSERT_EQ(huge.GetWidth(), 65536);
    EXPECT_EQ(huge.GetDib(24), nullptr);
}

using GetDibEachTarget = EachTargetOf<GetDibTest>;
ORBIMG_EACH_TARGET(GetDibEachTarget);

// The estimate that maps export levels without a division must agree with
// the division everywhere, above all next to the 255 thresholds (in every
// build of the row kernels).
TEST_P(GetDibEachTarget, DoubleLevelsAtEveryThreshold)
{
    const std::vector<double> levels = ReadNumbers("getdib_levels.txt");  // lo, hi of each case
    ASSERT_EQ(levels.size(), 34u);
    std::mt19937 rng(7);
    for (std::size_t c = 0; c < levels.size(); c += 2) {
        const double lo = levels[c];
        const double hi = levels[c + 1];
        SCOPED_TRACE(::testing::Message() << lo << " .. " << hi);
        const double span = hi - lo;
        std::vector<float> samples = {static_cast<float>(lo), static_cast<float>(hi),
                                      std::numeric_limits<float>::quiet_NaN()};
        for (int k = 0; k <= 256; ++k) {  // from 3 floats below each threshold to 3 above
            float v = static_cast<float>(lo + span * k / 255.0);
            for (int s = 0; s < 3; ++s) {
                v = std::nextafter(v, -std::numeric_limits<float>::infinity());
            }
            for (int s = 0; s < 7; ++s, v = std::nextafter(v, std::numeric_limits<float>::infinity())) {
                samples.push_back(v);
            }
        }
        std::uniform_real_distribution<double> spread(lo - 0.1 * span, hi + 0.1 * span);
        while (samples.size() % 1000 != 0 || samples.size() < 6000) {
            samples.push_back(static_cast<float>(spread(rng)));
        }
        CKelImage img = MakeImage(1000, static_cast<int>(samples.size() / 1000));
        Fill(img, 0, [&](int x, int y) { return samples[static_cast<std::size_t>(y) * 1000 + x]; });
        img.SetLevel(0, lo, hi);
        const Packed dib(img.GetDib(8));
        ASSERT_TRUE(dib.Valid());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            ASSERT_EQ(dib.Row(static_cast<int>(i / 1000))[i % 1000], Expected(samples[i], lo, hi, false))
                << "sample " << samples[i];
        }
    }
}

// palette_case<n>.txt: width, height, 6 levels, 3 planes of samples, 256
// entries of red, green, blue, and the index of each pixel (rows top first).
TEST_F(GetDibTest, AdaptivePaletteMatchesReference)
{
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        const std::vector<double> v = ReadNumbers("palette_case" + std::to_string(n) + ".txt");
        ASSERT_GE(v.size(), 8u) << "reference file missing";
        const int width = static_cast<int>(v[0]);
        const int height = static_cast<int>(v[1]);
        const std::size_t pixels = static_cast<std::size_t>(width) * height;
        ASSERT_EQ(v.size(), 8 + 3 * pixels + 768 + pixels) << "reference file malformed";
        const double* samples = v.data() + 8;
        const double* palette = samples + 3 * pixels;
        const double* index = palette + 768;
        CKelImage img = MakeImage(width, height, 3);
        for (int p = 0; p < 3; ++p) {
            Fill(img, p, [&](int x, int y) { return static_cast<float>(samples[p * pixels + y * width + x]); });
            img.SetLevel(p, v[2 + 2 * p], v[3 + 2 * p]);
        }
        const Packed dib(img.GetDib(8));
        ASSERT_TRUE(dib.Valid());
        EXPECT_EQ(dib.Header().biBitCount, 8);
        EXPECT_EQ(dib.Header().biClrUsed, 0u);
        for (int e = 0; e < 1024; ++e) {  // blue, green, red and 0 of each entry
            ASSERT_EQ(dib.bytes[40 + e], e % 4 == 3 ? 0 : int(palette[e / 4 * 3 + 2 - e % 4])) << "entry " << e / 4;
        }
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < dib.Stride(); ++x) {
                ASSERT_EQ(dib.Row(y)[x], x < width ? int(index[y * width + x]) : 0) << x << "," << y;
            }
        }
    }
}

TEST_F(GetDibTest, CountsSaturate)
{
    // 33000 pixels of colour a and 32536 of colour b (same band, b > a as
    // codes). Both counts saturate at 32000, the tie goes to the higher
    // code, so b takes slot 0 although a is the more frequent.
    CKelImage img = MakeImage(256, 256, 3);
    Fill(img, [](int x, int y, int p) { return p == 0 && y * 256 + x >= 33000 ? 208.0f : 200.0f; });  // a, then b
    const Packed dib(img.GetDib(8));
    ASSERT_TRUE(dib.Valid());
    EXPECT_EQ(dib.Colors()[0].rgbRed, 212);
    EXPECT_EQ(dib.Colors()[1].rgbRed, 204);
    EXPECT_EQ(dib.Row(0)[0], 1);
    EXPECT_EQ(dib.Row(255)[255], 0);
}

// ---- CMemoryDIB -------------------------------------------------------------------

using MemoryDibTest = NoLeaks;

TEST_F(MemoryDibTest, CreateAtEveryDepth)
{
    // The depth, the stride of a 3-pixel-wide bitmap and the colour table's size.
    for (const auto& [depth, stride, colors] : {std::tuple{1, 4, 2}, std::tuple{4, 4, 16}, std::tuple{8, 4, 256},
                                                std::tuple{16, 8, 0}, std::tuple{24, 12, 0}, std::tuple{32, 12, 0}}) {
        SCOPED_TRACE(depth);
        CWnd wnd(depth);
        CMemoryDIB dib;
        ASSERT_EQ(dib.Create(&wnd, 3, 5, 0), 1);
        EXPECT_NE(dib.GetDC()->GetSafeHdc(), nullptr);
        const Packed packed(dib.CreateHDIB());
        ASSERT_TRUE(packed.Valid());
        const BITMAPINFOHEADER& h = packed.Header();
        EXPECT_TRUE(h.biSize == 40 && h.biWidth == 3 && h.biHeight == 5 && h.biPlanes == 1 &&
                    h.biCompression == BI_RGB && h.biClrImportant == 0 && h.biBitCount == depth);
        EXPECT_EQ(h.biSizeImage, static_cast<DWORD>(stride * 5));
        EXPECT_EQ(h.biClrUsed, static_cast<DWORD>(colors));
        EXPECT_EQ(packed.bytes.size(), 40u + 4u * colors + stride * 5u);
        const auto table = packed.bytes.begin() + 40;
        EXPECT_EQ(std::count(table, table + 4 * colors, 0), 4 * colors);  // without a palette: zeroed
        if (depth >= 8) {
            // Row y starts at bits + (height - y - 1) x stride; addresses stay inside.
            unsigned char* row1 = dib.GetImageAdr8(0, 1);
            EXPECT_EQ(dib.GetImageAdr8(0, 4) + 4 * stride, dib.GetImageAdr8(0, 0));
            EXPECT_EQ(reinterpret_cast<unsigned char*>(dib.GetImageAdr16(1, 1)), row1 + 2);
            EXPECT_TRUE(depth < 24 || (dib.GetImageAdr24(2, 1) == row1 + 6 && dib.GetImageAdr32(2, 1) == row1 + 8));
            EXPECT_TRUE(!dib.GetImageAdr8(3, 0) && !dib.GetImageAdr8(0, 5) && !dib.GetImageAdr8(-1, 0));
            EXPECT_EQ(dib.GetImageAdr32(2, 0) != nullptr, stride >= 12);
        }
    }
}

TEST_F(MemoryDibTest, LifecycleAndFailedCreates)
{
    const int gdi = GdiLiveObjectCount();
    CWnd wnd(32);
    {
        CMemoryDIB dib;
        EXPECT_EQ(dib.GetRuntimeClass(), CRuntimeClass::FromName("CMemoryDIB"));
        EXPECT_TRUE(dib.IsKindOf(CRuntimeClass::FromName("CBaseDIB")));
        EXPECT_EQ(dib.CreateHDIB(), nullptr);
        ASSERT_EQ(dib.Create(&wnd, 4, 4, 0), 1);
        EXPECT_EQ(GdiLiveObjectCount(), gdi + 2);  // the memory DC and the bitmap
        ASSERT_EQ(dib.Create(&wnd, 8, 2, 0), 1);   // re-creating releases the first
        EXPECT_EQ(GdiLiveObjectCount(), gdi + 2);
        dib.Empty();
        EXPECT_TRUE(dib.IsEmpty());
        EXPECT_EQ(dib.GetWidth(), 0);
        EXPECT_EQ(GdiLiveObjectCount(), gdi);
        dib.Empty();  // harmless
        ASSERT_EQ(dib.Create(&wnd, 4, 4, 0), 1);
    }  // the destructor releases
    EXPECT_EQ(GdiLiveObjectCount(), gdi);

    CMemoryDIB dib;
    ASSERT_EQ(dib.Create(&wnd, 5, 5, 0), 1);
    dib.SetPixel32(1, 1, RGB(9, 8, 7));
    // Zero or negative sizes change nothing.
    EXPECT_EQ(dib.Create(&wnd, 0, 5, 0), 0);
    EXPECT_EQ(dib.Create(&wnd, 5, -1, nullptr, 0), 0);
    EXPECT_EQ(dib.GetImageAdr32(1, 1)[2], 9);
    // An image above 4 GiB - 1, an unsupported depth, a width whose stride
    // overflows int: empty, nothing leaked.
    CWnd odd(15);
    for (const auto& [window, width, height] :
         {std::tuple{&wnd, 40000, 40000}, std::tuple{&odd, 4, 4}, std::tuple{&wnd, 0x7FFFFFFF, 1}}) {
        ASSERT_EQ(dib.Create(&wnd, 4, 4, 0), 1);
        EXPECT_EQ(dib.Create(window, width, height, 0), 0) << width;
        EXPECT_TRUE(dib.IsEmpty() && dib.GetWidth() == 0 && dib.GetImageAdr8(0, 0) == nullptr) << width;
        EXPECT_EQ(GdiLiveObjectCount(), gdi) << width;
    }
}

TEST_F(MemoryDibTest, DeepCopy)
{
    CWnd wnd(24);
    CMemoryDIB a;
    ASSERT_EQ(a.Create(&wnd, 3, 2, 0), 1);
    a.SetPixel24(0, 0, RGB(1, 2, 3));
    a.SetPixel24(2, 1, RGB(4, 5, 6));
    const int gdi = GdiLiveObjectCount();
    CMemoryDIB b;  // the copies are released: NoLeaks
    b = a;
    EXPECT_EQ(GdiLiveObjectCount(), gdi + 2);
    EXPECT_EQ(b.GetBitCount(), 24);
    EXPECT_NE(b.GetDC()->GetSafeHdc(), a.GetDC()->GetSafeHdc());
    EXPECT_EQ(Bits(b), Bits(a));
    b.SetPixel24(0, 0, RGB(200, 200, 200));
    EXPECT_EQ(a.GetImageAdr24(0, 0)[0], 3);  // independent bits

    CMemoryDIB c(b);  // copy construction
    EXPECT_EQ(c.GetImageAdr24(0, 0)[0], 200);
    const CMemoryDIB& self = c;
    c = self;  // self-assignment changes nothing
    EXPECT_EQ(c.GetImageAdr24(2, 1)[2], 4);
    CMemoryDIB empty;
    c = empty;  // from an empty bitmap: empty
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_EQ(GdiLiveObjectCount(), gdi + 2);
}

TEST_F(MemoryDibTest, PixelWriters)
{
    CMemoryDIB dib;
    MakeDib(dib, 16, 4, 2);
    unsigned short* p = dib.GetImageAdr16(0, 0);
    // 5-5-5, and dithered: +4 (capped) where x + y is even.
    const struct {
        int x, y, r, g, b;  // x < 0: not dithered
        unsigned short want;
    } cases[] = {{-1, 0, 255, 255, 255, 0x7FFF}, {-1, 0, 255, 0, 0, 0x7C00},
                 {-1, 0, 0, 0, 255, 0x001F},     {-1, 0, 0x80, 0x40, 0x08, (16 << 10) | (8 << 5) | 1},
                 {0, 0, 252, 252, 252, 0x7FFF},  {1, 0, 252, 252, 252, 0x7FFF},
                 {0, 0, 4, 4, 4, 0x0421},        {1, 0, 4, 4, 4, 0},
                 {1, 1, 4, 4, 4, 0x0421}};
    for (const auto& c : cases) {
        if (c.x < 0) {
            dib.SetPixel16(p, c.r, c.g, c.b);
        } else {
            dib.SetPixel16(p, c.x, c.y, c.r, c.g, c.b);
        }
        EXPECT_EQ(*p, c.want) << c.x << "," << c.y << ": " << c.r << " " << c.g << " " << c.b;
    }
    dib.SetPixel16(p, RGB(255, 0, 0));
    EXPECT_EQ(*p, 0x7C00);
    dib.SetPixel(3, 1, RGB(8, 16, 24));  // dispatch at 16 bits
    EXPECT_EQ(*dib.GetImageAdr16(3, 1), (1 << 10) | (2 << 5) | 3);
    dib.SetPixel(99, 0, RGB(1, 1, 1));  // outside: nothing written, nothing read

    MakeDib(dib, 24, 2, 2);
    dib.SetPixel24(1, 0, RGB(0x33, 0x22, 0x11));
    EXPECT_EQ(std::memcmp(dib.GetImageAdr24(1, 0), "\x11\x22\x33", 3), 0);
    dib.SetPixel(static_cast<void*>(dib.GetImageAdr24(0, 1)), RGB(7, 0, 0));
    EXPECT_EQ(dib.GetImageAdr24(0, 1)[2], 7);

    MakeDib(dib, 32, 2, 2);
    unsigned char* r = dib.GetImageAdr32(1, 1);
    r[3] = 0x5A;
    dib.SetPixel(1, 1, RGB(0x33, 0x22, 0x11));
    EXPECT_EQ(std::memcmp(r, "\x11\x22\x33\x5A", 4), 0);  // the fourth byte is never written

    // At 8 bits with a palette: its colours in the table, the reserved bytes
    // zero; export copies the rows as stored, the bottom row first.
    tagPALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 7};
    }
    CWnd wnd8(8);
    ASSERT_EQ(dib.Create(&wnd8, 3, 2, palette, 0), 1);
    dib.SetPixel(0, 1, 0x123456);
    dib.SetPixel8(1, 0, 10);
    const Packed eight(dib.CreateHDIB());
    for (int i : {0, 1, 100, 255}) {
        const RGBQUAD& q = eight.Colors()[i];
        EXPECT_TRUE(q.rgbRed == i && q.rgbGreen == 255 - i && q.rgbBlue == i / 2 && q.rgbReserved == 0) << i;
    }
    EXPECT_EQ(std::vector<unsigned char>(eight.bytes.begin() + 40 + 1024, eight.bytes.end()),
              (std::vector<unsigned char>{0x56, 0, 0, 0, 0, 10, 0, 0}));

    MakeDib(dib, 4, 8, 1);
    dib.SetPixel(0, 0, 0xFFFFFF);  // no writers at 4 bits
    const std::vector<unsigned char> four = Bits(dib);
    EXPECT_EQ(std::vector<unsigned char>(four.begin() + 40 + 64, four.end()), std::vector<unsigned char>(4));
}

}  // namespace
}  // namespace orbimg::test
