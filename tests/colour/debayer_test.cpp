// CImgDebayer: bilinear against the numpy reference on every pattern and
// offset, RCD's accuracy (PSNR, zipper) on a known colour picture, results
// independent of threads, builds and tiles, NaN sites, refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/simd.h"
#include "support/eachtarget.h"
#include "support/testsupport.h"

namespace orbimg::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// tests/reference/debayer_bilinear.txt ("nan" included): the 7 x 6 mosaic,
// then per case the red, green and blue planes.
constexpr int kWidth = 7;
constexpr int kHeight = 6;

CImgDebayer Debayered(const CKelImage& mosaic, int pattern, int xoff, int yoff, int method)
{
    CImgDebayer out;
    CKelImage source = mosaic;
    EXPECT_EQ(out.Do(&source, pattern, xoff, yoff, method), 1);
    return out;
}

// The three planes of two images have the same bits.
bool SamePlanes(const CKelImage& a, const CKelImage& b)
{
    bool same = true;
    for (int p = 0; p < 3; ++p) {
        const std::vector<float> x = Samples(a, p);
        const std::vector<float> y = Samples(b, p);
        same = same && x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
    }
    return same;
}

class BilinearReference : public ::testing::TestWithParam<int> {};

// Case k of the file: pattern k / 4, yoff (k / 2) % 2, xoff k % 2.
TEST_P(BilinearReference, MatchesNumpyWithin1e6Relative)
{
    const std::vector<double> ref = ReadNumbers("debayer_bilinear.txt");
    constexpr std::size_t kPixels = kWidth * kHeight;
    ASSERT_EQ(ref.size(), kPixels * (1 + 16 * 3)) << "reference file missing or malformed";
    const int k = GetParam();
    const int pattern = k / 4;
    CKelImage mosaic = MakeImage(kWidth, kHeight, 1);
    Fill(mosaic, 0, [&](int x, int y) { return static_cast<float>(ref[y * kWidth + x]); });
    const CImgDebayer rgb = Debayered(mosaic, pattern, k % 2, (k / 2) % 2, CImgDebayer::kBilinear);
    ASSERT_TRUE(rgb.GetPlanes() == 3 && rgb.GetWidth() == kWidth && rgb.GetHeight() == kHeight);
    const double* want = ref.data() + kPixels * (1 + 3 * k);
    for (int p = 0; p < 3; ++p) {
        const std::vector<float> got = Samples(rgb, p);
        for (std::size_t i = 0; i < kPixels; ++i) {
            const double w = want[p * kPixels + i];
            EXPECT_TRUE(std::isnan(w) ? std::isnan(got[i])
                                      : std::fabs(got[i] - w) <= 1e-6 * std::max(1.0, std::fabs(w)))
                << CImgDebayer::PatternName(pattern) << " " << k % 2 << (k / 2) % 2 << " plane " << p << " at "
                << i % kWidth << "," << i / kWidth << ": " << got[i] << ", numpy " << w;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PatternsAndOffsets, BilinearReference, ::testing::Range(0, 16));

// ---- accuracy on known pictures ----------------------------------------------

constexpr double kPedestal = 1000.0;
constexpr double kScale = 50000.0;

// A colour picture in 0..1: gradients, hard-edged shapes (a rectangle, a
// disc, a slanted band, a triangle) and small Gaussian stars of several colours.
void ColourField(int x, int y, int width, int height, double rgb[3])
{
    const double u = static_cast<double>(x) / width;
    const double v = static_cast<double>(y) / height;
    const double base[3] = {0.12 + 0.30 * u, 0.18 + 0.25 * v, 0.10 + 0.20 * (1.0 - u) + 0.10 * v};
    const double* colour = base;
    const double s = (x - 30.0) * 0.28 - (y - 90.0);
    static const double kShapes[4][3] = {
        {0.85, 0.15, 0.10}, {0.10, 0.20, 0.80}, {0.80, 0.75, 0.20}, {0.95, 0.95, 0.95}};
    const bool inside[4] = {x >= 20 && x < 60 && y >= 20 &&
                            y<50, (x - 110.0) * (x - 110.0) + (y - 45.0) * (y - 45.0) < 22.0 * 22.0, s> 0.0 &&
                            s < 14.0 && x > 15 && x<170, y> 100 && y < 150 && x > 120 && (x - 120) < (y - 100) * 0.9};
    for (int k = 0; k < 4; ++k) {
        colour = inside[k] ? kShapes[k] : colour;
    }
    std::copy(colour, colour + 3, rgb);
    static const double kStars[][6] = {{70, 75, 1.1, 0.9, 0.7, 0.5},  {150, 20, 1.3, 0.5, 0.7, 0.9},
                                       {40, 130, 1.0, 0.8, 0.8, 0.8}, {95, 140, 1.5, 0.9, 0.4, 0.3},
                                       {175, 90, 1.2, 0.6, 0.9, 0.6}, {10, 70, 1.1, 0.7, 0.7, 0.9}};
    for (const auto& star : kStars) {
        const double d2 = (x - star[0]) * (x - star[0]) + (y - star[1]) * (y - star[1]);
        const double f = std::exp(-d2 / (2.0 * star[2] * star[2]));
        for (int p = 0; p < 3; ++p) {
            rgb[p] = rgb[p] * (1.0 - f) + star[3 + p] * f;
        }
    }
}

// A grey edge 8 degrees off the vertical, slightly blurred (sigma 0.7 px).
void SlantedEdge(int x, int y, int, int, double rgb[3])
{
    const double edge = 40.0 + (y - 40.0) * std::tan(8.0 * M_PI / 180.0);
    const double t = 0.5 * std::erfc(-(x + 0.5 - edge) / (0.7 * std::sqrt(2.0)));
    rgb[0] = rgb[1] = rgb[2] = 0.2 + 0.6 * t;
}

// The colour of an RGGB site: 0 red, 1 green, 2 blue.
int Site(int x, int y) { return (x % 2) + (y % 2); }

// The picture as a three-plane image (raw units), and mosaicked through RGGB.
std::pair<CKelImage, CKelImage> MakePicture(void (*picture)(int, int, int, int, double[3]), int width, int height)
{
    std::pair<CKelImage, CKelImage> out(MakeImage(width, height, 3), MakeImage(width, height, 1));
    auto& [truth, mosaic] = out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double rgb[3];
            picture(x, y, width, height, rgb);
            for (int p = 0; p < 3; ++p) {
                *truth.GetImageAdr(x, y, p, 0, nullptr) = static_cast<float>(kPedestal + kScale * rgb[p]);
            }
            *mosaic.GetImageAdr(x, y, 0, 0, nullptr) = At(truth, x, y, Site(x, y));
        }
    }
    return out;
}

