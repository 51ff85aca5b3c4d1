// Automatic star candidates, and the progress bar.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "progress.h"
#include "starfinder.h"

namespace orbimg::tool {
namespace {

void Set(CKelImage& image, int x, int y, float v) { *image.GetImageAdr(x, y, 0, 0, nullptr) = v; }

TEST(StarFinder, PeaksPlateausIsolationAndSaturation)
{
    CKelImage image(40, 30, 1, -32, 1.0, 0.0, 1);
    for (int y = 0; y < 30; ++y) {
        float* row = image.GetImageAdr(0, y, 0, 0, nullptr);
        std::fill(row, row + 40, 10.0f);
    }
    Set(image, 8, 8, 100.0f);         // a lone peak
    for (int x = 20; x <= 22; ++x) {  // a flat top: one maximum, its first pixel
        Set(image, x, 8, 500.0f);
    }
    Set(image, 8, 20, 300.0f);  // two peaks 3 apart: neither is isolated
    Set(image, 11, 21, 200.0f);
    Set(image, 30, 22, 400.0f);  // clean peak, but a NaN in its box
    Set(image, 33, 25, std::nanf(""));
    Set(image, 1, 15, 900.0f);    // too close to the edge for its box
    Set(image, 30, 8, 65535.0f);  // a saturated core

    StarSearch search;
    search.threshold = 50.0;
    search.isolation = 4;
    search.saturation = 65535.0;
    const auto found = FindStarCandidates(image, search);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].x, 20);  // brightest first
    EXPECT_EQ(found[0].y, 8);
    EXPECT_EQ(found[0].value, 500.0f);
    EXPECT_EQ(found[1].x, 8);
    EXPECT_EQ(found[1].y, 8);

    search.isolation = 2;  // now the pair is far enough apart, and the NaN outside the box
    EXPECT_EQ(FindStarCandidates(image, search).size(), 5u);  // all but the one at the edge and the saturated one
    search.saturation = 65536.0;
    EXPECT_EQ(FindStarCandidates(image, search).size(), 6u);
    search.threshold = 150.0;
    search.count = 1;
    EXPECT_EQ(FindStarCandidates(image, search).size(), 1u);
}

TEST(ProgressBar, DrawsOnlyOnATerminalWithEnoughSteps)
{
    std::ostringstream out;
    std::ostringstream err;
    Context quiet{out, err, false};
    {
        ProgressBar bar(quiet, 10, "frames");
        bar.Update(5);
        EXPECT_FALSE(bar.Visible());
    }
    Context terminal{out, err, true};
    {
        ProgressBar few(terminal, 2, "frames");
        few.Update(1);
    }
    EXPECT_EQ(err.str(), "");
    {
        ProgressBar bar(terminal, 10, "frames");
        bar.Update(5, "f5.fits");
        EXPECT_EQ(err.str(), "\r[###############               ] 5/10 frames: f5.fits");
        bar.Update(12);
        const std::string tail = "] 10/10 frames" + std::string(8, ' ');  // what the longer line left, blanked
        EXPECT_EQ(err.str().substr(err.str().size() - tail.size()), tail);
    }
    EXPECT_EQ(err.str().substr(err.str().size() - 1), "\r");
}

}  // namespace
}  // namespace orbimg::tool
