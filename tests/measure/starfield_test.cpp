// Stars: accuracy against synthetic truth (Gaussian and Moffat stars, sigma
// 1 to 5 px, sub-pixel centres, noise, a sky gradient, saturated and
// touching stars), flags, blanks and edges, parallel against serial; the
// PSF's FWHM and the focus curve on synthetic stars; the sky background.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "measure/signalrows.h"
#include "support/testsupport.h"

namespace {

using orbimg::test::MakeImage;

constexpr double kNoise = 10.0;
constexpr double kSaturation = 30000.0;
constexpr double kGaussFwhm = 2.3548200450309493;

/// A star profile of the given FWHM: Gaussian, or Moffat with beta;
/// integrated over each pixel, or sampled at the pixel centres (then
/// optionally elliptic: the minor axis `aspect` times the major, which is
/// turned by `angle`).
struct Profile {
    bool moffat;
    double fwhm;
    double beta = 3.0;
    bool sampled = false;
    double aspect = 1.0;
    double angle = 0.0;
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

/// Adds a star: integrated, a Gaussian exactly, as the product of the
/// pixel's shares along x and y, a Moffat by 8 x 8 sub-samples within 3 FWHM
/// of the centre (the pixel centre beyond); or sampled at pixel centres.
void AddStar(std::vector<double>& sky, int width, int height, const Profile& profile, double cx, double cy, double peak)
{
    const int radius = static_cast<int>(std::ceil(6.0 * profile.fwhm)) + 2;
    const double k = 1.0 / (std::sqrt(2.0) * profile.Sigma());
    const double norm = 2.0 * 3.14159265358979323846 * profile.Sigma() * profile.Sigma();
    const auto share = [k](double d) { return 0.5 * (std::erf((d + 0.5) * k) - std::erf((d - 0.5) * k)); };
    const double core = 3.0 * profile.fwhm + 1.0;
    for (int y = std::max(0, static_cast<int>(cy) - radius); y <= std::min(height - 1, static_cast<int>(cy) + radius);
         ++y) {
        for (int x = std::max(0, static_cast<int>(cx) - radius);
             x <= std::min(width - 1, static_cast<int>(cx) + radius); ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            double v = profile.At(dx * dx + dy * dy);
            if (profile.sampled) {
                const double u = dx * std::cos(profile.angle) + dy * std::sin(profile.angle);
                const double w = (dy * std::cos(profile.angle) - dx * std::sin(profile.angle)) / profile.aspect;
                v = profile.At(u * u + w * w);
            } else if (!profile.moffat) {
                v = norm * share(dy) * share(dx);
            } else if (dx * dx + dy * dy < core * core) {
                v = 0.0;
                for (int j = 0; j < 64; ++j) {
                    const double sx = dx + (j % 8 + 0.5) / 8.0 - 0.5;
                    const double sy = dy + (j / 8 + 0.5) / 8.0 - 0.5;
                    v += profile.At(sx * sx + sy * sy);
                }
                v /= 64.0;
            }
            sky[static_cast<std::size_t>(y) * width + x] += peak * v;
        }
    }
}

/// A star of a frame: its centre, its peak above the sky (before clipping),
/// what the accuracy test leaves out, and its own profile if not the frame's.
struct TrueStar {
    double x;
    double y;
    double peak;
    bool saturated = false;
    bool touching = false;
    const Profile* own = nullptr;
};

/// A frame: the sky 1000 + gx x + gy y, the stars added in order, Gaussian
/// noise of kNoise, clipped at kSaturation.
CKelImage Frame(int width, int height, const Profile& profile, const std::vector<TrueStar>& stars, std::uint32_t seed,
                double gx = 0.0, double gy = 0.0)
{
    std::vector<double> sky(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < sky.size(); ++i) {
        sky[i] = 1000.0 + gx * static_cast<double>(i % width) + gy * static_cast<double>(i / width);
    }
    for (const TrueStar& star : stars) {
        AddStar(sky, width, height, star.own ? *star.own : profile, star.x, star.y, star.peak);
    }
    std::mt19937_64 random(seed);
    std::normal_distribution<double> gauss(0.0, kNoise);
    CKelImage image = MakeImage(width, height);
    orbimg::test::Fill(image, 0, [&](int x, int y) {  // row by row
        return static_cast<float>(std::min(sky[static_cast<std::size_t>(y) * width + x] + gauss(random), kSaturation));
    });
    return image;
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
    std::vector<TrueStar> stars;
    const double spacing = 10.0 * profile.fwhm + 16.0;
    int n = 0;
    for (double gy = spacing * 0.5; gy < height - spacing * 0.5; gy += spacing) {
        for (double gx = spacing * 0.5; gx < width - spacing * 0.5; gx += spacing, ++n) {
            const double cx = gx + (unit(random) - 0.5) * 0.3 * spacing;
            const double cy = gy + (unit(random) - 0.5) * 0.3 * spacing;
            const bool saturated = n % 25 == 7;
            const bool touching = n % 12 == 5;
            const double peak =
                saturated ? kSaturation * (2.0 + 3.0 * unit(random)) : 8.0 * kNoise * std::pow(250.0, unit(random));
            stars.push_back({cx, cy, peak, saturated, touching});
            if (touching) {
                const double angle = 6.283185307179586 * unit(random);
                stars.push_back({cx + 2.5 * profile.fwhm * std::cos(angle), cy + 2.5 * profile.fwhm * std::sin(angle),
                                 peak * (0.4 + 0.5 * unit(random)), false, true});
            }
        }
    }
    return {Frame(width, height, profile, stars, seed + 1000u, 0.3, 0.2), stars};
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

/// printf-style figures for a message.
template <class... A>
std::string Figures(const char* format, A... args)
{
    char text[400];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// A Gaussian or a Moffat profile of the given sigma.
using AccuracyCase = std::tuple<bool, double>;

std::string CaseName(const testing::TestParamInfo<AccuracyCase>& info)
{
    const auto [moffat, sigma] = info.param;
    return Figures("%sSigma%d_%d", moffat ? "Moffat" : "Gaussian", static_cast<int>(sigma),
                   static_cast<int>(sigma * 10) % 10);
}

class StarAccuracy : public testing::TestWithParam<AccuracyCase> {};

// Median HFR and fitted FWHM within 2 % of the truth, centroids within
// 0.05 px (median, peak SNR > 20), completeness >= 95 % above 10 sigma,
// at most 1 % false detections.
TEST_P(StarAccuracy, HfrFwhmCentroidCompleteness)
{
    const auto [moffat, sigma] = GetParam();
    const Profile profile{moffat, kGaussFwhm * sigma};
    const int size = sigma > 3.0 ? 1400 : 900;
    const Field field = MakeField(profile, size, size, 7u + static_cast<unsigned>(sigma * 10));
    CStarField stars(&field.image);
    StarParams params;
    params.saturation = kSaturation;
    stars.Detect(params);

    std::vector<double> hfrRatio;
    std::vector<double> fwhmRatio;
    std::vector<double> offset;
    std::vector<int> matched(field.stars.size(), 0);
    int falseDetections = 0;
    for (const StarInfo& star : stars.GetStars()) {
        int best = -1;
        double bestD = std::max(1.5, 0.5 * profile.fwhm);
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
        if (star.flags == 0 && !truth.saturated && !truth.touching && truth.peak >= 20.0 * kNoise) {
            hfrRatio.push_back(star.hfr / profile.Hfr(star.aperture));
            fwhmRatio.push_back(star.fwhm / profile.fwhm);
            offset.push_back(bestD);
        }
    }
    int bright = 0;
    int found = 0;
    for (std::size_t t = 0; t < field.stars.size(); ++t) {
        bright += field.stars[t].peak >= 10.0 * kNoise;
        found += field.stars[t].peak >= 10.0 * kNoise && matched[t];
    }
    const double hfr = Median(hfrRatio);
    const double fwhm = Median(fwhmRatio);
    const double centroid = Median(offset);
    const double completeness = static_cast<double>(found) / bright;
    const double falseRate = static_cast<double>(falseDetections) / stars.GetStars().size();
    const std::string figures = Figures(
        "HFR %+.3f %%, FWHM %+.3f %%, centroid median %.4f px, completeness %.2f %% of %d, false %.2f %% of "
        "%zu, measured %zu",
        (hfr - 1.0) * 100.0, (fwhm - 1.0) * 100.0, centroid, completeness * 100.0, bright, falseRate * 100.0,
        stars.GetStars().size(), hfrRatio.size());
    RecordProperty("figures", figures);
    std::printf("    %s: %s\n", CaseName({GetParam(), 0}).c_str(), figures.c_str());
    EXPECT_GE(hfrRatio.size(), 20u) << figures;
    EXPECT_NEAR(hfr, 1.0, 0.02) << figures;
    EXPECT_NEAR(fwhm, 1.0, 0.02) << figures;
    EXPECT_LT(centroid, 0.05) << figures;
    EXPECT_GE(completeness, 0.95) << figures;
    EXPECT_LE(falseRate, 0.01) << figures;
}

INSTANTIATE_TEST_SUITE_P(Profiles, StarAccuracy, testing::Combine(testing::Bool(), testing::Values(1.0, 2.0, 3.5, 5.0)),
                         CaseName);

// PSF accuracy on Gaussian stars point-sampled at integer pixels, centres
// off the grid by a random sub-pixel amount, on a noisy flat sky: the
// median FWHM of 20 stars comes within 10 % of 2.3548 sigma.
TEST(PsfAccuracy, MedianFwhmOfGaussianStarsWithinTenPercent)
{
    for (const double sigma : {1.5, 2.0, 2.5, 3.0, 3.5, 4.0}) {
        std::mt19937_64 random(static_cast<std::uint64_t>(sigma * 1000));
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::vector<TrueStar> stars;
        for (int i = 0; i < 20; ++i) {  // x, y, then the peak, in that order
            stars.push_back({64 * (i % 5) + 32 + unit(random) - 0.5, 64 * (i / 5) + 32 + unit(random) - 0.5,
                             3000.0 + 4000.0 * unit(random)});
        }
        CKelImage img = Frame(320, 256, Profile{false, kGaussFwhm * sigma, 3.0, true}, stars,
                              static_cast<std::uint32_t>(sigma * 10));
        PSF psf(&img);
        for (const TrueStar& s : stars) {  // from aside: the climb finds the peak
            EXPECT_EQ(psf.Add(CPoint(static_cast<int>(s.x) + 2, static_cast<int>(s.y) - 1)), 1) << sigma << " " << s.x;
        }
        double fwhm = 0.0;
        ASSERT_EQ(psf.GetMedianFWHM(&fwhm), 1);
        const double truth = 2.3548 * sigma;
        const std::string figures = Figures("sigma %.1f: median FWHM %.4f, truth %.4f (%+.2f %%)", sigma, fwhm, truth,
                                            100.0 * (fwhm - truth) / truth);
        std::printf("    %s\n", figures.c_str());
        EXPECT_NEAR(fwhm, truth, 0.1 * truth) << figures;
    }
}

// A focus sweep: the same field at 9 focuser positions 100 apart, each star
// a Gaussian of sigma sqrt(1.5^2 + (0.012 (x - best))^2), fresh noise per
// frame. The fitted best position lies within 0.1 step (10) of the truth,
// on a step and between steps.
class FocusSweep : public testing::TestWithParam<double> {};

TEST_P(FocusSweep, BestPositionWithinATenthOfAStep)
{
    const double truth = GetParam();
    constexpr int kSize = 500;
    std::mt19937_64 random(99);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<TrueStar> field;
    for (int i = 0; i < 80; ++i) {  // x, y, then the peak (a flux scale), in that order
        field.push_back({30.0 + unit(random) * (kSize - 60), 30.0 + unit(random) * (kSize - 60),
                         2000.0 * std::pow(10.0, unit(random))});
    }
    CFocusCurve curve;
    for (int k = 0; k < 9; ++k) {
        const double position = 1000.0 + 100.0 * k;
        const double blur = 0.012 * (position - truth);
        const Profile profile{false, kGaussFwhm * std::sqrt(1.5 * 1.5 + blur * blur)};
        std::vector<TrueStar> frame = field;
        for (TrueStar& star : frame) {
            // The same flux in every frame: the peak falls as the star widens.
            star.peak /= profile.Sigma() * profile.Sigma();
        }
        const CKelImage image = Frame(kSize, kSize, profile, frame, 500u + k);
        CStarField stars(&image);
        stars.Detect();
        const StarSummary summary = stars.GetSummary();
        curve.Add(position, summary.hfr, summary.hfrError);
    }
    const FocusCurveResult result = curve.Fit();
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_TRUE(result.fromHyperbola);
    const std::string figures = Figures("hyperbola %+.3f +- %.3f, parabola %+.3f +- %.3f (step 100), R^2 %.6f",
                                        result.hyperbola.best - truth, result.hyperbola.bestError,
                                        result.parabola.best - truth, result.parabola.bestError, result.hyperbola.r2);
    RecordProperty("figures", figures);
    std::printf("    truth %.0f: %s\n", truth, figures.c_str());
    EXPECT_NEAR(result.best, truth, 10.0) << figures;
    EXPECT_NEAR(result.parabola.best, truth, 10.0) << figures;
    EXPECT_GT(result.hyperbola.r2, 0.99) << figures;
}

INSTANTIATE_TEST_SUITE_P(Truths, FocusSweep, testing::Values(1400.0, 1450.0, 1337.0));

// Refusals: too few frames with stars, and minima outside the positions.
TEST(FocusCurve, RefusesWithAReason)
{
    // The best position of the hyperbola the HFR follow, the frames without
    // stars (from the first) and the reason.
    for (const auto& [best, blank, reason] :
         {std::tuple{250.0, 4, "too few frames"}, std::tuple{700.0, 0, "outside the positions"},
          std::tuple{-200.0, 0, "outside the positions"}}) {
        CFocusCurve curve;
        for (int i = 0; i < 6; ++i) {
            const double t = (100.0 * i - best) / 150.0;
            curve.Add(100.0 * i, i < blank ? NAN : 2.0 * std::sqrt(1.0 + t * t), 0.05);
        }
        const FocusCurveResult result = curve.Fit();
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.reason.find(reason), std::string::npos) << result.reason;
    }
}

// Each flag on a star made for it; a plain star has none.
TEST(StarFlags, EachCaseFlagged)
{
    struct Case {
        double x, y;
        unsigned flag;
    };
    const std::vector<Case> cases = {
        {60.3, 60.6, 0u},               // plain
        {1.4, 120.2, kStarEdge},        // on the left edge
        {150.5, 50.2, kStarSaturated},  // clipped core
        {240.2, 60.7, kStarBlank},      // a NaN beside it
        {80.0, 150.0, kStarElongated},  // 3 : 1, turned 30 degrees
        {160.0, 150.0, kStarBlended},   // two touching stars
        {165.0, 152.0, kStarBlended},
    };
    const Profile elongated{false, 3.0 * kGaussFwhm, 3.0, true, 1.0 / 3.0, 0.5235987755982988};
    std::vector<TrueStar> stars;
    for (const Case& c : cases) {
        stars.push_back({c.x, c.y, c.flag == kStarSaturated ? 5.0 * kSaturation : 800.0, false, false,
                         c.flag == kStarElongated ? &elongated : nullptr});
    }
    CKelImage image = Frame(300, 200, Profile{false, 1.5 * kGaussFwhm, 3.0, true}, stars, 3u);
    *image.GetImageAdr(242, 61, 0, 0, nullptr) = NAN;
    CStarField field(&image);
    StarParams params;
    params.saturation = kSaturation;
    field.Detect(params);
    ASSERT_EQ(field.GetStars().size(), cases.size());
    for (const Case& c : cases) {
        const auto star = std::find_if(field.GetStars().begin(), field.GetStars().end(),
                                       [&](const StarInfo& s) { return std::hypot(s.x - c.x, s.y - c.y) < 1.0; });
        ASSERT_NE(star, field.GetStars().end()) << c.x << "," << c.y;
        EXPECT_EQ(star->flags, c.flag) << c.x << "," << c.y;
        if (c.flag == 0) {  // a Gaussian: the Moffat of unbounded beta, held at the upper end of its range
            EXPECT_EQ(star->moffat.beta, 30.0) << star->moffat.ok;
        }
        if (c.flag == kStarElongated) {
            EXPECT_NEAR(star->ellipticity, 1.0 - 1.0 / 3.0, 0.03);
            EXPECT_NEAR(star->angle, 0.5235987755982988, 0.02);
        }
    }
    const StarSummary summary = field.GetSummary();
    EXPECT_EQ(summary.good, 1);
    EXPECT_NEAR(summary.fwhm, 1.5 * kGaussFwhm, 0.2);  // sampled, not integrated: the pixel correction narrows it
}

// A frame of blanks, an empty frame, a plane that does not exist: no star,
// nothing read outside. Infinite and huge samples in a star's core and
// settings at their extremes: measured or refused, never a position or HFR
// computed from a fit that ran off (under the sanitizers that was a NaN used
// as an index).
TEST(StarFlags, BlankFramesInfiniteCoresAndExtremeSettings)
{
    CKelImage blank = MakeImage(64, 64);
    orbimg::test::Fill(blank, 0, [](int, int) { return NAN; });
    CStarField field(&blank);
    EXPECT_EQ(field.Detect(), 0);
    EXPECT_TRUE(std::isnan(field.GetSummary().hfr));
    CKelImage empty;
    EXPECT_EQ(CStarField(&empty).Detect(), 0);
    StarParams third;
    third.plane = 2;
    EXPECT_EQ(field.Detect(third), 0);

    const Profile narrow{false, 1.2 * kGaussFwhm, 3.0, true};
    CKelImage image = Frame(120, 80, Profile{false, 1.5 * kGaussFwhm, 3.0, true},
                            {{30.3, 40.6, 800.0}, {90.2, 40.1, 3e38, false, false, &narrow}}, 5u);
    *image.GetImageAdr(30, 40, 0, 0, nullptr) = INFINITY;
    *image.GetImageAdr(31, 41, 0, 0, nullptr) = -INFINITY;
    for (double aperture : {0.0, 2.5, 1e300, double(INFINITY), double(NAN)}) {
        StarParams params;
        params.hfrAperture = aperture;
        params.threshold = 1e-9;
        CStarField stars(&image);
        stars.Detect(params);
        for (const StarInfo& star : stars.GetStars()) {
            EXPECT_TRUE(std::isfinite(star.x) && std::isfinite(star.y)) << aperture;
            EXPECT_FALSE(star.hfr > 120) << aperture;
        }
    }
}

// The sky under a gradient: with a large saturated star, within 0.2 sigma
// of the truth at every pixel at least 40 px from the star; with NaN and
// infinities in every tile (blank samples are not sky), within 0.3 sigma
// everywhere. The noise within 5 % of the truth.
TEST(SkyBackground, GradientWithASaturatedStarOrBlanks)
{
    for (const bool blanks : {false, true}) {
        const auto [width, height, gx, gy] =
            blanks ? std::tuple{256, 192, 0.05, 0.02} : std::tuple{512, 512, 0.08, -0.05};
        const std::vector<TrueStar> star = {{300.3, 200.6, 20.0 * kSaturation}};
        CKelImage image = Frame(width, height, Profile{false, 12.0}, blanks ? std::vector<TrueStar>() : star,
                                blanks ? 21u : 11u, gx, gy);
        for (int i = 0; blanks && i < width * height; i += 37) {
            *image.GetImageAdr(i % width, i / width, 0, 0, nullptr) = i % 2 ? NAN : (i % 3 ? INFINITY : -INFINITY);
        }
        SkyBackgroundParams params;
        params.saturation = blanks ? params.saturation : kSaturation;
        const CSkyBackground background(image, 0, params);
        ASSERT_TRUE(background.IsValid());
        double worst = 0.0;
        std::vector<float> level(width);
        for (int y = 0; y < height; ++y) {
            background.GetRow(y, 0, width, level.data(), nullptr);
            for (int x = 0; x < width; ++x) {
                if (blanks || std::hypot(x - 300.3, y - 200.6) >= 40.0) {
                    worst = std::max(worst, std::fabs(level[x] - (1000.0 + gx * x + gy * y)));
                }
            }
        }
        EXPECT_LT(worst, (blanks ? 0.3 : 0.2) * kNoise) << "worst sky error " << worst;
        EXPECT_NEAR(background.GetGlobalNoise(), kNoise, 0.05 * kNoise);
    }
}

// The luminance a colour frame is measured on: the image's own CalcBright
// per pixel, rounded to float, on every core and serially.
TEST(SkyBackground, ColourSignalIsTheLuminance)
{
    CKelImage img = MakeImage(37, 29, 3);
    std::mt19937 random(4);
    std::uniform_real_distribution<float> value(-100.0f, 70000.0f);
    orbimg::test::Fill(img, [&](int, int, int) { return value(random); });
    for (const int serial : {0, 1}) {
        CVmManager::SetCurrentSwapSize(serial);
        std::vector<float> store;
        const std::vector<const float*> rows = orbimg::detail::SignalRows(img, -1, store);
        ASSERT_EQ(rows.size(), 29u);
        for (int y = 0; y < 29; ++y) {
            for (int x = 0; x < 37; ++x) {
                const double want = img.CalcBright(orbimg::test::At(img, x, y, 0), orbimg::test::At(img, x, y, 1),
                                                   orbimg::test::At(img, x, y, 2));
                ASSERT_TRUE(orbimg::test::SameBits(rows[y][x], static_cast<float>(want))) << x << "," << y;
            }
        }
    }
    CVmManager::SetCurrentSwapSize(0);
}

// Parallel and serial give the same stars, bit for bit.
TEST(StarField, ParallelEqualsSerial)
{
    const Field field = MakeField(Profile{true, 4.0}, 600, 500, 5u);
    StarParams params;
    params.saturation = kSaturation;
    std::vector<double> stars[2];
    for (const int serial : {0, 1}) {
        CVmManager::SetCurrentSwapSize(serial);
        CStarField found(&field.image);
        found.Detect(params);
        for (const StarInfo& s : found.GetStars()) {
            stars[serial].insert(stars[serial].end(),
                                 {s.x, s.y, s.flux, s.hfr, s.fwhm, s.moffat.beta, s.snr, 1.0 * s.flags});
        }
    }
    CVmManager::SetCurrentSwapSize(0);
    EXPECT_GT(stars[0].size(), 50u * 8);
    EXPECT_TRUE(stars[0].size() == stars[1].size() &&
                std::memcmp(stars[0].data(), stars[1].data(), stars[0].size() * sizeof(double)) == 0);
}

}  // namespace
