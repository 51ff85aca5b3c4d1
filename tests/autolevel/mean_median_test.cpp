// Auto level by mean and by median (through the method numbers), the extremes
// the range walks start from, and of all three methods the luminance and
// per-plane modes, the getters inverting the setters and empty, flat and NaN
// windows.
#include <algorithm>
#include <cmath>
#include <vector>

#include "autolevel/samples.h"
#include "autolevel_support.h"

using namespace orbimg::test;

namespace {

// The levels c - d low, d high + c of a list, d the root-mean-square
// deviation from the centre c (the mean, summed in order, when NaN).
std::pair<double, double> SpreadLevels(const std::vector<float>& v, double low, double high, double c = NAN)
{
    double sum = 0.0;
    for (float x : v) {
        sum += x;
    }
    c = std::isnan(c) ? sum / static_cast<double>(v.size()) : c;
    double sq = 0.0;
    for (float x : v) {
        sq += (x - c) * (x - c);
    }
    const double d = std::sqrt(sq / static_cast<double>(v.size()));
    return {c - d * low, d * high + c};
}

float Median(CImgAutoLevel& img, int blockSampling, int luminance = 0, int plane = 0, CRect* rect = nullptr)
{
    float m = -1.0f;
    img.GetMedian(&m, blockSampling, luminance, plane, rect);
    return m;
}

}  // namespace

