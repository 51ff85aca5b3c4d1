// Histograms: bin edges, luminance precision, heights, log mode, sampled
// counting, and the parallel and serial colour paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/testsupport.h"

using orbimg::test::Fill;
using orbimg::test::MakeImage;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Calls the protected peak helper.
struct Peek : CKelImage {
    static int Height(int* hist, int bins)
    {
        Peek p;
        return p.GetHeightOfHistogram(hist, bins);
    }
};

// Restores the swap size when a test ends.
struct SwapSize {
    explicit SwapSize(long long bytes) { CVmManager::SetCurrentSwapSize(bytes); }
    ~SwapSize() { CVmManager::SetCurrentSwapSize(0); }
};

std::vector<int> Hist(CKelImage& img, int bins, double lo, double hi, int plane, CRect* rect = nullptr,
                      int cull = 0, int logScale = 0, int* height = nullptr)
{
    std::vector<int> h(bins, -7);
    const int r = img.GetHistogram(h.data(), bins, lo, hi, plane, logScale, 1, cull, rect, 0, 0);
    if (height) {
        *height = r;
    }
    return h;
}

// Deterministic samples spread over -10 .. 110, with NaN now and then.
float Noise(int x, int y, int p)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(p) * 83492791u;
    h = h * 2654435761u;
    if ((h >> 7) % 97 == 0) {
        return kNaN;
    }
    return static_cast<float>((h >> 8) % 120000) / 1000.0f - 10.0f;
}

}  // namespace

TEST(HistogramBins, EdgesOfTheValueWindow)
{
    CKelImage img = MakeImage(6, 1);
    const float below = std::nextafter(2.0f, 0.0f);
    Fill(img, 0, {2.0f, below, 4.0f, 6.0f, 5.999f, kNaN});
    // 4 bins over 2..6: 2 -> 0, 4 -> 2, 5.999 -> 3, 6 (= hi) -> top bin 3.
    EXPECT_EQ(Hist(img, 4, 2.0, 6.0, 0), (std::vector<int>{1, 0, 1, 2}));
    // hi == lo: only samples equal to it count, in bin 0.
    EXPECT_EQ(Hist(img, 3, 4.0, 4.0, 0), (std::vector<int>{1, 0, 0}));
    // hi < lo counts nothing.
    EXPECT_EQ(Hist(img, 3, 6.0, 2.0, 0), (std::vector<int>{0, 0, 0}));
    // Plane -1 on a mono image is plane 0.
    EXPECT_EQ(Hist(img, 4, 2.0, 6.0, -1), (std::vector<int>{1, 0, 1, 2}));
}

TEST(HistogramBins, BinCountBelowOneWritesNothing)
{
    CKelImage img = MakeImage(4, 4, 3);
    int h[3] = {5, 5, 5};
    EXPECT_EQ(img.GetHistogram(h, 0, 0.0, 1.0, 0, 1, 0, 1, nullptr, 0, 0), 0);
    EXPECT_EQ(img.GetHistogramRGB(h, h + 1, h + 2, -3, 0.0, 1.0, nullptr, nullptr, 0, 1, 0, nullptr, 0, 0), 0);
    EXPECT_EQ(h[0] + h[1] + h[2], 15);
}

TEST(HistogramBins, WindowClippingAndOutsideRectangle)
{
    CKelImage img = MakeImage(4, 3);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x + 4 * y); });
    CRect inner(-5, 1, 2, 99);  // columns 0, 1 of rows 1, 2: 4, 5, 8, 9
    EXPECT_EQ(Hist(img, 3, 0.0, 12.0, 0, &inner), (std::vector<int>{0, 2, 2}));
    CRect outside(10, 10, 20, 20);
    int height = 0;
    EXPECT_EQ(Hist(img, 3, 0.0, 12.0, 0, &outside, 0, 0, &height), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(height, 0);
    CRect reversed(3, 2, 1, 0);
    EXPECT_EQ(Hist(img, 3, 0.0, 12.0, 0, &reversed), (std::vector<int>{0, 0, 0}));
}

