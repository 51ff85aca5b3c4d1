// Both routes of the luminance kernels, in every build of the vector kernels,
// against the pixel functions: edge values, adversarial levels and samples,
// and (on request) every float through the proven route's Y / 255.
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
using orbimg::detail::LumaRoute;

namespace {

const float kInf = std::numeric_limits<float>::infinity();

float FromBits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

/// Zeros, subnormals (the least and the largest), the least normal,
/// extremes, infinities, NaN with payloads (quiet; signalling and negative),
/// a few plain values, then random bit patterns in every second place and
/// plain values between: 4099 values (not a multiple of 4, so the tail too).
std::vector<float> EdgeFloats()
{
    std::vector<float> v = {255.0f, 1.0f, 127.5f, -76.245f, 1000.0f};
    for (const std::uint32_t bits : {0x00000000u, 0x80000000u, 0x00000001u, 0x80000001u, 0x007fffffu, 0x00800000u,
                                     0x7f7fffffu, 0xff7fffffu, 0x7f800000u, 0xff800000u, 0x7fc12345u, 0xff812345u}) {
        v.push_back(FromBits(bits));
    }
    std::mt19937 rng(5);
    std::uniform_int_distribution<std::uint32_t> bits;
    std::uniform_real_distribution<float> plain(-500.0f, 70000.0f);
    while (v.size() < 4099) {
        v.push_back(v.size() % 2 ? FromBits(bits(rng)) : plain(rng));
    }
    return v;
}

/// Mismatches of DivideBy255 against y / 255.0; reports the first.
long long CheckDivideBy255(const std::vector<float>& y)
{
    std::vector<double> q(y.size());
    orbimg::detail::DivideBy255(y.data(), static_cast<int>(y.size()), q.data());
    long long bad = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (!SameBits(q[i], static_cast<double>(y[i]) / 255.0) && bad++ == 0) {
            ADD_FAILURE() << "y bits " << std::hex << std::bit_cast<std::uint32_t>(y[i]) << ": " << q[i];
        }
    }
    return bad;
}

/// A colour image of one row holding the given samples (turned by `turn`
/// places on each further plane) and levels on every plane.
CKelImage Row(std::vector<float> samples, double min = 0.0, double max = 255.0, int turn = 0)
{
    CKelImage img = MakeImage(static_cast<int>(samples.size()), 1, 3);
    for (int p = 0; p < 3; ++p) {
        std::copy(samples.begin(), samples.end(), img.GetImageAdr(0, 0, p, 0, nullptr));
        std::rotate(samples.begin(), samples.begin() + turn, samples.end());
        img.SetLevel(p, min, max);
    }
    return img;
}

/// Both routes' kernels and sums in the build in use against the pixel
/// functions and a plain loop, bit for bit. `covered`: the proven route takes
/// the levels (else it must give way to the divided one).
void ExpectRoutesAgree(CKelImage& img, bool covered = true)
{
    const int n = img.GetWidth();
    float* s[3];
    for (int p = 0; p < 3; ++p) {
        s[p] = img.GetImageAdr(0, 0, p, 0, nullptr);
    }
    std::vector<float> want256(n);
    std::vector<float> wantRaw(n);
    for (int i = 0; i < n; ++i) {
        want256[i] = img.GetPixelBright256f(s[0] + i, s[1] + i, s[2] + i);
        wantRaw[i] = img.GetPixelBrightRaw(s[0] + i, s[1] + i, s[2] + i);
    }
    for (const LumaRoute route : {LumaRoute::Proven, LumaRoute::Divided}) {
        const DisplayLuma luma(img, route);
        ASSERT_EQ(luma.Route(), covered ? route : LumaRoute::Divided);
        std::vector<float> y256(n);
        std::vector<float> yRaw(n);
        luma.To256(s[0], s[1], s[2], n, y256.data());
        luma.ToRaw(s[0], s[1], s[2], n, yRaw.data());
        ASSERT_TRUE(SameBits(y256, want256)) << "route " << static_cast<int>(route);
        ASSERT_TRUE(SameBits(yRaw, wantRaw)) << "route " << static_cast<int>(route);
        // The sums: each value not NaN added in order, from a start that is
        // not zero too; squares about a centre.
        for (const double start : {0.0, 12.5}) {
            double sum = start, squares = start, wantSum = start, wantSquares = start;
            long long count = 0;
            for (const float v : wantRaw) {
                if (v == v) {
                    wantSum += static_cast<double>(v);
                    wantSquares += (static_cast<double>(v) - 3.25) * (static_cast<double>(v) - 3.25);
                    ++count;
                }
            }
            ASSERT_EQ(luma.SumRaw(s[0], s[1], s[2], n, sum), count);
            ASSERT_EQ(luma.SumRawSquares(s[0], s[1], s[2], n, 3.25, squares), count);
            ASSERT_TRUE(SameBits(sum, wantSum)) << sum << " != " << wantSum;
            ASSERT_TRUE(SameBits(squares, wantSquares)) << squares << " != " << wantSquares;
        }
    }
}

}  // namespace