// The distance of two pixels in the three planes, in full scales.
double Distance(const CKelImage& a, int xa, int ya, const CKelImage& b, int xb, int yb)
{
    double d2 = 0.0;
    for (int p = 0; p < 3; ++p) {
        const double d = (static_cast<double>(At(a, xa, ya, p)) - At(b, xb, yb, p)) / kScale;
        d2 += d * d;
    }
    return std::sqrt(d2);
}

// PSNR over the three planes, 8 pixels from the edges left out, peak kScale.
double Psnr(const CKelImage& truth, const CKelImage& out)
{
    double sum = 0.0;
    long long n = 0;
    for (int y = 8; y < truth.GetHeight() - 8; ++y) {
        for (int x = 8; x < truth.GetWidth() - 8; ++x, ++n) {
            sum += std::pow(Distance(out, x, y, truth, x, y), 2);
        }
    }
    return 10.0 * std::log10(3.0 / (sum / n));
}

// Share of pixels with a zipper (after Lu and Tan, 2003): take the neighbour
// most alike in the true picture; a zipper is where the demosaiced picture
// makes the two differ by more than 2.5 % of full scale more than they do.
double ZipperShare(const CKelImage& truth, const CKelImage& out)
{
    long long zippers = 0;
    long long n = 0;
    for (int y = 8; y < truth.GetHeight() - 8; ++y) {
        for (int x = 8; x < truth.GetWidth() - 8; ++x, ++n) {
            int bx = 0;
            int by = 0;
            double best = HUGE_VAL;
            for (int k = 0; k < 9; ++k) {
                const double d = k != 4 ? Distance(truth, x, y, truth, x + k % 3 - 1, y + k / 3 - 1) : HUGE_VAL;
                if (d < best) {
                    best = d;
                    bx = x + k % 3 - 1;
                    by = y + k / 3 - 1;
                }
            }
            zippers += Distance(out, x, y, out, bx, by) - best > 0.025 ? 1 : 0;
        }
    }
    return static_cast<double>(zippers) / n;
}

