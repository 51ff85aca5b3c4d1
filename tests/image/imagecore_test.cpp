// The image record and its sample store.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "support/testsupport.h"

using orbimg::test::MakeImage;

TEST(ImageRecord, NewImageDefaults)
{
    CImage img(4, 3, 3, -32, 2.0, 5.0, 1);
    EXPECT_EQ(img.GetWidth(), 4);
    EXPECT_EQ(img.GetHeight(), 3);
    EXPECT_EQ(img.GetPlanes(), 3);
    EXPECT_EQ(img.GetDimension(), 3);
    EXPECT_TRUE(img.IsColor());
    EXPECT_EQ(img.GetBscale(), 2.0);
    EXPECT_EQ(img.GetBzero(), 5.0);
    EXPECT_EQ(img.IsSigned(), 1);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(img.GetLevelMin(p), 0.0);
        EXPECT_EQ(img.GetLevelMax(p), 255.0);
        EXPECT_EQ(img.GetLevelRange(p), 255.0);
        for (int y = 0; y < 3; ++y) {
            const float* row = reinterpret_cast<const float*>(img.GetImageAdr(0, y, p, 1, nullptr));
            for (int x = 0; x < 4; ++x) {
                EXPECT_EQ(row[x], 0.0f);
            }
        }
    }
    EXPECT_FALSE(img.IsHistogramCullParam());
    EXPECT_TRUE(img.IsCcd());
    EXPECT_EQ(img.GetImageSize(), 4u * 4u * 3u * 3u);

    CImage none;
    EXPECT_EQ(none.GetWidth(), 0);
    EXPECT_EQ(none.GetPlanes(), 1);
    EXPECT_EQ(none.GetBitsPixel(), -32);
    EXPECT_EQ(none.GetImageAdr(0, 0, 0, 1, nullptr), nullptr);
    EXPECT_EQ(CImage(100, 50, 3, -32, 1, 0, 0).GetImageSize(), 4u * 100u * 50u * 3u);
}

TEST(ImageRecord, PlanesDimensionAndFormats)
{
    CImage img(2, 2, 1, -32, 1, 0, 0);
    EXPECT_EQ(img.GetDimension(), 2);
    EXPECT_FALSE(img.IsColor());
    img.SetPlanes(3);
    EXPECT_EQ(img.GetDimension(), 3);
    img.SetPlanes(2);
    EXPECT_EQ(img.GetDimension(), 3);
    EXPECT_NE(img.GetImageAdr(1, 1, 1, 1, nullptr), nullptr);  // the store follows the record
    EXPECT_EQ(img.GetImageAdr(1, 1, 2, 1, nullptr), nullptr);
    img.SetPlanes(1);
    EXPECT_EQ(img.GetDimension(), 2);

    const int formats[] = {8, 16, 24, 32, -32, -64};
    for (int bits : formats) {
        CImage f(3, 2, 1, bits, 1, 0, 0);
        const int bytes = (bits < 0 ? -bits : bits) / 8;
        EXPECT_EQ(f.GetBytesPixel(), bytes);
        auto* a = f.GetImageAdr(0, 1, 0, 1, nullptr);
        auto* b = f.GetImageAdr(2, 1, 0, 1, nullptr);
        ASSERT_NE(a, nullptr) << bits;
        EXPECT_EQ(b - a, 2 * bytes);
        EXPECT_EQ(f.GetNextAdr(a), a + bytes);
        EXPECT_EQ(f.GetPrevAdr(b), b - bytes);
    }
    // Changing the sample size re-dimensions the store.
    CImage g(2, 2, 1, -32, 1, 0, 0);
    g.SetBitsPixel(-64);
    EXPECT_EQ(g.GetImageAdr(1, 0, 0, 1, nullptr) - g.GetImageAdr(0, 0, 0, 1, nullptr), 8);
    g.SetWidth(5);
    EXPECT_NE(g.GetImageAdr(4, 1, 0, 1, nullptr), nullptr);
    g.SetHeight(1);
    EXPECT_EQ(g.GetImageAdr(4, 1, 0, 1, nullptr), nullptr);
}

TEST(ImageRecord, AddressesNullOutsideAndRowsContiguous)
{
    CKelImage img = MakeImage(5, 4, 3);
    EXPECT_EQ(img.GetImageAdr(-1, 0, 0, 1, nullptr), nullptr);
    EXPECT_EQ(img.GetImageAdr(5, 0, 0, 1, nullptr), nullptr);
    EXPECT_EQ(img.GetImageAdr(0, -1, 0, 1, nullptr), nullptr);
    EXPECT_EQ(img.GetImageAdr(0, 4, 0, 1, nullptr), nullptr);
    EXPECT_EQ(img.GetImageAdr(0, 0, -1, 1, nullptr), nullptr);
    EXPECT_EQ(img.GetImageAdr(0, 0, 3, 1, nullptr), nullptr);
    float* row = img.GetImageAdr(1, 2, 2, 0, nullptr);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row + 3, img.GetImageAdr(4, 2, 2, 0, nullptr));
    row[3] = 7.0f;
    EXPECT_EQ(img.GetPixelGrayRaw(4, 2, 2), 7.0f);
    EXPECT_EQ(img.GetPixelGrayRaw(4, 2, 1), 0.0f);
}