TEST(AutoLevelLuma, ExtremesKeepTheFirstOfEqualValues)
{
    // Lanes find the extremes; a zero takes the sign of the first zero in
    // window order, as a scan from the first value would keep it.
    const auto extremes = [](std::initializer_list<float> values) {
        CKelImage img = MakeImage(static_cast<int>(values.size()), 1);
        Fill(img, 0, values);
        orbimg::detail::Window w{0, 0, img.GetWidth(), 1};
        return orbimg::detail::FindExtremes(img, w, orbimg::detail::SampleSet::Plane, 0);
    };
    auto e = extremes({kNaN, 3, -0.0f, 5, 0.0f, kNaN, 7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    EXPECT_TRUE(SameBits(e.min, -0.0f));
    EXPECT_EQ(e.max, 11.0f);
    EXPECT_EQ(e.count, 16);
    e = extremes({0.0f, 4, 4, 4, 4, 4, 4, 4, 4, 4, -0.0f, 1});
    EXPECT_TRUE(SameBits(e.min, 0.0f));
    e = extremes({-1, -2, -0.0f, -3, -4, -5, -6, -7, -8, -9, 0.0f});
    EXPECT_TRUE(SameBits(e.max, -0.0f));
    EXPECT_EQ(e.min, -9.0f);
    EXPECT_EQ(extremes({kNaN, kNaN}).count, 0);
}

TEST(AutoLevelMedian, UpperMiddleValuesAndBlockSampling)
{
    CImgAutoLevel img = MakeAuto(2, 2);
    Fill(img, 0, {10, 2, 3, 1});
    EXPECT_EQ(Median(img, 0), 3.0f);        // index 2 of 1, 2, 3, 10: not 2.5
    EXPECT_EQ(Median(img, 1, 1, 2), 3.0f);  // a mono image ignores plane and luminance
    Fill(img, 0, {5, kNaN, 1, 3});          // NaN samples are dropped: 1, 3, 5 remain
    EXPECT_EQ(Median(img, 0), 3.0f);
    Fill(img, 0, {kNaN, kNaN, kNaN, kNaN});  // no value: 0.0
    EXPECT_EQ(Median(img, 0), 0.0f);
    CRect outside(2, 0, 5, 2);
    Fill(img, 0, {1, 2, 3, 4});
    EXPECT_EQ(Median(img, 0, 0, 0, &outside), 0.0f);

    // Colour: the raw luminance (no levels), or one plane.
    CImgAutoLevel color = MakeAuto(3, 1, 3);
    Fill(color, [](int x, int, int p) { return x == p ? 100.0f : 0.0f; });  // 100 on the diagonal
    color.SetLevel(0, 50.0, 51.0);
    EXPECT_EQ(Median(color, 0, 1, 0), static_cast<float>(0.299 * 100.0));  // 11.4, 29.9, 58.7
    EXPECT_EQ(Median(color, 0, 0, 2), 0.0f);                               // 0, 0, 100
    // 50000 and 60000 pixels keep s = 1: the median of every sample.
    for (const auto& [w, h] : {std::pair{250, 200}, std::pair{300, 200}}) {
        CImgAutoLevel img = HashImage(w, h, 1);
        std::vector<float> all = Samples(img);
        std::nth_element(all.begin(), all.begin() + all.size() / 2, all.end());
        EXPECT_EQ(Median(img, 1), all[all.size() / 2]) << w << " x " << h;
    }

    // 1000 x 1000: s = 4, 250 x 250 blocks. A block holds 15 samples of v
    // and one of v + 8 (sum 16 v + 8, exact in float), v a permutation of
    // 0 .. 62499 over the blocks: the median is element 31250 of the sums,
    // 500008, over 16 = 31250.5. The median of every sample is 31250.
    CImgAutoLevel big = MakeAuto(1000, 1000);
    Fill(big, 0, [](int x, int y) {
        const int block = (y / 4) * 250 + x / 4;
        const float v = static_cast<float>(static_cast<long long>(block) * 7919 % 62500);
        return (x % 4 == 0 && y % 4 == 0) ? v + 8.0f : v;
    });
    EXPECT_EQ(Median(big, 1), 31250.5f);
    EXPECT_EQ(Median(big, 0), 31250.0f);

    // A window narrower than the block still has a median (s at most the
    // shorter side): 150001 x 1 would give s = 2. x % 1000 holds 0 151 times
    // and 1 .. 999 150 times each: element 75000 is 499.
    CImgAutoLevel strip = MakeAuto(150001, 1);
    Fill(strip, 0, [](int x, int) { return static_cast<float>(x % 1000); });
    EXPECT_EQ(Median(strip, 1), 499.0f);
}

// By mean (method 1) on four values; by median (method 2) the
// root-mean-square deviation from the median, 0 and 0 giving the median.
TEST(AutoLevelMeanMedian, LevelsFromTheCentreAndTheSpread)
{
    CImgAutoLevel img = MakeAuto(2, 2);
    Fill(img, 0, {1, 2, 3, 4});
    img.Do(1.0, 2.0, 1, 1, nullptr);  // mono: linked, whatever perPlane
    EXPECT_EQ(Levels(img, 0), std::make_pair(2.5 - std::sqrt(1.25), 2 * std::sqrt(1.25) + 2.5));
    CImgAutoLevel hash = HashImage(60, 40, 1);
    const double median = Median(hash, 1);
    CImgAutoLevel zero = hash;
    zero.DoByMedian(0.0, 0.0, 0, nullptr);
    EXPECT_EQ(Levels(zero, 0), std::make_pair(median, median));
    hash.Do(1.0, 5.0, 2, 1, nullptr);
    EXPECT_EQ(Levels(hash, 0), SpreadLevels(Samples(hash), 1.0, 5.0, median));
}

// Colour, in a window. Per plane: by range each plane's extremes over the
// whole image, not the window; by mean and by median each plane its own
// statistics. Luminance, installed linked on all three planes: by range the
// window's display luminance extremes on plane 0's raw scale; by mean the
// statistics of its raw luminance.
TEST(AutoLevelAllMethods, LuminanceAndPerPlaneModes)
{
    CImgAutoLevel color = ColorImage(false);
    CRect rect(5, 4, 31, 22);   // without plane 2's extremes
    std::vector<float> set[5];  // the planes, raw and display luminance
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            float* s[3];
            for (int p = 0; p < 3; ++p) {
                s[p] = color.GetImageAdr(x, y, p, 1, nullptr);
                set[p].push_back(*s[p]);
            }
            set[3].push_back(color.GetPixelBrightRaw(s[0], s[1], s[2]));
            set[4].push_back(color.GetPixelBright256f(x, y));
        }
    }
    CImgAutoLevel ranges = color;
    ranges.DoByNormal(0.0, 1.0, 1, &rect);
    CImgAutoLevel means = color;
    means.Do(2.0, 3.0, 1, 1, &rect);
    CImgAutoLevel medians = color;
    medians.Do(1.0, 2.0, 2, 1, &rect);
    for (int p = 0; p < 3; ++p) {
        double lo;
        double hi;
        color.GetMinMax(p, &lo, &hi);
        EXPECT_EQ(Levels(ranges, p), std::make_pair(lo, hi)) << p;
        EXPECT_EQ(Levels(means, p), SpreadLevels(set[p], 2.0, 3.0)) << p;
        EXPECT_EQ(Levels(medians, p), SpreadLevels(set[p], 1.0, 2.0, Median(color, 1, 0, p, &rect))) << p;
    }

    const auto [yMin, yMax] = std::minmax_element(set[4].begin(), set[4].end());
    CImgAutoLevel linked = color;
    linked.SetLevel(-1, color.ToRaw(static_cast<double>(*yMin), 0), color.ToRaw(static_cast<double>(*yMax), 0));
    CImgAutoLevel rangeLuma = color;
    rangeLuma.DoByNormal(0.0, 1.0, 0, &rect);
    EXPECT_EQ(LevelList(rangeLuma), LevelList(linked));
    EXPECT_NE(Levels(rangeLuma, 1), Levels(ranges, 1));
    const auto [low, high] = SpreadLevels(set[3], 2.0, 3.0);
    CImgAutoLevel meanLinked = color;
    meanLinked.SetLevel(-1, low, high);
    CImgAutoLevel meanLuma = color;
    meanLuma.Do(2.0, 3.0, 1, 0, &rect);
    EXPECT_EQ(LevelList(meanLuma), LevelList(meanLinked));
}

