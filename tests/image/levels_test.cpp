// Display levels, averages, rectangle clipping and the brightest sample.
#include <cmath>
#include <limits>
#include <vector>

#include "support/testsupport.h"

using namespace orbimg::test;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();

// Exposes the protected search for the tests.
class MaxProbe : public CKelImage {
public:
    using CKelImage::CKelImage;
    using CKelImage::GetMaxPixel;
};

}  // namespace

TEST(SetLevel, LinkedWindowsSinglePlanesMonoAndFlatWindows)
{
    CKelImage img = MakeImage(2, 2, 3);
    img.SetLevel(0, 0.0, 100.0);
    img.SetLevel(1, 10.0, 60.0);
    img.SetLevel(2, 0.0, 200.0);
    img.SetLevel(-1, 10.0, 90.0);
    EXPECT_EQ(LevelList(img), (std::vector<double>{10, 90, 15, 55, 20, 180}));
    // Exactly min_p + range_p x f, with f from plane 0's old window.
    img.SetLevel(-1, 13.0, 70.0);
    const double fMin = (13.0 - 10.0) / 80.0;
    const double fMax = (70.0 - 90.0) / 80.0;
    EXPECT_TRUE(SameBits(img.GetLevelMin(1), 15.0 + 40.0 * fMin));
    EXPECT_TRUE(SameBits(img.GetLevelMax(1), 55.0 + 40.0 * fMax));
    EXPECT_TRUE(SameBits(img.GetLevelMax(2), 180.0 + 160.0 * fMax));
    CKelImage colour = MakeImage(2, 2, 3);
    colour.SetLevel(2, -1.0, 1.0);
    EXPECT_EQ(LevelList(colour), (std::vector<double>{0, 255, 0, 255, -1, 1}));

    CKelImage mono = MakeImage(2, 2);
    mono.SetLevel(-1, 5.0, 6.0);
    EXPECT_EQ(LevelList(mono), (std::vector<double>{5, 6}));

    // A flat plane-0 window has no fraction to carry: every plane takes the
    // new window rather than infinities or NaN.
    colour.SetLevel(0, 50.0, 50.0);
    colour.SetLevel(-1, 40.0, 60.0);
    colour.SetLevel(7, 1.0, 2.0);  // no such plane: nothing changes
    EXPECT_EQ(LevelList(colour), (std::vector<double>{40, 60, 40, 60, 40, 60}));
}

TEST(Averages, DoubleSumInRowOrder)
{
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
    EXPECT_TRUE(
        SameBits(img.GetAvrGray256f(0), static_cast<float>((static_cast<double>(avr) - 0.1) / (1e9 - 0.1) * 255.0)));

    CKelImage empty;
    EXPECT_EQ(empty.GetAvrGrayRaw(0), 0.0f);
    CKelImage blank = MakeImage(2, 1);
    Fill(blank, 0, {1.0f, kNan});
    EXPECT_TRUE(std::isnan(blank.GetAvrGrayRaw(0)));
}

TEST(NormalizeRect, ClipsWithoutReordering)
{
    CKelImage img = MakeImage(10, 8);
    const CRect cases[][2] = {
        {CRect(-5, -5, 20, 20), CRect(0, 0, 10, 8)},
        {CRect(7, 2, 3, 5), CRect(7, 2, 3, 5)},  // reversed stays reversed
        {CRect(30, -9, 40, -1), CRect(10, 0, 10, 0)},
    };
    int l, t, r, b;
    for (const auto& c : cases) {
        CRect rect = c[0];
        img.NormalizeRect(&rect, l, t, r, b);
        EXPECT_EQ(CRect(l, t, r, b), c[1]);
        EXPECT_EQ(rect, c[0]);  // not modified
    }
    img.NormalizeRect(nullptr, l, t, r, b);
    EXPECT_EQ(CRect(l, t, r, b), CRect(0, 0, 10, 8));
}

// The first strictly greater sample wins; NaN samples are skipped (a blank
// first sample, one after the largest of a window), a blank window gives NaN.
TEST(MaxPixel, FirstStrictlyGreaterSampleWinsAndNanIsSkipped)
{
    MaxProbe img(6, 5, 1, -32, 1.0, 0.0, 1);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x + y) * 0.5f; });
    *img.GetImageAdr(4, 2, 0, 0, nullptr) = 9.0f;
    *img.GetImageAdr(1, 3, 0, 0, nullptr) = 9.0f;
    *img.GetImageAdr(0, 0, 0, 0, nullptr) = kNan;
    *img.GetImageAdr(5, 4, 0, 0, nullptr) = kNan;
    const struct {
        CRect rect;
        bool whole;
        float max;
        int x;
        int y;
    } cases[] = {
        {CRect(), true, 9.0f, 4, 2},
        {CRect(4, 2, 6, 5), false, 9.0f, -1, -1},  // the window's own first sample: no position
        {CRect(-3, 3, 2, 99), false, 9.0f, 1, 3},  // clipped; right and bottom exclusive
        {CRect(2, 1, 2, 4), false, 1.5f, -1, -1},  // no columns
        {CRect(6, 0, 9, 4), false, 0.0f, -1, -1},  // right of the image
        {CRect(0, 7, 4, 9), false, 0.0f, -1, -1},  // below
        {CRect(4, 3, 6, 5), false, 4.0f, 5, 3},    // 3.5, 4, 4, NaN
        {CRect(0, 0, 1, 1), false, kNan, -1, -1},
    };
    for (const auto& c : cases) {
        CRect rect = c.rect;
        int x = 0, y = 0;
        const float max = img.GetMaxPixel(0, c.whole ? nullptr : &rect, x, y);
        EXPECT_TRUE(SameSample(max, c.max)) << c.rect.left << "," << c.rect.top;
        EXPECT_EQ(std::pair(x, y), std::pair(c.x, c.y)) << c.rect.left << "," << c.rect.top;
    }
}
