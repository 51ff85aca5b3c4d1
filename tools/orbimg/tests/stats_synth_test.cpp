// The synthetic star field (the plane statistics: agree_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "starmeasure.h"
#include "synth.h"

namespace orbimg::tool {
namespace {

FieldParams SmallField(std::uint64_t seed = 7)
{
    FieldParams params;
    params.width = 240;
    params.height = 160;
    params.stars = 40;
    params.saturatedStars = 2;
    params.blanks = 5;
    params.fwhm = 4.0;
    params.seed = seed;
    return params;
}

TEST(Synthesis, SameParametersSameBits)
{
    const SynthField a = SynthesizeField(SmallField());
    const SynthField b = SynthesizeField(SmallField());
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < 160; ++y) {
            ASSERT_EQ(std::memcmp(a.image->GetImageAdr(0, y, p, 1, nullptr), b.image->GetImageAdr(0, y, p, 1, nullptr),
                                  240 * sizeof(float)),
                      0);
        }
    }
    EXPECT_NE(SynthesizeField(SmallField(8)).stars[0].position.x, a.stars[0].position.x);
}

// Stars, blanks and saturation where the lists say;
// the brightest unsaturated star measures the FWHM given.
TEST(Synthesis, TheFieldIsWhatItsListsSay)
{
    const FieldParams params = SmallField();
    const SynthField f = SynthesizeField(params);
    CKelImage& image = *f.image;
    ASSERT_EQ(f.stars.size(), 42u);
    ASSERT_EQ(f.blanks.size(), 5u);
    int saturated = 0;
    const SynthStar* best = nullptr;
    for (const auto& star : f.stars) {
        const CfPoint c = FitsToLibrary(star.position, params.height);
        const int x = static_cast<int>(std::lround(c.x));
        const float centre = *image.GetImageAdr(x, static_cast<int>(std::lround(c.y)), 1, 1, nullptr);
        if (star.saturated) {
            ++saturated;
            EXPECT_EQ(centre, 65535.0f);
        } else {
            EXPECT_GT(centre, 1000.0 + 0.4 * star.peak);  // well above the sky at the centre
            best = !best || star.peak > best->peak ? &star : best;
        }
    }
    EXPECT_EQ(saturated, 2);
    for (const auto& blank : f.blanks) {
        const CfPoint c = FitsToLibrary(blank, params.height);
        for (int p = 0; p < 3; ++p) {
            EXPECT_TRUE(std::isnan(*image.GetImageAdr(c.IntX(), c.IntY(), p, 1, nullptr)));
        }
    }

    ASSERT_NE(best, nullptr);
    const StarMeasurer measurer(image, params.saturation);
    const CfPoint c = FitsToLibrary(best->position, params.height);
    const StarReport report = measurer.Measure(measurer.PeaksNear({CPoint(c.IntX(), c.IntY())}));
    ASSERT_EQ(report.stars.size(), 1u);
    EXPECT_NEAR(report.stars[0].fwhm, params.fwhm, 0.05 * params.fwhm);
    EXPECT_NEAR(report.stars[0].position.x, best->position.x, 0.1);
    EXPECT_NEAR(report.stars[0].position.y, best->position.y, 0.1);
}

}  // namespace
}  // namespace orbimg::tool
