// transform on small FITS files read back with cfitsio: orientation of
// flips, bin blocks, the resampling grid and canvas anchors as the picture
// is seen; brightness; the header keywords kept, changed and dropped.
#include <gtest/gtest.h>

#include <functional>

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

/// Expects every pixel of `out` to be `expected(x, y)`.
void ExpectPixels(const FitsData& out, long w, long h, const std::function<double(long, long)>& expected)
{
    ASSERT_EQ(out.axes, (std::vector<long>{w, h}));
    for (long y = 1; y <= h; ++y) {
        for (long x = 1; x <= w; ++x) {
            EXPECT_EQ(out.At(x, y), expected(x, y)) << "FITS pixel " << x << "," << y;
        }
    }
}

double In(long x, long y) { return 10.0 * y + x; }

TEST(Transform, FlipsAsThePictureIsSeen)
{
    ScratchDir dir;
    MakeImageFits(dir / "r.fits", FLOAT_IMG, {3, 4}, Ramp(3, 4));
    // Top to bottom: FITS row 1 of the result is the old top row (row 4).
    ExpectPixels(Transform(dir, dir / "r.fits", {"--flip", "v"}), 3, 4, [](long x, long y) { return In(x, 5 - y); });
    ExpectPixels(Transform(dir, dir / "r.fits", {"--flip", "h"}), 3, 4, [](long x, long y) { return In(4 - x, y); });
    // A colour cube flips every plane.
    std::vector<double> cube;
    for (int p = 0; p < 3; ++p) {
        for (const double v : Ramp(3, 4)) {
            cube.push_back(v + 100 * p);
        }
    }
    MakeImageFits(dir / "c.fits", FLOAT_IMG, {3, 4, 3}, cube);
    const FitsData c = Transform(dir, dir / "c.fits", {"--flip", "v"});
    ASSERT_EQ(c.axes, (std::vector<long>{3, 4, 3}));
    EXPECT_EQ(c.At(2, 1, 3), 200 + In(2, 4));
}

