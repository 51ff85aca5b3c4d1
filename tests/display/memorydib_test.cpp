// CMemoryDIB: run-time class, creation at every depth, lifecycle and leak
// counts, deep copy, pixel writers and packed export.
#include <gtest/gtest.h>

#include <cstring>

#include "support/testsupport.h"

namespace {

// Every test must leave the GDI objects and global blocks as it found them.
class MemoryDibTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_gdi = GdiLiveObjectCount();
        m_blocks = GlobalLiveBlockCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(GdiLiveObjectCount(), m_gdi);
        EXPECT_EQ(GlobalLiveBlockCount(), m_blocks);
    }

private:
    int m_gdi = 0;
    int m_blocks = 0;
};

const BITMAPINFOHEADER& HeaderOf(HDIB block)
{
    return *static_cast<const BITMAPINFOHEADER*>(GlobalLock(block));
}

TEST(MemoryDibClass, RuntimeInformation)
{
    CRuntimeClass* dib = CRuntimeClass::FromName("CMemoryDIB");
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib, RUNTIME_CLASS(CMemoryDIB));
    EXPECT_STREQ(dib->m_lpszClassName, "CMemoryDIB");
    EXPECT_EQ(dib->m_wSchema, 0xFFFFu);
    EXPECT_EQ(dib->m_pfnCreateObject, nullptr);
    ASSERT_EQ(dib->m_pBaseClass, CRuntimeClass::FromName("CBaseDIB"));
    EXPECT_STREQ(dib->m_pBaseClass->m_lpszClassName, "CBaseDIB");
    EXPECT_EQ(dib->m_pBaseClass->m_wSchema, 0xFFFFu);
    EXPECT_EQ(dib->m_pBaseClass->m_pfnCreateObject, nullptr);
    EXPECT_EQ(dib->m_pBaseClass->m_pBaseClass, RUNTIME_CLASS(CObject));
    CMemoryDIB object;
    EXPECT_EQ(object.GetRuntimeClass(), dib);
    EXPECT_EQ(CMemoryDIB::GetThisClass(), dib);
    EXPECT_TRUE(object.IsKindOf(RUNTIME_CLASS(CBaseDIB)));
}

TEST_F(MemoryDibTest, CreateAtEveryDepth)
{
    struct Case {
        int depth;
        int stride;  // of a 3-pixel-wide bitmap
        int colors;
        UINT usage;
    };
    const Case cases[] = {{1, 4, 2, DIB_PAL_COLORS},  {4, 4, 16, DIB_PAL_COLORS}, {8, 4, 256, DIB_PAL_COLORS},
                          {16, 8, 0, DIB_RGB_COLORS}, {24, 12, 0, DIB_RGB_COLORS}, {32, 12, 0, DIB_RGB_COLORS}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.depth);
        CWnd wnd(c.depth);
        CMemoryDIB dib;
        ASSERT_EQ(dib.Create(&wnd, 3, 5, 0), 1);
        EXPECT_FALSE(dib.IsEmpty());
        EXPECT_EQ(dib.GetBitCount(), c.depth);
        EXPECT_EQ(dib.GetWidth(), 3);
        EXPECT_EQ(dib.GetHeight(), 5);
        EXPECT_NE(dib.GetDC()->GetSafeHdc(), nullptr);
        HDIB block = dib.CreateHDIB();
        ASSERT_NE(block, nullptr);
        const BITMAPINFOHEADER& h = HeaderOf(block);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 3);
        EXPECT_EQ(h.biHeight, 5);  // bottom-up
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, c.depth);
        EXPECT_EQ(h.biCompression, BI_RGB);
        EXPECT_EQ(h.biSizeImage, static_cast<DWORD>(c.stride * 5));
        EXPECT_EQ(h.biClrUsed, static_cast<DWORD>(c.colors));
        EXPECT_EQ(h.biClrImportant, 0u);
        EXPECT_EQ(GlobalSize(block), 40u + 4u * c.colors + c.stride * 5u);
        GlobalUnlock(block);
        GlobalFree(block);
        if (c.depth >= 8) {
            // Row y starts at bits + (height - y - 1) x stride.
            EXPECT_EQ(dib.GetImageAdr8(0, 4) + 4 * c.stride, dib.GetImageAdr8(0, 0));
            if (c.depth >= 24) {
                EXPECT_EQ(dib.GetImageAdr24(2, 1), dib.GetImageAdr8(0, 1) + 6);
                EXPECT_EQ(dib.GetImageAdr32(2, 1), dib.GetImageAdr8(0, 1) + 8);
            }
            EXPECT_EQ(reinterpret_cast<unsigned char*>(dib.GetImageAdr16(1, 1)), dib.GetImageAdr8(0, 1) + 2);
            // Addresses stay inside the bitmap.
            EXPECT_EQ(dib.GetImageAdr8(3, 0), nullptr);
            EXPECT_EQ(dib.GetImageAdr8(0, 5), nullptr);
            EXPECT_EQ(dib.GetImageAdr8(-1, 0), nullptr);
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
    HDIB block = dib.CreateHDIB();
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
    const auto* table = reinterpret_cast<const RGBQUAD*>(bytes + 40);
    for (int i : {0, 1, 100, 255}) {
        EXPECT_EQ(table[i].rgbRed, i);
        EXPECT_EQ(table[i].rgbGreen, 255 - i);
        EXPECT_EQ(table[i].rgbBlue, i / 2);
        EXPECT_EQ(table[i].rgbReserved, 0);
    }
    GlobalUnlock(block);
    GlobalFree(block);

    // Without a palette the table is zeroed.
    ASSERT_EQ(dib.Create(&wnd, 2, 2, 0), 1);
    block = dib.CreateHDIB();
    bytes = static_cast<const unsigned char*>(GlobalLock(block));
    for (int i = 40; i < 40 + 1024; ++i) {
        ASSERT_EQ(bytes[i], 0) << i;
    }
    GlobalUnlock(block);
    GlobalFree(block);
}

