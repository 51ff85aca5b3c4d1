// CImgResolution: worked examples, same-size copies, edges, agreement with
// the pixel-by-pixel computation and the numpy reference, refusals (in place,
// and every core against the serial loop: parallel_test.cpp).
#include "support/eachtarget.h"
#include "transformtest.h"

namespace orbimg::test {
namespace {

enum class Method { Bilinear, Bicubic, Do };

int Resample(CImgResolution& op, CKelImage* src, int width, int height, Method method)
{
    switch (method) {
    case Method::Bilinear:
        return op.Bilinear(src, width, height, 0);
    case Method::Bicubic:
        return op.Bicubic(src, width, height, 0);
    default:
        return op.Do(src, width, height, 12345);
    }
}

CImgResolution Resampled(const CKelImage& src, int width, int height, Method method)
{
    return Applied<CImgResolution>(src,
                                   [&](CImgResolution& op, CKelImage& s) { Resample(op, &s, width, height, method); });
}

// A 4 x 4 image whose rows all read 10, 20, 30, 40.
CKelImage Ramp()
{
    CKelImage image = MakeImage(4, 4, 1);
    Fill(image, 0, [](int x, int) { return 10.0f * static_cast<float>(x + 1); });
    return image;
}

TEST(Resolution, BilinearDoublingExtrapolatesTheLastPair)
{
    const CImgResolution out = Resampled(Ramp(), 8, 8, Method::Bilinear);
    const float expected[8] = {10, 15, 20, 25, 30, 35, 40, 45};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(At(out, x, y), expected[x]) << x << "," << y;
        }
    }
    // The same down a column: the last source row pairs with the one above.
    CKelImage column = MakeImage(1, 4, 1);
    Fill(column, 0, {10, 20, 30, 40});
    const CImgResolution tall = Resampled(column, 2, 8, Method::Bilinear);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(At(tall, 1, y), expected[y]);
    }
}

TEST(Resolution, BicubicDoublingMirrorsAtTheEdges)
{
    const CImgResolution out = Resampled(Ramp(), 8, 8, Method::Bicubic);
    const double expected[8] = {10, 14.75, 20, 25, 30, 35.25, 40, 35.25};
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_NEAR(At(out, x, y), expected[x], 1e-4) << x << "," << y;
        }
    }
    // Down the rows: index -1 reads row 1, index H reads row H - 2.
    CKelImage columns = MakeImage(4, 4, 1);
    Fill(columns, 0, [](int, int y) { return 10.0f * static_cast<float>(y + 1); });
    const CImgResolution tall = Resampled(columns, 3, 8, Method::Bicubic);
    for (int y = 0; y < 8; ++y) {
        EXPECT_NEAR(At(tall, 1, y), expected[y], 1e-4) << y;
    }
}

TEST(Resolution, SameSizeCopiesExactly)
{
    // Bilinear copies any samples; bicubic adds taps of weight about -2.8e-17,
    // which vanish in float next to samples of similar size.
    const CKelImage special = RandomImage(9, 7, 3, 1, true);
    EXPECT_TRUE(SameImage(Resampled(special, 9, 7, Method::Bilinear), special));
    const CKelImage plain = RandomImage(9, 7, 3, 2);
    EXPECT_TRUE(SameImage(Resampled(plain, 9, 7, Method::Bicubic), plain));
    const CKelImage one = RandomImage(1, 1, 3, 3);
    EXPECT_TRUE(SameImage(Resampled(one, 1, 1, Method::Bicubic), one));
}

using ResolutionEachTarget = orbimg::test::EachTarget;
ORBIMG_EACH_TARGET(ResolutionEachTarget);

TEST(Resolution, DoIsBilinear)
{
    const CKelImage src = RandomImage(11, 6, 3, 5, true);
    EXPECT_TRUE(SameImage(Resampled(src, 17, 4, Method::Do), Resampled(src, 17, 4, Method::Bilinear)));
}

// Source and destination sizes covering enlargement, reduction, whole and
// fractional scales, one-sample axes and sources below 3 x 3.
const int kSizes[][4] = {
    {9, 7, 18, 14}, {9, 7, 4, 3}, {9, 7, 13, 5},  {12, 8, 6, 4},  {12, 8, 18, 12}, {7, 9, 7, 9},
    {1, 5, 6, 9},   {5, 1, 9, 4}, {1, 1, 4, 3},   {2, 2, 5, 5},   {2, 3, 7, 2},    {3, 3, 8, 8},
    {16, 5, 3, 11}, {4, 4, 1, 1}, {20, 3, 60, 9}, {6, 6, 11, 17},
};

