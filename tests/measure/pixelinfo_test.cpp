// CImgPixelInfo: hand-checked cases, the Python reference (with trimming
// fractions, points, empty regions, blanks and the ends of the int range),
// selection vs a full sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "measure_support.h"

using orbimg::test::At;
using orbimg::test::Fill;
using orbimg::test::MakeImage;
using orbimg::test::SameBits;

namespace {

constexpr double kUnset = 7.0;

/// Output arrays of five entries (max, min, mean, stddev, median, and for a
/// star two more), preset to kUnset.
struct Out {
    double v[7][5];
    Out() { std::fill(&v[0][0], &v[0][0] + 35, kUnset); }
    double* operator[](int i) { return v[i]; }
    std::vector<double> Plane(int p) const { return {v[0][p], v[1][p], v[2][p], v[3][p], v[4][p]}; }
};

/// A query as the reference file writes it: Calc(rect), CalcSky(rect),
/// CalcSky(rect, upper, lower), CalcSky(x, y, radius, upper, lower),
/// CalcStar(x, y, radius, upper, lower); and Calc(point, size).
enum Kind { kCalc, kSky, kTrimmed, kCircle, kStar, kPoint };

Out Query(CImgPixelInfo& info, int kind, int a, int b, int c, int d = 0, double upper = 0.5, double lower = 0.5)
{
    Out o;
    switch (kind) {
    case kCalc:
        info.Calc(CRect(a, b, c, d), o[0], o[1], o[2], o[3], o[4]);
        break;
    case kSky:
        info.CalcSky(CRect(a, b, c, d), o[0], o[1], o[2], o[3], o[4]);
        break;
    case kTrimmed:
        info.CalcSky(CRect(a, b, c, d), upper, lower, o[0], o[1], o[2], o[3], o[4]);
        break;
    case kCircle:
        info.CalcSky(a, b, c, upper, lower, o[0], o[1], o[2], o[3], o[4]);
        break;
    case kStar:
        info.CalcStar(a, b, c, upper, lower, o[0], o[1], o[2], o[3], o[4], o[5], o[6]);
        break;
    default:
        info.Calc(CPoint(a, b), c, o[0], o[1], o[2], o[3], o[4]);
        break;
    }
    return o;
}

CImgPixelInfo MakeInfo(int width, int height, int planes = 1)
{
    CImgPixelInfo info;
    info = MakeImage(width, height, planes);
    return info;
}

/// Statistics of the values kept after a full sort (the plain route).
std::vector<double> SortedStats(std::vector<float> v, std::size_t lo, std::size_t hi)
{
    std::sort(v.begin(), v.end());
    const auto kept = v.begin() + static_cast<std::ptrdiff_t>(lo);
    const auto end = v.begin() + static_cast<std::ptrdiff_t>(hi) + 1;
    const double m = static_cast<double>(hi - lo + 1);
    const double mean = std::accumulate(kept, end, 0.0) / m;  // one value at a time, in double
    const double ss =
        std::accumulate(kept, end, 0.0, [mean](double s, float x) { return s + (x - mean) * (x - mean); });
    return {v[hi], v[lo], mean, std::sqrt(ss / m), v[lo + (hi - lo + 1) / 2]};
}

// A rectangle is clamped to the image. A mono image clears entries 1 and 2
// only; of five planes three are written; an output not asked for is not
// written; a plane of blanks gives zeros, and so does the diameter of a star
// on a flat region.
TEST(PixelInfo, OnlyTheOutputsAskedForAreWritten)
{
    CImgPixelInfo info = MakeInfo(4, 3);
    Fill(info, 0, {1, 2, 9, 9, 3, 6, 9, 9, 9, 9, 9, 9});
    Out o;
    info.Calc(CRect(-5, -7, 2, 2), o[0], o[1], o[2], o[3], nullptr);
    EXPECT_EQ(o.Plane(0), (std::vector<double>{6, 1, 3, std::sqrt(3.5), kUnset}));
    EXPECT_EQ(o[1][1], 0.0);
    Fill(info, 0, [](int, int) { return 10.0f; });
    info.CalcStar(1, 1, 3, 0.5, 0.5, o[0], o[1], o[2], o[3], nullptr, o[5], o[6]);
    EXPECT_EQ(o.Plane(0), (std::vector<double>{10, 10, 10, 0, kUnset}));
    EXPECT_TRUE(o[5][0] == 0.0 && o[5][2] == 0.0 && o[6][0] == 0.0 && o[6][2] == 0.0);

    CImgPixelInfo five = MakeInfo(4, 4, 5);
    Fill(five, [](int, int, int p) { return static_cast<float>(p + 1); });
    o = Query(five, kCircle, 1, 1, 2, 0, 1, 1);
    EXPECT_EQ(o[2][2], 3.0);
    EXPECT_EQ(o[2][3], kUnset);
    EXPECT_EQ(o[0][4], kUnset);
    Fill(five, 0, [](int, int) { return NAN; });
    EXPECT_EQ(Query(five, kCalc, 0, 0, 4, 4).Plane(0), std::vector<double>(5, 0.0));
}

TEST(PixelInfo, FwhmOfTheNearestStar)
{
    CImgPixelInfo info;
    info = orbimg::test::CheckerStar(21, 21, 10, 10);
    double f = kUnset;
    info.CalcFWHM(13, 4, &f);
    PSF psf(&info);
    ASSERT_EQ(psf.Add(CPoint(10, 10)), 1);
    double want = 0.0;
    psf.GetMeanFWHM(&want);
    EXPECT_TRUE(SameBits(f, want));
    // Refused (0): a peak in the first row; a box whose top-left pixel is the
    // brightest (no pixel above it: (-1, -1)); a flat image; a far point.
    for (const auto& [img, at] : {std::pair{orbimg::test::CheckerStar(21, 21, 10, 0), CPoint(10, 5)},
                                  {orbimg::test::CheckerStar(21, 21, 10, 10), CPoint(20, 20)},
                                  {MakeImage(30, 30), CPoint(15, 15)},
                                  {MakeImage(30, 30), CPoint(INT_MAX, INT_MIN)}}) {
        info = img;
        f = kUnset;
        info.CalcFWHM(at.x, at.y, &f);
        EXPECT_EQ(f, 0.0) << at.x << "," << at.y;
    }
}

TEST(PixelInfo, SelectionMatchesAFullSort)
{
    // Random samples with many ties; every trimmed rectangle statistic must
    // equal the full-sort route to the bit.
    CImgPixelInfo info = MakeInfo(40, 30);
    std::mt19937 rng(7);
    Fill(info, 0, [&rng](int, int) { return static_cast<float>(rng() % 500) * 0.37f; });
    std::uniform_int_distribution<int> coord(-5, 44);
    std::uniform_real_distribution<double> frac(-0.2, 1.2);
    for (int i = 0; i < 300; ++i) {
        const CRect r(coord(rng), coord(rng) * 3 / 4, coord(rng), coord(rng) * 3 / 4);
        const double up = frac(rng);
        const double lo = frac(rng);
        std::vector<float> v;
        for (int y = std::max(r.top, 0); y < std::min(r.bottom, 30); ++y) {
            for (int x = std::max(r.left, 0); x < std::min(r.right, 40); ++x) {
                v.push_back(At(info, x, y));
            }
        }
        if (v.size() < 2) {
            continue;
        }
        const long n = static_cast<long>(v.size());
        const long l = std::min(std::max(static_cast<long>(n * (1 - lo) * 0.5), 0L), n / 2);
        const long h = std::min(std::max(static_cast<long>(n * (up + 1) * 0.5), n / 2 + 1), n - 1);
        EXPECT_EQ(Query(info, kTrimmed, r.left, r.top, r.right, r.bottom, up, lo).Plane(0), SortedStats(v, l, h));
        EXPECT_EQ(Query(info, kSky, r.left, r.top, r.right, r.bottom).Plane(0), SortedStats(v, 0, v.size() / 2 - 1));
    }
}

TEST(PixelInfo, MatchesThePythonReference)
{
    const std::vector<double> d = orbimg::test::ReadNumbers("measure_reference.txt");
    ASSERT_GT(d.size(), 10u);
    std::size_t k = 0;
    const auto next = [&d, &k] { return static_cast<int>(d[k++]); };
    const int w = next();
    const int h = next();
    const int planes = next();
    CImgPixelInfo info = MakeInfo(w, h, planes);
    Fill(info, [&](int, int, int) { return static_cast<float>(d[k++]); });  // blanks included
    const int queries = next();
    ASSERT_EQ(d.size(), k + queries * (7 + 18));
    for (int q = 0; q < queries; ++q, k += 7 + 18) {
        const double* e = &d[k];  // kind a b c d upper lower, then the planes' statistics
        const int kind = static_cast<int>(e[0]);
        const auto i = [e](int at) { return static_cast<int>(e[at]); };
        Out o = Query(info, kind, i(1), i(2), i(3), i(4), e[5], e[6]);
        for (int p = 0; p < planes; ++p) {
            for (int s = 0; s < (kind == kStar ? 6 : 5); ++s) {
                EXPECT_TRUE(SameBits(o[s == 5 ? 6 : s][p], e[7 + 6 * p + s]))
                    << "query " << q << " plane " << p << " stat " << s;
            }
            EXPECT_EQ(o[5][p], kind == kStar ? 0.0 : kUnset) << "query " << q;
        }
    }
}

}  // namespace
