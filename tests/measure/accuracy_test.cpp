// PSF accuracy on synthetic Gaussian stars: point-sampled at integer pixels,
// centres off the pixel grid by a random sub-pixel amount, over a flat sky
// with Gaussian noise. The median FWHM of 20 stars must come within 10 % of
// 2.3548 sigma.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "measure_support.h"

namespace {

// xorshift64: the same numbers on every platform.
struct Rng {
    std::uint64_t s;
    double Uniform()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return static_cast<double>(s >> 11) * (1.0 / 9007199254740992.0);
    }
    double Normal()  // Box-Muller
    {
        const double u = 1.0 - Uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * Uniform());
    }
};

constexpr int kCell = 64;
constexpr int kColumns = 5;
constexpr int kRows = 4;

TEST(PsfAccuracy, MedianFwhmOfGaussianStarsWithinTenPercent)
{
    for (const double sigma : {1.5, 2.0, 2.5, 3.0, 3.5, 4.0}) {
        Rng rng{0x2545F4914F6CDD1Dull ^ static_cast<std::uint64_t>(sigma * 1000)};
        CKelImage img = orbimg::test::MakeImage(kCell * kColumns, kCell * kRows);
        orbimg::test::Fill(img, 0, [&rng](int, int) { return static_cast<float>(1000.0 + 10.0 * rng.Normal()); });
        double cx[kColumns * kRows];
        double cy[kColumns * kRows];
        for (int i = 0; i < kColumns * kRows; ++i) {
            cx[i] = kCell * (i % kColumns) + kCell / 2 + rng.Uniform() - 0.5;
            cy[i] = kCell * (i / kColumns) + kCell / 2 + rng.Uniform() - 0.5;
            const double peak = 3000.0 + 4000.0 * rng.Uniform();
            for (int y = static_cast<int>(cy[i]) - 20; y <= static_cast<int>(cy[i]) + 20; ++y) {
                float* row = img.GetImageAdr(0, y, 0, 0, nullptr);
                for (int x = static_cast<int>(cx[i]) - 20; x <= static_cast<int>(cx[i]) + 20; ++x) {
                    const double d2 = (x - cx[i]) * (x - cx[i]) + (y - cy[i]) * (y - cy[i]);
                    row[x] += static_cast<float>(peak * std::exp(-d2 / (2.0 * sigma * sigma)));
                }
            }
        }
        PSF psf(&img);
        for (int i = 0; i < kColumns * kRows; ++i) {
            // Start a little aside: the climb finds the peak.
            const CPoint aside(static_cast<int>(cx[i]) + 2, static_cast<int>(cy[i]) - 1);
            EXPECT_EQ(psf.Add(aside), 1) << sigma << " " << i;
        }
        double fwhm = 0.0;
        ASSERT_EQ(psf.GetMedianFWHM(&fwhm), 1);
        const double truth = 2.3548 * sigma;
        EXPECT_NEAR(fwhm, truth, 0.1 * truth) << "sigma " << sigma;
        std::printf("sigma %.1f: median FWHM %.4f, truth %.4f (%+.2f %%)\n", sigma, fwhm, truth,
                    100.0 * (fwhm - truth) / truth);
    }
}

}  // namespace
