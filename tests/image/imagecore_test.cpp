// The image record and its sample store.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

#include "support/testsupport.h"

using orbimg::test::MakeImage;

TEST(ImageRecord, NewStoreZeroedAddressesAndRedimensioning)
{
    CImage img(4, 3, 3, -32, 2.0, 5.0, 1);
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < 3; ++y) {
            const float* row = reinterpret_cast<const float*>(img.GetImageAdr(0, y, p, 1, nullptr));
            EXPECT_EQ(std::vector<float>(row, row + 4), std::vector<float>(4, 0.0f)) << p << "," << y;
        }
    }
    EXPECT_EQ(CImage().GetImageAdr(0, 0, 0, 1, nullptr), nullptr);

    // Planes, sample size, width and height each re-dimension the store.
    img.SetPlanes(2);
    EXPECT_EQ(img.GetImageAdr(1, 1, 2, 1, nullptr), nullptr);
    img.SetBitsPixel(-64);
    EXPECT_EQ(img.GetImageAdr(1, 0, 0, 1, nullptr) - img.GetImageAdr(0, 0, 0, 1, nullptr), 8);
    img.SetWidth(5);
    EXPECT_NE(img.GetImageAdr(4, 1, 0, 1, nullptr), nullptr);
    img.SetHeight(1);
    EXPECT_EQ(img.GetImageAdr(4, 1, 0, 1, nullptr), nullptr);
    CKelImage kel = MakeImage(5, 4, 3);
    const int outside[][3] = {{-1, 0, 0}, {5, 0, 0}, {0, -1, 0}, {0, 4, 0}, {0, 0, -1}, {0, 0, 3}};
    for (const auto& o : outside) {
        EXPECT_EQ(kel.GetImageAdr(o[0], o[1], o[2], 1, nullptr), nullptr) << o[0] << "," << o[1] << "," << o[2];
    }
    float* row = kel.GetImageAdr(1, 2, 2, 0, nullptr);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row + 3, kel.GetImageAdr(4, 2, 2, 0, nullptr));
    row[3] = 7.0f;
    EXPECT_EQ(kel.GetPixelGrayRaw(4, 2, 2), 7.0f);
    EXPECT_EQ(kel.GetPixelGrayRaw(4, 2, 1), 0.0f);
}

TEST(ImageRecord, LocksAreCountedAndReleased)
{
    CKelImage img = MakeImage(4, 4);
    CVmImage* store = img.GetVmImage();
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

TEST(ImageRecord, GetPixelDecodesEveryFormat)
{
    // Lines of tests/reference/image_decode.txt (image_reference.py): bits,
    // signed, bscale, bzero, the sample's bytes and the value numpy decodes.
    const std::vector<double> ref = orbimg::test::ReadNumbers("image_decode.txt");
    int cases = 0;
    for (std::size_t k = 0; k < ref.size(); ++cases) {
        const int bits = static_cast<int>(ref[k]);
        const int isSigned = static_cast<int>(ref[k + 1]);
        CImage img(1, 1, 1, bits, ref[k + 2], ref[k + 3], isSigned);
        auto* p = img.GetImageAdr(0, 0, 0, 0, nullptr);
        k += 4;
        for (int i = 0; i < std::abs(bits) / 8; ++i) {
            p[i] = static_cast<unsigned char>(ref[k++]);
        }
        EXPECT_EQ(img.GetPixel(p), ref[k]) << bits << " signed " << isSigned;
        EXPECT_EQ(img.GetPixel(0, 0, 0), ref[k++]) << bits << " signed " << isSigned;
        EXPECT_EQ(img.GetPixel(1, 0, 0), 0.0);  // outside
    }
    EXPECT_EQ(cases, 9);
}

TEST(ImageRecord, CopiesAreDeep)
{
    CImage img(3, 2, 1, -32, 1, 0, 0);
    img.GetHeader()->SetCameraModel(L"FinePix S2Pro");
    const int cols[] = {0, 2};
    const int rows[] = {1};
    img.SetHistogramCull(cols, 2, rows, 1);
    img.SetLevel(0, 10.0, 30.0);
    reinterpret_cast<float*>(img.GetImageAdr(2, 1, 0, 0, nullptr))[0] = 5.5f;

    CImage copy(img);
    reinterpret_cast<float*>(img.GetImageAdr(2, 1, 0, 0, nullptr))[0] = 1.0f;
    img.GetHeader()->SetCameraModel(L"");
    img.SetHistogramCull(nullptr, 0, nullptr, 0);
    EXPECT_EQ(copy.GetPixel(2, 1, 0), 5.5);
    EXPECT_STREQ(copy.GetHeader()->GetCameraModel(), L"FinePix S2Pro");
    EXPECT_EQ(copy.GetHistogramCullXPtr()[1], 2);
    EXPECT_EQ(copy.GetLevelRange(0), 20.0);

    CImage assigned;
    assigned = copy;
    const CImage& self = assigned;
    assigned = self;  // self-assignment keeps everything
    EXPECT_EQ(assigned.GetPixel(2, 1, 0), 5.5);
}

TEST(ImageRecord, ChangeSizeKeepsFormatAndLevels)
{
    CKelImage img = MakeImage(4, 4, 3);
    img.SetLevel(1, 5.0, 9.0);
    *img.GetImageAdr(0, 0, 0, 0, nullptr) = 3.0f;
    EXPECT_EQ(img.ChangeSize(0, 5), 0);
    EXPECT_EQ(img.ChangeSize(5, -1), 0);
    EXPECT_EQ(img.ChangeSize(1 << 30, 1 << 30), 0);  // cannot be allocated
    EXPECT_EQ(img.GetWidth(), 4);
    EXPECT_EQ(img.GetPixelGrayRaw(0, 0, 0), 3.0f);
    EXPECT_EQ(img.ChangeSize(7, 2), 1);
    EXPECT_EQ(img.GetPlanes(), 3);
    EXPECT_EQ(img.GetLevelMax(1), 9.0);
    EXPECT_EQ(img.GetPixelGrayRaw(0, 0, 0), 0.0f);
    EXPECT_NE(img.GetImageAdr(6, 1, 2, 1, nullptr), nullptr);
}

TEST(ImageRecord, MinMaxSkipsNan)
{
    const auto minMax = [](const CImage& img, int plane) {
        double lo = 9.0;
        double hi = 9.0;
        const int found = img.GetMinMax(plane, &lo, &hi);
        return std::tuple(found, lo, hi);
    };
    CKelImage img = MakeImage(3, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    orbimg::test::Fill(img, 0, {nan, 4.0f, -2.5f, 7.0f, nan, 1.0f});
    EXPECT_EQ(minMax(img, 0), std::tuple(1, -2.5, 7.0));
    orbimg::test::Fill(img, 0, [&](int, int) { return nan; });
    EXPECT_EQ(minMax(img, 0), std::tuple(0, 0.0, 0.0));
    EXPECT_EQ(std::get<0>(minMax(img, 4)), 0);

    CImage i16(2, 1, 1, 16, 3.0, 1.0, 1);
    std::int16_t v[2] = {-7, 12};
    std::memcpy(i16.GetImageAdr(0, 0, 0, 0, nullptr), v, sizeof v);
    EXPECT_EQ(minMax(i16, 0), std::tuple(1, -7.0, 12.0));  // stored values, no bscale / bzero
}
