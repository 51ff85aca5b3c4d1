// One-shot-colour FITS files as capture programs write them (16 bits, BZERO
// 32768, BAYERPAT and ROWORDER), made with cfitsio from a known colour
// picture for every pattern and both row orders: the render shows the
// picture's colours where they belong.
#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "toolsupport.h"

namespace orbimg::tool::test {
namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 30;  // even: the two row orders read the cell differently

// The picture in the camera's order (row 0 the top row it delivers):
// quadrants red, green (top), blue, yellow (bottom), on 16-bit values.
std::array<double, 3> Colour(int x, int row)
{
    const bool right = x >= kWidth / 2;
    const bool bottom = row >= kHeight / 2;
    if (!bottom) {
        return right ? std::array<double, 3>{5000, 42000, 6000} : std::array<double, 3>{45000, 4000, 7000};
    }
    return right ? std::array<double, 3>{40000, 38000, 3000} : std::array<double, 3>{3000, 8000, 50000};
}

class OscRender : public ::testing::TestWithParam<std::tuple<const char*, const char*>> {};

TEST_P(OscRender, ColoursWhereThePictureHasThem)
{
    const char* pattern = std::get<0>(GetParam());
    const char* rowOrder = std::get<1>(GetParam());
    const bool bottomUp = std::string(rowOrder) == "BOTTOM-UP";
    ScratchDir dir;
    const std::string fits = dir / "osc.fits";
    // FITS order: row 1 first. Row k holds the camera's row k - 1 (top-down)
    // or kHeight - k (bottom-up); each sample the colour of its site.
    std::vector<double> samples;
    for (int k = 1; k <= kHeight; ++k) {
        const int row = bottomUp ? kHeight - k : k - 1;
        for (int x = 0; x < kWidth; ++x) {
            const char letter = pattern[2 * (row % 2) + x % 2];
            samples.push_back(Colour(x, row)[letter == 'R' ? 0 : letter == 'G' ? 1 : 2]);
        }
    }
    MakeImageFits(fits, USHORT_IMG, {kWidth, kHeight}, samples, [&](fitsfile* f, int* status) {
        fits_write_key_str(f, "BAYERPAT", pattern, "Bayer colour pattern", status);
        fits_write_key_str(f, "ROWORDER", rowOrder, "order of the rows in the image array", status);
        int zero = 0;
        fits_write_key(f, TINT, "XBAYROFF", &zero, "X offset of the Bayer pattern", status);
        fits_write_key(f, TINT, "YBAYROFF", &zero, "Y offset of the Bayer pattern", status);
    });

    for (const char* method : {"bilinear", "rcd", "superpixel"}) {
        const std::string png = dir / (std::string(method) + ".png");
        const RunResult r =
            RunTool({"render", fits, "-o", png, "--stretch", "linear", "--levels", "0,65535", "--debayer", method});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(std::string("mosaic ") + pattern + " (BAYERPAT, ROWORDER " + rowOrder + ")"),
                  std::string::npos)
            << r.out;
        const ImageFile picture = ReadPngFile(png);
        ASSERT_EQ(picture.image->GetPlanes(), 3);
        const int scale = std::string(method) == "superpixel" ? 2 : 1;
        ASSERT_EQ(picture.image->GetWidth(), kWidth / scale);
        // The picture shows FITS row 1 at the bottom: its top row is the
        // camera's last row (top-down) or first (bottom-up).
        for (const int x : {6, kWidth - 7}) {
            for (const int y : {6, kHeight - 7}) {
                const int row = bottomUp ? y : kHeight - 1 - y;
                const std::array<double, 3> want = Colour(x, row);
                for (int p = 0; p < 3; ++p) {
                    EXPECT_NEAR(At(picture, x / scale, y / scale, p), want[p] / 65535.0 * 255.0, 2.0)
                        << pattern << " " << rowOrder << " " << method << " plane " << p << " at " << x << "," << y;
                }
            }
        }
    }
    // The default render (auto MTF) keeps the hues: red stays reddest.
    const std::string auto_png = dir / "auto.png";
    ASSERT_EQ(RunTool({"render", fits, "-o", auto_png}).status, 0);
    const ImageFile picture = ReadPngFile(auto_png);
    const int y = bottomUp ? 6 : kHeight - 7;  // the red quadrant: camera row 6
    EXPECT_GT(At(picture, 6, y, 0), At(picture, 6, y, 1) + 50);
    EXPECT_GT(At(picture, 6, y, 0), At(picture, 6, y, 2) + 50);
}

INSTANTIATE_TEST_SUITE_P(PatternsAndRowOrders, OscRender,
                         ::testing::Combine(::testing::Values("RGGB", "BGGR", "GRBG", "GBRG"),
                                            ::testing::Values("TOP-DOWN", "BOTTOM-UP")),
                         [](const auto& info) {
                             return std::get<0>(info.param) +
                                    std::string(std::get<1>(info.param)[0] == 'T' ? "_TopDown" : "_BottomUp");
                         });

}  // namespace
}  // namespace orbimg::tool::test
