// Pixel values: scales, conversions, bilinear reads and brightness.
#include <cmath>
#include <limits>
#include <utility>

#include "support/testsupport.h"

using namespace orbimg::test;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();

// The bilinear formula written out in double, for comparison.
double Bilinear(double s00, double s01, double s10, double s11, double dx, double dy)
{
    return (1.0 - dx) * (1.0 - dy) * s00 + (1.0 - dx) * dy * s01 + (1.0 - dy) * dx * s10 + dx * dy * s11;
}

}  // namespace

TEST(Scales, ValuesBytesZeroOutsideAndOneRoundingPerConversion)
{
    CKelImage img = MakeImage(4, 4);
    img.SetLevel(0, 100.0, 200.0);
    Fill(img, 0, [](int, int) { return 180.0f; });
    EXPECT_EQ(img.GetPixelGrayRaw(4, 0, 0), 0.0f);
    EXPECT_EQ(img.GetPixelGrayRaw(0, -1, 0), 0.0f);
    EXPECT_EQ(img.GetPixelGray256(0, 9, 0), 0);
    EXPECT_EQ(img.GetPixelGray256f(-3, 0, 0), 0.0f);
    EXPECT_EQ(img.GetPixelGrayRaw(0, 0, 1), 0.0f);
    EXPECT_EQ(img.GetPixelBright256f(7, 7), 0.0f);
    EXPECT_EQ(img.To256(50.0f, 0), -127.5f);
    EXPECT_EQ(img.ToRaw(127.5f, 0), 150.0f);
    const std::pair<float, int> bytes[] = {{150.0f, 127},  {100.0f, 0},     {50.0f, 0}, {200.0f, 255},
                                           {1000.0f, 255}, {199.999f, 254}, {kNan, 0}};
    for (auto [raw, byte] : bytes) {
        EXPECT_EQ(img.GetPixelGray256(&raw, 0), byte) << raw;
    }
    float nan = kNan;
    EXPECT_TRUE(std::isnan(img.GetPixelGray256f(&nan, 0)));

    // The float-parameter form works in float and saturates a stray factor.
    float v = 150.0f;
    EXPECT_EQ(img.GetPixelGray256(&v, 100.0f, 200.0f, 2.55f), 127);
    EXPECT_EQ(img.GetPixelGray256(&v, 100.0f, 200.0f, 100.0f), 255);
    EXPECT_EQ(img.GetPixelGray256(&v, 100.0f, 200.0f, -1.0f), 0);
    EXPECT_EQ(img.GetPixelGray256f(&v, 100.0f, 0.5f), 25.0f);
    float stored = 0.0f;
    img.SetPixelGray256f(&stored, 63.75f, 0);
    EXPECT_EQ(stored, 125.0f);

    // Each conversion rounds once in its own order: (v - min) / range * 255
    // in double, then one rounding to float, differs from the same steps done
    // in float for these values.
    img.SetLevel(0, 0.1, 1000.3);
    v = 333.333f;
    const double want = (static_cast<double>(v) - 0.1) / (1000.3 - 0.1) * 255.0;
    EXPECT_TRUE(SameBits(img.To256(v, 0), static_cast<float>(want)));
    EXPECT_FALSE(SameBits((v - 0.1f) / (1000.3f - 0.1f) * 255.0f, static_cast<float>(want)));
    *img.GetImageAdr(0, 0, 0, 0, nullptr) = v;
    EXPECT_TRUE(SameBits(img.GetPixelGray256f(0, 0, 0), static_cast<float>(want)));
    EXPECT_EQ(img.GetPixelGray256(0, 0, 0), static_cast<unsigned char>(want));

    // Back to raw: divided by 255 before the range multiplies (the other
    // order differs in the last bit here).
    img.SetLevel(0, 100.0, 1100.0);
    EXPECT_TRUE(SameBits(img.ToRaw(100.0, 0), 100.0 / 255.0 * 1000.0 + 100.0));
}

