// CImgAutoLevel::DoAutoStretch: shadows at the median less 2.8 normalised
// MADs, highlights at the greatest sample, the median brought to 0.25;
// linked and per plane, against medians and MADs taken by sorting. The
// median and MAD themselves, exact for any guess that steers their search.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "autolevel/samples.h"
#include "support/eachtarget.h"
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

// Fields of 300 x 229 (more samples than the subsample takes) that test
// each route of the median and MAD search.
float FieldSample(int kind, int x, int y)
{
    const std::uint32_t h =
        ((static_cast<std::uint32_t>(x) * 73856093u) ^ (static_cast<std::uint32_t>(y) * 19349663u)) * 2654435761u;
    const double u = static_cast<double>(h >> 8) / 16777216.0;
    switch (kind) {
    case 0:  // float sky
        return static_cast<float>(1000.0 + 30.0 * (u + static_cast<double>((h >> 3) & 255u) / 256.0));
    case 1:  // 16-bit sky: whole numbers, many ties
        return static_cast<float>(std::floor(500.0 + 40.0 * u + static_cast<double>((h >> 5) & 7u)));
    case 2:  // 60 % exactly zero: a MAD of 0
        return x < 180 ? 0.0f : static_cast<float>(u);
    case 3:  // the rows a subsample reads differ from the rest
        return static_cast<float>((y % 2 == 0 && x % 5 != 0) ? 5000.0 + u : u - 0.5);
    default:  // below zero, hot pixels at +-1e30, NaN and infinities
        if ((x * 7 + y * 3) % 97 == 0) {
            return (x % 2 ? 1.0f : -1.0f) * 1e30f;
        }
        if ((x + y) % 101 == 0) {
            return (x % 3 == 0) ? NAN : (x % 3 == 1 ? INFINITY : -INFINITY);
        }
        return static_cast<float>(-2000.0 + 3.0 * u);
    }
}

class StretchFiguresGuess : public testing::TestWithParam<int> {};

TEST_P(StretchFiguresGuess, ExactForEveryGuess)
{
    CImgAutoLevel img(300, 229, 1, -32, 1.0, 0.0, 1);
    Fill(img, 0, [](int x, int y) { return FieldSample(GetParam(), x, y); });
    const Figures want = BySorting(img, 0);
    const double spread = std::max(want.mad, 1.0);
    const detail::StretchGuess guesses[] = {
        {want.median, want.mad},                 // the window route
        {want.median, spread * 1e4},             // coarse bins
        {want.median + 100 * spread, spread},    // the median outside the window
        {want.median, spread * 1e-6},            // the MAD beyond the window
        {want.median + spread * 0.4, want.mad},  // off by less than the MAD
        {want.median, 0.0},                      // no window
        {NAN, NAN},
    };
    const detail::Window whole{0, 0, img.GetWidth(), img.GetHeight()};
    for (int g = -1; g < static_cast<int>(std::size(guesses)); ++g) {
        const detail::StretchFigures f = detail::MeasureStretchFigures(img, 0, whole, g < 0 ? nullptr : &guesses[g]);
        EXPECT_EQ(f.median, want.median) << "guess " << g;
        EXPECT_EQ(f.mad, want.mad) << "guess " << g;
        EXPECT_EQ(f.min, want.min) << "guess " << g;
        EXPECT_EQ(f.max, want.max) << "guess " << g;
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, StretchFiguresGuess, testing::Range(0, 5));

using FiniteExtremesEachTarget = EachTarget;
ORBIMG_EACH_TARGET(FiniteExtremesEachTarget);

// Every length up to a few vectors, the extremes at every position, with
// NaN, infinities and the float range's ends around them.
TEST_P(FiniteExtremesEachTarget, SkipsWhatIsNotFinite)
{
    for (int n = 1; n <= 37; ++n) {
        for (int at = 0; at < n; ++at) {
            std::vector<float> row(static_cast<std::size_t>(n));
            for (int x = 0; x < n; ++x) {
                const float fill[] = {NAN, INFINITY, -INFINITY, 3.0f, -2.5f};
                row[static_cast<std::size_t>(x)] = fill[x % 5];
            }
            row[static_cast<std::size_t>(at)] = -FLT_MAX;
            row[static_cast<std::size_t>(n - 1 - at)] = at == n - 1 - at ? -FLT_MAX : FLT_MAX;
            long long want = 0;
            float lo = HUGE_VALF;
            float hi = -HUGE_VALF;
            for (const float v : row) {
                if (std::isfinite(v)) {
                    ++want;
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
            float gotLo = HUGE_VALF;
            float gotHi = -HUGE_VALF;
            ASSERT_EQ(detail::FiniteExtremes(row.data(), n, gotLo, gotHi), want) << n << " " << at;
            ASSERT_EQ(gotLo, lo) << n << " " << at;
            ASSERT_EQ(gotHi, hi) << n << " " << at;
        }
    }
}

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