TEST(DebayerAccuracy, RcdBeatsBilinearBy2dBAndHasNoZipper)
{
    auto [truth, mosaic] = MakePicture(ColourField, 192, 160);
    const double bilinear = Psnr(truth, Debayered(mosaic, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kBilinear));
    const double rcd = Psnr(truth, Debayered(mosaic, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kRCD));
    EXPECT_GE(rcd - bilinear, 2.0) << "PSNR on the colour field: bilinear " << bilinear << " dB, RCD " << rcd << " dB";

    std::tie(truth, mosaic) = MakePicture(SlantedEdge, 96, 96);
    const double zipBilinear = ZipperShare(truth, Debayered(mosaic, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kBilinear));
    const double zipRcd = ZipperShare(truth, Debayered(mosaic, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kRCD));
    EXPECT_LT(zipRcd, 0.002) << "zipper on the slanted edge: bilinear " << 100 * zipBilinear << " %, RCD "
                             << 100 * zipRcd << " %";
    EXPECT_GT(zipBilinear, 0.01) << "the slanted edge no longer shows bilinear's zipper (" << 100 * zipBilinear
                                 << " %): the test has lost its edge";
    std::printf("PSNR bilinear %.2f dB, RCD %.2f dB; zipper bilinear %.2f %%, RCD %.2f %%\n", bilinear, rcd,
                100 * zipBilinear, 100 * zipRcd);
}

// A star saturated in its core (a 16-bit sensor's 65535), slightly coloured
// and offset from the cell, on a sky of 1000: RCD's ratios overshoot beside
// the flat core; every estimate stays within the mosaic's finite samples.
TEST(DebayerAccuracy, SaturatedStarStaysWithinTheMosaicsRange)
{
    constexpr float kSaturation = 65535.0f;
    CKelImage mosaic = MakeImage(40, 40, 1);
    const double colour[3] = {1.0, 0.7, 0.45};
    Fill(mosaic, 0, [&](int x, int y) {
        const double d2 = (x - 19.6) * (x - 19.6) + (y - 20.3) * (y - 20.3);
        const double v = 1000.0 + 400000.0 * colour[Site(x, y)] * std::exp(-d2 / (2.0 * 1.6 * 1.6));
        return static_cast<float>(std::min(v, 65535.0));
    });
    const CImgDebayer rcd = Debayered(mosaic, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kRCD);
    std::vector<float> all = Samples(rcd, 0);
    for (const int p : {1, 2}) {
        const std::vector<float> plane = Samples(rcd, p);
        all.insert(all.end(), plane.begin(), plane.end());
    }
    const float least = *std::min_element(all.begin(), all.end());
    const float greatest = *std::max_element(all.begin(), all.end());
    EXPECT_LE(greatest, kSaturation) << "RCD overshoots the saturation";
    EXPECT_GE(least, 1000.0f) << "RCD undershoots the sky";
    EXPECT_EQ(greatest, kSaturation) << "the core is no longer saturated: the test has lost its star";
}