TEST(HistogramLuminance, WeightsOrderAndPrecision)
{
    // Levels 0..255 everywhere: the luminance is 0.587 G + 0.299 R + 0.114 B.
    CKelImage img = MakeImage(2, 1, 3);
    Fill(img, 0, {100.0f, 1.0f});
    Fill(img, 1, {0.0f, 1.0f});
    Fill(img, 2, {0.0f, 1.0f});
    // 29.9 falls in bin 2 of 10 bins over 0..100.
    EXPECT_EQ(Hist(img, 10, 0.0, 100.0, -1)[2], 1);
    // Grey 1.0: (0.587 + 0.299) + 0.114 in double is 0.9999999999999999,
    // below lo = 1 (in float, or summed in another order, it would be 1).
    EXPECT_EQ(Hist(img, 1, 1.0, 2.0, -1), (std::vector<int>{0}));
    EXPECT_EQ(Hist(img, 1, 0.5, 2.0, -1), (std::vector<int>{1}));

    // Planes to the 0..255 scale in float: with levels 0..7, 3.5 becomes
    // 3.5 x float(255 / 7) = 127.49999, bin 0 of 2 (in double, 127.5: bin 1).
    CKelImage grey = MakeImage(1, 1, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(grey, p, {3.5f});
        grey.SetLevel(p, 0.0, 7.0);
    }
    EXPECT_EQ(Hist(grey, 2, 0.0, 7.0, -1), (std::vector<int>{1, 0}));

    // lo and hi are rounded to float before they are scaled: with levels
    // 0..0.255 (x 1000), lo = 1.00000005 becomes 1.0 -> 1000, so a grey 1.0
    // (luminance 1000) counts; scaled unrounded, lo would be 1000.00006.
    CKelImage fine = MakeImage(1, 1, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(fine, p, {1.0f});
        fine.SetLevel(p, 0.0, 0.255);
    }
    EXPECT_EQ(Hist(fine, 1, 1.00000005, 1.00000005, -1), (std::vector<int>{1}));
}

TEST(HistogramLuminance, WindowOnPlaneZerosScaleAndNaN)
{
    CKelImage img = MakeImage(3, 1, 3);
    img.SetLevel(0, 100.0, 200.0);  // plane 0 maps lo, hi to the 0..255 scale
    img.SetLevel(1, 0.0, 255.0);
    img.SetLevel(2, 0.0, 255.0);
    Fill(img, 0, {150.0f, kNaN, 100.0f});
    Fill(img, 1, {0.0f, 0.0f, 255.0f});
    Fill(img, 2, {0.0f, 0.0f, 0.0f});
    // Pixel 0: 0.299 x 127.5 = 38.1225; pixel 2: 149.685; pixel 1 is NaN.
    // lo = 100 -> 0, hi = 200 -> 255; 5 bins of 51.
    EXPECT_EQ(Hist(img, 5, 100.0, 200.0, -1), (std::vector<int>{1, 0, 1, 0, 0}));
}

TEST(HistogramHeight, PeakNominalAndLog)
{
    int bins[3] = {3, 7, 2};
    EXPECT_EQ(Peek::Height(bins, 3), 7);
    EXPECT_EQ(Peek::Height(bins, 0), 0);

    CKelImage img = MakeImage(100, 50);
    std::vector<int> h(256);
    CRect small(0, 0, 3, 3);
    EXPECT_EQ(img.GetHistogram(h.data(), 256, 0.0, 1.0, 0, 0, 0, 0, &small, 0, 0), 39);
    EXPECT_EQ(img.GetHistogram(h.data(), 256, 0.0, 1.0, 0, 1, 0, 0, nullptr, 0, 0), 39);

    // Log mode: 100 -> 20000, 1 -> 0, an empty bin stays 0.
    CKelImage logImg = MakeImage(101, 1);
    Fill(logImg, 0, [](int x, int) { return x < 100 ? 0.5f : 2.5f; });
    int height = 0;
    EXPECT_EQ(Hist(logImg, 3, 0.0, 3.0, 0, nullptr, 0, 1, &height), (std::vector<int>{20000, 0, 0}));
    EXPECT_EQ(height, 20000);
}

