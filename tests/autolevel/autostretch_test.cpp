// CImgAutoLevel::DoAutoStretch: shadows at the median less 2.8 normalised
// MADs, highlights at the greatest sample, the median brought to 0.25;
// linked and per plane, against medians and MADs taken by sorting.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "support/testsupport.h"

namespace orbimg::test {
namespace {

// A sky with noise and a few stars, different per plane, shifted by offset
// (below zero: negative keys in the median's radix passes), two NaN and two
// infinities.
CImgAutoLevel Field(double offset)
{
    CImgAutoLevel img(97, 61, 3, -32, 1.0, 0.0, 1);
    std::uint32_t s = 12345;
    auto next = [&s] {
        s = s * 1664525u + 1013904223u;
        return static_cast<double>(s >> 8) / 16777216.0;
    };
    Fill(img, [&](int x, int y, int p) {
        double v = 800.0 + 150.0 * p - 3.0 * (10.0 + 5.0 * p);  // a peaked sky: six uniform terms
        for (int k = 0; k < 6; ++k) {
            v += next() * (10.0 + 5.0 * p);
        }
        if ((x * 7 + y * 13) % 211 == 0) {
            v += 20000.0 + 9000.0 * p;
        }
        return static_cast<float>(v + offset);
    });
    *img.GetImageAdr(3, 4, 1, 0, nullptr) = NAN;
    *img.GetImageAdr(50, 40, 0, 0, nullptr) = NAN;
    *img.GetImageAdr(10, 10, 2, 0, nullptr) = INFINITY;
    *img.GetImageAdr(20, 5, 0, 0, nullptr) = -INFINITY;
    return img;
}

struct Figures {
    double min, max, median, mad;
};

Figures BySorting(const CKelImage& img, int p)
{
    std::vector<double> v;
    for (const float s : Samples(img, p)) {
        if (std::isfinite(s)) {
            v.push_back(s);
        }
    }
    std::sort(v.begin(), v.end());
    const double median = v[v.size() / 2];
    std::vector<double> d;
    for (const double s : v) {
        d.push_back(std::fabs(s - median));
    }
    std::sort(d.begin(), d.end());
    return {v.front(), v.back(), median, d[d.size() / 2]};
}

class AutoStretch : public testing::TestWithParam<double> {};

TEST_P(AutoStretch, MedianToTargetLinkedAndPerPlane)
{
    const CImgAutoLevel field = Field(GetParam());
    Figures f[3];
    double lo[3];
    for (int p = 0; p < 3; ++p) {
        f[p] = BySorting(field, p);
        lo[p] = std::clamp(f[p].median - 2.8 * 1.4826 * f[p].mad, f[p].min, f[p].max);
        ASSERT_GT(lo[p], f[p].min);  // the shadows come from the MAD, not the clamp
    }
    for (const int kind : {CDisplayStretch::kMTF, CDisplayStretch::kAsinh, CDisplayStretch::kLog}) {
        CImgAutoLevel img = field;
        img.DoAutoStretch(kind, 0);
        ASSERT_EQ(img.GetStretch().GetKind(), kind);
        for (int p = 0; p < 3; ++p) {
            EXPECT_DOUBLE_EQ(img.GetLevelMin(p), lo[p]) << "plane " << p;
            EXPECT_DOUBLE_EQ(img.GetLevelMax(p), f[p].max) << "plane " << p;
            const double t = (f[p].median - lo[p]) / (f[p].max - lo[p]);
            EXPECT_NEAR(img.GetStretch().Apply(t, p), 0.25, 1e-9) << "kind " << kind << " plane " << p;
        }

        img = field;
        img.DoAutoStretch(kind, 1, -2.0, 0.3);
        double low = 0.0;
        double high = 0.0;
        double median = 0.0;
        for (int p = 0; p < 3; ++p) {
            low += std::clamp(f[p].median - 2.0 * 1.4826 * f[p].mad, f[p].min, f[p].max) / 3.0;
            high = std::max(high, f[p].max);
            median += f[p].median / 3.0;
        }
        for (int p = 0; p < 3; ++p) {
            EXPECT_NEAR(img.GetLevelMin(p), low, 1e-9);
            EXPECT_EQ(img.GetLevelMax(p), high);
            EXPECT_EQ(img.GetStretch().GetParam(p), img.GetStretch().GetParam(0));
        }
        EXPECT_NEAR(img.GetStretch().Apply((median - low) / (high - low), 0), 0.3, 1e-9) << "kind " << kind;
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, AutoStretch, testing::Values(0.0, -1500.0));

TEST(AutoStretchBlank, NothingChangesWithoutAFiniteSample)
{
    CImgAutoLevel blank(4, 4, 1, -32, 1.0, 0.0, 1);
    Fill(blank, 0, [](int, int) { return NAN; });
    blank.SetLevel(0, 1.0, 2.0);
    blank.DoAutoStretch(CDisplayStretch::kMTF, 1);
    EXPECT_EQ(blank.GetLevelMin(0), 1.0);
    EXPECT_TRUE(blank.GetStretch().IsLinear());
}

}  // namespace
}  // namespace orbimg::test
