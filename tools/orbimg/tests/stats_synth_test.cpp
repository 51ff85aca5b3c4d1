// The tool's own plane statistics, and the synthetic star field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "planestats.h"
#include "synth.h"

namespace orbimg::tool {
namespace {

TEST(PlaneStats, FiniteSamplesOnly)
{
    CKelImage image(3, 2, 1, -32, 1.0, 0.0, 1);
    const float inf = std::numeric_limits<float>::infinity();
    const float values[6] = {4, std::nanf(""), 1, -inf, 3, 2};
    for (int i = 0; i < 6; ++i) {
        *image.GetImageAdr(i % 3, i / 3, 0, 0, nullptr) = values[i];
    }
    const PlaneStats s = MeasurePlane(image, 0);
    EXPECT_EQ(s.finite, 4);
    EXPECT_EQ(s.blank, 2);
    EXPECT_EQ(s.min, 1.0);
    EXPECT_EQ(s.max, 4.0);
    EXPECT_EQ(s.mean, 2.5);
    EXPECT_EQ(s.stddev, std::sqrt(1.25));  // population: divided by 4
    EXPECT_EQ(s.median, 3.0);              // index 4 / 2 of 1 2 3 4: the upper middle
    EXPECT_TRUE(std::isnan(MeasurePlane(image, 0, false).median));
    const auto extremes = FiniteExtremes(image, 0);
    ASSERT_TRUE(extremes);
    EXPECT_EQ(extremes->first, 1.0f);
    EXPECT_EQ(extremes->second, 4.0f);
}

TEST(PlaneStats, NoFiniteSample)
{
    CKelImage image(2, 1, 1, -32, 1.0, 0.0, 1);
    *image.GetImageAdr(0, 0, 0, 0, nullptr) = std::nanf("");
    *image.GetImageAdr(1, 0, 0, 0, nullptr) = std::numeric_limits<float>::infinity();
    const PlaneStats s = MeasurePlane(image, 0);
    EXPECT_EQ(s.finite, 0);
    EXPECT_EQ(s.blank, 2);
    EXPECT_TRUE(std::isnan(s.mean));
    EXPECT_FALSE(FiniteExtremes(image, 0));
}

FieldParams SmallField()
{
    FieldParams params;
    params.width = 240;
    params.height = 160;
    params.stars = 40;
    params.saturatedStars = 2;
    params.blanks = 5;
    params.fwhm = 4.0;
    params.seed = 7;
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
    FieldParams other = SmallField();
    other.seed = 8;
    const SynthField c = SynthesizeField(other);
    EXPECT_NE(c.stars[0].position.x, a.stars[0].position.x);
}

TEST(Synthesis, StarsBlanksAndSaturationWhereTheListsSay)
{
    const FieldParams params = SmallField();
    const SynthField f = SynthesizeField(params);
    const CKelImage& image = *f.image;
    ASSERT_EQ(f.stars.size(), 42u);
    ASSERT_EQ(f.blanks.size(), 5u);
    int saturated = 0;
    for (const auto& star : f.stars) {
        const CfPoint c = FitsToLibrary(star.position, params.height);
        const int x = static_cast<int>(std::lround(c.x));
        const int y = static_cast<int>(std::lround(c.y));
        const float centre = *image.GetImageAdr(x, y, 1, 1, nullptr);
        if (star.saturated) {
            ++saturated;
            EXPECT_EQ(centre, 65535.0f);
        } else {
            EXPECT_GT(centre, 1000.0 + 0.4 * star.peak);  // well above the sky at the centre
        }
    }
    EXPECT_EQ(saturated, 2);
    for (const auto& blank : f.blanks) {
        const CfPoint c = FitsToLibrary(blank, params.height);
        for (int p = 0; p < 3; ++p) {
            EXPECT_TRUE(std::isnan(*image.GetImageAdr(c.IntX(), c.IntY(), p, 1, nullptr)));
        }
    }
    float highest = 0.0f;
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < params.height; ++y) {
            const float* row = image.GetImageAdr(0, y, p, 1, nullptr);
            for (int x = 0; x < params.width; ++x) {
                if (!std::isnan(row[x])) {
                    highest = std::max(highest, row[x]);
                }
            }
        }
    }
    EXPECT_EQ(highest, 65535.0f);
}

TEST(Synthesis, TheSkyDarkensUpward)
{
    const FieldParams params = SmallField();
    const SynthField f = SynthesizeField(params);
    // Median of the top and bottom rows of green: 1000 and 1200 plus noise.
    auto rowMedian = [&](int y) {
        const float* row = f.image->GetImageAdr(0, y, 1, 1, nullptr);
        std::vector<float> v(row, row + params.width);
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    EXPECT_NEAR(rowMedian(0), 1015.0f, 8.0f);
    EXPECT_NEAR(rowMedian(params.height - 1), 1215.0f, 8.0f);
}

TEST(Synthesis, StarsHaveTheFwhmGiven)
{
    const FieldParams params = SmallField();
    const SynthField f = SynthesizeField(params);
    // The brightest unsaturated star: its second moments over a box give sigma.
    const SynthStar* best = nullptr;
    for (const auto& star : f.stars) {
        if (!star.saturated && (!best || star.peak > best->peak)) {
            best = &star;
        }
    }
    ASSERT_NE(best, nullptr);
    const CfPoint c = FitsToLibrary(best->position, params.height);
    const int cx = static_cast<int>(std::lround(c.x));
    const int cy = static_cast<int>(std::lround(c.y));
    std::vector<float> border;
    for (int y = cy - 8; y <= cy + 8; ++y) {
        for (int x = cx - 8; x <= cx + 8; ++x) {
            if (std::abs(x - cx) == 8 || std::abs(y - cy) == 8) {
                border.push_back(*f.image->GetImageAdr(x, y, 1, 1, nullptr));
            }
        }
    }
    std::nth_element(border.begin(), border.begin() + border.size() / 2, border.end());
    const double sky = border[border.size() / 2];
    double sum = 0.0;
    double sxx = 0.0;
    double syy = 0.0;
    for (int y = cy - 7; y <= cy + 7; ++y) {
        for (int x = cx - 7; x <= cx + 7; ++x) {
            const double w = *f.image->GetImageAdr(x, y, 1, 1, nullptr) - sky;
            sum += w;
            sxx += w * (x - c.x) * (x - c.x);
            syy += w * (y - c.y) * (y - c.y);
        }
    }
    const double sigma = params.fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    EXPECT_NEAR(std::sqrt(sxx / sum), sigma, 0.05 * sigma);
    EXPECT_NEAR(std::sqrt(syy / sum), sigma, 0.05 * sigma);
}

}  // namespace
}  // namespace orbimg::tool
