// Auto level by mean and by median, the dispatchers, and the luminance
// kernels they share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "autolevel/samples.h"
#include "autolevel_support.h"

using namespace orbimg::test;

namespace {

// v rounded to float in a way the optimiser keeps (an independent route to
// the luminance kernels).
float Round(double v)
{
    volatile float f = static_cast<float>(v);
    return f;
}

// Colour image with different levels per plane; the same levels on every
// plane when `sameLevels`.
CImgAutoLevel ColorImage(bool sameLevels)
{
    CImgAutoLevel img = HashImage(48, 36, 3);
    for (int p = 0; p < 3; ++p) {
        img.SetLevel(p, sameLevels ? 950.0 : 950.0 + 30 * p, sameLevels ? 1200.0 : 1200.0 + 77.7 * p);
    }
    return img;
}

// Sequential mean and sigma of a list.
std::pair<double, double> MeanSigma(const std::vector<float>& v)
{
    double sum = 0.0;
    for (float x : v) {
        sum += x;
    }
    const double mean = sum / static_cast<double>(v.size());
    double sq = 0.0;
    for (float x : v) {
        sq += (x - mean) * (x - mean);
    }
    return {mean, std::sqrt(sq / static_cast<double>(v.size()))};
}

}  // namespace

TEST(AutoLevelLuma, KernelsMatchThePixelFunctionsBitForBit)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-500.0f, 70000.0f);
    CKelImage img = MakeImage(257, 1, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [&](int, int) { return value(rng); });
        img.SetLevel(p, 13.7 * (p + 1), 3001.3 + 1234.5 * p);
    }
    *img.GetImageAdr(100, 0, 1, 0, nullptr) = kNaN;
    const float* r = img.GetImageAdr(0, 0, 0, 1, nullptr);
    const float* g = img.GetImageAdr(0, 0, 1, 1, nullptr);
    const float* b = img.GetImageAdr(0, 0, 2, 1, nullptr);
    std::vector<float> y256(257);
    std::vector<float> yRaw(257);
    // Both routes of the kernels (every build: luma_test.cpp).
    for (const auto route : {orbimg::detail::LumaRoute::Proven, orbimg::detail::LumaRoute::Divided}) {
        const orbimg::detail::DisplayLuma luma(img, route);
        ASSERT_EQ(luma.Route(), route);
        luma.To256(r, g, b, 257, y256.data());
        luma.ToRaw(r, g, b, 257, yRaw.data());
        for (int i = 0; i < 257; ++i) {
            float c[3];
            const float* s[3] = {r, g, b};
            for (int p = 0; p < 3; ++p) {
                c[p] = Round((static_cast<double>(s[p][i]) - img.GetLevelMin(p)) / img.GetLevelRange(p) * 255.0);
            }
            const float expected = Round(0.587 * c[1] + 0.299 * c[0] + 0.114 * c[2]);
            if (std::isnan(expected)) {
                ASSERT_TRUE(std::isnan(y256[i]) && std::isnan(yRaw[i])) << i;
                continue;
            }
            ASSERT_TRUE(SameBits(y256[i], expected)) << i << " route " << static_cast<int>(route);
            ASSERT_TRUE(SameBits(y256[i], img.GetPixelBright256f(i, 0))) << i << " route " << static_cast<int>(route);
            const float raw =
                Round(static_cast<double>(expected) / 255.0 * img.GetLevelRange(0) + img.GetLevelMin(0));
            ASSERT_TRUE(SameBits(yRaw[i], raw)) << i << " route " << static_cast<int>(route);
        }
    }
}

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
    e = extremes({kNaN, kNaN});
    EXPECT_EQ(e.count, 0);
}

