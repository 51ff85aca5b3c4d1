// The tool's own routes against the library's: plane statistics against
// CImgPixelInfo::Calc, and FITS doubles at the edge of float's range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "imagefile.h"
#include "planestats.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

// The streaming statistics (two passes, no copy) give the library's figures
// bit for bit: extremes, mean and deviation in row order, the median at
// index count / 2, blanks skipped.
TEST(PlaneStats, AgreeWithTheLibrarysCalc)
{
    CImgPixelInfo image;
    image = CKelImage(37, 23, 3, -32, 1.0, 0.0, 1);
    unsigned seed = 12345;
    int blanks[3] = {0, 0, 0};  // NaN and the infinities
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 37; ++x) {
                seed = seed * 1103515245u + 12345u;
                const int r = static_cast<int>((seed >> 8) % 1000);
                float v = static_cast<float>(r - 400) * 1.37f + static_cast<float>(p) / 3.0f;
                if (r % 97 == 0) {
                    v = std::nanf("");
                } else if (r % 89 == 0) {
                    v = p == 1 ? -INFINITY : 1e30f;
                }
                blanks[p] += !std::isfinite(v);
                *image.GetImageAdr(x, y, p, 0, nullptr) = v;
            }
        }
    }
    double max[3], min[3], mean[3], stddev[3], median[3];
    image.Calc(CRect(0, 0, 37, 23), max, min, mean, stddev, median);
    for (int p = 0; p < 3; ++p) {
        const PlaneStats s = MeasurePlane(image, p);
        EXPECT_GT(s.blank, 0) << p;
        EXPECT_EQ(s.min, min[p]) << p;
        EXPECT_EQ(s.max, max[p]) << p;
        EXPECT_EQ(s.mean, mean[p]) << p;
        EXPECT_EQ(s.stddev, stddev[p]) << p;
        EXPECT_EQ(s.median, median[p]) << p;
        EXPECT_EQ(s.blank, blanks[p]) << p;
        EXPECT_EQ(s.finite, 37 * 23 - blanks[p]) << p;
        const auto extremes = FiniteExtremes(image, p);
        ASSERT_TRUE(extremes);
        EXPECT_EQ(extremes->first, min[p]);
        EXPECT_EQ(extremes->second, max[p]);
    }
    EXPECT_TRUE(std::isnan(MeasurePlane(image, 0, false).median));
    // No finite sample: no mean, no extremes.
    for (int y = 0; y < 23; ++y) {
        std::fill_n(image.GetImageAdr(0, y, 1, 0, nullptr), 37, -INFINITY);
    }
    EXPECT_EQ(MeasurePlane(image, 1).finite, 0);
    EXPECT_TRUE(std::isnan(MeasurePlane(image, 1).mean));
    EXPECT_FALSE(FiniteExtremes(image, 1));
}

// The reader rounds doubles to float as the library's ToFloat does: up to
// FLT_MAX + half an ulp (exclusive) to FLT_MAX, from there to infinity
// (a blank sample).
TEST(FitsDoubles, RoundAtTheEdgeOfFloatsRangeAsTheLibraryDoes)
{
    test::ScratchDir dir;
    const double justBelow = std::nextafter(0x1.ffffffp127, 0.0);
    const std::vector<double> samples = {FLT_MAX, justBelow, 0x1.ffffffp127, -justBelow, -0x1.ffffffp127, 1e300};
    test::MakeImageFits(dir / "edge.fits", DOUBLE_IMG, {6, 1}, samples);
    const ImageFile file = LoadImageFile(dir / "edge.fits");
    for (int x = 0; x < 6; ++x) {
        const float v = *file.image->GetImageAdr(x, 0, 0, 1, nullptr);
        const float expected = ToFloat(samples[static_cast<std::size_t>(x)]);
        EXPECT_EQ(v, expected) << x;
    }
    EXPECT_EQ(ToFloat(justBelow), FLT_MAX);
    EXPECT_EQ(ToFloat(-0x1.ffffffp127), -INFINITY);
}

}  // namespace
}  // namespace orbimg::tool
