// CImgBright: worked examples, the single-precision expression with plane 0's
// levels for every plane, the window (in place and refusals: parallel_test.cpp).
#include "support/eachtarget.h"
#include "transformtest.h"

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
    return Applied<CImgBright>(src,
                               [&](CImgBright& op, CKelImage& s) { op.Do(brightness, contrast, pivot, &s, rect, 0); });
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
    EXPECT_EQ(Samples(Brightened(src, 10.0, 0.0, 77.0)), (std::vector<float>{10, 74, 138, 202}));
    // Contrast 256 around 128 doubles the distance from 128.
    EXPECT_EQ(Samples(Brightened(src, 0.0, 256.0, 128.0)), (std::vector<float>{-128, 0, 128, 256}));
    // Levels 1000..2020: one display unit is 4 raw units.
    CKelImage wide = MakeImage(3, 1, 1);
    Fill(wide, 0, {1000, 1500, 3000});
    wide.SetLevel(0, 1000.0, 2020.0);
    EXPECT_EQ(Samples(Brightened(wide, 1.0, 0.0, 0.0)), (std::vector<float>{1004, 1504, 3004}));
    // A flat window changes nothing.
    wide.SetLevel(0, 500.0, 500.0);
    EXPECT_TRUE(SameImage(Brightened(wide, 10.0, 10.0, 0.0), wide));
}

using BrightEachTarget = orbimg::test::EachTarget;
ORBIMG_EACH_TARGET(BrightEachTarget);

TEST_P(BrightEachTarget, MatchesTheFloatExpressionWithPlaneZeroLevels)
{
    // Planes 1 and 2 keep their own levels (0..255) but take plane 0's.
    const CKelImage src = RandomImage(37, 9, 3, 2, true);
    CKelImage leveled = src;
    leveled.SetLevel(0, 812.5, 1377.25);
    const CImgBright out = Brightened(leveled, 12.3, -77.7, 140.1);
    const float r = static_cast<float>(1377.25 - 812.5);
    CKelImage want = src;
    Fill(want, [&](int x, int y, int p) { return Changed(At(src, x, y, p), 812.5f, r, 12.3f, -77.7f, 140.1f); });
    EXPECT_TRUE(SameImage(out, want));
}

TEST(Bright, OnlyTheWindowChanges)
{
    const CKelImage src = RandomImage(9, 6, 3, 3);
    const struct {
        CRect rect;
        CRect inside;  // after clipping
    } cases[] = {
        {CRect(2, 1, 7, 4), CRect(2, 1, 7, 4)},
        {CRect(-5, -5, 100, 100), CRect(0, 0, 9, 6)},
        {CRect(20, 0, 30, 6), CRect()},
        {CRect(6, 4, 2, 1), CRect()},  // inverted
    };
    for (const auto& c : cases) {
        CRect rect = c.rect;
        CKelImage want = src;
        Fill(want, [&](int x, int y, int p) {
            const bool inside = x >= c.inside.left && x < c.inside.right && y >= c.inside.top && y < c.inside.bottom;
            return At(src, x, y, p) + (inside ? 20.0f : 0.0f);
        });
        EXPECT_TRUE(SameImage(Brightened(src, 20.0, 0.0, 0.0, &rect), want)) << c.rect.left << "," << c.rect.top;
    }
    // The row operation clips its own bounds.
    BrightProbe probe;
    probe = src;
    CKelImage source = src;
    probe.DoBright(5.0f, 0.0f, 0.0f, &source, -3, 99, -1, 2);
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(At(probe, x, 1), At(src, x, 1) + 5.0f);
        EXPECT_EQ(At(probe, x, 2), At(src, x, 2));
    }
}

}  // namespace
}  // namespace orbimg::test