TEST(HistogramSampling, GridScalesCountsToTheImage)
{
    CKelImage img = MakeImage(100, 100, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p](int x, int y) { return static_cast<float>((x + y + p) % 4); });
    }
    std::vector<int> xs;
    std::vector<int> ys;
    for (int i = 0; i < 10; ++i) {
        xs.push_back(i * 10);  // multiples of 10: x + y even, values 0 and 2
        ys.push_back(i * 10 + 1);
    }
    img.SetHistogramCull(xs.data(), 10, ys.data(), 10);
    CRect ignored(0, 0, 1, 1);
    // Grid points: x + y is odd, so (x + y) % 4 is 1 or 3, 50 each.
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, &ignored, 1), (std::vector<int>{0, 5000, 0, 5000}));
    // Without cull the rectangle counts.
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, &ignored, 0), (std::vector<int>{1, 0, 0, 0}));
    std::vector<int> r(4);
    std::vector<int> g(4);
    std::vector<int> b(4);
    EXPECT_EQ(img.GetHistogramRGB(r.data(), g.data(), b.data(), 4, 0.0, 4.0, nullptr, nullptr, 0, 1, 1, nullptr, 0,
                                  0),
              5000);
    EXPECT_EQ(g, (std::vector<int>{5000, 0, 5000, 0}));
    // Luminance on the grid, scaled by 100 as well.
    std::vector<int> luma = Hist(img, 1, 0.0, 255.0, -1, nullptr, 1);
    EXPECT_EQ(luma[0], 10000);

    // Indexes outside the image are skipped; N counts the points read.
    const int badXs[3] = {-1, 5, 100};
    const int badYs[2] = {7, 1000};
    img.SetHistogramCull(badXs, 3, badYs, 2);
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, nullptr, 1), (std::vector<int>{10000, 0, 0, 0}));  // (5 + 7) % 4 = 0

    // A grid as large as the image is not sampling: the window counts.
    std::vector<int> all(100);
    for (int i = 0; i < 100; ++i) {
        all[i] = i;
    }
    img.SetHistogramCull(all.data(), 100, all.data(), 100);
    EXPECT_EQ(Hist(img, 4, 0.0, 4.0, 0, &ignored, 1), (std::vector<int>{1, 0, 0, 0}));
}

TEST(HistogramRGB, MonoImageAndIgnoredArguments)
{
    CKelImage mono = MakeImage(5, 5);
    int r[2] = {9, 9};
    int g[2] = {9, 9};
    int b[2] = {9, 9};
    EXPECT_EQ(mono.GetHistogramRGB(r, g, b, 2, 0.0, 1.0, nullptr, nullptr, 0, 1, 0, nullptr, 0, 0), -1);
    EXPECT_EQ(r[0] + g[1] + b[0], 27);

    CKelImage img = MakeImage(3, 2, 3);
    Fill(img, 0, {0, 1, 2, 3, 4, 5});
    Fill(img, 1, {5, 5, 5, 5, 5, 5});
    Fill(img, 2, {0, 0, 0, 0, 0, kNaN});
    double d1[2] = {1.5, 2.5};
    double d2[2] = {3.5, 4.5};
    std::vector<int> hr(3);
    std::vector<int> hg(3);
    std::vector<int> hb(3);
    EXPECT_EQ(img.GetHistogramRGB(hr.data(), hg.data(), hb.data(), 3, 0.0, 6.0, d1, d2, 0, 1, 0, nullptr, 77, -4),
              6);
    EXPECT_EQ(hr, (std::vector<int>{2, 2, 2}));
    EXPECT_EQ(hg, (std::vector<int>{0, 0, 6}));
    EXPECT_EQ(hb, (std::vector<int>{5, 0, 0}));
    EXPECT_EQ(d1[0] + d1[1] + d2[0] + d2[1], 12.0);
    // Nominal height: trunc(2 x 6 / 3).
    EXPECT_EQ(img.GetHistogramRGB(hr.data(), hg.data(), hb.data(), 3, 0.0, 6.0, d1, d2, 0, 0, 0, nullptr, 0, 0), 4);
}

