// Star peaks, centroids and PSF measurement.
#include "starmeasure.h"

#include <algorithm>
#include <cmath>

#include "planestats.h"
#include "starfinder.h"

namespace orbimg::tool {
namespace {

constexpr int kCentroidHalfWidth = 3;
constexpr int kIsolation = 10;
constexpr double kSigmas = 5.0;

}  // namespace

double SaturationLevel(const CKelImage& image, std::optional<double> saturate)
{
    if (saturate && std::isfinite(*saturate)) {
        return *saturate;
    }
    double level = std::numeric_limits<double>::infinity();
    for (int p = 0; p < std::min(image.GetPlanes(), 3); ++p) {
        const auto extremes = FiniteExtremes(image, p);
        if (!extremes) {
            continue;
        }
        long long reached = 0;
        for (int y = 0; y < image.GetHeight() && reached < 2; ++y) {
            const float* row = image.GetImageAdr(0, y, p, 1, nullptr);
            for (int x = 0; x < image.GetWidth(); ++x) {
                reached += row[x] == extremes->second ? 1 : 0;
            }
        }
        if (reached >= 2) {
            level = std::min(level, static_cast<double>(extremes->second));
        }
    }
    return level;
}

StarMeasurer::StarMeasurer(CKelImage& image, double saturation)
    : m_image(image),
      m_saturation(saturation),
      m_signal(StarSignal(image, -1)),
      m_mesh(SkyMesh::Measure(m_signal, image.GetWidth(), image.GetHeight())),
      m_sky(m_mesh.Map(0))
{
}

std::vector<CPoint> StarMeasurer::PeaksNear(const std::vector<CPoint>& points) const
{
    const int width = m_image.GetWidth();
    const int height = m_image.GetHeight();
    std::vector<CPoint> peaks;
    for (CPoint p : points) {
        // Steepest ascent over the 3 x 3 neighbourhood; the value rises at
        // every step, so the climb ends. NaN neighbours never win.
        for (;;) {
            const float here = m_signal[static_cast<std::size_t>(p.y) * width + p.x];
            CPoint best = p;
            float bestValue = here;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = p.x + dx;
                    const int y = p.y + dy;
                    if (x < 0 || y < 0 || x >= width || y >= height) {
                        continue;
                    }
                    const float v = m_signal[static_cast<std::size_t>(y) * width + x];
                    if (v > bestValue) {
                        best = CPoint(x, y);
                        bestValue = v;
                    }
                }
            }
            if (best.x == p.x && best.y == p.y) {
                break;
            }
            p = best;
        }
        peaks.push_back(p);
    }
    return peaks;
}

std::vector<CPoint> StarMeasurer::FindStars(int count, double& threshold) const
{
    threshold = kSigmas * SkyNoise();
    if (!std::isfinite(threshold)) {
        return {};
    }
    StarSearch search;
    search.threshold = threshold;
    search.background = &m_sky;
    search.count = count;
    search.isolation = kIsolation;
    search.saturation = m_saturation;
    search.plane = -1;
    std::vector<CPoint> peaks;
    for (const auto& c : FindStarCandidates(m_image, m_signal, search)) {
        peaks.emplace_back(c.x, c.y);
    }
    return peaks;
}

FitsPoint StarMeasurer::Centroid(CPoint peak) const
{
    const int width = m_image.GetWidth();
    const int height = m_image.GetHeight();
    double sum = 0.0;
    double sx = 0.0;
    double sy = 0.0;
    for (int y = std::max(0, peak.y - kCentroidHalfWidth); y <= std::min(height - 1, peak.y + kCentroidHalfWidth);
         ++y) {
        for (int x = std::max(0, peak.x - kCentroidHalfWidth); x <= std::min(width - 1, peak.x + kCentroidHalfWidth);
             ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * width + x;
            const double w = static_cast<double>(m_signal[at]) - static_cast<double>(m_sky[at]);
            if (w > 0.0) {  // NaN fails
                sum += w;
                sx += w * x;
                sy += w * y;
            }
        }
    }
    if (!(sum > 0.0)) {
        return LibraryToFits(peak.x, peak.y, height);
    }
    return LibraryToFits(sx / sum, sy / sum, height);
}

StarReport StarMeasurer::Measure(const std::vector<CPoint>& peaks) const
{
    StarReport report;
    report.skyLevel = SkyLevel();
    report.skyNoise = SkyNoise();
    PSF all(&m_image);
    for (CPoint peak : peaks) {
        MeasuredStar star;
        star.peak = peak;
        star.position = Centroid(peak);
        const std::size_t at = static_cast<std::size_t>(peak.y) * m_image.GetWidth() + peak.x;
        star.height = static_cast<double>(m_signal[at]) - static_cast<double>(m_sky[at]);
        PSF one(&m_image);
        double fwhm = 0.0;
        if (one.Add(peak) && one.GetMeanFWHM(&fwhm)) {
            star.fwhm = fwhm;
            all.Add(peak);
            ++report.measured;
        }
        report.stars.push_back(star);
    }
    // The means first: the medians sort the kept values in place.
    double v = 0.0;
    if (all.GetMeanFWHM(&v)) {
        report.meanFwhm = v;
    }
    if (all.GetMeanPSF(&v)) {
        report.meanPsf = v;
    }
    if (all.GetMedianFWHM(&v)) {
        report.medianFwhm = v;
    }
    if (all.GetMedianPSF(&v)) {
        report.medianPsf = v;
    }
    return report;
}

}  // namespace orbimg::tool