TEST(AutoLevelMean, LevelsFromMeanAndSigma)
{
    CImgAutoLevel img = MakeAuto(2, 2);
    Fill(img, 0, {1, 2, 3, 4});
    img.DoByMean(1.0, 1.0, 1, nullptr);  // mono: linked, whatever perPlane
    EXPECT_EQ(Levels(img, 0), std::make_pair(2.5 - std::sqrt(1.25), std::sqrt(1.25) + 2.5));
    img.DoByMean(2.0, 2.0, 0, nullptr);
    EXPECT_EQ(Levels(img, 0), std::make_pair(2.5 - 2 * std::sqrt(1.25), 2 * std::sqrt(1.25) + 2.5));

    // Luminance mode: the display luminance on plane 0's raw scale, linked.
    CImgAutoLevel color = ColorImage(false);
    CRect rect(3, 2, 41, 30);
    std::vector<float> set;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            set.push_back(color.GetPixelBrightRaw(color.GetImageAdr(x, y, 0, 1, nullptr),
                                                  color.GetImageAdr(x, y, 1, 1, nullptr),
                                                  color.GetImageAdr(x, y, 2, 1, nullptr)));
        }
    }
    const auto [mean, sigma] = MeanSigma(set);
    CImgAutoLevel expected = color;
    expected.SetLevel(-1, mean - sigma * 2.0, sigma * 3.0 + mean);
    CImgAutoLevel luma = color;
    luma.DoByMean(2.0, 3.0, 0, &rect);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(Levels(luma, p), Levels(expected, p)) << p;
    }

    // Per plane: each plane its own statistics.
    CImgAutoLevel perPlane = color;
    perPlane.DoByMean(2.0, 3.0, 1, &rect);
    for (int p = 0; p < 3; ++p) {
        std::vector<float> samples;
        for (int y = rect.top; y < rect.bottom; ++y) {
            for (int x = rect.left; x < rect.right; ++x) {
                samples.push_back(At(color, x, y, p));
            }
        }
        const auto [m, s] = MeanSigma(samples);
        EXPECT_EQ(Levels(perPlane, p), std::make_pair(m - s * 2.0, s * 3.0 + m)) << p;
    }
}

TEST(AutoLevelMean, GetterInvertsSetter)
{
    for (const bool mono : {true, false}) {
        CImgAutoLevel img = mono ? HashImage(40, 30, 1) : ColorImage(true);
        CRect rect(1, 2, 37, 29);
        img.DoByMean(1.5, 4.25, 0, &rect);
        double low = 0.0;
        double high = 0.0;
        img.GetByMean(low, high, &rect);
        // The luminance set is rounded to float on the new levels' scale.
        EXPECT_NEAR(low, 1.5, 1e-6);
        EXPECT_NEAR(high, 4.25, 1e-6);
    }
}

TEST(AutoLevelMedian, UpperMiddleAndValues)
{
    CImgAutoLevel img = MakeAuto(2, 2);
    Fill(img, 0, {10, 2, 3, 1});
    float m = -1.0f;
    img.GetMedian(&m, 0, 0, 0, nullptr);
    EXPECT_EQ(m, 3.0f);  // index 2 of 1, 2, 3, 10: not 2.5
    img.GetMedian(&m, 1, 1, 2, nullptr);  // a mono image ignores plane and luminance
    EXPECT_EQ(m, 3.0f);

    // NaN samples are dropped: 1, 3, 5 remain.
    Fill(img, 0, {5, kNaN, 1, 3});
    img.GetMedian(&m, 0, 0, 0, nullptr);
    EXPECT_EQ(m, 3.0f);
    // No value: 0.0.
    Fill(img, 0, {kNaN, kNaN, kNaN, kNaN});
    img.GetMedian(&m, 0, 0, 0, nullptr);
    EXPECT_EQ(m, 0.0f);
    CRect outside(2, 0, 5, 2);
    Fill(img, 0, {1, 2, 3, 4});
    img.GetMedian(&m, 0, 0, 0, &outside);
    EXPECT_EQ(m, 0.0f);

    // Colour: the raw luminance (no levels), or one plane.
    CImgAutoLevel color = MakeAuto(3, 1, 3);
    Fill(color, 0, {100, 0, 0});
    Fill(color, 1, {0, 100, 0});
    Fill(color, 2, {0, 0, 100});
    color.SetLevel(0, 50.0, 51.0);
    color.GetMedian(&m, 0, 1, 0, nullptr);
    EXPECT_EQ(m, static_cast<float>(0.299 * 100.0));  // 11.4, 29.9, 58.7
    color.GetMedian(&m, 0, 0, 2, nullptr);
    EXPECT_EQ(m, 0.0f);  // 0, 0, 100
}

