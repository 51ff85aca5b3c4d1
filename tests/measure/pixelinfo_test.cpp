// CImgPixelInfo: hand-checked cases, the Python reference, selection vs a
// full sort, empty regions, blanks and extreme arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "measure_support.h"

using orbimg::test::At;
using orbimg::test::Fill;
using orbimg::test::MakeImage;
using orbimg::test::SameBits;

namespace {

constexpr double kUnset = 7.0;
const std::vector<double> kZeros(5, 0.0);

/// Output arrays of five entries (max, min, mean, stddev, median, and for a
/// star two more), preset to kUnset.
struct Out {
    double v[7][5];
    Out() { std::fill(&v[0][0], &v[0][0] + 35, kUnset); }
    double* operator[](int i) { return v[i]; }
    std::vector<double> Plane(int p) const { return {v[0][p], v[1][p], v[2][p], v[3][p], v[4][p]}; }
    bool AllZero(int arrays) const  // planes 0 .. 2 of the first arrays
    {
        for (int a = 0; a < arrays; ++a) {
            if (v[a][0] != 0.0 || v[a][1] != 0.0 || v[a][2] != 0.0) {
                return false;
            }
        }
        return true;
    }
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
    double sum = 0.0;
    for (std::size_t i = lo; i <= hi; ++i) {
        sum += v[i];
    }
    const double m = static_cast<double>(hi - lo + 1);
    const double mean = sum / m;
    double ss = 0.0;
    for (std::size_t i = lo; i <= hi; ++i) {
        ss += (v[i] - mean) * (v[i] - mean);
    }
    return {v[hi], v[lo], mean, std::sqrt(ss / m), v[lo + (hi - lo + 1) / 2]};
}

TEST(PixelInfo, CalcOfAPointAndOfOddAndEvenBoxes)
{
    CImgPixelInfo info = MakeInfo(9, 8, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(info, p, [p](int x, int y) { return static_cast<float>((x * 7 + y * 3) % 11 + 20 * p); });
    }
    const Out five = Query(info, kPoint, 4, 4, 5);
    for (int p = 0; p < 3; ++p) {
        const double v = (4 * 7 + 5 * 3) % 11 + 20 * p;
        for (const int size : {0, 1}) {
            EXPECT_EQ(Query(info, kPoint, 4, 5, size).Plane(p), (std::vector<double>{v, v, v, 0.0, v}));
        }
        std::vector<float> box;
        for (int y = 2; y <= 6; ++y) {
            for (int x = 2; x <= 6; ++x) {
                box.push_back(At(info, x, y, p));
            }
        }
        const std::vector<double> want = SortedStats(box, 0, box.size() - 1);
        EXPECT_EQ(Query(info, kPoint, 4, 4, 4).Plane(p), five.Plane(p));
        for (const int s : {0, 1, 2, 4}) {  // integer sums: any order agrees
            EXPECT_EQ(five.Plane(p)[s], want[s]);
        }
        EXPECT_NEAR(five.Plane(p)[3], want[3], 1e-12);
    }
}

TEST(PixelInfo, RectanglesAreClampedToTheImage)
{
    CImgPixelInfo info = MakeInfo(4, 3);
    Fill(info, 0, {1, 2, 9, 9, 3, 6, 9, 9, 9, 9, 9, 9});
    Out o;
    info.Calc(CRect(-5, -7, 2, 2), o[0], o[1], o[2], o[3], nullptr);
    EXPECT_EQ(o.Plane(0), (std::vector<double>{6, 1, 3, std::sqrt(3.5), kUnset}));
    EXPECT_EQ(o[1][1], 0.0);     // mono: entries 1 and 2 cleared only
    EXPECT_EQ(o[4][0], kUnset);  // no median asked: not even cleared
}

TEST(PixelInfo, TrimmingIndices)
{
    // 0 .. 9 shuffled along one row: the kept extremes are the kept indices.
    CImgPixelInfo info = MakeInfo(10, 1);
    Fill(info, 0, {7, 2, 9, 0, 5, 3, 8, 1, 6, 4});
    const auto kept = [&info](int n, double upper, double lower) {
        Out o = Query(info, kTrimmed, 0, 0, n, 1, upper, lower);
        std::vector<float> v(n);
        for (int i = 0; i < n; ++i) {
            v[i] = At(info, i, 0);
        }
        std::sort(v.begin(), v.end());
        const auto lo = std::find(v.begin(), v.end(), static_cast<float>(o[1][0])) - v.begin();
        const auto hi = std::find(v.begin(), v.end(), static_cast<float>(o[0][0])) - v.begin();
        return std::pair<long, long>(lo, hi);
    };
    using P = std::pair<long, long>;
    EXPECT_EQ(kept(10, 0.5, 0.5), P(2, 7));
    EXPECT_EQ(kept(10, 1, 1), P(0, 9));
    EXPECT_EQ(kept(10, 0, 0), P(5, 6));
    EXPECT_EQ(kept(3, 0, 0), P(1, 2));  // at least two values from n = 3
    EXPECT_EQ(kept(2, 0, 0), P(1, 1));
    EXPECT_EQ(kept(1, 0, 0), P(0, 0));
    EXPECT_EQ(kept(10, 5, 5), P(0, 9));
    EXPECT_EQ(kept(10, -3, -3), P(5, 6));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(kept(10, nan, nan), P(0, 6));
    EXPECT_EQ(kept(10, inf, inf), P(0, 9));
    EXPECT_EQ(kept(10, 1e300, -1e300), P(5, 9));
}

TEST(PixelInfo, CircleMembership)
{
    // A single bright probe is counted when it lies inside the circle.
    CImgPixelInfo info = MakeInfo(21, 21);
    for (const int r : {1, 2, 3, 4, 7}) {
        int count = 0;
        for (int dy = -r - 1; dy <= r + 1; ++dy) {
            for (int dx = -r - 1; dx <= r + 1; ++dx) {
                Fill(info, 0, [&](int x, int y) { return (x == 10 + dx && y == 10 + dy) ? 1.0f : 0.0f; });
                const bool inside = dx * dx + dy * dy < r * r;
                EXPECT_EQ(Query(info, kCircle, 10, 10, r, 0, 1, 1)[0][0], inside ? 1.0 : 0.0)
                    << r << ": " << dx << "," << dy;
                count += inside;
            }
        }
        if (r <= 3) {
            EXPECT_EQ(count, (2 * r - 1) * (2 * r - 1));  // 1, 9, 25
        }
    }
}

TEST(PixelInfo, StarWorkedExampleAndFlatRegion)
{
    CImgPixelInfo info = MakeInfo(7, 7);
    Fill(info, 0, [](int x, int y) { return (x == 3 && y == 3) ? 100.0f : 10.0f; });
    Out o = Query(info, kStar, 3, 3, 2);
    EXPECT_EQ(o.Plane(0), (std::vector<double>{10, 10, 10, 0, 10}));
    EXPECT_TRUE(SameBits(o[6][0], 1.1283791670955126));
    EXPECT_EQ(o[5][0], 0.0);
    EXPECT_EQ(o[5][2], 0.0);
    Fill(info, 0, [](int, int) { return 10.0f; });
    info.CalcStar(3, 3, 3, 0.5, 0.5, o[0], o[1], o[2], o[3], nullptr, o[5], o[6]);
    EXPECT_EQ(o[6][0], 0.0);
    EXPECT_EQ(o[2][0], 10.0);
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
    const CKelImage refused[] = {orbimg::test::CheckerStar(21, 21, 10, 0), orbimg::test::CheckerStar(21, 21, 10, 10),
                                 MakeImage(30, 30), MakeImage(30, 30)};
    const CPoint at[] = {CPoint(10, 5), CPoint(20, 20), CPoint(15, 15), CPoint(INT_MAX, INT_MIN)};
    for (int i = 0; i < 4; ++i) {
        info = refused[i];
        f = kUnset;
        info.CalcFWHM(at[i].x, at[i].y, &f);
        EXPECT_EQ(f, 0.0) << i;
    }
}

TEST(PixelInfo, EmptyRegionsLeaveZeros)
{
    CImgPixelInfo info = MakeInfo(6, 5, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(info, p, [](int x, int y) { return static_cast<float>(x + y + 1); });
    }
    EXPECT_TRUE(Query(info, kCalc, 7, 0, 9, 5).AllZero(5));
    EXPECT_TRUE(Query(info, kCalc, -1, -1, 0, 0).AllZero(5));  // one sample, outside
    EXPECT_TRUE(Query(info, kSky, 6, 4, 7, 5).AllZero(5));
    EXPECT_TRUE(Query(info, kSky, 5, 4, 9, 9).AllZero(5));  // clamped to one pixel
    EXPECT_TRUE(Query(info, kTrimmed, 3, 3, 3, 9).AllZero(5));
    for (const CPoint c : {CPoint(-1, 2), CPoint(6, 2), CPoint(2, 5), CPoint(INT_MIN, INT_MAX)}) {
        EXPECT_TRUE(Query(info, kStar, c.x, c.y, 3).AllZero(7));
    }
    for (const int r : {0, -4, INT_MIN}) {
        EXPECT_TRUE(Query(info, kCircle, 2, 2, r).AllZero(5));
    }
    // Only three planes are written.
    CImgPixelInfo five = MakeInfo(4, 4, 5);
    for (int p = 0; p < 5; ++p) {
        Fill(five, p, [p](int, int) { return static_cast<float>(p + 1); });
    }
    Out o = Query(five, kCircle, 1, 1, 2, 0, 1, 1);
    EXPECT_EQ(o[2][2], 3.0);
    EXPECT_EQ(o[2][3], kUnset);
    EXPECT_EQ(o[0][4], kUnset);
}

TEST(PixelInfo, BlanksAreSkippedAndExtremeArgumentsAreSafe)
{
    CImgPixelInfo info = MakeInfo(5, 4);
    Fill(info, 0, [](int x, int y) { return static_cast<float>(x * y + 1); });
    CImgPixelInfo blanked = info;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    *blanked.GetImageAdr(0, 0, 0, 0, nullptr) = nan;  // the rectangle's first sample
    *blanked.GetImageAdr(2, 2, 0, 0, nullptr) = -std::numeric_limits<float>::infinity();
    Out a = Query(blanked, kCalc, 0, 0, 5, 4);
    std::vector<float> finite;
    for (const float v : orbimg::test::Samples(blanked)) {
        if (std::isfinite(v)) {
            finite.push_back(v);
        }
    }
    EXPECT_EQ(a[4][0], SortedStats(finite, 0, finite.size() - 1)[4]);
    EXPECT_EQ(a[1][0], 1.0);
    EXPECT_EQ(a[0][0], 13.0);
    EXPECT_NEAR(a[2][0], 74.0 / 18.0, 1e-15);
    Fill(blanked, 0, [nan](int, int) { return nan; });
    EXPECT_EQ(Query(blanked, kCalc, 0, 0, 5, 4).Plane(0), kZeros);

    // Whole-image answers from arguments at the ends of the int range; the
    // width x height of the first rectangle overflows 64 bits.
    const std::vector<double> whole = Query(info, kCalc, 0, 0, 5, 4).Plane(0);
    EXPECT_EQ(Query(info, kPoint, INT_MAX, INT_MIN, INT_MAX).Plane(0), kZeros);  // far outside
    EXPECT_EQ(Query(info, kPoint, 2, 2, INT_MAX).Plane(0), whole);
    EXPECT_EQ(Query(info, kCalc, INT_MIN, INT_MIN, INT_MAX, INT_MAX).Plane(0), whole);
    EXPECT_EQ(Query(info, kCalc, INT_MAX, INT_MAX, INT_MIN, INT_MIN).Plane(0), kZeros);
    EXPECT_EQ(Query(info, kTrimmed, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 1, 1).Plane(0),
              Query(info, kCircle, 2, 2, INT_MAX, 0, 1, 1).Plane(0));
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
    const int blanks = next();
    const std::size_t blankAt = k;
    k += 4 * blanks;
    for (int p = 0; p < planes; ++p) {
        Fill(info, p, [&](int, int) { return static_cast<float>(d[k++]); });
    }
    const float kinds[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity()};
    for (int b = 0; b < blanks; ++b) {
        const double* e = &d[blankAt + 4 * b];
        *info.GetImageAdr(static_cast<int>(e[1]), static_cast<int>(e[2]), static_cast<int>(e[0]), 0, nullptr) =
            kinds[static_cast<int>(e[3])];
    }
    const int queries = next();
    ASSERT_EQ(d.size(), k + queries * (7 + 18));
    for (int q = 0; q < queries; ++q) {
        const std::size_t at = k;
        const int kind = next();
        const int a = next();
        const int b = next();
        const int c = next();
        Out o = Query(info, kind, a, b, c, next(), d[at + 5], d[at + 6]);
        k = at + 7;
        for (int p = 0; p < planes; ++p) {
            for (int s = 0; s < 6; ++s) {
                if (s < 5 || kind == 4) {
                    EXPECT_TRUE(SameBits(o[s == 5 ? 6 : s][p], d[k + 6 * p + s]))
                        << "query " << q << " plane " << p << " stat " << s;
                }
            }
        }
        k += 18;
    }
}

}  // namespace