// Bilinear green at a red site sums up, left, right and down in that order
// (results stay bit for bit across builds): with cancelling large samples
// ((1e8 - 1e8) + 1) + 0.5 = 1.5, where another order loses the 0.5 or the 1.
TEST(Debayer, BilinearGreenSumsInAFixedOrder)
{
    CKelImage mosaic = MakeImage(5, 5, 1);
    Fill(mosaic, 0, {0, 0, 0, 0, 0, 0, 0, 1e8f, 0, 0, 0, -1e8f, 0, 1, 0, 0, 0, 0.5f, 0, 0});  // red site (2, 2)
    EXPECT_EQ(At(Debayered(mosaic, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kBilinear), 2, 2, 1), 0.375f);
}

// A large mosaic (many bands and tiles) with a few NaN sites.
CKelImage BigMosaic()
{
    CKelImage mosaic = MakePicture(ColourField, 600, 400).second;
    for (const auto& [x, y] : {std::pair{300, 200}, std::pair{0, 0}, std::pair{257, 96}}) {
        *mosaic.GetImageAdr(x, y, 0, 0, nullptr) = kNaN;
    }
    return mosaic;
}

// A NaN site: NaN in its own colour, nowhere else; the finite values near it
// stay within the range of the picture, and far from it nothing changes.
TEST(Debayer, NaNSiteStaysInItsOwnColour)
{
    const CKelImage mosaic = MakePicture(ColourField, 96, 80).second;
    for (const int method : {CImgDebayer::kBilinear, CImgDebayer::kRCD, CImgDebayer::kSuperPixel}) {
        SCOPED_TRACE(::testing::Message() << "method " << method);
        const CImgDebayer clean = Debayered(mosaic, CImgDebayer::kRGGB, 0, 0, method);
        const int d = method == CImgDebayer::kSuperPixel ? 2 : 1;  // mosaic pixels per output pixel
        // (40, 40): red; (41, 40): a green site of a blue row, which super-pixel
        // green replaces by the cell's other green site.
        for (const int nx : {40, 41}) {
            CKelImage holed = mosaic;
            *holed.GetImageAdr(nx, 40, 0, 0, nullptr) = kNaN;
            const CImgDebayer rgb = Debayered(holed, CImgDebayer::kRGGB, 0, 0, method);
            for (int p = 0; p < 3; ++p) {
                for (int y = 0; y < rgb.GetHeight(); ++y) {
                    for (int x = 0; x < rgb.GetWidth(); ++x) {
                        const float v = At(rgb, x, y, p);
                        if (x == nx / d && y == 40 / d && p == nx - 40 && !(d == 2 && p == 1)) {
                            EXPECT_TRUE(std::isnan(v)) << "plane " << p;
                            continue;
                        }
                        ASSERT_FALSE(std::isnan(v)) << "NaN spread to plane " << p << " at " << x << "," << y;
                        EXPECT_GE(v, kPedestal - 0.05 * kScale);
                        EXPECT_LE(v, kPedestal + 1.05 * kScale);
                        if (std::abs(x - nx / d) > 12 / d || std::abs(y - 40 / d) > 12 / d) {
                            ASSERT_TRUE(SameBits(v, At(clean, x, y, p))) << "changed far away at " << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

// Every build of the row kernels gives the plain build's bits, and the bands
// on every core the serial loop's (swap size set). The result does not depend
// on the tiles: shifted by 34 pixels, the mosaic gives the same interior.
using DebayerEachTarget = EachTarget;
ORBIMG_EACH_TARGET(DebayerEachTarget);

TEST_P(DebayerEachTarget, EveryMethodAgreesWithThePlainBuildTheSerialLoopAndAShift)
{
    const CKelImage mosaic = BigMosaic();
    constexpr int kShift = 34;
    CKelImage shifted = MakeImage(mosaic.GetWidth() + kShift, mosaic.GetHeight() + kShift, 1);
    Fill(shifted, 0,
         [&](int x, int y) { return x >= kShift && y >= kShift ? At(mosaic, x - kShift, y - kShift) : 20000.0f; });
    for (const int method : {CImgDebayer::kBilinear, CImgDebayer::kRCD, CImgDebayer::kSuperPixel}) {
        const CImgDebayer built = Debayered(mosaic, CImgDebayer::kGRBG, 1, 0, method);
        const CImgDebayer moved = Debayered(shifted, CImgDebayer::kGRBG, 1, 0, method);
        const int s = method == CImgDebayer::kSuperPixel ? kShift / 2 : kShift;
        for (int p = 0; p < 3; ++p) {
            for (int y = 12; y < built.GetHeight() - 12; ++y) {
                for (int x = 12; x < built.GetWidth() - 12; ++x) {
                    ASSERT_TRUE(SameBits(At(built, x, y, p), At(moved, x + s, y + s, p)))
                        << "method " << method << " plane " << p << " at " << x << "," << y;
                }
            }
        }
        CVmManager::SetCurrentSwapSize(1 << 20);
        const CImgDebayer serial = Debayered(mosaic, CImgDebayer::kGRBG, 1, 0, method);
        CVmManager::SetCurrentSwapSize(0);
        EXPECT_TRUE(SamePlanes(built, serial)) << "serial loop, method " << method;
        const orbimg::simd::ForceTarget plain(orbimg::simd::Targets().back());
        EXPECT_TRUE(SamePlanes(built, Debayered(mosaic, CImgDebayer::kGRBG, 1, 0, method))) << "method " << method;
    }
}

TEST(Debayer, SizesLevelsAndRefusals)
{
    CKelImage mosaic = MakeImage(5, 3, 1);
    Fill(mosaic, 0, [](int x, int y) { return static_cast<float>(x + 10 * y); });
    mosaic.SetLevel(0, 2.0, 40.0);
    // Super-pixel halves an odd size; each plane takes the mosaic's levels.
    CImgDebayer rgb;
    ASSERT_EQ(rgb.Do(&mosaic, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kSuperPixel), 1);
    ASSERT_TRUE(rgb.GetWidth() == 2 && rgb.GetHeight() == 1 && rgb.GetPlanes() == 3);
    // Red site (2, 0), the greens (3, 0) and (2, 1), blue site (3, 1).
    EXPECT_EQ(Samples(rgb, 0)[1], 2.0f);
    EXPECT_EQ(Samples(rgb, 1)[1], (3.0f + 12.0f) * 0.5f);
    EXPECT_EQ(Samples(rgb, 2)[1], 13.0f);
    for (int p = 0; p < 3; ++p) {
        EXPECT_TRUE(rgb.GetLevelMin(p) == 2.0 && rgb.GetLevelMax(p) == 40.0) << p;
    }
    // In place, at full size.
    CImgDebayer self;
    self = mosaic;
    ASSERT_EQ(self.Do(&self, CImgDebayer::kRGGB, 0, 0, CImgDebayer::kRCD), 1);
    EXPECT_TRUE(self.GetWidth() == 5 && self.GetPlanes() == 3);
    EXPECT_EQ(At(self, 4, 2, 0), 24.0f);
    // Refusals leave the result as it was.
    CKelImage thin = MakeImage(1, 9, 1);
    EXPECT_EQ(rgb.Do(nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(rgb.Do(&mosaic, 4, 0, 0, 0), 0);
    EXPECT_EQ(rgb.Do(&mosaic, 0, 0, 0, 3), 0);
    EXPECT_EQ(rgb.Do(&thin, 0, 0, 0, CImgDebayer::kSuperPixel), 0);
    EXPECT_EQ(rgb.GetWidth(), 2);
    EXPECT_EQ(CImgDebayer::PatternFromName("gbrg  "), CImgDebayer::kGBRG);
    EXPECT_EQ(CImgDebayer::PatternFromName("RGBG"), -1);
}

}  // namespace
}  // namespace orbimg::test