TEST_F(MemoryDibTest, LifecycleReleasesEverything)
{
    const int gdi = GdiLiveObjectCount();
    CWnd wnd(32);
    {
        CMemoryDIB dib;
        EXPECT_TRUE(dib.IsEmpty());
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
    EXPECT_FALSE(dib.IsEmpty());
    EXPECT_EQ(dib.GetImageAdr32(1, 1)[2], 9);
    // An image above 4 GiB - 1 cannot be made: empty, nothing leaked.
    const int gdi = GdiLiveObjectCount() - 2;
    EXPECT_EQ(dib.Create(&wnd, 40000, 40000, 0), 0);
    EXPECT_TRUE(dib.IsEmpty());
    EXPECT_EQ(dib.GetWidth(), 0);
    EXPECT_EQ(dib.GetImageAdr8(0, 0), nullptr);
    EXPECT_EQ(GdiLiveObjectCount(), gdi);
    // An unsupported depth fails the same way.
    CWnd odd(15);
    EXPECT_EQ(dib.Create(&odd, 4, 4, 0), 0);
    EXPECT_TRUE(dib.IsEmpty());
    // A width whose stride overflows int is refused before anything is made.
    EXPECT_EQ(dib.Create(&wnd, 0x7FFFFFFF, 1, 0), 0);
    EXPECT_TRUE(dib.IsEmpty());
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
        ASSERT_FALSE(b.IsEmpty());
        EXPECT_EQ(b.GetBitCount(), 24);
        EXPECT_EQ(b.GetWidth(), 3);
        EXPECT_EQ(b.GetHeight(), 2);
        EXPECT_NE(b.GetDC()->GetSafeHdc(), a.GetDC()->GetSafeHdc());
        EXPECT_NE(b.GetImageAdr24(0, 0), a.GetImageAdr24(0, 0));
        EXPECT_EQ(std::memcmp(b.GetImageAdr8(0, 1), a.GetImageAdr8(0, 1), 24), 0);
        b.SetPixel24(0, 0, RGB(200, 200, 200));
        EXPECT_EQ(a.GetImageAdr24(0, 0)[0], 3);  // independent bits

        CMemoryDIB c(b);  // copy construction
        EXPECT_EQ(c.GetImageAdr24(0, 0)[0], 200);
        const CMemoryDIB& self = c;
        c = self;  // self-assignment changes nothing
        EXPECT_FALSE(c.IsEmpty());
        EXPECT_EQ(c.GetImageAdr24(2, 1)[2], 4);

        CMemoryDIB empty;
        c = empty;  // from an empty bitmap: empty
        EXPECT_TRUE(c.IsEmpty());
        EXPECT_EQ(c.GetWidth(), 0);
    }
    EXPECT_EQ(GdiLiveObjectCount(), gdi);
}