TEST_P(ResolutionEachTarget, BilinearMatchesPixelByPixel)
{
    unsigned seed = 100;
    for (const auto& s : kSizes) {
        const CKelImage src = RandomImage(s[0], s[1], 3, ++seed, true);
        EXPECT_TRUE(SameImage(Resampled(src, s[2], s[3], Method::Bilinear), ReferenceBilinear(src, s[2], s[3])))
            << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3];
    }
}

TEST_P(ResolutionEachTarget, BicubicMatchesPixelByPixel)
{
    unsigned seed = 200;
    for (bool specials : {false, true}) {
        for (const auto& s : kSizes) {
            for (int planes : {1, 3}) {
                const CKelImage src = RandomImage(s[0], s[1], planes, ++seed, specials);
                EXPECT_TRUE(SameImage(Resampled(src, s[2], s[3], Method::Bicubic), ReferenceBicubic(src, s[2], s[3])))
                    << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3] << " planes " << planes;
            }
        }
    }
}

TEST(Resolution, AgreesWithNumpyReference)
{
    // The source of tests/reference/transform_reference.py.
    CKelImage src = MakeImage(5, 4, 1);
    Fill(src, 0,
         [](int x, int y) { return static_cast<float>(100.0 + 7.0 * x + 13.0 * y + ((x * 31 + y * 17) % 11) * 2.5); });
    *src.GetImageAdr(2, 1, 0, 0, nullptr) = -40.25f;
    *src.GetImageAdr(4, 3, 0, 0, nullptr) = 5000.5f;

    const std::vector<double> ref = ReadNumbers("transform_resample.txt");
    const struct {
        Method method;
        int width;
        int height;
    } cases[] = {{Method::Bilinear, 8, 7}, {Method::Bilinear, 3, 3}, {Method::Bicubic, 9, 7}, {Method::Bicubic, 3, 2}};
    std::size_t k = 0;
    for (const auto& c : cases) {
        const CImgResolution out = Resampled(src, c.width, c.height, c.method);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x, ++k) {
                ASSERT_LT(k, ref.size());
                EXPECT_TRUE(SameBits(At(out, x, y), static_cast<float>(ref[k])))
                    << c.width << "x" << c.height << " at " << x << "," << y << ": " << At(out, x, y) << " vs "
                    << ref[k];
            }
        }
    }
    EXPECT_EQ(k, ref.size());
}

TEST(Resolution, ResetsPointsAndKeepsLevels)
{
    CKelImage src = RandomImage(8, 6, 3, 7);
    src.SetLevel(1, 10.0, 20.0);
    src.SetStdCtr(3.0, 4.0);
    for (Method method : {Method::Bilinear, Method::Bicubic}) {
        const CImgResolution op = Resampled(src, 5, 9, method);
        EXPECT_EQ(op.GetWidth(), 5);
        EXPECT_EQ(op.GetHeight(), 9);
        EXPECT_EQ(op.GetStdCtr().x, -1.0);
        EXPECT_EQ(op.GetLevelMax(1), 20.0);
    }
}

TEST(Resolution, RefusedArgumentsChangeNothing)
{
    // A source of another size or planes is taken as it is (parallel_test.cpp);
    // a null one, or one without float samples, is refused.
    const CKelImage src = RandomImage(6, 5, 3, 8);
    CKelImage bytes(6, 5, 3, 16, 1.0, 0.0, 0);
    for (Method method : {Method::Bilinear, Method::Bicubic, Method::Do}) {
        for (CKelImage* bad : {&bytes, static_cast<CKelImage*>(nullptr)}) {
            CImgResolution op;
            op = src;
            op.SetStdCtr(3.0, 4.0);
            EXPECT_EQ(Resample(op, bad, 3, 3, method), 0);
            EXPECT_EQ(op.GetStdCtr().x, 3.0);
            EXPECT_TRUE(SameImage(op, src));
        }
        // An empty object and source: nothing to resample.
        CImgResolution empty;
        CKelImage none;
        EXPECT_EQ(Resample(empty, &none, 3, 3, method), 0);
        // A size below 1 fails in ChangeSize after the points are reset.
        CImgResolution op;
        op = src;
        op.SetStdCtr(3.0, 4.0);
        CKelImage source = src;
        EXPECT_EQ(Resample(op, &source, 0, 4, method), 0);
        EXPECT_EQ(op.GetStdCtr().x, -1.0);
        EXPECT_TRUE(SameImage(op, src));
        EXPECT_EQ(Locks(op), 0);
    }
}

}  // namespace
}  // namespace orbimg::test
