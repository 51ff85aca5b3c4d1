// A first look at the library: make a small frame with a star on a sky of
// 1000, set display levels, and read pixels on every scale.
#include <cmath>
#include <cstdio>

#include "orbimg.h"

int main()
{
    const int width = 64;
    const int height = 48;
    CKelImage image(width, height, 1, -32, 1.0, 0.0, 1);

    // Sky of 1000 with a Gaussian star of peak 20000 and sigma 2 at (30, 20).
    for (int y = 0; y < height; ++y) {
        float* row = image.GetImageAdr(0, y, 0, 0, nullptr);
        for (int x = 0; x < width; ++x) {
            const double r2 = (x - 30.0) * (x - 30.0) + (y - 20.0) * (y - 20.0);
            row[x] = static_cast<float>(1000.0 + 20000.0 * std::exp(-r2 / (2.0 * 2.0 * 2.0)));
        }
    }

    image.SetLevel(0, 900.0, 5000.0);
    std::printf("frame %d x %d, levels %.1f .. %.1f (range %.1f), mean %.3f\n", image.GetWidth(), image.GetHeight(),
                image.GetLevelMin(0), image.GetLevelMax(0), image.GetLevelRange(0), image.GetAvrGrayRaw(0));
    std::printf("%-12s %12s %12s %6s\n", "pixel", "raw", "256 scale", "byte");
    const int points[][2] = {{0, 0}, {28, 20}, {29, 20}, {30, 20}, {33, 22}};
    for (const auto& pt : points) {
        std::printf("(%2d, %2d)     %12.3f %12.3f %6d\n", pt[0], pt[1], image.GetPixelGrayRaw(pt[0], pt[1], 0),
                    image.GetPixelGray256f(pt[0], pt[1], 0), image.GetPixelGray256(pt[0], pt[1], 0));
    }
    std::printf("between pixels (29.5, 20.25): raw %.3f, byte %d\n", image.GetPixelGrayRaw(29.5, 20.25, 0),
                image.GetPixelGray256(29.5, 20.25, 0));
    return 0;
}
