// Stars: accuracy against synthetic truth (Gaussian and Moffat stars, sigma
// 1 to 5 px, sub-pixel centres, noise, a sky gradient, saturated and
// touching stars), flags, blanks and edges, parallel against serial.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace {

using orbimg::test::MakeImage;

constexpr double kNoise = 10.0;
constexpr double kSaturation = 30000.0;
constexpr double kGaussFwhm = 2.3548200450309493;

struct TrueStar {
    double x;
    double y;
    double peak;       // above the sky, before clipping
    bool saturated;
    bool touching;
};

/// A star profile of the given FWHM: Gaussian, or Moffat with beta.
struct Profile {
    bool moffat;
    double fwhm;
    double beta = 3.0;
    double Sigma() const { return fwhm / kGaussFwhm; }
    double Alpha() const { return fwhm / (2.0 * std::sqrt(std::pow(2.0, 1.0 / beta) - 1.0)); }
    double At(double r2) const
    {
        return moffat ? std::pow(1.0 + r2 / (Alpha() * Alpha()), -beta) : std::exp(-r2 / (2.0 * Sigma() * Sigma()));
    }
    /// Radius holding half of the light within R.
    double Hfr(double R) const
    {
        if (!moffat) {
            const double s = Sigma();
            const double inside = 1.0 - std::exp(-R * R / (2.0 * s * s));
            return s * std::sqrt(-2.0 * std::log(1.0 - 0.5 * inside));
        }
        const double a = Alpha();
        const double inside = 1.0 - std::pow(1.0 + R * R / (a * a), 1.0 - beta);
        return a * std::sqrt(std::pow(1.0 - 0.5 * inside, 1.0 / (1.0 - beta)) - 1.0);
    }
};

/// Adds a star integrated over each pixel (8 x 8 sub-samples within 3 FWHM
/// of the centre, the pixel centre beyond), clipped at the saturation level.
void AddStar(std::vector<double>& sky, int width, int height, const Profile& profile, double cx, double cy,
             double peak)
{
    const int radius = static_cast<int>(std::ceil(6.0 * profile.fwhm)) + 2;
    const double core = 3.0 * profile.fwhm + 1.0;
    for (int y = std::max(0, static_cast<int>(cy) - radius); y <= std::min(height - 1, static_cast<int>(cy) + radius);
         ++y) {
        for (int x = std::max(0, static_cast<int>(cx) - radius);
             x <= std::min(width - 1, static_cast<int>(cx) + radius); ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            double v = 0.0;
            if (dx * dx + dy * dy < core * core) {
                for (int j = 0; j < 8; ++j) {
                    for (int i = 0; i < 8; ++i) {
                        const double sx = dx + (i + 0.5) / 8.0 - 0.5;
                        const double sy = dy + (j + 0.5) / 8.0 - 0.5;
                        v += profile.At(sx * sx + sy * sy);
                    }
                }
                v /= 64.0;
            } else {
                v = profile.At(dx * dx + dy * dy);
            }
            sky[static_cast<std::size_t>(y) * width + x] += peak * v;
        }
    }
}

struct Field {
    CKelImage image;
    std::vector<TrueStar> stars;
};

/// Stars on a jittered grid (spacing 10 FWHM + 16 px), peaks log-uniform
/// from 8 to 2000 sigma, one in 25 saturated, one in 12 with a touching
/// companion 2.5 FWHM away; sky 1000 + 0.3 x + 0.2 y, noise 10.
Field MakeField(const Profile& profile, int width, int height, std::uint32_t seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, kNoise);
    std::vector<double> sky(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            sky[static_cast<std::size_t>(y) * width + x] = 1000.0 + 0.3 * x + 0.2 * y;
        }
    }
    Field field{MakeImage(width, height), {}};
    const double spacing = 10.0 * profile.fwhm + 16.0;
    int n = 0;
    for (double gy = spacing * 0.5; gy < height - spacing * 0.5; gy += spacing) {
        for (double gx = spacing * 0.5; gx < width - spacing * 0.5; gx += spacing, ++n) {
            const double cx = gx + (unit(random) - 0.5) * 0.3 * spacing;
            const double cy = gy + (unit(random) - 0.5) * 0.3 * spacing;
            const bool saturated = n % 25 == 7;
            const bool touching = n % 12 == 5;
            const double peak = saturated ? kSaturation * (2.0 + 3.0 * unit(random))
                                          : 8.0 * kNoise * std::pow(250.0, unit(random));
            AddStar(sky, width, height, profile, cx, cy, peak);
            field.stars.push_back({cx, cy, peak, saturated, touching});
            if (touching) {
                const double angle = 6.283185307179586 * unit(random);
                const double d = 2.5 * profile.fwhm;
                const double px = cx + d * std::cos(angle);
                const double py = cy + d * std::sin(angle);
                const double second = peak * (0.4 + 0.5 * unit(random));
                AddStar(sky, width, height, profile, px, py, second);
                field.stars.back().touching = true;
                field.stars.push_back({px, py, second, false, true});
            }
        }
    }
    for (int y = 0; y < height; ++y) {
        float* row = field.image.GetImageAdr(0, y, 0, 0, nullptr);
        for (int x = 0; x < width; ++x) {
            const double v = sky[static_cast<std::size_t>(y) * width + x] + gauss(random);
            row[x] = static_cast<float>(std::min(v, kSaturation));
        }
    }
    return field;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

double Percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[static_cast<std::size_t>(q * (v.size() - 1))];
}

struct AccuracyCase {
    bool moffat;
    double sigma;
};

std::string CaseName(const testing::TestParamInfo<AccuracyCase>& info)
{
    std::string sigma = std::to_string(info.param.sigma);
    sigma = sigma.substr(0, sigma.find('.') + 2);
    std::replace(sigma.begin(), sigma.end(), '.', '_');
    return std::string(info.param.moffat ? "Moffat" : "Gaussian") + "Sigma" + sigma;
}

class StarAccuracy : public testing::TestWithParam<AccuracyCase> {};

// Median HFR and fitted FWHM within 2 % of the truth, centroids within
// 0.05 px (median, peak SNR > 20), completeness >= 95 % above 10 sigma,
// at most 1 % false detections.
TEST_P(StarAccuracy, HfrFwhmCentroidCompleteness)
{
    const Profile profile{GetParam().moffat, kGaussFwhm * GetParam().sigma};
    const int size = GetParam().sigma > 3.0 ? 1400 : 900;
    const Field field = MakeField(profile, size, size, 7u + static_cast<unsigned>(GetParam().sigma * 10));
    CStarField stars(&field.image);
    StarParams params;
    params.saturation = kSaturation;
    stars.Detect(params);

    std::vector<double> hfrRatio;
    std::vector<double> fwhmRatio;
    std::vector<double> offset;
    std::vector<int> matched(field.stars.size(), 0);
    int falseDetections = 0;
    const double match = std::max(1.5, 0.5 * profile.fwhm);
    for (const StarInfo& star : stars.GetStars()) {
        int best = -1;
        double bestD = match;
        for (std::size_t t = 0; t < field.stars.size(); ++t) {
            const double d = std::hypot(star.x - field.stars[t].x, star.y - field.stars[t].y);
            if (d < bestD) {
                bestD = d;
                best = static_cast<int>(t);
            }
        }
        if (best < 0) {
            ++falseDetections;
            continue;
        }
        matched[static_cast<std::size_t>(best)] = 1;
        const TrueStar& truth = field.stars[static_cast<std::size_t>(best)];
        if (star.flags != 0 || truth.saturated || truth.touching || truth.peak < 20.0 * kNoise) {
            continue;
        }
        hfrRatio.push_back(star.hfr / profile.Hfr(star.aperture));
        fwhmRatio.push_back(star.fwhm / profile.fwhm);
        offset.push_back(bestD);
    }
    int bright = 0;
    int found = 0;
    for (std::size_t t = 0; t < field.stars.size(); ++t) {
        if (field.stars[t].peak >= 10.0 * kNoise) {
            ++bright;
            found += matched[t];
        }
    }
    const double hfr = Median(hfrRatio);
    const double fwhm = Median(fwhmRatio);
    const double centroid = Median(offset);
    const double completeness = static_cast<double>(found) / bright;
    const double falseRate = static_cast<double>(falseDetections) / stars.GetStars().size();
    const std::string figures = "HFR " + std::to_string((hfr - 1.0) * 100.0) + " %, FWHM " +
                                std::to_string((fwhm - 1.0) * 100.0) + " %, centroid median " +
                                std::to_string(centroid) + " px (90 %: " + std::to_string(Percentile(offset, 0.9)) +
                                "), completeness " + std::to_string(completeness * 100.0) + " % of " +
                                std::to_string(bright) + ", false " + std::to_string(falseRate * 100.0) + " % of " +
                                std::to_string(stars.GetStars().size()) + ", measured " +
                                std::to_string(hfrRatio.size());
    RecordProperty("figures", figures);
    std::printf("    %s: %s\n", CaseName({GetParam(), 0}).c_str(), figures.c_str());
    EXPECT_GE(hfrRatio.size(), 20u) << figures;
    EXPECT_NEAR(hfr, 1.0, 0.02) << figures;
    EXPECT_NEAR(fwhm, 1.0, 0.02) << figures;
    EXPECT_LT(centroid, 0.05) << figures;
    EXPECT_GE(completeness, 0.95) << figures;
    EXPECT_LE(falseRate, 0.01) << figures;
}

INSTANTIATE_TEST_SUITE_P(Profiles, StarAccuracy,
                         testing::Values(AccuracyCase{false, 1.0}, AccuracyCase{false, 2.0},
                                         AccuracyCase{false, 3.5}, AccuracyCase{false, 5.0},
                                         AccuracyCase{true, 1.0}, AccuracyCase{true, 2.0},
                                         AccuracyCase{true, 3.5}, AccuracyCase{true, 5.0}),
                         CaseName);

}  // namespace
