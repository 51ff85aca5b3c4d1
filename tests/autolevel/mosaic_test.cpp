// Medians of Bayer and honeycomb mosaics: positions, odd sizes, block
// sampling, the camera margins and the gains.
#include <gtest/gtest.h>

#include <vector>

#include "autolevel_support.h"

using namespace orbimg::test;

namespace {

// Honeycomb photosite offsets in output order.
constexpr int kSites[8][2] = {{1, 0}, {0, 1}, {1, 2}, {0, 3}, {3, 0}, {2, 1}, {3, 2}, {2, 3}};

}  // namespace

TEST(MosaicBayer, PositionsAndOddSizes)
{
    // 5 x 5: the last row and column belong to no position.
    CImgAutoLevel img = MakeAuto(5, 5);
    Fill(img, 0, [](int x, int y) {
        if (x == 4 || y == 4) {
            return 1e9f;
        }
        // Position (x % 2, y % 2) gets 10 x position + 1 .. 4 by cell.
        const int q = (x % 2) + 2 * (y % 2);
        const int cell = (x / 2) + 2 * (y / 2);
        return static_cast<float>(10 * q + (cell * 3) % 4 + 1);
    });
    float m[4] = {};
    img.GetMedianBayer(m, 0);
    // Each position has 1, 2, 3, 4 (over the four cells): index 2 -> 3.
    EXPECT_EQ(m[0], 3.0f);
    EXPECT_EQ(m[1], 13.0f);
    EXPECT_EQ(m[2], 23.0f);
    EXPECT_EQ(m[3], 33.0f);

    // Fewer than 50000 pixels: blockSampling changes nothing.
    float n[4] = {};
    img.GetMedianBayer(n, 1);
    EXPECT_EQ(std::vector<float>(m, m + 4), std::vector<float>(n, n + 4));

    // Too small for a cell: 0.0 everywhere.
    CImgAutoLevel tiny = MakeAuto(1, 7);
    Fill(tiny, 0, [](int, int) { return 5.0f; });
    tiny.GetMedianBayer(n, 0);
    EXPECT_EQ(std::vector<float>(n, n + 4), std::vector<float>(4, 0.0f));
}

TEST(MosaicBayer, BlockSampling)
{
    // 1000 x 1000: k = 4, s = 2. Each block of 2 x 2 same-position samples
    // holds 10q + 100 three times and 10q + 97 once: sum / 4 = 10q + 99.25.
    // Without blocks the median is 10q + 100.
    CImgAutoLevel img = MakeAuto(1000, 1000);
    Fill(img, 0, [](int x, int y) {
        const int q = (x % 2) + 2 * (y % 2);
        const bool first = (x / 2) % 2 == 0 && (y / 2) % 2 == 0;
        return static_cast<float>(10 * q + (first ? 97 : 100));
    });
    float m[4] = {};
    img.GetMedianBayer(m, 1);
    for (int q = 0; q < 4; ++q) {
        EXPECT_EQ(m[q], static_cast<float>(10 * q + 99.25)) << q;
    }
    img.GetMedianBayer(m, 0);
    EXPECT_EQ(m[3], 130.0f);

    // 300 x 200 = 60000 pixels: k = 1 would give s = 0; s = 1 is used.
    CImgAutoLevel k1 = HashImage(300, 200, 1);
    float a[4] = {};
    float b[4] = {};
    k1.GetMedianBayer(a, 1);
    k1.GetMedianBayer(b, 0);
    EXPECT_EQ(std::vector<float>(a, a + 4), std::vector<float>(b, b + 4));

    // A NaN block is dropped: position 0 of a 4 x 4 image keeps 3 values.
    CImgAutoLevel nan = MakeAuto(4, 4);
    Fill(nan, 0, {1, 0, 7, 0, 0, 0, 0, 0, kNaN, 0, 5, 0, 0, 0, 0, 0});
    nan.GetMedianBayer(a, 0);
    EXPECT_EQ(a[0], 5.0f);  // 1, 5, 7
}

