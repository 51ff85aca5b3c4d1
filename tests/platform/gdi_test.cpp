// GDI and global-memory stand-ins: validation, ownership rules and leak counts.
#include <cstring>
#include <vector>

#include "support/testsupport.h"

namespace {

std::vector<unsigned char> Header(int width, int height, int bits)
{
    const BITMAPINFOHEADER h{
        sizeof(BITMAPINFOHEADER), width, height, 1, static_cast<WORD>(bits), BI_RGB, 0, 0, 0, 0, 0};
    std::vector<unsigned char> block(sizeof h + 256 * sizeof(RGBQUAD), 0);
    std::memcpy(block.data(), &h, sizeof h);
    return block;
}

HBITMAP Dib(std::vector<unsigned char>& header, void** bits)
{
    return CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(header.data()), DIB_RGB_COLORS, bits, nullptr, 0);
}

using GdiTest = orbimg::test::NoLeaks;

}  // namespace

TEST_F(GdiTest, WindowDepthReachesCompatibleDc)
{
    CWnd wnd(16);
    CPaintDC paint(&wnd);
    HDC memory = CreateCompatibleDC(paint.GetSafeHdc());
    ASSERT_NE(memory, nullptr);
    EXPECT_EQ(GetDeviceCaps(memory, BITSPIXEL), 16);
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_FALSE(DeleteDC(memory));  // already gone
    EXPECT_EQ(GetDeviceCaps(memory, BITSPIXEL), 0);
}

TEST_F(GdiTest, DibSectionsRefusedZeroedAndSelectedBitmapKept)
{
    const int shapes[][3] = {{0, 5, 32}, {5, 5, 12}, {100000, 100000, 32}};  // no width, no such depth, 40 GB
    for (const auto& s : shapes) {
        void* bits = reinterpret_cast<void*>(1);
        auto header = Header(s[0], s[1], s[2]);
        EXPECT_EQ(Dib(header, &bits), nullptr) << s[0] << "x" << s[1] << "x" << s[2];
        EXPECT_EQ(bits, nullptr);
    }
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, 0, nullptr, nullptr, 0), nullptr);
    // One pixel of one bit still takes a 4-byte row; bits are zeroed.
    auto header = Header(1, 1, 1);
    void* bits = nullptr;
    HBITMAP bm = Dib(header, &bits);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(static_cast<const unsigned char*>(bits)[3], 0);
    EXPECT_TRUE(DeleteObject(bm));
    header = Header(3, 2, 24);
    bm = Dib(header, &bits);
    ASSERT_NE(bm, nullptr);
    const auto* b = static_cast<const unsigned char*>(bits);
    EXPECT_EQ(std::vector<unsigned char>(b, b + 12 * 2), std::vector<unsigned char>(24, 0));  // stride 12

    CDC dc;
    ASSERT_TRUE(dc.Attach(CreateCompatibleDC(nullptr)));
    HDC extra = CreateCompatibleDC(nullptr);
    EXPECT_FALSE(dc.Attach(extra));  // one DC at a time
    DeleteDC(extra);
    EXPECT_EQ(SelectObject(dc.GetSafeHdc(), bm), nullptr);
    EXPECT_FALSE(DeleteObject(bm));  // still selected
    EXPECT_TRUE(dc.DeleteDC());
    EXPECT_TRUE(DeleteObject(bm));
    EXPECT_FALSE(DeleteObject(bm));
}

TEST_F(GdiTest, GlobalBlocksLockAndFill)
{
    HGLOBAL zero = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10);
    HGLOBAL raw = GlobalAlloc(GMEM_MOVEABLE, 10);
    ASSERT_NE(zero, nullptr);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(GlobalSize(zero), 10u);
    auto* z = static_cast<unsigned char*>(GlobalLock(zero));
    auto* r = static_cast<unsigned char*>(GlobalLock(raw));
    EXPECT_EQ(std::vector<unsigned char>(z, z + 10), std::vector<unsigned char>(10, 0));
    EXPECT_EQ(std::vector<unsigned char>(r, r + 10), std::vector<unsigned char>(10, 0xCD));  // unwritten bytes show
    EXPECT_EQ(GlobalLock(zero), z);
    EXPECT_TRUE(GlobalUnlock(zero));   // still locked once
    EXPECT_FALSE(GlobalUnlock(zero));  // now unlocked
    EXPECT_FALSE(GlobalUnlock(zero));  // nothing to release
    GlobalUnlock(raw);
    EXPECT_EQ(GlobalFree(zero), nullptr);
    EXPECT_EQ(GlobalFree(raw), nullptr);
    EXPECT_EQ(GlobalFree(raw), raw);  // double free refused
    EXPECT_EQ(GlobalLock(raw), nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, std::size_t{1} << 33), nullptr);
}
