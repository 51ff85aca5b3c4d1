// Synthetic star field: sky gradient, noise, Gaussian stars, saturation, blanks.
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "imagefile.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

/// SplitMix64: small, fast and good enough for noise and positions.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    /// Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

private:
    std::uint64_t m_state;
};

constexpr int kPlanes = 3;
constexpr double kSkyBase[kPlanes] = {1100.0, 1000.0, 850.0};
constexpr double kSkyGradientDown[kPlanes] = {300.0, 200.0, 100.0};
constexpr double kSkyGradientRight[kPlanes] = {40.0, 30.0, 20.0};
constexpr double kNoiseScale[kPlanes] = {1.1, 1.0, 1.25};
constexpr double kMinStarSeparation = 12.0;
constexpr int kMargin = 8;

/// Sky plus noise of one row of one plane; the generator depends only on
/// (seed, plane, row).
void FillSkyRow(float* row, int width, int height, int y, int plane, const FieldParams& params)
{
    Random random(params.seed * 0x100000001B3ULL + static_cast<std::uint64_t>(plane) * 0x1000003ULL +
                  static_cast<std::uint64_t>(y) + 1);
    const double down = height > 1 ? static_cast<double>(y) / (height - 1) : 0.0;
    const double rowSky = kSkyBase[plane] + kSkyGradientDown[plane] * down;
    const double sigma = params.skyNoise * kNoiseScale[plane];
    const double right = width > 1 ? kSkyGradientRight[plane] / (width - 1) : 0.0;
    for (int x = 0; x < width; x += 2) {
        // Box-Muller: two normal deviates from two uniforms.
        const double u1 = 1.0 - random.Uniform();  // (0, 1]
        const double u2 = random.Uniform();
        const double radius = std::sqrt(-2.0 * std::log(u1)) * sigma;
        const double angle = 2.0 * M_PI * u2;
        row[x] = static_cast<float>(rowSky + right * x + radius * std::cos(angle));
        if (x + 1 < width) {
            row[x + 1] = static_cast<float>(rowSky + right * (x + 1) + radius * std::sin(angle));
        }
    }
}

bool FarFromAll(double x, double y, const std::vector<CfPoint>& points, double distance)
{
    for (const auto& p : points) {
        const double dx = p.x - x;
        const double dy = p.y - y;
        if (dx * dx + dy * dy < distance * distance) {
            return false;
        }
    }
    return true;
}

/// Adds a Gaussian star (peaks per plane) centred at library (cx, cy) and
/// clips its box at the saturation level.
void AddStar(CKelImage& image, double cx, double cy, const double peak[kPlanes], double sigma, double noise,
             float saturation)
{
    const double brightest = std::max({peak[0], peak[1], peak[2]});
    const double extent = sigma * std::sqrt(2.0 * std::log(std::max(brightest / (0.05 * noise), 2.0)));
    const int radius = std::max(1, static_cast<int>(std::ceil(extent)));
    const int x0 = std::max(0, static_cast<int>(std::floor(cx)) - radius);
    const int x1 = std::min(image.GetWidth() - 1, static_cast<int>(std::floor(cx)) + radius + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(cy)) - radius);
    const int y1 = std::min(image.GetHeight() - 1, static_cast<int>(std::floor(cy)) + radius + 1);
    const double k = -1.0 / (2.0 * sigma * sigma);
    std::vector<double> ex(static_cast<std::size_t>(x1 - x0 + 1));
    for (int x = x0; x <= x1; ++x) {
        ex[x - x0] = std::exp(k * (x - cx) * (x - cx));
    }
    for (int p = 0; p < kPlanes; ++p) {
        for (int y = y0; y <= y1; ++y) {
            const double ey = peak[p] * std::exp(k * (y - cy) * (y - cy));
            float* row = image.GetImageAdr(0, y, p, 0, nullptr);
            for (int x = x0; x <= x1; ++x) {
                const float v = static_cast<float>(row[x] + ey * ex[x - x0]);
                row[x] = std::min(v, saturation);
            }
        }
    }
}

}  // namespace

SynthField SynthesizeField(const FieldParams& params)
{
    if (params.width < 32 || params.height < 32) {
        throw ToolError("the synthetic field must be at least 32 x 32 pixels");
    }
    const int width = params.width;
    const int height = params.height;
    SynthField field;
    field.image = std::make_unique<CKelImage>(width, height, kPlanes, -32, 1.0, 0.0, 1);
    CKelImage& image = *field.image;

    Concurrency::parallel_for(0, height * kPlanes, [&](int index) {
        const int plane = index % kPlanes;
        const int y = index / kPlanes;
        FillSkyRow(image.GetImageAdr(0, y, plane, 0, nullptr), width, height, y, plane, params);
    });

    // Star positions, brightness and colour come from one generator, in order.
    Random random(params.seed ^ 0x5DEECE66DULL);
    const double sigma = params.fwhm / (2.0 * std::sqrt(2.0 * std::log(2.0)));
    const float saturation = static_cast<float>(params.saturation);
    std::vector<CfPoint> centres;
    const int total = params.stars + params.saturatedStars;
    const int attempts = 20 * total + 100;
    for (int attempt = 0; attempt < attempts && static_cast<int>(centres.size()) < total; ++attempt) {
        const double cx = random.Uniform(kMargin, width - 1 - kMargin);
        const double cy = random.Uniform(kMargin, height - 1 - kMargin);
        const double tint = random.Uniform();
        const double level = random.Uniform();
        if (!FarFromAll(cx, cy, centres, kMinStarSeparation)) {
            continue;
        }
        const bool saturated = static_cast<int>(centres.size()) >= params.stars;
        // Below saturation: log-uniform from 8 sigma of noise to 40000;
        // saturated: 2 to 6 times the saturation level.
        const double green = saturated ? params.saturation * (2.0 + 4.0 * level)
                                       : 8.0 * params.skyNoise * std::pow(40000.0 / (8.0 * params.skyNoise), level);
        const double peak[kPlanes] = {green * (0.7 + 0.6 * tint), green, green * (1.3 - 0.6 * tint)};
        AddStar(image, cx, cy, peak, sigma, params.skyNoise, saturation);
        centres.emplace_back(cx, cy);
        field.stars.push_back(SynthStar{LibraryToFits(cx, cy, height), green, saturated});
    }

    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    for (int attempt = 0; attempt < 1000 && static_cast<int>(field.blanks.size()) < params.blanks; ++attempt) {
        const int x = static_cast<int>(random.Uniform(0, width));
        const int y = static_cast<int>(random.Uniform(0, height));
        if (!FarFromAll(x, y, centres, kMinStarSeparation)) {
            continue;
        }
        for (int p = 0; p < kPlanes; ++p) {
            *image.GetImageAdr(x, y, p, 0, nullptr) = kNaN;
        }
        field.blanks.push_back(LibraryToFits(x, y, height));
    }
    SetLevelsToData(image);
    return field;
}

}  // namespace orbimg::tool
