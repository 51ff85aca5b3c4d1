// render, histogram and info on small files: pixels of the pictures, the
// levels measured in the right window, the counts, every input kind.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>

#include "commands.h"
#include "dibfile.h"
#include "imagefile.h"
#include "skymesh.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::At;
using test::MakeImageFits;
using test::NumbersAfter;
using test::RunTool;
using test::ScratchDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// The byte a sample maps to through levels lo..hi, as GetDib computes it.
int Byte(double v, double lo, double hi)
{
    if (std::isnan(v)) {
        return 0;
    }
    const double t = (v - lo) / (hi - lo) * 255.0;
    return t <= 0.0 ? 0 : t >= 255.0 ? 255 : static_cast<int>(t);
}

/// FITS order (row 1, the bottom, first) of a 4 x 3 mono image.
const std::vector<double> kMono = {0, 25, 50, 75, 100, 125, -10, kNaN, 10, 20, 30, 40};

TEST(Render, PixelsAndOrientationAtBothDepths)
{
    ScratchDir dir;
    MakeImageFits(dir / "m.fits", FLOAT_IMG, {4, 3}, kMono);
    const int blocks = GlobalLiveBlockCount();
    const auto r = RunTool({"render", dir / "m.fits", "-o", dir / "m.png", "--levels", "0,100"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote " + (dir / "m.png") + " (4 x 3, 24 bits), levels given: 0 .. 100\n");
    EXPECT_EQ(GlobalLiveBlockCount(), blocks);  // the DIB's block was freed
    const ImageFile png = LoadImageFile(dir / "m.png");
    ASSERT_EQ(png.image->GetWidth(), 4);
    // Picture row 0 (the top) is FITS row 3.
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            const double v = kMono[static_cast<std::size_t>((2 - y) * 4 + x)];
            EXPECT_EQ(At(png, x, y), Byte(v, 0, 100)) << x << "," << y;
        }
    }

    // 8 bits: a grey ramp.
    ASSERT_EQ(RunTool({"render", dir / "m.fits", "-o", dir / "m.bmp", "--levels", "0,100", "--depth", "8"}).status, 0);
    const std::string bmp = test::ReadText(dir / "m.bmp");
    ASSERT_EQ(bmp.size(), 14u + 40u + 1024u + 3u * 4u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<unsigned char>(bmp[28]), 8);  // biBitCount
    std::string rows;                                   // stored bottom-up as in FITS
    for (const double v : kMono) {
        rows += static_cast<char>(Byte(v, 0, 100));
    }
    EXPECT_EQ(bmp.substr(14 + 40 + 1024), rows);
    EXPECT_EQ(static_cast<unsigned char>(bmp[14 + 40 + 4 * 200]), 200);  // grey palette entry 200
}

TEST(Render, TheRectIsTheWindowMeasured)
{
    ScratchDir dir;
    // FITS rows 1..10 hold values near 100, rows 11..20 values near 1000.
    std::vector<double> values;
    for (int y = 1; y <= 20; ++y) {
        for (int x = 1; x <= 16; ++x) {
            values.push_back((y <= 10 ? 100.0 : 1000.0) + (x * 7 + y * 3) % 11);
        }
    }
    MakeImageFits(dir / "r.fits", FLOAT_IMG, {16, 20}, values);
    // The mean and population sigma of FITS x 3..12, y 2..9.
    std::vector<double> window;
    for (int y = 2; y <= 9; ++y) {
        window.insert(window.end(), values.begin() + (y - 1) * 16 + 2, values.begin() + (y - 1) * 16 + 12);
    }
    const double n = static_cast<double>(window.size());
    const double mean = std::accumulate(window.begin(), window.end(), 0.0) / n;
    const double sigma =
        std::sqrt(std::inner_product(window.begin(), window.end(), window.begin(), 0.0) / n - mean * mean);
    for (const char* rect : {"3,2,12,9", "12,9,3,2"}) {
        const auto r = RunTool({"render", dir / "r.fits", "-o", dir / "r.png", "--method", "mean", "--low", "1",
                                "--high", "2", "--rect", rect});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto levels = NumbersAfter(r.out, "): ");
        ASSERT_EQ(levels.size(), 2u) << r.out;
        EXPECT_NEAR(levels[0], mean - sigma, 1e-4) << r.out;
        EXPECT_NEAR(levels[1], mean + 2 * sigma, 1e-4);
        EXPECT_NE(r.out.find("measured in " + std::string(rect)), std::string::npos);
    }
}