TEST(AutoLevelMedian, BlockSamplingThresholds)
{
    // 50000 and 60000 pixels keep s = 1: the median of every sample.
    for (const auto& [w, h] : {std::pair{250, 200}, std::pair{300, 200}}) {
        CImgAutoLevel img = HashImage(w, h, 1);
        std::vector<float> all = Samples(img);
        std::nth_element(all.begin(), all.begin() + all.size() / 2, all.end());
        float m = 0.0f;
        img.GetMedian(&m, 1, 0, 0, nullptr);
        EXPECT_EQ(m, all[all.size() / 2]) << w << " x " << h;
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
    float m = 0.0f;
    big.GetMedian(&m, 1, 0, 0, nullptr);
    EXPECT_EQ(m, 31250.5f);
    big.GetMedian(&m, 0, 0, 0, nullptr);
    EXPECT_EQ(m, 31250.0f);

    // A window narrower than the block still has a median (s at most the
    // shorter side): 150001 x 1 would give s = 2. x % 1000 holds 0 151 times
    // and 1 .. 999 150 times each: element 75000 is 499.
    CImgAutoLevel strip = MakeAuto(150001, 1);
    Fill(strip, 0, [](int x, int) { return static_cast<float>(x % 1000); });
    strip.GetMedian(&m, 1, 0, 0, nullptr);
    EXPECT_EQ(m, 499.0f);
}

TEST(AutoLevelMedian, SettersAndGetters)
{
    CImgAutoLevel img = HashImage(60, 40, 1);
    float median = 0.0f;
    img.GetMedian(&median, 1, 0, 0, nullptr);
    CImgAutoLevel zero = img;
    zero.DoByMedian(0.0, 0.0, 0, nullptr);
    EXPECT_EQ(Levels(zero, 0), std::make_pair(static_cast<double>(median), static_cast<double>(median)));

    // d: root-mean-square deviation from the median, every sample.
    double sq = 0.0;
    for (float v : Samples(img)) {
        sq += (v - static_cast<double>(median)) * (v - static_cast<double>(median));
    }
    const double d = std::sqrt(sq / 2400.0);
    img.DoByMedian(1.0, 5.0, 1, nullptr);
    EXPECT_EQ(Levels(img, 0), std::make_pair(median - d * 1.0, d * 5.0 + median));

    for (const bool mono : {true, false}) {
        CImgAutoLevel a = mono ? HashImage(40, 30, 1) : ColorImage(true);
        CRect rect(2, 1, 39, 30);
        a.DoByMedian(0.5, 7.0, 0, &rect);
        double low = 0.0;
        double high = 0.0;
        a.GetByMedian(low, high, &rect);
        EXPECT_NEAR(low, 0.5, 1e-6);
        EXPECT_NEAR(high, 7.0, 1e-6);
    }

    // Per plane on colour: each plane its own median and deviation.
    CImgAutoLevel color = ColorImage(false);
    CImgAutoLevel perPlane = color;
    perPlane.DoByMedian(1.0, 2.0, 1, nullptr);
    for (int p = 0; p < 3; ++p) {
        CImgAutoLevel one = MakeAuto(48, 36);
        Fill(one, 0, [&color, p](int x, int y) { return At(color, x, y, p); });
        one.DoByMedian(1.0, 2.0, 0, nullptr);
        EXPECT_EQ(Levels(perPlane, p), Levels(one, 0)) << p;
    }
}

TEST(AutoLevelMeanMedian, EmptyFlatAndNaNWindows)
{
    CImgAutoLevel img = ColorImage(false);
    CRect empty(10, 36, 20, 50);
    for (int method : {1, 2}) {
        for (int perPlane : {0, 1}) {
            CImgAutoLevel copy = img;
            copy.Do(1.0, 1.0, method, perPlane, &empty);
            for (int p = 0; p < 3; ++p) {
                EXPECT_EQ(Levels(copy, p), Levels(img, p));
            }
        }
        double low = 9.0;
        double high = 9.0;
        img.Get(low, high, method, &empty);
        EXPECT_EQ(std::make_pair(low, high), std::make_pair(0.0, 1.0));
    }

    // NaN skipped: a NaN last row measures as the window without it.
    CImgAutoLevel nan = img;
    for (int p = 0; p < 3; ++p) {
        for (int x = 0; x < 48; ++x) {
            *nan.GetImageAdr(x, 35, p, 0, nullptr) = kNaN;
        }
    }
    CRect upper(0, 0, 48, 35);
    CRect last(0, 35, 48, 36);
    for (int method : {1, 2}) {
        for (int perPlane : {0, 1}) {
            CImgAutoLevel a = nan;
            CImgAutoLevel b = nan;
            CImgAutoLevel c = nan;
            a.Do(1.0, 2.0, method, perPlane, nullptr);
            b.Do(1.0, 2.0, method, perPlane, &upper);
            c.Do(1.0, 2.0, method, perPlane, &last);
            for (int p = 0; p < 3; ++p) {
                EXPECT_EQ(Levels(a, p), Levels(b, p)) << method << " " << perPlane;
                EXPECT_EQ(Levels(c, p), Levels(nan, p)) << method << " " << perPlane;
            }
        }
        double la;
        double ha;
        double lb;
        double hb;
        nan.Get(la, ha, method, nullptr);
        nan.Get(lb, hb, method, &upper);
        EXPECT_EQ(std::make_pair(la, ha), std::make_pair(lb, hb));
        nan.Get(la, ha, method, &last);
        EXPECT_EQ(std::make_pair(la, ha), std::make_pair(0.0, 1.0));
    }

    // Flat: both ends at the value; the getters write 0 and 1.
    CImgAutoLevel flat = MakeAuto(5, 5);
    Fill(flat, 0, [](int, int) { return 7.0f; });
    for (int method : {1, 2}) {
        flat.Do(2.0, 3.0, method, 0, nullptr);
        EXPECT_EQ(Levels(flat, 0), std::make_pair(7.0, 7.0));
        flat.SetLevel(0, 0.0, 10.0);
        double low = 9.0;
        double high = 9.0;
        flat.Get(low, high, method, nullptr);
        EXPECT_EQ(std::make_pair(low, high), std::make_pair(0.0, 1.0));
    }
}

TEST(AutoLevelDispatch, MethodNumbersSelectTheMethod)
{
    const CImgAutoLevel img = HashImage(30, 20, 3);
    CRect rect(1, 1, 29, 19);
    CImgAutoLevel byNormal = img;
    CImgAutoLevel byMean = img;
    CImgAutoLevel byMedian = img;
    byNormal.DoByNormal(0.05, 0.95, 0, &rect);
    byMean.DoByMean(0.05, 0.95, 0, &rect);
    byMedian.DoByMedian(0.05, 0.95, 0, &rect);
    const CImgAutoLevel* expected[] = {&byNormal, &byMean, &byMedian, &byNormal, &byNormal};
    const int methods[] = {0, 1, 2, 3, -1};
    for (int i = 0; i < 5; ++i) {
        CImgAutoLevel copy = img;
        copy.Do(0.05, 0.95, methods[i], 0, &rect);
        EXPECT_EQ(Levels(copy, 0), Levels(*expected[i], 0)) << methods[i];
        double low = 0.0;
        double high = 0.0;
        double lowDirect = 1.0;
        double highDirect = 1.0;
        copy.Get(low, high, methods[i], &rect);
        if (methods[i] == 1) {
            copy.GetByMean(lowDirect, highDirect, &rect);
        } else if (methods[i] == 2) {
            copy.GetByMedian(lowDirect, highDirect, &rect);
        } else {
            copy.GetByNormal(lowDirect, highDirect, &rect);
        }
        EXPECT_EQ(std::make_pair(low, high), std::make_pair(lowDirect, highDirect)) << methods[i];
    }
}
