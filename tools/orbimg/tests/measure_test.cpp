// stars and focus on small FITS files: stars reported where they were put
// (FITS coordinates end to end), their FWHM, the focus curve (--at, the best
// frame, refusals, a file that cannot be read: golden/runs.txt).
#include <gtest/gtest.h>

#include <cmath>

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