// Every compression level writes a PNG that reads back sample for sample:
// a raster in bands of a few rows (more bands than are compressed at a
// time, so the stream is joined across groups) with noise, runs and a flat
// end.
class PngLevels : public testing::TestWithParam<int> {};

TEST_P(PngLevels, ReadBackIdentical)
{
    ScratchDir dir;
    for (const int channels : {1, 3}) {
        Raster raster;
        raster.width = 97;
        raster.height = 61;
        raster.channels = channels;
        std::uint32_t seed = 12345;
        std::vector<float> planes(static_cast<std::size_t>(raster.width * raster.height * channels));
        for (int i = 0; i < raster.width * raster.height * channels; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const bool flat = i > raster.width * 40 * channels || (i / 7) % 5 == 0;
            raster.samples.push_back(static_cast<unsigned char>(flat ? 200 : seed >> 24));
            planes[static_cast<std::size_t>(i % channels * raster.width * raster.height + i / channels)] =
                raster.samples.back();
        }
        const std::string path = channels == 1 ? dir / "grey.png" : dir / "rgb.png";
        WritePngFile(path, raster, GetParam(), 3 * static_cast<std::size_t>(raster.width * channels));
        EXPECT_EQ(test::Samples(LoadImageFile(path)), planes) << channels << " channels";
    }
}

INSTANTIATE_TEST_SUITE_P(Render, PngLevels, testing::Values(0, 1, 2, 9));

TEST(Info, SkyLevelAndNoiseOfAFieldWithAGradient)
{
    // A sky rising by 6 sigma from top to bottom, noise sigma 10, stars.
    const int w = 300;
    const int h = 200;
    std::vector<float> samples;
    std::mt19937_64 random(3);
    std::normal_distribution<double> noise;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            samples.push_back(static_cast<float>(1000.0 + 60.0 * y / (h - 1) + 10.0 * noise(random) +
                                                 ((x % 37 == 5 && y % 29 == 7) ? 5000.0 : 0.0)));
        }
    }
    const SkyMesh mesh = SkyMesh::Measure(samples, w, h);
    EXPECT_EQ(mesh.TilesX(), 9);
    EXPECT_EQ(mesh.TilesY(), 6);
    EXPECT_NEAR(mesh.Level(0), 1035.0, 2.0);  // the upper middle of six tile rows: 1000 + 60 x 116 / 199
    EXPECT_NEAR(mesh.Noise(0), 10.0, 0.6);    // the whole frame's spread is about 20
    const std::vector<float> map = mesh.Map(0);
    EXPECT_NEAR(map[static_cast<std::size_t>(h / 2) * w + w / 2], 1030.0, 2.0);
    EXPECT_LT(map[0], map[static_cast<std::size_t>(h - 1) * w]);
}

// A PNG's top row is the top of the picture: FITS row 30 of a 30-row image
// (the other commands on a PNG: golden/runs.txt), as libpng reads it.
TEST(Transform, ReadsAPngTopRowFirst)
{
    ScratchDir dir;
    const std::string png = std::string(ORBIMG_TOOL_GOLDEN_DIR) + "/files/p.png";
    ASSERT_EQ(RunTool({"transform", png, "-o", dir / "t.fits", "--canvas", "40x30"}).status, 0);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    std::vector<unsigned char> samples(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, samples.data(), 0, nullptr));
    const test::FitsData data = test::ReadFitsData(dir / "t.fits");
    EXPECT_EQ(data.At(25, 10), samples[20 * 40 + 24]);
    EXPECT_EQ(data.At(3, 30), samples[2]);
}

}  // namespace
}  // namespace orbimg::tool