TEST_F(MemoryDibTest, PixelWriters)
{
    CWnd wnd16(16);
    CMemoryDIB dib;
    ASSERT_EQ(dib.Create(&wnd16, 4, 2, 0), 1);
    unsigned short* p = dib.GetImageAdr16(0, 0);
    dib.SetPixel16(p, RGB(255, 255, 255));
    EXPECT_EQ(*p, 0x7FFF);
    dib.SetPixel16(p, RGB(255, 0, 0));
    EXPECT_EQ(*p, 0x7C00);
    dib.SetPixel16(p, RGB(0, 0, 255));
    EXPECT_EQ(*p, 0x001F);
    dib.SetPixel16(p, 0x80, 0x40, 0x08);
    EXPECT_EQ(*p, (16 << 10) | (8 << 5) | 1);
    // Dithered: +4 (capped) where x + y is even.
    dib.SetPixel16(p, 0, 0, 252, 252, 252);
    EXPECT_EQ(*p, 0x7FFF);
    dib.SetPixel16(p, 1, 0, 252, 252, 252);
    EXPECT_EQ(*p, 0x7FFF);
    dib.SetPixel16(p, 0, 0, 4, 4, 4);
    EXPECT_EQ(*p, 0x0421);
    dib.SetPixel16(p, 1, 0, 4, 4, 4);
    EXPECT_EQ(*p, 0);
    dib.SetPixel16(p, 1, 1, 4, 4, 4);
    EXPECT_EQ(*p, 0x0421);
    dib.SetPixel(3, 1, RGB(8, 16, 24));  // dispatch at 16 bits
    EXPECT_EQ(*dib.GetImageAdr16(3, 1), (1 << 10) | (2 << 5) | 3);
    dib.SetPixel(99, 0, RGB(1, 1, 1));  // outside: nothing written, nothing read

    CWnd wnd24(24);
    ASSERT_EQ(dib.Create(&wnd24, 2, 2, 0), 1);
    dib.SetPixel24(1, 0, RGB(0x33, 0x22, 0x11));
    const unsigned char* q = dib.GetImageAdr24(1, 0);
    EXPECT_EQ(q[0], 0x11);
    EXPECT_EQ(q[1], 0x22);
    EXPECT_EQ(q[2], 0x33);
    dib.SetPixel(static_cast<void*>(dib.GetImageAdr24(0, 1)), RGB(7, 0, 0));
    EXPECT_EQ(dib.GetImageAdr24(0, 1)[2], 7);

    CWnd wnd32(32);
    ASSERT_EQ(dib.Create(&wnd32, 2, 2, 0), 1);
    unsigned char* r = dib.GetImageAdr32(1, 1);
    r[3] = 0x5A;
    dib.SetPixel(1, 1, RGB(0x33, 0x22, 0x11));
    EXPECT_EQ(r[0], 0x11);
    EXPECT_EQ(r[1], 0x22);
    EXPECT_EQ(r[2], 0x33);
    EXPECT_EQ(r[3], 0x5A);  // the fourth byte is never written

    CWnd wnd8(8);
    ASSERT_EQ(dib.Create(&wnd8, 2, 2, 0), 1);
    dib.SetPixel(0, 1, 0x123456);
    EXPECT_EQ(*dib.GetImageAdr8(0, 1), 0x56);

    CWnd wnd4(4);
    ASSERT_EQ(dib.Create(&wnd4, 8, 1, 0), 1);
    dib.SetPixel(0, 0, 0xFFFFFF);  // no writers at 4 bits
    HDIB block = dib.CreateHDIB();
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bytes[40 + 64 + i], 0);
    }
    GlobalUnlock(block);
    GlobalFree(block);
}

TEST_F(MemoryDibTest, CreateHDIBCopiesRowsAsStored)
{
    CWnd wnd(8);
    CMemoryDIB dib;
    ASSERT_EQ(dib.Create(&wnd, 3, 2, 0), 1);
    dib.SetPixel8(0, 0, 10);  // top row: stored last
    dib.SetPixel8(2, 1, 20);  // bottom row: stored first
    HDIB block = dib.CreateHDIB();
    const auto* rows = static_cast<const unsigned char*>(GlobalLock(block)) + 40 + 1024;
    const unsigned char expected[8] = {0, 0, 20, 0, 10, 0, 0, 0};
    EXPECT_EQ(std::memcmp(rows, expected, 8), 0);
    GlobalUnlock(block);
    GlobalFree(block);
}

}  // namespace