TEST(ImageRecord, LocksAreCountedAndReleased)
{
    CKelImage img = MakeImage(4, 4);
    CVmImage* store = img.GetVmImage();
    EXPECT_EQ(store->GetLockCount(), 0);
    void* h1 = nullptr;
    void* h2 = nullptr;
    img.GetImageAdr(0, 0, 0, 2, &h1);
    img.GetImageAdr(0, 1, 0, 3, &h2);
    img.GetImageAdr(0, 2, 0, 2, nullptr);  // a lock without a handle
    img.GetImageAdr(0, 3, 0, 1, nullptr);  // read-only, no lock
    EXPECT_EQ(store->GetLockCount(), 3);
    EXPECT_NE(h1, nullptr);
    EXPECT_EQ(img.Unlock(h1), 1);
    EXPECT_EQ(img.Unlock(nullptr), 0);
    EXPECT_EQ(store->GetLockCount(), 2);
    img.UnlockAll();
    EXPECT_EQ(store->GetLockCount(), 0);
    EXPECT_EQ(img.Unlock(h2), 0);  // nothing left to release
    EXPECT_EQ(store->GetLockCount(), 0);
    EXPECT_EQ(img.GetImageAdr(9, 0, 0, 2, &h1), nullptr);
    EXPECT_EQ(store->GetLockCount(), 0);  // no lock outside the image
}

TEST(ImageRecord, SwapSizeIsSettable)
{
    EXPECT_EQ(CVmManager::GetCurrentSwapSize(), 0);
    CVmManager::SetCurrentSwapSize(4096);
    EXPECT_EQ(CVmManager::GetCurrentSwapSize(), 4096);
    CVmManager::SetCurrentSwapSize(0);
    CImage img(1, 1, 1, -32, 1, 0, 0);
    EXPECT_EQ(img.GetVmManager(), CVmManager::GetDefault());
    EXPECT_GT(img.GetVmManager()->GetBlockSize(), 0);
}

TEST(ImageRecord, GetPixelDecodesEveryFormat)
{
    CImage i16(1, 1, 1, 16, 2.0, 10.0, 1);
    auto* p16 = i16.GetImageAdr(0, 0, 0, 0, nullptr);
    const std::uint16_t ones16 = 0xFFFF;
    std::memcpy(p16, &ones16, 2);
    EXPECT_EQ(i16.GetPixel(p16), -1.0 * 2.0 + 10.0);
    i16.SetSigned(0);
    EXPECT_EQ(i16.GetPixel(0, 0, 0), 65535.0 * 2.0 + 10.0);

    CImage i32(1, 1, 1, 32, 1.0, 0.0, 0);
    auto* p32 = i32.GetImageAdr(0, 0, 0, 0, nullptr);
    const std::uint32_t ones32 = 0xFFFFFFFFu;
    std::memcpy(p32, &ones32, 4);
    EXPECT_EQ(i32.GetPixel(p32), 4294967295.0);
    i32.SetSigned(1);
    EXPECT_EQ(i32.GetPixel(p32), -1.0);

    CImage i8(1, 1, 1, 8, 0.5, 1.0, 0);
    *i8.GetImageAdr(0, 0, 0, 0, nullptr) = 200;
    EXPECT_EQ(i8.GetPixel(0, 0, 0), 101.0);

    CImage f64(1, 1, 1, -64, 1.0, 0.25, 0);
    const double dv = 1.0 / 3.0;
    std::memcpy(f64.GetImageAdr(0, 0, 0, 0, nullptr), &dv, 8);
    EXPECT_EQ(f64.GetPixel(0, 0, 0), dv + 0.25);

    CImage i24(1, 1, 1, 24, 3.0, 4.0, 0);
    *i24.GetImageAdr(0, 0, 0, 0, nullptr) = 9;
    EXPECT_EQ(i24.GetPixel(0, 0, 0), 0.0);  // unknown format: 0, no scaling
    EXPECT_EQ(i8.GetPixel(5, 0, 0), 0.0);   // outside
}