TEST(MosaicHoneyComb, GainsAndCameraMargins)
{
    // Site (dx, dy) of the absolute 4 x 4 pattern holds 100 + 10 dx + dy.
    const auto site = [](int x, int y) { return 100.0f + 10.0f * (x % 4) + static_cast<float>(y % 4); };
    CImgAutoLevel img = MakeAuto(1000, 800);
    Fill(img, 0, [&site](int x, int y) {
        const bool margin = x < 48 || x >= 952 || y < 30 || y >= 770;
        return margin ? 1e6f : site(x, y);
    });
    // Without the camera, the margins take part (a sixth of the area: the
    // medians stay the body's) and positions are absolute.
    double gains[8] = {};
    img.GetMedianHoneyComb(gains, 0);
    double largest = 0.0;
    for (const auto& s : kSites) {
        largest = std::max(largest, static_cast<double>(site(s[0], s[1])));
    }
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(gains[k], largest / site(kSites[k][0], kSites[k][1])) << k;
    }
    // With the camera, measured from (48, 30): row offset 30 shifts the
    // pattern by two rows; the margins are not read.
    for (const wchar_t* model : {L"FinePixS2Pro", L"FUJIFILM FINEPIXS2PRO", L"xxfinepixs2proyy"}) {
        img.GetHeader()->SetCameraModel(model);
        img.GetMedianHoneyComb(gains, 0);
        largest = 0.0;
        for (const auto& s : kSites) {
            largest = std::max(largest, static_cast<double>(site(s[0], s[1] + 2)));
        }
        for (int k = 0; k < 8; ++k) {
            EXPECT_EQ(gains[k], largest / site(kSites[k][0], kSites[k][1] + 2)) << k;
        }
    }
    // Another character inside the name: no match, absolute positions again.
    img.GetHeader()->SetCameraModel(L"FinePix S2Pro");
    img.GetMedianHoneyComb(gains, 0);
    EXPECT_EQ(gains[0], 132.0 / 110.0);  // site (3, 2) over site (1, 0)
}

TEST(MosaicHoneyComb, BlockSamplingAndDegenerateMedians)
{
    // 4000 x 3000, no camera: a = 750000, s = 4, 187 x 250 blocks of 16.
    // Each block: 15 samples of c and one of c + 8 -> sum / 16 = c + 0.5.
    CImgAutoLevel img = MakeAuto(4000, 3000);
    Fill(img, 0, [](int x, int y) {
        const int dx = x % 4;
        const int dy = y % 4;
        if ((dx + dy) % 2 == 0) {
            return 1e9f;  // not a photosite
        }
        const bool first = (x / 4) % 4 == 0 && (y / 4) % 4 == 0;
        return static_cast<float>(200 + 4 * dx + dy + (first ? 8 : 0));
    });
    double gains[8] = {};
    img.GetMedianHoneyComb(gains, 1);
    const double top = 200 + 4 * 3 + 2 + 0.5;  // site (3, 2)
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(gains[k], top / (200 + 4 * kSites[k][0] + kSites[k][1] + 0.5)) << k;
    }

    // Equal medians: all 1. A zero median: gain 1. No block: 0.
    CImgAutoLevel flat = MakeAuto(8, 8);
    Fill(flat, 0, [](int, int) { return 3.0f; });
    flat.GetMedianHoneyComb(gains, 0);
    EXPECT_EQ(std::vector<double>(gains, gains + 8), std::vector<double>(8, 1.0));
    Fill(flat, 0, [](int x, int y) { return (x % 4 == 1 && y % 4 == 0) ? 0.0f : (x % 4 == 0 ? 200.0f : 100.0f); });
    flat.GetMedianHoneyComb(gains, 0);
    EXPECT_EQ(gains[0], 1.0);  // (1, 0): median 0
    EXPECT_EQ(gains[1], 1.0);  // (0, 1): 200, the largest
    EXPECT_EQ(gains[2], 2.0);  // (1, 2): 100
    CImgAutoLevel small = MakeAuto(3, 9);
    small.GetMedianHoneyComb(gains, 1);
    EXPECT_EQ(std::vector<double>(gains, gains + 8), std::vector<double>(8, 0.0));
    small.GetHeader()->SetCameraModel(L"finepixs2pro");  // smaller than the margins
    small.GetMedianHoneyComb(gains, 1);
    EXPECT_EQ(std::vector<double>(gains, gains + 8), std::vector<double>(8, 0.0));
}