TEST(HistogramRGB, ParallelAndSerialPathsAgree)
{
    CKelImage img = MakeImage(131, 57, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p](int x, int y) { return Noise(x, y, p); });
    }
    const int bins = 97;
    // Window heights below 10, not a multiple of 10, and the whole image.
    const CRect windows[] = {CRect(3, 5, 120, 6),  CRect(0, 0, 131, 9),  CRect(7, 11, 99, 24),
                             CRect(-4, 2, 500, 55), CRect(0, 0, 131, 57), CRect(10, 50, 20, 90)};
    for (const CRect& w : windows) {
        CRect rect = w;
        std::vector<int> par[3];
        std::vector<int> ser[3];
        for (auto* set : {&par, &ser}) {
            SwapSize swap(set == &par ? 0 : 4096);
            for (auto& h : *set) {
                h.assign(bins, -1);
            }
            img.GetHistogramRGB((*set)[0].data(), (*set)[1].data(), (*set)[2].data(), bins, -5.0, 105.0, nullptr,
                                nullptr, 0, 1, 0, &rect, 0, 0);
        }
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(par[p], ser[p]) << "plane " << p << " window top " << w.top;
            // And each plane agrees with the single-plane histogram.
            EXPECT_EQ(par[p], Hist(img, bins, -5.0, 105.0, p, &rect));
        }
    }
}

// One plane and the luminance over row bands against the serial loop, on
// windows and on a cull grid (rows listed out of order and repeated).
TEST(HistogramBands, PlaneAndLuminanceMatchTheSerialLoop)
{
    CKelImage img = MakeImage(131, 57, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p](int x, int y) { return Noise(x, y, p); });
    }
    const int columns[] = {0, 5, 9, 130, 64};
    int rows[40];
    for (int i = 0; i < 40; ++i) {
        rows[i] = (i * 17) % 57;
    }
    img.SetHistogramCull(columns, 5, rows, 40);
    const CRect windows[] = {CRect(3, 5, 120, 6), CRect(7, 11, 99, 24), CRect(-4, 2, 500, 55), CRect(0, 0, 131, 57)};
    for (const int plane : {1, -1}) {
        for (const int cull : {0, 1}) {
            for (const CRect& w : windows) {
                CRect rect = w;
                std::vector<int> h[2];
                for (const int serial : {0, 1}) {
                    SwapSize swap(serial);
                    h[serial] = Hist(img, 97, -5.0, 105.0, plane, &rect, cull);
                }
                EXPECT_EQ(h[0], h[1]) << "plane " << plane << " cull " << cull << " window top " << w.top;
            }
        }
    }
}

TEST(HistogramRGB, CountsMatchAPlainLoop)
{
    CKelImage img = MakeImage(64, 23, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p](int x, int y) { return Noise(x, y, p); });
    }
    const int bins = 5000;
    const double lo = 0.0;
    const double hi = 100.0;
    std::vector<int> h[3];
    for (auto& v : h) {
        v.assign(bins, 0);
    }
    img.GetHistogramRGB(h[0].data(), h[1].data(), h[2].data(), bins, lo, hi, nullptr, nullptr, 0, 1, 0, nullptr, 0, 0);
    for (int p = 0; p < 3; ++p) {
        std::vector<int> ref(bins, 0);
        const double scale = bins / (hi - lo);
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 64; ++x) {
                const double v = orbimg::test::At(img, x, y, p);
                if (lo <= v && v <= hi) {
                    const int b = static_cast<int>((v - lo) * scale);
                    ++ref[b > bins - 1 ? bins - 1 : (b < 0 ? 0 : b)];
                }
            }
        }
        EXPECT_EQ(h[p], ref) << "plane " << p;
    }
}