TEST(ImageRecord, HeaderCullAndCopiesAreDeep)
{
    CImage img(3, 2, 1, -32, 1, 0, 0);
    img.GetHeader()->SetCameraModel(L"FinePix S2Pro");
    img.GetHeader()->SetISO(800);
    EXPECT_FALSE(img.IsCcd());
    const int cols[] = {0, 2};
    const int rows[] = {1};
    img.SetHistogramCull(cols, 2, nullptr, 0);
    EXPECT_FALSE(img.IsHistogramCullParam());  // only one list
    img.SetHistogramCull(cols, 2, rows, 1);
    int c = 0;
    int r = 0;
    EXPECT_NE(img.GetHistogramCull(&c, &r), 0);
    EXPECT_EQ(c, 2);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(img.GetHistogramCullXPtr()[1], 2);
    EXPECT_EQ(img.GetHistogramCullYPtr()[0], 1);
    img.SetLevel(0, 10.0, 30.0);
    reinterpret_cast<float*>(img.GetImageAdr(2, 1, 0, 0, nullptr))[0] = 5.5f;

    CImage copy(img);
    reinterpret_cast<float*>(img.GetImageAdr(2, 1, 0, 0, nullptr))[0] = 1.0f;
    img.GetHeader()->SetCameraModel(L"");
    EXPECT_EQ(copy.GetPixel(2, 1, 0), 5.5);
    EXPECT_STREQ(copy.GetHeader()->GetCameraModel(), L"FinePix S2Pro");
    EXPECT_EQ(copy.GetHeader()->GetISO(), 800u);
    EXPECT_TRUE(copy.IsHistogramCullParam());
    EXPECT_EQ(copy.GetLevelRange(0), 20.0);

    CImage assigned;
    assigned = copy;
    const CImage& self = assigned;
    assigned = self;  // self-assignment keeps everything
    EXPECT_EQ(assigned.GetPixel(2, 1, 0), 5.5);
    EXPECT_EQ(assigned.GetWidth(), 3);

    img.SetHistogramCull(nullptr, 0, nullptr, 0);
    EXPECT_EQ(img.GetHistogramCull(&c, &r), 0);
    EXPECT_EQ(img.GetHistogramCullXPtr(), nullptr);
}

TEST(ImageRecord, ChangeSizeKeepsFormatAndLevels)
{
    CKelImage img = MakeImage(4, 4, 3);
    img.SetLevel(1, 5.0, 9.0);
    *img.GetImageAdr(0, 0, 0, 0, nullptr) = 3.0f;
    EXPECT_EQ(img.ChangeSize(0, 5), 0);
    EXPECT_EQ(img.ChangeSize(5, -1), 0);
    EXPECT_EQ(img.GetWidth(), 4);
    EXPECT_EQ(img.GetPixelGrayRaw(0, 0, 0), 3.0f);
    EXPECT_EQ(img.ChangeSize(1 << 30, 1 << 30), 0);  // cannot be allocated
    EXPECT_EQ(img.GetHeight(), 4);
    EXPECT_EQ(img.ChangeSize(7, 2), 1);
    EXPECT_EQ(img.GetWidth(), 7);
    EXPECT_EQ(img.GetHeight(), 2);
    EXPECT_EQ(img.GetPlanes(), 3);
    EXPECT_EQ(img.GetLevelMin(1), 5.0);
    EXPECT_EQ(img.GetLevelMax(1), 9.0);
    EXPECT_EQ(img.GetPixelGrayRaw(0, 0, 0), 0.0f);
    EXPECT_NE(img.GetImageAdr(6, 1, 2, 1, nullptr), nullptr);
}

TEST(ImageRecord, MinMaxSkipsNan)
{
    CKelImage img = MakeImage(3, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    orbimg::test::Fill(img, 0, {nan, 4.0f, -2.5f, 7.0f, nan, 1.0f});
    double lo = 0;
    double hi = 0;
    EXPECT_EQ(img.GetMinMax(0, &lo, &hi), 1);
    EXPECT_EQ(lo, -2.5);
    EXPECT_EQ(hi, 7.0);
    orbimg::test::Fill(img, 0, [&](int, int) { return nan; });
    EXPECT_EQ(img.GetMinMax(0, &lo, &hi), 0);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 0.0);
    EXPECT_EQ(img.GetMinMax(4, &lo, &hi), 0);

    CImage i16(2, 1, 1, 16, 3.0, 1.0, 1);
    std::int16_t v[2] = {-7, 12};
    std::memcpy(i16.GetImageAdr(0, 0, 0, 0, nullptr), v, sizeof v);
    EXPECT_EQ(i16.GetMinMax(0, &lo, &hi), 1);
    EXPECT_EQ(lo, -7.0);  // stored values, no bscale / bzero
    EXPECT_EQ(hi, 12.0);
}