using AutoLevelLumaEachTarget = EachTarget;
ORBIMG_EACH_TARGET(AutoLevelLumaEachTarget);

// Every float through the build's route, about 10 s per build in a Release
// build on x86-64: run with ORBIMG_EXHAUSTIVE=1 after touching that route
// (not in CI).
TEST_P(AutoLevelLumaEachTarget, ExhaustiveDivideBy255)
{
    if (std::getenv("ORBIMG_EXHAUSTIVE") == nullptr) {
        GTEST_SKIP() << "set ORBIMG_EXHAUSTIVE=1 to check all 2^32 floats";
    }
    std::vector<float> y(1 << 16);
    long long bad = 0;
    for (std::uint64_t start = 0; start < (std::uint64_t{1} << 32); start += y.size()) {
        for (std::size_t i = 0; i < y.size(); ++i) {
            y[i] = FromBits(static_cast<std::uint32_t>(start + i));
        }
        bad += CheckDivideBy255(y);
    }
    EXPECT_EQ(bad, 0);
}

// DivideBy255 on edge values and random bits. Those values, the same on every
// plane (a NaN's payload comes from its own plane); sky and stars with NaN
// blanks, 1031 pixels (not a multiple of 8), turned on each plane, whose
// finite sums show their order. Levels outside the proof (on green) take the
// divisions. Samples next to float rounding boundaries.
TEST_P(AutoLevelLumaEachTarget, RoutesAgreeOnSamplesOfEveryKind)
{
    std::vector<float> edges = EdgeFloats();
    EXPECT_EQ(CheckDivideBy255(edges), 0);  // bit for bit: the sign of zero survives the correction step
    std::shuffle(edges.begin(), edges.end(), std::mt19937(5));
    std::vector<float> sky;
    for (int x = 0; x < 1031; ++x) {
        sky.push_back(x % 97 == 5 ? kNaN : HashSample(x, 7, 0));
    }
    // Levels (min, range): ordinary, awkward ranges, the extreme magnitudes
    // still covered, negative ranges.
    const std::pair<double, double> levels[] = {
        {0.0, 255.0}, {13.75, 3001.25}, {-500.0, 0.1}, {0.0, 3.0},       {1.0 / 3, 1.0 / 3}, {0.0, 1e-300},
        {0.0, 1e300}, {-1e-30, 1e-30},  {5.0, -7.0},   {0.0, 0x1p-1000}, {0.0, -0x1p1000},   {0x1p-1074, 1.0},
    };
    for (const std::vector<float>* samples : {&edges, &sky}) {
        for (const auto& [min, range] : levels) {
            CKelImage img = Row(*samples, min, min + range, samples == &sky ? 11 : 0);
            ExpectRoutesAgree(img);
            img.SetLevel(1, 950.0, 1200.0);  // a window of its own on green, then on blue
            ExpectRoutesAgree(img);
            img.SetLevel(2, 990.0, 1130.7);
            ExpectRoutesAgree(img);
        }
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, double> outside[] = {
        {0.0, 0.0}, {0.0, nan}, {0.0, inf}, {1.0, 0x1p-1001}, {0.0, 0x1p1001}, {-inf, 1.0}, {nan, 1.0},
    };
    for (const auto& [min, range] : outside) {
        CKelImage img = Row({0.0f, -0.0f, 1.0f, -3.5f, 1e30f, kInf, 7.0f, 1000.0f, 2.0f});
        img.SetLevel(1, min, min + range);
        if (std::isfinite(min) && img.GetLevelRange(1) != range) {
            continue;  // not representable as a window
        }
        ExpectRoutesAgree(img, false);
    }

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
            CKelImage img = Row(samples, min, min + range);
            ASSERT_EQ(img.GetLevelRange(0), range);
            ExpectRoutesAgree(img);
            for (const float s : samples) {
                const double d = static_cast<double>(s) - min;
                naiveWrong += static_cast<float>(d * (1.0 / range) * 255.0) != static_cast<float>(d / range * 255.0);
            }
        }
    }
    EXPECT_GT(naiveWrong, 100);  // the data does reach the boundaries
}
