// Display levels, averages, rectangle clipping and the brightest sample.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/testsupport.h"

using orbimg::test::Fill;
using orbimg::test::MakeImage;
using orbimg::test::SameBits;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();

// Exposes the protected search for the tests.
class MaxProbe : public CKelImage {
public:
    using CKelImage::CKelImage;
    using CKelImage::GetMaxPixel;
};

void ExpectLevels(const CKelImage& img, int plane, double min, double max)
{
    EXPECT_DOUBLE_EQ(img.GetLevelMin(plane), min) << "plane " << plane;
    EXPECT_DOUBLE_EQ(img.GetLevelMax(plane), max) << "plane " << plane;
    EXPECT_DOUBLE_EQ(img.GetLevelRange(plane), max - min) << "plane " << plane;
}

}  // namespace

TEST(SetLevel, LinkedColourWindowsKeepTheirBalance)
{
    CKelImage img = MakeImage(2, 2, 3);
    img.SetLevel(0, 0.0, 100.0);
    img.SetLevel(1, 10.0, 60.0);
    img.SetLevel(2, 0.0, 200.0);
    img.SetLevel(-1, 10.0, 90.0);
    ExpectLevels(img, 0, 10.0, 90.0);
    ExpectLevels(img, 1, 15.0, 55.0);
    ExpectLevels(img, 2, 20.0, 180.0);
    // Exactly min_p + range_p x f, with f from plane 0's old window.
    img.SetLevel(-1, 13.0, 70.0);
    const double fMin = (13.0 - 10.0) / 80.0;
    const double fMax = (70.0 - 90.0) / 80.0;
    EXPECT_TRUE(SameBits(img.GetLevelMin(1), 15.0 + 40.0 * fMin));
    EXPECT_TRUE(SameBits(img.GetLevelMax(2), 180.0 + 160.0 * fMax));
}

TEST(SetLevel, SinglePlanesMonoAndFlatWindows)
{
    CKelImage colour = MakeImage(2, 2, 3);
    colour.SetLevel(2, -1.0, 1.0);
    ExpectLevels(colour, 2, -1.0, 1.0);
    ExpectLevels(colour, 0, 0.0, 255.0);

    CKelImage mono = MakeImage(2, 2);
    mono.SetLevel(-1, 5.0, 6.0);
    ExpectLevels(mono, 0, 5.0, 6.0);

    // A flat plane-0 window has no fraction to carry: every plane takes the
    // new window rather than infinities or NaN.
    colour.SetLevel(0, 50.0, 50.0);
    colour.SetLevel(-1, 40.0, 60.0);
    for (int p = 0; p < 3; ++p) {
        ExpectLevels(colour, p, 40.0, 60.0);
    }
    colour.SetLevel(7, 1.0, 2.0);  // no such plane: nothing changes
    ExpectLevels(colour, 0, 40.0, 60.0);
}

TEST(Averages, DoubleSumInRowOrder)
{
    CKelImage ones = MakeImage(3, 3);
    Fill(ones, 0, [](int, int) { return 1.0f; });
    EXPECT_EQ(ones.GetAvrGrayRaw(0), 1.0f);
    CKelImage single = MakeImage(1, 1);
    Fill(single, 0, {-3.25f});
    EXPECT_EQ(single.GetAvrGrayRaw(0), -3.25f);

    // A float sum would lose the small samples next to 1e8.
    CKelImage img = MakeImage(7, 3);
    Fill(img, 0, [](int x, int y) { return (x == 0 && y == 0) ? 1e8f : 0.75f; });
    double sum = 0.0;
    for (float v : orbimg::test::Samples(img)) {
        sum += v;
    }
    EXPECT_TRUE(SameBits(img.GetAvrGrayRaw(0), static_cast<float>(sum / 7 / 3)));

    img.SetLevel(0, 0.1, 1e9);
    const float avr = img.GetAvrGrayRaw(0);
    EXPECT_TRUE(SameBits(img.GetAvrGray(0), avr - static_cast<float>(0.1)));
    EXPECT_TRUE(SameBits(img.GetAvrGray256f(0),
                         static_cast<float>((static_cast<double>(avr) - 0.1) / (1e9 - 0.1) * 255.0)));

    CKelImage empty;
    EXPECT_EQ(empty.GetAvrGrayRaw(0), 0.0f);
    Fill(ones, 0, {1.0f, kNan});
    EXPECT_TRUE(std::isnan(ones.GetAvrGrayRaw(0)));
}

TEST(NormalizeRect, ClipsWithoutReordering)
{
    CKelImage img = MakeImage(10, 8);
    int l, t, r, b;
    CRect wide(-5, -5, 20, 20);
    img.NormalizeRect(&wide, l, t, r, b);
    EXPECT_EQ(CRect(l, t, r, b), CRect(0, 0, 10, 8));
    img.NormalizeRect(nullptr, l, t, r, b);
    EXPECT_EQ(CRect(l, t, r, b), CRect(0, 0, 10, 8));
    CRect reversed(7, 2, 3, 5);
    img.NormalizeRect(&reversed, l, t, r, b);
    EXPECT_EQ(CRect(l, t, r, b), CRect(7, 2, 3, 5));
    CRect outside(30, -9, 40, -1);
    img.NormalizeRect(&outside, l, t, r, b);
    EXPECT_EQ(CRect(l, t, r, b), CRect(10, 0, 10, 0));
    EXPECT_EQ(wide, CRect(-5, -5, 20, 20));  // not modified
}

TEST(MaxPixel, FirstStrictlyGreaterSampleWins)
{
    MaxProbe img(6, 5, 1, -32, 1.0, 0.0, 1);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x + y) * 0.5f; });
    *img.GetImageAdr(4, 2, 0, 0, nullptr) = 9.0f;
    *img.GetImageAdr(1, 3, 0, 0, nullptr) = 9.0f;
    int x = 0, y = 0;
    EXPECT_EQ(img.GetMaxPixel(0, nullptr, x, y), 9.0f);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 2);

    // The window's own first sample being the largest reports no position.
    CRect corner(4, 2, 6, 5);
    EXPECT_EQ(img.GetMaxPixel(0, &corner, x, y), 9.0f);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, -1);
    // Clipped window; right and bottom exclusive.
    CRect part(-3, 3, 2, 99);
    EXPECT_EQ(img.GetMaxPixel(0, &part, x, y), 9.0f);
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 3);
    CRect noCols(2, 1, 2, 4);
    EXPECT_EQ(img.GetMaxPixel(0, &noCols, x, y), 1.5f);
    EXPECT_EQ(x, -1);
}

TEST(MaxPixel, OutsideAndNanWindows)
{
    MaxProbe img(4, 4, 1, -32, 1.0, 0.0, 1);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x * 4 + y); });
    int x = 0, y = 0;
    CRect right(4, 0, 9, 4);
    EXPECT_EQ(img.GetMaxPixel(0, &right, x, y), 0.0f);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, -1);
    CRect below(0, 7, 4, 9);
    EXPECT_EQ(img.GetMaxPixel(0, &below, x, y), 0.0f);
    EXPECT_EQ(y, -1);

    *img.GetImageAdr(0, 0, 0, 0, nullptr) = kNan;  // a blank first sample
    *img.GetImageAdr(3, 3, 0, 0, nullptr) = kNan;  // a blank largest sample
    EXPECT_EQ(img.GetMaxPixel(0, nullptr, x, y), 14.0f);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 2);
    CRect blank(0, 0, 1, 1);
    EXPECT_TRUE(std::isnan(img.GetMaxPixel(0, &blank, x, y)));
    EXPECT_EQ(x, -1);
}
