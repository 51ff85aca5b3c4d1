// Both routes of the luminance kernels, in every build of the vector kernels,
// against the pixel functions: edge values, adversarial levels and samples,
// and (on request) every float through the proven route's Y / 255.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "autolevel_support.h"
#include "support/eachtarget.h"

using namespace orbimg::test;
using orbimg::detail::DisplayLuma;
using orbimg::detail::DivideBy255;
using orbimg::detail::LumaRoute;

namespace {

float FromBits(std::uint32_t bits)
{
    return std::bit_cast<float>(bits);
}

/// Checks DivideBy255 against y / 255.0 for the floats with bit patterns
/// first .. first + count - 1; returns the number of mismatches and reports
/// the first.
long long CheckDivideBy255(std::uint64_t first, std::uint64_t count)
{
    constexpr int kChunk = 1 << 16;
    std::vector<float> y(kChunk);
    std::vector<double> q(kChunk);
    long long bad = 0;
    for (std::uint64_t start = first; start < first + count; start += kChunk) {
        const int n = static_cast<int>(std::min<std::uint64_t>(kChunk, first + count - start));
        for (int i = 0; i < n; ++i) {
            y[i] = FromBits(static_cast<std::uint32_t>(start + i));
        }
        DivideBy255(y.data(), n, q.data());
        for (int i = 0; i < n; ++i) {
            const double expected = static_cast<double>(y[i]) / 255.0;
            if (!SameBits(q[i], expected)) {
                if (bad++ == 0) {
                    ADD_FAILURE() << "y bits " << std::hex << (start + i)
                                  << ": " << q[i] << " != " << expected;
                }
            }
        }
    }
    return bad;
}

/// A colour image of one row holding the given samples on every plane.
CKelImage Row(const std::vector<float>& samples)
{
    CKelImage img = MakeImage(static_cast<int>(samples.size()), 1, 3);
    for (int p = 0; p < 3; ++p) {
        std::copy(samples.begin(), samples.end(), img.GetImageAdr(0, 0, p, 0, nullptr));
    }
    return img;
}

/// Both routes' kernels and sums in the build in use against the pixel
/// functions and a plain loop, bit for bit. `covered`: the proven route takes
/// the levels (else it must give way to the divided one).
void ExpectRoutesAgree(const CKelImage& img, bool covered = true)
{
    CKelImage& pixels = const_cast<CKelImage&>(img);
    const int n = img.GetWidth();
    const float* r = img.GetImageAdr(0, 0, 0, 1, nullptr);
    const float* g = img.GetImageAdr(0, 0, 1, 1, nullptr);
    const float* b = img.GetImageAdr(0, 0, 2, 1, nullptr);
    std::vector<float> expected256(n);
    std::vector<float> expectedRaw(n);
    for (int i = 0; i < n; ++i) {
        float* s[3] = {const_cast<float*>(r + i), const_cast<float*>(g + i), const_cast<float*>(b + i)};
        expected256[i] = pixels.GetPixelBright256f(s[0], s[1], s[2]);
        expectedRaw[i] = pixels.GetPixelBrightRaw(s[0], s[1], s[2]);
    }
    for (const LumaRoute route : {LumaRoute::Proven, LumaRoute::Divided}) {
        const DisplayLuma luma(img, route);
        ASSERT_EQ(luma.Route(), covered ? route : LumaRoute::Divided);
        std::vector<float> y256(n);
        std::vector<float> yRaw(n);
        luma.To256(r, g, b, n, y256.data());
        luma.ToRaw(r, g, b, n, yRaw.data());
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(SameBits(y256[i], expected256[i]))
                << "route " << static_cast<int>(route) << " i " << i << " s " << r[i] << ": " << y256[i]
                << " != " << expected256[i];
            ASSERT_TRUE(SameBits(yRaw[i], expectedRaw[i]))
                << "route " << static_cast<int>(route) << " i " << i << " s " << r[i] << ": " << yRaw[i]
                << " != " << expectedRaw[i];
        }
        // The sums: each value not NaN added in order, from a start that is
        // not zero too; squares about a centre.
        for (const double start : {0.0, 12.5}) {
            double sum = start;
            double squares = start;
            double expectedSum = start;
            double expectedSquares = start;
            long long expectedCount = 0;
            const double center = 3.25;
            for (const float v : expectedRaw) {
                if (v == v) {
                    expectedSum += static_cast<double>(v);
                    expectedSquares += (static_cast<double>(v) - center) * (static_cast<double>(v) - center);
                    ++expectedCount;
                }
            }
            ASSERT_EQ(luma.SumRaw(r, g, b, n, sum), expectedCount);
            ASSERT_EQ(luma.SumRawSquares(r, g, b, n, center, squares), expectedCount);
            ASSERT_TRUE(SameBits(sum, expectedSum)) << sum << " != " << expectedSum;
            ASSERT_TRUE(SameBits(squares, expectedSquares)) << squares << " != " << expectedSquares;
        }
    }
}

}  // namespace

