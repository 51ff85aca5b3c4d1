// Histograms: bin edges, luminance precision, heights, log mode, sampled
// counting, the parallel and serial colour paths, and the bin-index kernels
// in every build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <vector>

#include "display/histogrambins.h"
#include "support/eachtarget.h"
#include "support/testsupport.h"

using orbimg::test::At;
using orbimg::test::Fill;
using orbimg::test::MakeImage;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

std::vector<int> Hist(CKelImage& img, int bins, double lo, double hi, int plane, CRect* rect = nullptr, int cull = 0,
                      int logScale = 0, int* height = nullptr)
{
    std::vector<int> h(bins, -7);
    const int r = img.GetHistogram(h.data(), bins, lo, hi, plane, logScale, 1, cull, rect, 0, 0);
    if (height) {
        *height = r;
    }
    return h;
}

}  // namespace

// The worked cases of tests/reference/histogram_cases.txt: bin edges of the
// value window and rectangles, then the luminance's weights, order and
// precision.
TEST(HistogramCases, BinsAndLuminanceMatchTheWorkedCases)
{
    const std::vector<double> v = orbimg::test::ReadNumbers("histogram_cases.txt");
    std::size_t i = 0;
    const auto next = [&v, &i] { return i < v.size() ? v[i++] : -1e300; };
    const auto counts = [&next](int bins) {
        std::vector<int> out(static_cast<std::size_t>(bins));
        std::generate(out.begin(), out.end(), [&next] { return static_cast<int>(next()); });
        return out;
    };
    CKelImage img = MakeImage(6, 2);
    Fill(img, 0, {2.0f, std::nextafter(2.0f, 0.0f), 4.0f, 6.0f, 5.999f, kNaN, 0, 1, 2, 3, 4, 5});
    for (int c = static_cast<int>(next()); c > 0; --c) {
        const int bins = static_cast<int>(next());
        const double lo = next();
        const double hi = next();
        const int plane = static_cast<int>(next());
        const int l = static_cast<int>(next()), t = static_cast<int>(next()), r = static_cast<int>(next());
        CRect rect(l, t, r, static_cast<int>(next()));
        const std::vector<int> want = counts(bins);
        int height = -1;
        EXPECT_EQ(Hist(img, bins, lo, hi, plane, &rect, 0, 0, &height), want)
            << bins << " bins over " << lo << " .. " << hi << " plane " << plane << " rect " << rect.left;
        EXPECT_TRUE(height == 0 || std::count(want.begin(), want.end(), 0) < bins);
    }
    for (int c = static_cast<int>(next()); c > 0; --c) {
        CKelImage pixel = MakeImage(1, 1, 3);
        const float rgb[3] = {static_cast<float>(next()), static_cast<float>(next()), static_cast<float>(next())};
        const double red[2] = {next(), next()};
        const double others[2] = {next(), next()};
        for (int p = 0; p < 3; ++p) {
            Fill(pixel, p, {rgb[p]});
            pixel.SetLevel(p, p == 0 ? red[0] : others[0], p == 0 ? red[1] : others[1]);
        }
        const int bins = static_cast<int>(next());
        const double lo = next();
        const double hi = next();
        EXPECT_EQ(Hist(pixel, bins, lo, hi, -1), counts(bins))
            << rgb[0] << " " << rgb[1] << " " << rgb[2] << " in " << bins << " bins over " << lo << " .. " << hi;
    }
    EXPECT_EQ(i, v.size()) << "reference file malformed";

    // A bin count below 1 writes nothing.
    int h[3] = {5, 5, 5};
    EXPECT_EQ(img.GetHistogram(h, 0, 0.0, 1.0, 0, 1, 0, 1, nullptr, 0, 0), 0);
    CKelImage colour = MakeImage(4, 4, 3);
    EXPECT_EQ(colour.GetHistogramRGB(h, h + 1, h + 2, -3, 0.0, 1.0, nullptr, nullptr, 0, 1, 0, nullptr, 0, 0), 0);
    EXPECT_EQ(h[0] + h[1] + h[2], 15);
}

