// CImgBright: worked examples, plane 0's levels for every plane, the window,
// agreement with the single-precision expression, refusals.
#include "transformtest.h"
#include "support/eachtarget.h"

namespace orbimg::test {
namespace {

// Exposes the protected row operation.
class BrightProbe : public CImgBright {
public:
    using CImgBright::DoBright;
    using CImgBright::operator=;
};

CImgBright Brightened(const CKelImage& src, double brightness, double contrast, double pivot, CRect* rect = nullptr)
{
    CImgBright op;
    op = src;
    CKelImage source = src;
    op.Do(brightness, contrast, pivot, &source, rect, 0);
    EXPECT_EQ(Locks(op), 0);
    return op;
}

// The change of one sample, written out in float.
float Changed(float v, float m, float r, float brightness, float contrast, float pivot)
{
    const float k = 255.0f / r;
    const float kinv = r / 255.0f;
    const float g = contrast / 256.0f;
    const float t = (v - m) * k;
    const float u = ((t - pivot) * g + brightness) + t;
    return u * kinv + m;
}

TEST(Bright, WorkedExamples)
{
    CKelImage src = MakeImage(4, 1, 1);
    Fill(src, 0, {0, 64, 128, 192});
    // Levels 0..255: brightness 10 adds 10.
    const CImgBright lifted = Brightened(src, 10.0, 0.0, 77.0);
    EXPECT_EQ(Samples(lifted), (std::vector<float>{10, 74, 138, 202}));
    // Contrast 256 around 128 doubles the distance from 128.
    const CImgBright steep = Brightened(src, 0.0, 256.0, 128.0);
    EXPECT_EQ(Samples(steep), (std::vector<float>{-128, 0, 128, 256}));
    // Levels 1000..2020: one display unit is 4 raw units.
    CKelImage wide = MakeImage(3, 1, 1);
    Fill(wide, 0, {1000, 1500, 3000});
    wide.SetLevel(0, 1000.0, 2020.0);
    EXPECT_EQ(Samples(Brightened(wide, 1.0, 0.0, 0.0)), (std::vector<float>{1004, 1504, 3004}));
}

TEST(Bright, NeutralChangeReproduces)
{
    CKelImage src = RandomImage(7, 5, 1, 1);
    src.SetLevel(0, 900.0, 1700.0);
    const CImgBright out = Brightened(src, 0.0, 0.0, 55.0);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            EXPECT_NEAR(At(out, x, y), At(src, x, y), 1e-3);
        }
    }
}

TEST(Bright, EveryPlaneUsesPlaneZeroLevels)
{
    CKelImage grey = MakeImage(3, 2, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(grey, p, [](int x, int y) { return static_cast<float>(1000 + 300 * x + 50 * y); });
    }
    grey.SetLevel(0, 1000.0, 2020.0);
    grey.SetLevel(1, 0.0, 1.0);
    grey.SetLevel(2, -5000.0, 5000.0);
    const CImgBright out = Brightened(grey, 7.0, -40.0, 100.0);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(At(out, x, y, 1), At(out, x, y, 0));
            EXPECT_EQ(At(out, x, y, 2), At(out, x, y, 0));
        }
    }
}

using BrightEachTarget = orbimg::test::EachTarget;
ORBIMG_EACH_TARGET(BrightEachTarget);

TEST_P(BrightEachTarget, MatchesTheFloatExpression)
{
    const CKelImage src = RandomImage(37, 9, 3, 2, true);
    CKelImage leveled = src;
    leveled.SetLevel(0, 812.5, 1377.25);
    const CImgBright out = Brightened(leveled, 12.3, -77.7, 140.1);
    const float m = 812.5f;
    const float r = static_cast<float>(1377.25 - 812.5);
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 37; ++x) {
                ASSERT_TRUE(SameSample(At(out, x, y, p), Changed(At(src, x, y, p), m, r, 12.3f, -77.7f, 140.1f)))
                    << x << "," << y << " plane " << p;
            }
        }
    }
}

TEST(Bright, OnlyTheWindowChanges)
{
    const CKelImage src = RandomImage(9, 6, 3, 3);
    CRect rect(2, 1, 7, 4);
    const CImgBright out = Brightened(src, 20.0, 0.0, 0.0, &rect);
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 9; ++x) {
                const bool inside = x >= 2 && x < 7 && y >= 1 && y < 4;
                if (inside) {
                    EXPECT_EQ(At(out, x, y, p), At(src, x, y, p) + 20.0f);
                } else {
                    EXPECT_TRUE(SameBits(At(out, x, y, p), At(src, x, y, p)));
                }
            }
        }
    }
    // Clipped to the image; outside or inverted windows change nothing.
    CRect big(-5, -5, 100, 100);
    EXPECT_EQ(At(Brightened(src, 20.0, 0.0, 0.0, &big), 8, 5, 2), At(src, 8, 5, 2) + 20.0f);
    CRect outside(20, 0, 30, 6);
    CRect inverted(6, 4, 2, 1);
    EXPECT_TRUE(SameImage(Brightened(src, 20.0, 0.0, 0.0, &outside), src));
    EXPECT_TRUE(SameImage(Brightened(src, 20.0, 0.0, 0.0, &inverted), src));
}

TEST(Bright, DoBrightClipsItsBounds)
{
    const CKelImage src = RandomImage(5, 4, 1, 4);
    BrightProbe probe;
    probe = src;
    CKelImage source = src;
    probe.DoBright(5.0f, 0.0f, 0.0f, &source, -3, 99, -1, 2);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(At(probe, x, 1), At(src, x, 1) + 5.0f);
        EXPECT_EQ(At(probe, x, 2), At(src, x, 2));
    }
}

TEST(Bright, SourceThatCannotCoverChangesNothing)
{
    const CKelImage image = RandomImage(5, 4, 3, 5);
    CKelImage narrow = RandomImage(4, 4, 3, 6);
    CKelImage mono = RandomImage(5, 4, 1, 7);
    for (CKelImage* src : {&narrow, &mono, static_cast<CKelImage*>(nullptr)}) {
        CImgBright op;
        op = image;
        op.Do(30.0, 10.0, 0.0, src, nullptr, 0);
        EXPECT_TRUE(SameImage(op, image));
    }
    // An object smaller than the source takes its size (parallel_test.cpp).
    CKelImage big = RandomImage(8, 8, 3, 8);
    CImgBright op;
    op = image;
    op.Do(30.0, 0.0, 0.0, &big, nullptr, 0);
    EXPECT_EQ(op.GetWidth(), 8);
    EXPECT_EQ(At(op, 7, 7, 2), At(big, 7, 7, 2) + 30.0f);
}

TEST(Bright, FlatWindowChangesNothing)
{
    CKelImage src = RandomImage(4, 3, 1, 9);
    src.SetLevel(0, 500.0, 500.0);
    EXPECT_TRUE(SameImage(Brightened(src, 10.0, 10.0, 0.0), src));
}

TEST(Bright, ItselfAsSource)
{
    CKelImage src = RandomImage(6, 3, 3, 10);
    src.SetLevel(0, 700.0, 1300.0);
    CImgBright self;
    self = src;
    self.SetStdCtr(1.0, 1.0);
    self.Do(-15.0, 90.0, 30.0, &self, nullptr, 0);
    EXPECT_TRUE(SameImage(self, Brightened(src, -15.0, 90.0, 30.0)));
    EXPECT_EQ(self.GetStdCtr().x, 1.0);
}

}  // namespace
}  // namespace orbimg::test