using AutoLevelLumaEachTarget = EachTarget;
ORBIMG_EACH_TARGET(AutoLevelLumaEachTarget);

TEST_P(AutoLevelLumaEachTarget, DivideBy255OnEdgeValues)
{
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> y = {0.0f,
                            -0.0f,
                            std::numeric_limits<float>::denorm_min(),
                            -std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::min(),
                            FromBits(0x007fffffu),  // largest subnormal
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max(),
                            inf,
                            -inf,
                            FromBits(0x7fc12345u),  // quiet NaN with a payload
                            FromBits(0xff812345u),  // signalling, negative
                            255.0f,
                            1.0f,
                            127.5f,
                            -76.245f};
    std::mt19937 rng(11);
    std::uniform_int_distribution<std::uint32_t> bits;
    std::uniform_real_distribution<float> display(-300.0f, 600.0f);
    for (int i = 0; i < 4000; ++i) {
        y.push_back(i % 2 ? FromBits(bits(rng)) : display(rng));
    }
    std::vector<double> q(y.size());
    DivideBy255(y.data(), static_cast<int>(y.size()), q.data());
    for (std::size_t i = 0; i < y.size(); ++i) {
        ASSERT_TRUE(SameBits(q[i], static_cast<double>(y[i]) / 255.0)) << i << " " << y[i];
    }
    // The sign of zero survives the correction step.
    EXPECT_TRUE(std::signbit(q[1]));
    EXPECT_FALSE(std::signbit(q[0]));
}

// Every float through the build's route, about 10 s per build in a Release
// build on x86-64: run with ORBIMG_EXHAUSTIVE=1 after touching that route
// (not in CI).
TEST_P(AutoLevelLumaEachTarget, ExhaustiveDivideBy255)
{
    if (std::getenv("ORBIMG_EXHAUSTIVE") == nullptr) {
        GTEST_SKIP() << "set ORBIMG_EXHAUSTIVE=1 to check all 2^32 floats";
    }
    EXPECT_EQ(CheckDivideBy255(0, std::uint64_t{1} << 32), 0);
}

TEST_P(AutoLevelLumaEachTarget, RoutesAgreeOnSamplesOfEveryKind)
{
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> samples = {0.0f,
                                  -0.0f,
                                  std::numeric_limits<float>::denorm_min(),
                                  -std::numeric_limits<float>::denorm_min(),
                                  std::numeric_limits<float>::min(),
                                  FromBits(0x007fffffu),
                                  std::numeric_limits<float>::max(),
                                  -std::numeric_limits<float>::max(),
                                  inf,
                                  -inf,
                                  FromBits(0x7fc12345u),
                                  FromBits(0xffa00001u),
                                  1.0f,
                                  255.0f,
                                  1000.0f};
    std::mt19937 rng(5);
    std::uniform_int_distribution<std::uint32_t> bits;
    std::uniform_real_distribution<float> sky(-500.0f, 70000.0f);
    while (samples.size() < 4099) {  // not a multiple of 4: the tail too
        samples.push_back(samples.size() % 3 == 0 ? FromBits(bits(rng)) : sky(rng));
    }
    std::shuffle(samples.begin(), samples.end(), rng);
    // Levels (min, range): ordinary, awkward ranges, the extreme magnitudes
    // still covered, negative ranges.
    const std::pair<double, double> levels[] = {
        {0.0, 255.0},       {13.75, 3001.25},   {-500.0, 0.1},      {0.0, 3.0},
        {1.0 / 3, 1.0 / 3}, {0.0, 1e-300},      {0.0, 1e300},       {-1e-30, 1e-30},
        {5.0, -7.0},        {0.0, 0x1p-1000},   {0.0, -0x1p1000},   {0x1p-1074, 1.0},
    };
    for (const auto& [min, range] : levels) {
        CKelImage img = Row(samples);
        for (int p = 0; p < 3; ++p) {
            img.SetLevel(p, min, min + range);
        }
        ExpectRoutesAgree(img);
        // A different window on green alone.
        img.SetLevel(1, 950.0, 1200.0);
        ExpectRoutesAgree(img);
    }
}

