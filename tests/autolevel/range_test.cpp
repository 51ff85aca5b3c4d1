// Auto level by range and percentiles: the walks against the numpy
// reference and the rounding of 1 - high (luminance and per-plane modes, the
// getter inverting the setter, empty, flat and NaN windows: mean_median_test).
#include <utility>
#include <vector>

#include "autolevel_support.h"

using namespace orbimg::test;

namespace {

// The reference file: sections of four numbers per line, in the order the
// script writes them, then the two-value images' lines of five.
struct Reference {
    std::vector<double> v = ReadNumbers("autolevel_reference.txt");
    static constexpr int kPairs = 7;
    static constexpr int kLevels = 4;
    static constexpr int kTwoValues = 3;
    const double* Mono(int i) const { return &v[4 * i]; }
    const double* MonoParams(int i) const { return &v[4 * (kPairs + i)]; }
    const double* Color(int i) const { return &v[4 * (kPairs + kLevels + i)]; }
    const double* TwoValues(int i) const { return &v[4 * (2 * kPairs + kLevels) + 5 * i]; }
};

}  // namespace

TEST(AutoLevelRange, PercentileWalksMatchReferenceAndTruncatedTargets)
{
    const Reference ref;
    ASSERT_EQ(ref.v.size(), 4u * (2 * Reference::kPairs + Reference::kLevels) + 5u * Reference::kTwoValues);
    const CImgAutoLevel mono = HashImage(120, 90, 1);
    for (int i = 0; i < Reference::kPairs; ++i) {
        const double* r = ref.Mono(i);
        // Method 0 and any number that is not another method; a mono image
        // is per plane either way.
        for (const auto& [method, perPlane] : {std::pair{0, 0}, std::pair{3, 1}, std::pair{-1, 0}}) {
            CImgAutoLevel img = mono;
            img.Do(r[0], r[1], method, perPlane, nullptr);
            EXPECT_EQ(Levels(img, 0), std::make_pair(r[2], r[3])) << "low " << r[0] << " high " << r[1];
        }
    }
    for (int i = 0; i < Reference::kLevels; ++i) {
        const double* r = ref.MonoParams(i);
        CImgAutoLevel img = mono;
        img.SetLevel(0, r[0], r[1]);
        EXPECT_EQ(Get(img, i % 2 ? 0 : -1, nullptr), std::make_pair(r[2], r[3])) << "levels " << r[0] << " " << r[1];
    }

    CImgAutoLevel color = HashImage(128, 96, 3);
    color.SetLevel(0, 950.0, 1150.0);
    color.SetLevel(1, 900.0, 1300.0);
    color.SetLevel(2, 1000.0, 1100.0);
    for (int i = 0; i < Reference::kPairs; ++i) {
        const double* r = ref.Color(i);
        CImgAutoLevel img = color;
        img.DoByNormal(r[0], r[1], 0, nullptr);
        EXPECT_EQ(Levels(img, 0), std::make_pair(r[2], r[3])) << "low " << r[0] << " high " << r[1];
    }
    // Zeros then 5000s: the targets truncated, 1 - high rounded below 0.1,
    // fractions beyond the extremes (the reasoning is in the script).
    for (int i = 0; i < Reference::kTwoValues; ++i) {
        const double* r = ref.TwoValues(i);
        CImgAutoLevel img = MakeAuto(100, 100);
        Fill(img, 0, [r](int x, int y) { return x + 100 * y < r[0] ? 0.0f : 5000.0f; });
        img.DoByNormal(r[1], r[2], 0, nullptr);
        EXPECT_EQ(Levels(img, 0), std::make_pair(r[3], r[4])) << r[0] << " zeros, low " << r[1] << " high " << r[2];
    }
}
