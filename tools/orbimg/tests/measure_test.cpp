// stars and focus on small FITS files: stars reported where they were put
// (FITS coordinates end to end), their FWHM, the focus curve (--at, the best
// frame, refusals, a file that cannot be read: golden/runs.txt).
#include <gtest/gtest.h>

#include <cmath>

#include "coords.h"
#include "starfinder.h"
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

// A colour frame's stars are found on its luminance, made in place of the red
// plane: bit for bit the luminance of the three planes, and the same report
// and CSV as for a mono file of that luminance (SATURATE in both: star 1 S).
TEST(Stars, AutoOnColourEqualsAutoOnItsLuminance)
{
    ScratchDir dir;
    const std::vector<test::TestStar> stars = {{20.0, 40.0, 1000, 3}, {55.3, 15.6, 600, 3}, {62, 45, 9000, 3}};
    std::vector<double> colour;
    for (unsigned seed = 1; seed <= 3; ++seed) {
        for (const double v : test::StarFrame(160, 120, 150.0 + 50.0 * seed, 2, stars, seed)) {
            colour.push_back(static_cast<float>(v));
        }
    }
    const std::size_t n = 160 * 120;
    std::vector<double> luminance(n);
    for (std::size_t i = 0; i < n; ++i) {
        luminance[i] = static_cast<float>((CKelImage::kBrightG * colour[n + i] + CKelImage::kBrightR * colour[i]) +
                                          CKelImage::kBrightB * colour[2 * n + i]);
    }
    const auto saturate = [](fitsfile* f, int* status) {
        double level = 5000.0;
        fits_write_key(f, TDOUBLE, "SATURATE", &level, "", status);
    };
    test::MakeImageFits(dir / "c.fits", FLOAT_IMG, {160, 120, 3}, colour, saturate);
    test::MakeImageFits(dir / "l.fits", FLOAT_IMG, {160, 120}, luminance, saturate);

    ImageFile file = LoadImageFile(dir / "c.fits");
    LuminanceIntoPlane0(*file.image);
    for (std::size_t i = 0; i < n; i += 7) {
        const int x = static_cast<int>(i % 160);
        const int y = FitsRowToLibrary(static_cast<int>(i / 160) + 1, 120);
        ASSERT_EQ(*file.image->GetImageAdr(x, y, 0, 1, nullptr), static_cast<float>(luminance[i])) << x << "," << y;
    }
    const auto c = RunTool({"stars", dir / "c.fits", "--auto", "--csv", dir / "c.csv"});
    const auto l = RunTool({"stars", dir / "l.fits", "--auto", "--csv", dir / "l.csv"});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.out.find("detected 3 stars"), std::string::npos) << c.out;
    EXPECT_EQ(test::ReplaceAll(test::ReplaceAll(c.out, dir / "c.", dir / "l."), " (luminance)", ""), l.out);
    EXPECT_EQ(test::ReadText(dir / "c.csv"), test::ReadText(dir / "l.csv"));
    EXPECT_NE(test::ReadText(dir / "c.csv").find("\n1,62.000,45.000,"), std::string::npos);
    EXPECT_NE(test::ReadText(dir / "c.csv").find(",S\n2,"), std::string::npos);
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