TEST(AutoLevelAllMethods, GettersInvertTheSetters)
{
    for (const int method : {1, 2}) {
        for (const bool mono : {true, false}) {
            CImgAutoLevel img = mono ? HashImage(40, 30, 1) : ColorImage(true);
            CRect rect(1 + method, 2, 37, 29);
            img.Do(1.5, 4.25 + method, method, 0, &rect);
            // The luminance set is rounded to float on the new levels' scale.
            const auto [low, high] = Get(img, method, &rect);
            EXPECT_NEAR(low, 1.5, 1e-6) << method << " " << mono;
            EXPECT_NEAR(high, 4.25 + method, 1e-6) << method << " " << mono;
        }
    }
    // One sample of every value 0 .. 9999: two per bin, so a percentile is
    // read back to within a few bins' share.
    CImgAutoLevel img = MakeAuto(100, 100);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x + 100 * (y * 13 % 100)); });
    CRect window(0, 0, 100, 100);
    for (const auto& [low, high] :
         {std::pair{0.05, 0.95}, std::pair{0.3, 0.6}, std::pair{-0.1, 1.1}, std::pair{0.0, 1.0}, std::pair{0.2, 2.0}}) {
        img.DoByNormal(low, high, 0, &window);
        const auto [l, h] = Get(img, 0, &window);
        EXPECT_NEAR(l, low, 1e-3) << low;
        EXPECT_NEAR(h, high, 1e-3) << high;
    }
    // The getter's fraction branch with a level at and below the minimum.
    img.SetLevel(0, 0.0, 9999.0);
    EXPECT_EQ(Get(img, 0, nullptr), std::make_pair(0.0, 1.0));
    img.SetLevel(0, -9999.0, 9999.0);
    EXPECT_EQ(Get(img, 0, nullptr).first, -1.0);
}

TEST(AutoLevelAllMethods, EmptyFlatAndNaNWindows)
{
    CImgAutoLevel img = ColorImage(false, 20, 12);
    CImgAutoLevel nan = img;  // a NaN last row, and NaN at the windows' first pixel
    for (int p = 0; p < 3; ++p) {
        for (int x = 0; x < 20; ++x) {
            *nan.GetImageAdr(x, 11, p, 0, nullptr) = kNaN;
        }
    }
    *nan.GetImageAdr(0, 0, 0, 0, nullptr) = kNaN;
    CImgAutoLevel flat = MakeAuto(5, 5);
    Fill(flat, 0, [](int, int) { return 7.0f; });
    CRect upper(0, 0, 20, 11);
    CRect last(0, 11, 20, 12);
    const double args[3][2] = {{0.02, 0.97}, {1.0, 2.0}, {1.0, 2.0}};
    for (int method : {0, 1, 2}) {
        const double low = args[method][0];
        const double high = args[method][1];
        for (int perPlane : {0, 1}) {
            // Empty after clipping (at the right and bottom edges too): nothing
            // changes. NaN samples are skipped: the NaN last row measures as the
            // window without it; all NaN changes nothing.
            for (CRect rect : {CRect(20, 0, 30, 12), CRect(0, 12, 20, 40), CRect(5, 5, 5, 9)}) {
                CImgAutoLevel copy = img;
                copy.Do(low, high, method, perPlane, &rect);
                EXPECT_EQ(Get(img, method, &rect), std::make_pair(0.0, 1.0));
                EXPECT_EQ(LevelList(copy), LevelList(img)) << method << " " << perPlane;
            }
            CImgAutoLevel a = nan;
            CImgAutoLevel b = nan;
            CImgAutoLevel c = nan;
            a.Do(low, high, method, perPlane, nullptr);
            b.Do(low, high, method, perPlane, &upper);
            c.Do(low, high, method, perPlane, &last);
            EXPECT_EQ(LevelList(a), LevelList(b)) << method << " " << perPlane;
            EXPECT_EQ(LevelList(c), LevelList(nan)) << method << " " << perPlane;
        }
        EXPECT_EQ(Get(nan, method, nullptr), Get(nan, method, &upper)) << method;
        EXPECT_EQ(Get(nan, method, &last), std::make_pair(0.0, 1.0)) << method;
        // Flat: both ends at the value; the getters write 0 and 1.
        flat.Do(low, high, method, 0, nullptr);
        EXPECT_EQ(Levels(flat, 0), std::make_pair(7.0, 7.0)) << method;
        flat.SetLevel(0, 0.0, 10.0);
        EXPECT_EQ(Get(flat, method, nullptr), std::make_pair(0.0, 1.0)) << method;
    }
}