TEST_P(AutoLevelLumaEachTarget, RoutesAgreeOnSkyWithBlanks)
{
    // Sky and stars with NaN blanks, 1031 pixels (not a multiple of 8):
    // finite sums, whose order the comparison sees.
    std::vector<float> samples;
    for (int x = 0; x < 1031; ++x) {
        samples.push_back(x % 97 == 5 ? kNaN : HashSample(x, 7, 0));
    }
    CKelImage img = Row(samples);
    for (int p = 0; p < 3; ++p) {
        std::copy(samples.begin(), samples.end(), img.GetImageAdr(0, 0, p, 0, nullptr));
        std::rotate(samples.begin(), samples.begin() + 11, samples.end());
        img.SetLevel(p, 990.0 + 3.5 * p, 1130.7 - 2.25 * p);
    }
    ExpectRoutesAgree(img);
    img.SetLevel(-1, -3.0, 40000.0);
    ExpectRoutesAgree(img);
}

TEST_P(AutoLevelLumaEachTarget, RoutesAgreeNextToFloatRoundingBoundaries)
{
    // Range 255 keeps t = (s - min) / 255 * 255 within two ulps of s - min;
    // min = -(2^-24 + k 2^-52) puts s - min k ulps from the midpoint of two
    // floats for s in [1, 2) (and, mirrored, for s in (-2, -1]), where a
    // plain multiplication by 1 / range rounds some values the other way.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> one(1.0f, 2.0f);
    long long naiveWrong = 0;
    for (int k = -6; k <= 6; ++k) {
        for (const double sign : {1.0, -1.0}) {
            std::vector<float> samples(1024);
            for (float& s : samples) {
                s = static_cast<float>(sign) * one(rng);
            }
            const double min = -sign * (0x1p-24 + k * 0x1p-52);
            const double range = sign * 255.0;
            CKelImage img = Row(samples);
            for (int p = 0; p < 3; ++p) {
                img.SetLevel(p, min, min + range);
            }
            ASSERT_EQ(img.GetLevelRange(0), range);
            ExpectRoutesAgree(img);
            const double reciprocal = 1.0 / range;
            for (const float s : samples) {
                const double d = static_cast<double>(s) - min;
                naiveWrong += static_cast<float>(d * reciprocal * 255.0) != static_cast<float>(d / range * 255.0);
            }
        }
    }
    EXPECT_GT(naiveWrong, 100);  // the data does reach the boundaries
}

TEST_P(AutoLevelLumaEachTarget, LevelsOutsideTheProofUseTheDivisions)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> samples = {0.0f, -0.0f, 1.0f, -3.5f, 1e30f, inf, 7.0f, 1000.0f, 2.0f};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double dinf = std::numeric_limits<double>::infinity();
    const std::pair<double, double> levels[] = {
        {0.0, 0.0}, {0.0, nan}, {0.0, dinf}, {1.0, 0x1p-1001}, {0.0, 0x1p1001}, {-dinf, 1.0}, {nan, 1.0},
    };
    for (const auto& [min, range] : levels) {
        CKelImage img = Row(samples);
        img.SetLevel(1, min, min + range);
        if (std::isfinite(min) && img.GetLevelRange(1) != range) {
            continue;  // not representable as a window
        }
        ExpectRoutesAgree(img, false);
    }
}