TEST(Bilinear, WholeHalfAndEdgePositionsAndSumOrder)
{
    CKelImage img = MakeImage(6, 6);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x * x + 10 * y) + 0.1f; });
    EXPECT_EQ(img.GetPixelGrayRaw(3.0, 4.0, 0), At(img, 3, 4));
    const double mean = (static_cast<double>(At(img, 3, 4)) + At(img, 4, 4)) / 2.0;
    EXPECT_EQ(img.GetPixelGrayRaw(3.5, 4.0, 0), static_cast<float>(mean));
    // Last column and beyond sample the last column exactly.
    EXPECT_EQ(img.GetPixelGrayRaw(5.0, 2.0, 0), At(img, 5, 2));
    EXPECT_EQ(img.GetPixelGrayRaw(11.0, 9.5, 0), At(img, 5, 5));
    EXPECT_EQ(img.GetPixelGrayRaw(-4.0, -0.5, 0), At(img, 0, 0));  // clamped
    EXPECT_EQ(img.GetPixelGrayRaw(std::nan(""), 1.0, 0), At(img, 0, 1));
    EXPECT_EQ(img.GetPixelGrayRaw(0.5, 0.5, 3), 0.0f);  // no such plane
    // The last row between columns.
    const double lastRow = Bilinear(At(img, 2, 4), At(img, 2, 5), At(img, 3, 4), At(img, 3, 5), 0.25, 1.0);
    EXPECT_TRUE(SameBits(img.GetPixelGrayRaw(2.25, 5.0, 0), static_cast<float>(lastRow)));

    // Narrow images stay inside.
    CKelImage column = MakeImage(1, 3);
    Fill(column, 0, {10.0f, 20.0f, 40.0f});
    EXPECT_EQ(column.GetPixelGrayRaw(0.0, 0.5, 0), 15.0f);
    EXPECT_EQ(column.GetPixelGrayRaw(0.7, 1.25, 0), 25.0f);
    EXPECT_EQ(column.GetPixelGrayRaw(5.0, 7.0, 0), 40.0f);
    CKelImage row = MakeImage(3, 1);
    Fill(row, 0, {10.0f, 20.0f, 40.0f});
    EXPECT_EQ(row.GetPixelGrayRaw(1.5, 0.3, 0), 30.0f);
    CKelImage empty;
    EXPECT_EQ(empty.GetPixelGrayRaw(0.5, 0.5, 0), 0.0f);

    // The byte of the interpolated value.
    CKelImage steps = MakeImage(4, 4);
    steps.SetLevel(0, 100.0, 200.0);
    Fill(steps, 0, [](int x, int) { return x < 2 ? 99.0f : 300.0f; });
    EXPECT_EQ(steps.GetPixelGray256(0.5, 1.0, 0), 0);    // 1.0 below level min
    EXPECT_EQ(steps.GetPixelGray256(2.5, 1.0, 0), 255);  // above level max
    EXPECT_EQ(steps.GetPixelGray256(1.5, 1.0, 0), 253);  // 199.5: 253.725 truncated

    // Weights and the order of the sum in double.
    CKelImage img9 = MakeImage(3, 3);
    Fill(img9, 0, {1e7f, 3.3f, -7.1f, 0.123f, 1.0f / 3.0f, 2.0f, 5.5f, 6.25f, 1e-3f});
    const double want = Bilinear(At(img9, 0, 1), At(img9, 0, 2), At(img9, 1, 1), At(img9, 1, 2), 0.3, 1.7 - 1.0);
    EXPECT_TRUE(SameBits(img9.GetPixelGrayRaw(0.3, 1.7, 0), static_cast<float>(want)));
}

TEST(Brightness, WeightsOrderAndMonoImages)
{
    CKelImage colour = MakeImage(1, 1, 3);
    EXPECT_NEAR(colour.CalcBright(255, 0, 0), 76.245, 1e-12);

    colour.SetLevel(0, 0.0, 100.0);
    colour.SetLevel(1, 10.0, 20.0);
    colour.SetLevel(2, -5.0, 5.0);
    float r = 50.0f;
    float g = 15.0f;
    float b = 1.0f;
    const float rr = static_cast<float>(50.0 / 100.0 * 255.0);
    const float gg = static_cast<float>(5.0 / 10.0 * 255.0);
    const float bb = static_cast<float>(6.0 / 10.0 * 255.0);
    const float bright = static_cast<float>(0.587 * gg + 0.299 * rr + 0.114 * bb);
    EXPECT_TRUE(SameBits(colour.GetPixelBright256f(&r, &g, &b), bright));
    EXPECT_TRUE(SameBits(colour.GetPixelBrightRaw(&r, &g, &b),
                         static_cast<float>(static_cast<double>(bright) / 255.0 * 100.0 + 0.0)));
    *colour.GetImageAdr(0, 0, 0, 0, nullptr) = 50.0f;
    *colour.GetImageAdr(0, 0, 1, 0, nullptr) = 15.0f;
    *colour.GetImageAdr(0, 0, 2, 0, nullptr) = 1.0f;
    EXPECT_TRUE(SameBits(colour.GetPixelBright256f(0, 0), bright));

    CKelImage mono = MakeImage(1, 1);
    mono.SetLevel(0, 0.0, 510.0);
    float m = 100.0f;
    EXPECT_EQ(mono.GetPixelBright256f(&m, nullptr, nullptr), 50.0f);  // g and b not read
    EXPECT_EQ(mono.GetPixelBrightRaw(&m, nullptr, nullptr), 100.0f);
}
