// Medians of Bayer and honeycomb mosaics: positions, odd sizes, block
// sampling, the camera margins and the gains.
#include <algorithm>
#include <vector>

#include "autolevel_support.h"

using namespace orbimg::test;

namespace {

// Honeycomb photosite offsets in output order.
constexpr int kSites[8][2] = {{1, 0}, {0, 1}, {1, 2}, {0, 3}, {3, 0}, {2, 1}, {3, 2}, {2, 3}};

std::vector<float> Bayer(CImgAutoLevel& img, int blockSampling)
{
    std::vector<float> m(4, -1.0f);
    img.GetMedianBayer(m.data(), blockSampling);
    return m;
}

std::vector<double> HoneyComb(CImgAutoLevel& img, int blockSampling)
{
    std::vector<double> gains(8, -1.0);
    img.GetMedianHoneyComb(gains.data(), blockSampling);
    return gains;
}

}  // namespace

TEST(MosaicBayer, PositionsOddSizesNaNAndBlockSampling)
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
    // Each position has 1, 2, 3, 4 (over the four cells): index 2 -> 3.
    // Fewer than 50000 pixels: blockSampling changes nothing.
    EXPECT_EQ(Bayer(img, 0), (std::vector<float>{3, 13, 23, 33}));
    EXPECT_EQ(Bayer(img, 1), (std::vector<float>{3, 13, 23, 33}));

    // Too small for a cell: 0.0 everywhere.
    CImgAutoLevel tiny = MakeAuto(1, 7);
    Fill(tiny, 0, [](int, int) { return 5.0f; });
    EXPECT_EQ(Bayer(tiny, 0), std::vector<float>(4, 0.0f));

    // A NaN block is dropped: position 0 of a 4 x 4 image keeps 1, 5, 7.
    CImgAutoLevel nan = MakeAuto(4, 4);
    Fill(nan, 0, {1, 0, 7, 0, 0, 0, 0, 0, kNaN, 0, 5, 0, 0, 0, 0, 0});
    EXPECT_EQ(Bayer(nan, 0)[0], 5.0f);

    // 1000 x 1000: k = 4, s = 2. Each block of 2 x 2 same-position samples
    // holds 10q + 100 three times and 10q + 97 once: sum / 4 = 10q + 99.25.
    // Without blocks the median is 10q + 100.
    CImgAutoLevel big = MakeAuto(1000, 1000);
    Fill(big, 0, [](int x, int y) {
        const int q = (x % 2) + 2 * (y % 2);
        const bool first = (x / 2) % 2 == 0 && (y / 2) % 2 == 0;
        return static_cast<float>(10 * q + (first ? 97 : 100));
    });
    EXPECT_EQ(Bayer(big, 1), (std::vector<float>{99.25f, 109.25f, 119.25f, 129.25f}));
    EXPECT_EQ(Bayer(big, 0)[3], 130.0f);

    // 300 x 200 = 60000 pixels: k = 1 would give s = 0; s = 1 is used.
    CImgAutoLevel k1 = HashImage(300, 200, 1);
    EXPECT_EQ(Bayer(k1, 1), Bayer(k1, 0));
}

TEST(MosaicHoneyComb, GainsCameraMarginsBlockSamplingAndDegenerateMedians)
{
    // Site (dx, dy) of the absolute 4 x 4 pattern holds 100 + 10 dx + dy.
    const auto site = [](int x, int y) { return 100.0f + 10.0f * (x % 4) + static_cast<float>(y % 4); };
    CImgAutoLevel img = MakeAuto(1000, 800);
    Fill(img, 0, [&site](int x, int y) {
        const bool margin = x < 48 || x >= 952 || y < 30 || y >= 770;
        return margin ? 1e6f : site(x, y);
    });
    // Without the camera, the margins take part (a sixth of the area: the
    // medians stay the body's) and positions are absolute. With the camera,
    // measured from (48, 30): row offset 30 shifts the pattern by two rows;
    // the margins are not read.
    for (const wchar_t* model : {L"", L"FinePixS2Pro", L"FUJIFILM FINEPIXS2PRO", L"xxfinepixs2proyy"}) {
        img.GetHeader()->SetCameraModel(model);
        const int shift = *model ? 2 : 0;
        double largest = 0.0;
        for (const auto& s : kSites) {
            largest = std::max(largest, static_cast<double>(site(s[0], s[1] + shift)));
        }
        const std::vector<double> gains = HoneyComb(img, 0);
        for (int k = 0; k < 8; ++k) {
            EXPECT_EQ(gains[k], largest / site(kSites[k][0], kSites[k][1] + shift)) << k;
        }
    }
    // Another character inside the name: no match, absolute positions again.
    img.GetHeader()->SetCameraModel(L"FinePix S2Pro");
    EXPECT_EQ(HoneyComb(img, 0)[0], 132.0 / 110.0);  // site (3, 2) over site (1, 0)

    // 4000 x 3000, no camera: a = 750000, s = 4, 187 x 250 blocks of 16.
    // Each block: 15 samples of c and one of c + 8 -> sum / 16 = c + 0.5.
    CImgAutoLevel big = MakeAuto(4000, 3000);
    Fill(big, 0, [](int x, int y) {
        const int dx = x % 4;
        const int dy = y % 4;
        if ((dx + dy) % 2 == 0) {
            return 1e9f;  // not a photosite
        }
        const bool first = (x / 4) % 4 == 0 && (y / 4) % 4 == 0;
        return static_cast<float>(200 + 4 * dx + dy + (first ? 8 : 0));
    });
    const std::vector<double> sampled = HoneyComb(big, 1);
    const double top = 200 + 4 * 3 + 2 + 0.5;  // site (3, 2)
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(sampled[k], top / (200 + 4 * kSites[k][0] + kSites[k][1] + 0.5)) << k;
    }

    // Equal medians: all 1. A zero median: gain 1. No block: 0.
    CImgAutoLevel flat = MakeAuto(8, 8);
    Fill(flat, 0, [](int, int) { return 3.0f; });
    EXPECT_EQ(HoneyComb(flat, 0), std::vector<double>(8, 1.0));
    Fill(flat, 0, [](int x, int y) { return (x % 4 == 1 && y % 4 == 0) ? 0.0f : (x % 4 == 0 ? 200.0f : 100.0f); });
    // (1, 0): median 0; (0, 1): 200, the largest; (1, 2): 100.
    const std::vector<double> zero = HoneyComb(flat, 0);
    EXPECT_EQ(std::vector<double>(zero.begin(), zero.begin() + 3), (std::vector<double>{1.0, 1.0, 2.0}));
    CImgAutoLevel small = MakeAuto(3, 9);
    EXPECT_EQ(HoneyComb(small, 1), std::vector<double>(8, 0.0));
    small.GetHeader()->SetCameraModel(L"finepixs2pro");  // smaller than the margins
    EXPECT_EQ(HoneyComb(small, 1), std::vector<double>(8, 0.0));
}
