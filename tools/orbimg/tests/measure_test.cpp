// stars and focus on small FITS files: stars reported where they were put
// (FITS coordinates end to end), their FWHM, the focus curve and its best
// frame (--at, refusals, a file that cannot be read: golden/runs.txt).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::MakeFocusFrame;
using test::MakeStarField;
using test::NumbersAfter;
using test::RunTool;
using test::ScratchDir;

TEST(Stars, AutoFindsTheStarsWherePut)
{
    ScratchDir dir;
    MakeStarField(dir / "s.fits");
    const auto r = RunTool({"stars", dir / "s.fits", "--auto", "--csv", dir / "s.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("detected 3 stars"), std::string::npos) << r.out;
    const std::string csv = test::ReadText(dir / "s.csv");
    ASSERT_EQ(csv.rfind("star,x,y,flux,peak,snr,hfr,fwhm,ellipticity,flags\n", 0), 0u) << csv;
    // Brightest first: the clipped star (flagged S), then the two at their places.
    const auto lines = test::Split(csv, "\n");  // the header, the stars, "" after the last newline
    ASSERT_EQ(lines.size(), 5u) << csv;
    std::vector<std::vector<std::string>> rows;
    for (std::size_t i = 1; i <= 3; ++i) {
        rows.push_back(test::Split(lines[i], ","));
    }
    EXPECT_EQ(rows[0][9], "S");
    const double where[2][2] = {{20.0, 40.0}, {55.3, 15.6}};
    for (int i = 1; i <= 2; ++i) {
        EXPECT_NEAR(std::stod(rows[i][1]), where[i - 1][0], 0.05) << csv;
        EXPECT_NEAR(std::stod(rows[i][2]), where[i - 1][1], 0.05);
        EXPECT_NEAR(std::stod(rows[i][7]), 3.0, 0.15);  // FWHM
        EXPECT_EQ(rows[i][9], "-");
    }
    const auto median = NumbersAfter(r.out, "median HFR ");
    ASSERT_GE(median.size(), 1u);
    EXPECT_NEAR(median[0], 1.5, 0.1);  // a Gaussian's HFR is half its FWHM
}

TEST(Focus, TheSharpestFrameIsBestWhereverItStands)
{
    ScratchDir dir;
    MakeFocusFrame(dir / "f4.fits", 4.0);
    MakeFocusFrame(dir / "f2.fits", 2.0, true);  // a blank does not spoil the figure
    MakeFocusFrame(dir / "f6.fits", 6.0);
    const auto r = RunTool({"focus", dir / "f4.fits", dir / "f2.fits", dir / "f6.fits"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("best: frame 2 (" + (dir / "f2.fits") + "), figure "), std::string::npos) << r.out;
    const double f4 = NumbersAfter(r.out, dir / "f4.fits").at(0);
    const double f2 = NumbersAfter(r.out, dir / "f2.fits").at(0);
    const double f6 = NumbersAfter(r.out, dir / "f6.fits").at(0);
    EXPECT_GT(f2, f4);
    EXPECT_GT(f4, f6);
    EXPECT_NE(r.out.find("########################################  <- best\n"), std::string::npos);

    // A window: FITS rows 1..40 hold the lower row of stars only.
    const auto window = RunTool({"focus", dir / "f4.fits", dir / "f2.fits", "--rect", "1,1,96,40"});
    ASSERT_EQ(window.status, 0);
    EXPECT_NE(NumbersAfter(window.out, dir / "f2.fits").at(0), f2);
}

// Star FWHM 2.5 sqrt(1 + ((p - 1030) / 100)^2) at focuser positions 800 .. 1200: the
// fitted best position within 0.1 step of 1030 (between two steps).
TEST(Focus, HfrCurveFindsTheBestPositionWithin0_1Step)
{
    ScratchDir dir;
    std::vector<std::string> frames;
    for (int k = 0; k < 5; ++k) {
        const double t = (800.0 + 100.0 * k - 1030.0) / 100.0;
        frames.push_back(dir / (std::to_string(k) + "-hfr.fits"));
        MakeFocusFrame(frames.back(), 2.5 * std::sqrt(1.0 + t * t));
    }
    std::vector<std::string> args = {"focus", "--hfr",       "--positions", "800,900,1000,1100,1200",
                                     "-o",    dir / "c.png", "--png-level", "0"};
    args.insert(args.end(), frames.begin(), frames.end());
    const auto r = RunTool(args);
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NEAR(NumbersAfter(r.out, "best focus: position ").at(0), 1030.0, 10.0) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir / "c.png"));
}

}  // namespace
}  // namespace orbimg::tool