TEST(Transform, BinBlocksStartAtTheBottomLeftPixel)
{
    ScratchDir dir;
    MakeImageFits(dir / "r.fits", FLOAT_IMG, {5, 5}, Ramp(5, 5));
    const auto block = [](long x0, long y0, long x1, long y1) {
        double sum = 0;
        for (long y = y0; y <= y1; ++y) {
            for (long x = x0; x <= x1; ++x) {
                sum += In(x, y);
            }
        }
        return sum;
    };
    // Column 5 and row 5 (the top) are left over.
    ExpectPixels(Transform(dir, dir / "r.fits", {"--bin", "2x2"}), 2, 2,
                 [&](long x, long y) { return block(2 * x - 1, 2 * y - 1, 2 * x, 2 * y); });
    // Kept as partial blocks at the right and the top.
    ExpectPixels(Transform(dir, dir / "r.fits", {"--bin", "2x2", "--round-up"}), 3, 3,
                 [&](long x, long y) { return block(2 * x - 1, 2 * y - 1, std::min(2 * x, 5L), std::min(2 * y, 5L)); });
    MakeImageFits(dir / "even.fits", FLOAT_IMG, {4, 4}, Ramp(4, 4));
    ExpectPixels(Transform(dir, dir / "even.fits", {"--bin", "1x2"}), 4, 2,
                 [&](long x, long y) { return block(x, 2 * y - 1, x, 2 * y); });

    const auto big = RunTool({"transform", dir / "r.fits", "-o", dir / "big.fits", "--bin", "6x2"});
    EXPECT_EQ(big.status, 2);
    EXPECT_EQ(big.err,
              "orbimg: transform: --bin 6x2 is larger than the 5 x 5 image (add --round-up to keep a "
              "partial block)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "big.fits"));
    ExpectPixels(Transform(dir, dir / "r.fits", {"--bin", "6x2", "--round-up"}), 1, 3,
                 [&](long, long y) { return block(1, 2 * y - 1, 5, std::min(2 * y, 5L)); });
}

TEST(Transform, ResamplingGridStartsAtPixelOneOne)
{
    ScratchDir dir;
    MakeImageFits(dir / "r.fits", FLOAT_IMG, {4, 4}, Ramp(4, 4));
    // Pixel (x, y) of the doubled image samples the source at ((x - 1) / 2 + 1,
    // (y - 1) / 2 + 1); a linear ramp stays linear, past the last row too.
    ExpectPixels(Transform(dir, dir / "r.fits", {"--resample", "8x8"}), 8, 8,
                 [](long x, long y) { return 10.0 * ((y - 1) * 0.5 + 1) + ((x - 1) * 0.5 + 1); });
    const FitsData cubic = Transform(dir, dir / "r.fits", {"--resample", "8x8", "--bicubic"});
    EXPECT_NEAR(cubic.At(1, 1), In(1, 1), 1e-4);
    EXPECT_NEAR(cubic.At(3, 5), In(2, 3), 1e-4);
    const auto huge = RunTool({"transform", dir / "r.fits", "-o", dir / "h.fits", "--resample", "40000x40000"});
    EXPECT_EQ(huge.status, 2);
    EXPECT_EQ(huge.err, "orbimg: transform: --resample 40000x40000 makes an image too large to hold\n");
}

TEST(Transform, CanvasAnchorsAsThePictureIsSeen)
{
    ScratchDir dir;
    MakeImageFits(dir / "r.fits", FLOAT_IMG, {3, 2}, Ramp(3, 2));  // samples 11 .. 23
    // Anchor 0, top left: the image's top-left pixel (1, 2) lands on (1, 4).
    ExpectPixels(Transform(dir, dir / "r.fits", {"--canvas", "5x4", "--anchor", "0"}), 5, 4,
                 [](long x, long y) { return x <= 3 && y >= 3 ? In(x, y - 2) : 11.0; });
    // Anchor 8, bottom right, filled with display value 255: the greatest sample.
    ExpectPixels(Transform(dir, dir / "r.fits", {"--canvas", "5x4", "--anchor", "8", "--fill", "255"}), 5, 4,
                 [](long x, long y) { return x >= 3 && y <= 2 ? In(x - 2, y) : 23.0; });
    // The default anchor 4 centres; shrinking crops.
    ExpectPixels(Transform(dir, dir / "r.fits", {"--canvas", "1x2"}), 1, 2, [](long, long y) { return In(2, y); });
    // Steps run in the order given.
    ExpectPixels(Transform(dir, dir / "r.fits", {"--flip", "h", "--canvas", "4x2", "--anchor", "3"}), 4, 2,
                 [](long x, long y) { return x <= 3 ? In(4 - x, y) : 11.0; });
    ExpectPixels(Transform(dir, dir / "r.fits", {"--canvas", "4x2", "--anchor", "3", "--flip", "h"}), 4, 2,
                 [](long x, long y) { return x >= 2 ? In(5 - x, y) : 11.0; });
}

TEST(Transform, BrightnessAndContrastOnTheDisplayScale)
{
    ScratchDir dir;
    // Levels 0 .. 255 (the extremes): display values are the samples.
    MakeImageFits(dir / "b.fits", FLOAT_IMG, {4, 1}, {0, 50, 100, 255});
    ExpectPixels(Transform(dir, dir / "b.fits", {"--bright", "10"}), 4, 1, [](long x, long) {
        return std::vector<double>{10, 60, 110, 265}[x - 1];
    });
    // Contrast 256 doubles the distance from the pivot.
    ExpectPixels(Transform(dir, dir / "b.fits", {"--contrast", "256", "--pivot", "100"}), 4, 1, [](long x, long) {
        return std::vector<double>{-100, 0, 100, 410}[x - 1];
    });
}

TEST(Transform, HeaderKeywordsThatNoLongerHoldAreDropped)
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
