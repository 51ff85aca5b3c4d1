// CImgResolution: agreement with the pixel-by-pixel computation and the numpy
// reference, points, levels and refusals (in place, and every core against the
// serial loop: parallel_test.cpp).
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

TEST_P(ResolutionEachTarget, MatchesPixelByPixel)
{
    unsigned seed = 100;
    for (bool specials : {false, true}) {
        for (const auto& s : kSizes) {
            for (int planes : {1, 3}) {
                const CKelImage src = RandomImage(s[0], s[1], planes, ++seed, specials);
                EXPECT_TRUE(SameImage(Resampled(src, s[2], s[3], Method::Bilinear), ReferenceBilinear(src, s[2], s[3])))
                    << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3] << " planes " << planes;
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

TEST(Resolution, PointsLevelsAndEmptyImages)
{
    // A source of another size or planes is taken as it is; refused sources:
    // parallel_test.cpp.
    CKelImage src = RandomImage(6, 5, 3, 8);
    src.SetLevel(1, 10.0, 20.0);
    for (Method method : {Method::Bilinear, Method::Bicubic, Method::Do}) {
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
        // Success resets them too and keeps the levels.
        op.SetStdCtr(3.0, 4.0);
        EXPECT_EQ(Resample(op, &source, 5, 9, method), 1);
        EXPECT_EQ(op.GetStdCtr().x, -1.0);
        EXPECT_EQ(op.GetLevelMax(1), 20.0);
    }
}

}  // namespace
}  // namespace orbimg::test