TEST(HistogramHeight, NominalLogAndMono)
{
    // Nominal: trunc(2 x 100 x 50 / 256) from the whole image, in log mode
    // too, for one plane and for three.
    CKelImage img = MakeImage(100, 50, 3);
    std::vector<int> h(3 * 256);
    CRect small(0, 0, 3, 3);
    EXPECT_EQ(img.GetHistogram(h.data(), 256, 0.0, 1.0, 0, 1, 0, 0, &small, 0, 0), 39);
    double d[4] = {1.5, 2.5, 3.5, 4.5};  // left alone, as are the last two arguments
    EXPECT_EQ(img.GetHistogramRGB(&h[0], &h[256], &h[512], 256, 0.0, 1.0, d, d + 2, 0, 0, 0, nullptr, 77, -4), 39);
    EXPECT_EQ(d[0] + d[1] + d[2] + d[3], 12.0);

    // Log mode: 100 -> 20000, 1 -> 0, an empty bin stays 0.
    CKelImage logImg = MakeImage(101, 1);
    Fill(logImg, 0, [](int x, int) { return x < 100 ? 0.5f : 2.5f; });
    int height = 0;
    EXPECT_EQ(Hist(logImg, 3, 0.0, 3.0, 0, nullptr, 0, 1, &height), (std::vector<int>{20000, 0, 0}));
    EXPECT_EQ(height, 20000);

    // A mono image has no colour histogram: -1, nothing written.
    std::fill(h.begin(), h.end(), 9);
    EXPECT_EQ(logImg.GetHistogramRGB(&h[0], &h[256], &h[512], 2, 0.0, 1.0, nullptr, nullptr, 0, 1, 0, nullptr, 0, 0),
              -1);
    EXPECT_EQ(std::count(h.begin(), h.end(), 9), 3 * 256);
}

TEST(HistogramSampling, GridScalesCountsToTheImage)
{
    CKelImage img = MakeImage(100, 100, 3);
    Fill(img, [](int x, int y, int p) { return static_cast<float>((x + y + p) % 4); });
    int all[100];
    std::iota(all, all + 100, 0);
    const int xs[10] = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    const int ys[10] = {1, 11, 21, 31, 41, 51, 61, 71, 81, 91};
    img.SetHistogramCull(xs, 10, ys, 10);
    CRect ignored(0, 0, 1, 1);
    // Grid points: x + y is odd, so (x + y) % 4 is 1 or 3, 50 each; the
    // counts scale by 100, the rectangle is ignored.
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, &ignored, 1), (std::vector<int>{0, 5000, 0, 5000}));
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, &ignored, 0), (std::vector<int>{1, 0, 0, 0}));  // without cull
    std::vector<int> rgb[3] = {std::vector<int>(4), std::vector<int>(4), std::vector<int>(4)};
    EXPECT_EQ(img.GetHistogramRGB(rgb[0].data(), rgb[1].data(), rgb[2].data(), 4, 0.0, 4.0, nullptr, nullptr, 0, 1, 1,
                                  nullptr, 0, 0),
              5000);
    EXPECT_EQ(rgb[1], (std::vector<int>{5000, 0, 5000, 0}));
    EXPECT_EQ(Hist(img, 1, 0.0, 255.0, -1, nullptr, 1)[0], 10000);  // the luminance as well

    // Indexes outside the image are skipped; N counts the points read.
    const int badXs[3] = {-1, 5, 100};
    const int badYs[2] = {7, 1000};
    img.SetHistogramCull(badXs, 3, badYs, 2);
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, nullptr, 1), (std::vector<int>{10000, 0, 0, 0}));  // (5 + 7) % 4 = 0

    // A grid as large as the image is not sampling: the window counts.
    img.SetHistogramCull(all, 100, all, 100);
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, &ignored, 1), (std::vector<int>{1, 0, 0, 0}));

    // The factor is W x H / N: 9 x (9900 / 27) = 3300, where 9 x 100 x
    // (99 / 27) would truncate to 3299.
    CKelImage tall = MakeImage(100, 99);
    Fill(tall, 0, [](int x, int) { return x == 0 ? 0.5f : 1.5f; });
    tall.SetHistogramCull(all, 3, all, 9);
    EXPECT_EQ(Hist(tall, 2, 0.0, 2.0, 0, nullptr, 1), (std::vector<int>{3300, 6600}));
}

