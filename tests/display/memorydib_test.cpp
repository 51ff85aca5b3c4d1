// CMemoryDIB: creation at every depth, lifecycle and leak counts, deep copy,
// pixel writers and packed export.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "display/displaysupport.h"

namespace orbimg::test {
namespace {

using MemoryDibTest = NoLeaks;

TEST_F(MemoryDibTest, CreateAtEveryDepth)
{
    struct Case {
        int depth, stride, colors;  // stride of a 3-pixel-wide bitmap
    };
    for (const Case& c :
         {Case{1, 4, 2}, Case{4, 4, 16}, Case{8, 4, 256}, Case{16, 8, 0}, Case{24, 12, 0}, Case{32, 12, 0}}) {
        SCOPED_TRACE(c.depth);
        CWnd wnd(c.depth);
        CMemoryDIB dib;
        ASSERT_EQ(dib.Create(&wnd, 3, 5, 0), 1);
        EXPECT_NE(dib.GetDC()->GetSafeHdc(), nullptr);
        const Packed packed(dib.CreateHDIB());
        ASSERT_TRUE(packed.Valid());
        const BITMAPINFOHEADER& h = packed.Header();
        EXPECT_TRUE(h.biSize == 40 && h.biWidth == 3 && h.biHeight == 5 && h.biPlanes == 1 &&
                    h.biCompression == BI_RGB && h.biClrImportant == 0 && h.biBitCount == c.depth);
        EXPECT_EQ(h.biSizeImage, static_cast<DWORD>(c.stride * 5));
        EXPECT_EQ(h.biClrUsed, static_cast<DWORD>(c.colors));
        EXPECT_EQ(packed.bytes.size(), 40u + 4u * c.colors + c.stride * 5u);
        if (c.depth >= 8) {
            // Row y starts at bits + (height - y - 1) x stride; addresses stay inside.
            unsigned char* row1 = dib.GetImageAdr8(0, 1);
            EXPECT_EQ(dib.GetImageAdr8(0, 4) + 4 * c.stride, dib.GetImageAdr8(0, 0));
            EXPECT_EQ(reinterpret_cast<unsigned char*>(dib.GetImageAdr16(1, 1)), row1 + 2);
            EXPECT_TRUE(c.depth < 24 || (dib.GetImageAdr24(2, 1) == row1 + 6 && dib.GetImageAdr32(2, 1) == row1 + 8));
            EXPECT_TRUE(!dib.GetImageAdr8(3, 0) && !dib.GetImageAdr8(0, 5) && !dib.GetImageAdr8(-1, 0));
            EXPECT_EQ(dib.GetImageAdr32(2, 0) != nullptr, c.stride >= 12);
        }
    }
}

TEST_F(MemoryDibTest, PaletteOverloadFillsTheTable)
{
    tagPALETTEENTRY palette[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 7};
    }
    CWnd wnd(8);
    CMemoryDIB dib;
    ASSERT_EQ(dib.Create(&wnd, 2, 2, palette, 0), 1);
    Packed with(dib.CreateHDIB());
    for (int i : {0, 1, 100, 255}) {
        const RGBQUAD& q = with.Colors()[i];
        EXPECT_TRUE(q.rgbRed == i && q.rgbGreen == 255 - i && q.rgbBlue == i / 2 && q.rgbReserved == 0) << i;
    }
    // Without a palette the table is zeroed.
    ASSERT_EQ(dib.Create(&wnd, 2, 2, 0), 1);
    const std::vector<unsigned char> without = Bits(dib);
    EXPECT_EQ(std::vector<unsigned char>(without.begin() + 40, without.begin() + 1064),
              std::vector<unsigned char>(1024));
}

TEST_F(MemoryDibTest, LifecycleReleasesEverything)
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
}

TEST_F(MemoryDibTest, FailedCreateLeavesEmptyOrUnchanged)
{
    CWnd wnd(32);
    CMemoryDIB dib;
    ASSERT_EQ(dib.Create(&wnd, 5, 5, 0), 1);
    dib.SetPixel32(1, 1, RGB(9, 8, 7));
    // Zero or negative sizes change nothing.
    EXPECT_EQ(dib.Create(&wnd, 0, 5, 0), 0);
    EXPECT_EQ(dib.Create(&wnd, 5, -1, nullptr, 0), 0);
    EXPECT_EQ(dib.GetImageAdr32(1, 1)[2], 9);
    // An image above 4 GiB - 1, an unsupported depth, a width whose stride
    // overflows int: empty, nothing leaked.
    const int gdi = GdiLiveObjectCount() - 2;
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
    {
        CMemoryDIB b;
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
    }
    EXPECT_EQ(GdiLiveObjectCount(), gdi);
}

TEST_F(MemoryDibTest, PixelWriters)
{
    CWnd wnd16(16);
    CMemoryDIB dib;
    ASSERT_EQ(dib.Create(&wnd16, 4, 2, 0), 1);
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

    CWnd wnd24(24);
    ASSERT_EQ(dib.Create(&wnd24, 2, 2, 0), 1);
    dib.SetPixel24(1, 0, RGB(0x33, 0x22, 0x11));
    EXPECT_EQ(std::memcmp(dib.GetImageAdr24(1, 0), "\x11\x22\x33", 3), 0);
    dib.SetPixel(static_cast<void*>(dib.GetImageAdr24(0, 1)), RGB(7, 0, 0));
    EXPECT_EQ(dib.GetImageAdr24(0, 1)[2], 7);

    CWnd wnd32(32);
    ASSERT_EQ(dib.Create(&wnd32, 2, 2, 0), 1);
    unsigned char* r = dib.GetImageAdr32(1, 1);
    r[3] = 0x5A;
    dib.SetPixel(1, 1, RGB(0x33, 0x22, 0x11));
    EXPECT_EQ(std::memcmp(r, "\x11\x22\x33\x5A", 4), 0);  // the fourth byte is never written

    // Export copies the rows as stored: the bottom row first.
    CWnd wnd8(8);
    ASSERT_EQ(dib.Create(&wnd8, 3, 2, 0), 1);
    dib.SetPixel(0, 1, 0x123456);
    dib.SetPixel8(1, 0, 10);
    const std::vector<unsigned char> eight = Bits(dib);
    EXPECT_EQ(std::vector<unsigned char>(eight.begin() + 40 + 1024, eight.end()),
              (std::vector<unsigned char>{0x56, 0, 0, 0, 0, 10, 0, 0}));

    CWnd wnd4(4);
    ASSERT_EQ(dib.Create(&wnd4, 8, 1, 0), 1);
    dib.SetPixel(0, 0, 0xFFFFFF);  // no writers at 4 bits
    const std::vector<unsigned char> four = Bits(dib);
    EXPECT_EQ(std::vector<unsigned char>(four.begin() + 40 + 64, four.end()), std::vector<unsigned char>(4));
}

}  // namespace
}  // namespace orbimg::test
