// transform on small FITS files read back with cfitsio: flips, bin blocks,
// the resampling grid, canvas anchors and brightness against the results
// transform_reference.py works out (golden/transform.txt); bicubic
// resampling; the header keywords kept, changed and dropped.
#include <gtest/gtest.h>

#include "imagefile.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::FitsData;
using test::MakeImageFits;
using test::ReadFitsData;
using test::RunTool;
using test::ScratchDir;

/// A w x h mono FITS image whose pixel (x, y) holds 10 y + x.
std::vector<double> Ramp(int w, int h)
{
    std::vector<double> v;
    for (int y = 1; y <= h; ++y) {
        for (int x = 1; x <= w; ++x) {
            v.push_back(10.0 * y + x);
        }
    }
    return v;
}

/// Runs transform on `in` with the steps and reads the output back.
FitsData Transform(const ScratchDir& dir, const std::string& in, const std::vector<std::string>& steps)
{
    std::vector<std::string> args = {"transform", in, "-o", dir / "out.fits"};
    args.insert(args.end(), steps.begin(), steps.end());
    const auto r = RunTool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return ReadFitsData(dir / "out.fits");
}

class TransformGolden : public ::testing::TestWithParam<test::GoldenLine> {};

// A line of transform.txt: "W H P | source | steps | W H P | result".
TEST_P(TransformGolden, AsThePictureIsSeen)
{
    const auto fields = test::Split(GetParam().text, " | ");
    ASSERT_EQ(fields.size(), 5u);
    const auto numbers = test::Numbers;
    const auto axes = [&](const std::string& text) {
        const auto n = numbers(text);
        return n[2] == 1 ? std::vector<long>{long(n[0]), long(n[1])} : std::vector<long>{long(n[0]), long(n[1]), 3};
    };
    ScratchDir dir;
    MakeImageFits(dir / "in.fits", FLOAT_IMG, axes(fields[0]), numbers(fields[1]));
    const FitsData out = Transform(dir, dir / "in.fits", test::Split(fields[2], " "));
    ASSERT_EQ(out.axes, axes(fields[3]));
    EXPECT_EQ(out.samples, numbers(fields[4]));
}

INSTANTIATE_TEST_SUITE_P(Golden, TransformGolden, ::testing::ValuesIn(test::GoldenLines("transform.txt")),
                         test::LineName);

TEST(TransformBicubic, KeepsTheSamplesOnTheGrid)
{
    ScratchDir dir;
    MakeImageFits(dir / "r.fits", FLOAT_IMG, {4, 4}, Ramp(4, 4));
    const FitsData cubic = Transform(dir, dir / "r.fits", {"--resample", "8x8", "--bicubic"});
    EXPECT_NEAR(cubic.At(1, 1), 11.0, 1e-4);
    EXPECT_NEAR(cubic.At(3, 5), 32.0, 1e-4);
}

TEST(TransformHeader, KeywordsThatNoLongerHoldAreDropped)
{
    ScratchDir dir;
    MakeImageFits(dir / "w.fits", FLOAT_IMG, {4, 4}, Ramp(4, 4), [](fitsfile* f, int* s) {
        for (const char* card :
             {"OBJECT  = 'M 42'", "CTYPE1  = 'RA---TAN-SIP'", "CTYPE1A = 'RA---TAN'", "CRPIX1  = 2.5", "CD1_1   = 1E-4",
              "A_ORDER = 2", "A_0_2   = 1E-4", "EQUINOX = 2.5", "XBINNING= 1.", "XPIXSZ  = 3.76", "DATAMIN = 1."}) {
            fits_write_record(f, card, s);
        }
    });
    const auto key = [&](const char* name) { return LoadImageFile(dir / "out.fits").header.Value(name).value_or(""); };
    Transform(dir, dir / "w.fits", {"--bright", "0"});
    EXPECT_EQ(key("CTYPE1"), "'RA---TAN-SIP'");  // geometry unchanged
    EXPECT_EQ(key("DATAMIN"), "");               // values may have changed
    Transform(dir, dir / "w.fits", {"--flip", "v"});
    for (const char* dropped : {"CTYPE1", "CTYPE1A", "CRPIX1", "CD1_1", "A_ORDER", "A_0_2"}) {
        EXPECT_EQ(key(dropped), "") << dropped;
    }
    EXPECT_EQ(key("OBJECT"), "'M 42'");
    EXPECT_EQ(key("EQUINOX"), "2.5");
    EXPECT_EQ(key("DATAMIN"), "1.");  // a flip moves samples, it does not change them
    EXPECT_NE(test::ReadText(dir / "out.fits").find("HISTORY orbimg transform: flipped top to bottom"),
              std::string::npos);
    Transform(dir, dir / "w.fits", {"--bin", "2x2"});
    EXPECT_EQ(key("XBINNING"), "2");
    EXPECT_EQ(key("XPIXSZ"), "7.52");
    EXPECT_EQ(key("DATAMIN"), "");
}

}  // namespace
}  // namespace orbimg::tool