// Colour histograms and the luminance over row bands against the serial
// loop, each plane against the single-plane histogram and a plain loop, on
// windows (heights below 10, not a multiple of 10, the whole image, beyond
// it) and on a cull grid (rows listed out of order and repeated).
TEST(HistogramBands, ParallelSerialAndPlainLoopAgree)
{
    CKelImage img = MakeImage(131, 57, 3);
    Fill(img, [](int x, int y, int p) {  // -10 .. 110 in steps of 0.001, NaN now and then
        const std::uint32_t h = (x * 73856093u ^ y * 19349663u ^ p * 83492791u) * 2654435761u;
        return (h >> 7) % 97 == 0 ? kNaN : static_cast<float>((h >> 8) % 120000) / 1000.0f - 10.0f;
    });
    const int columns[] = {0, 5, 9, 130, 64};
    int rows[40];  // (17 i) mod 57
    std::generate(rows, rows + 40, [i = 0]() mutable { return (i++ * 17) % 57; });
    img.SetHistogramCull(columns, 5, rows, 40);
    const int bins = 5000;  // bins of 0.02 over 0 .. 100: many samples on an edge
    const CRect windows[] = {CRect(3, 5, 120, 6),   CRect(0, 0, 131, 9),  CRect(7, 11, 99, 24),
                             CRect(-4, 2, 500, 55), CRect(0, 0, 131, 57), CRect(10, 50, 20, 90)};
    for (const int cull : {0, 1}) {
        for (const CRect& w : windows) {
            SCOPED_TRACE(::testing::Message() << "cull " << cull << " window top " << w.top << " bottom " << w.bottom);
            CRect rect = w;
            std::vector<std::vector<int>> got[2];  // red, green, blue, the luminance, plane 1 alone
            for (const int serial : {0, 1}) {
                CVmManager::SetCurrentSwapSize(serial);
                std::vector<std::vector<int>>& h = got[serial];
                h.assign(3, std::vector<int>(bins, -1));
                img.GetHistogramRGB(h[0].data(), h[1].data(), h[2].data(), bins, 0.0, 100.0, nullptr, nullptr, 0, 1,
                                    cull, &rect, 0, 0);
                h.push_back(Hist(img, bins, 0.0, 100.0, -1, &rect, cull));
                h.push_back(Hist(img, bins, 0.0, 100.0, 1, &rect, cull));
                CVmManager::SetCurrentSwapSize(0);
            }
            EXPECT_TRUE(got[0] == got[1]);
            const std::vector<std::vector<int>>& rgb = got[0];
            for (int p = 0; p < 3; ++p) {
                EXPECT_EQ(rgb[p], Hist(img, bins, 0.0, 100.0, p, &rect, cull)) << "plane " << p;
                if (cull == 1) {
                    continue;
                }
                std::vector<int> plain(bins, 0);
                for (int y = std::max(0, w.top); y < std::min(57, w.bottom); ++y) {
                    for (int x = std::max(0, w.left); x < std::min(131, w.right); ++x) {
                        const double v = At(img, x, y, p);
                        if (0.0 <= v && v <= 100.0) {
                            ++plain[std::min(static_cast<int>(v * (bins / 100.0)), bins - 1)];
                        }
                    }
                }
                EXPECT_EQ(rgb[p], plain) << "plane " << p;
            }
        }
    }
}

// The bin-index kernels in every build against BinMap::Index and
// LumaMap::Luma as a plain loop, on runs (not a multiple of any vector
// width) of bin edges and their neighbours, the window's ends, NaN,
// infinities, huge and subnormal values and signed zeros, in three windows
// (one of zero width).
using HistogramBinsEachTarget = orbimg::test::EachTarget;

TEST_P(HistogramBinsEachTarget, IndexesAsThePlainLoop)
{
    using orbimg::detail::BinMap;
    using orbimg::detail::LumaMap;
    const BinMap maps[] = {BinMap(5000, 0.0, 255.0), BinMap(4999, -2.5, 1e4), BinMap(7, 5.0, 5.0)};
    const LumaMap luma{{-3.5f, 0.25f, 1e-3f}, {255.0f / 7.0f, 255.0f / 100.3f, 3.0e5f}};
    std::vector<float> v;
    for (const BinMap& m : maps) {
        for (int k = 0; k <= m.bins; k += 37) {
            const float edge = static_cast<float>(m.lo + k / m.scale);
            v.insert(v.end(), {edge, std::nextafter(edge, -kInf), std::nextafter(edge, kInf)});
        }
        v.insert(v.end(), {static_cast<float>(m.lo), static_cast<float>(m.hi)});
    }
    v.insert(v.end(), {kNaN, kInf, -kInf, 1e30f, -1e30f, 1e-40f, -0.0f, 0.0f, 3.0e38f});
    std::uint32_t h = 12345;
    while (v.size() % 64 != 37) {
        h = h * 1664525u + 1013904223u;
        v.push_back(static_cast<float>(h >> 8) / 16777216.0f * 300.0f - 20.0f);
    }
    const int n = static_cast<int>(v.size());
    std::vector<float> g(v.rbegin(), v.rend());
    std::vector<float> b(v.begin() + n / 3, v.end());
    b.insert(b.end(), v.begin(), v.begin() + n / 3);
    for (const BinMap& m : maps) {
        std::vector<int> got(static_cast<std::size_t>(n));
        std::vector<int> want(static_cast<std::size_t>(n));
        orbimg::detail::PlaneBins(v.data(), n, m, got.data());
        for (int i = 0; i < n; ++i) {
            want[i] = m.Index(static_cast<double>(v[i]));
        }
        EXPECT_EQ(got, want) << "plane, " << m.bins << " bins";
        orbimg::detail::LumaBins(v.data(), g.data(), b.data(), n, luma, m, got.data());
        for (int i = 0; i < n; ++i) {
            want[i] = m.Index(luma.Luma(v[i], g[i], b[i]));
        }
        EXPECT_EQ(got, want) << "luminance, " << m.bins << " bins";
    }
}
ORBIMG_EACH_TARGET(HistogramBinsEachTarget);
