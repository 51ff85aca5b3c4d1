// Per-plane minimum, maximum, mean, standard deviation and median.
#include "planestats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace orbimg::tool {

std::optional<std::pair<float, float>> FiniteExtremes(const CKelImage& image, int plane)
{
    const int width = image.GetWidth();
    float lo = std::numeric_limits<float>::infinity();
    float hi = -std::numeric_limits<float>::infinity();
    for (int y = 0; y < image.GetHeight(); ++y) {
        const float* row = image.GetImageAdr(0, y, plane, 1, nullptr);
        if (!row) {
            return std::nullopt;
        }
        for (int x = 0; x < width; ++x) {
            const float v = row[x];
            // NaN fails both comparisons; infinities cannot pass them either.
            if (v < lo && std::isfinite(v)) {
                lo = v;
            }
            if (v > hi && std::isfinite(v)) {
                hi = v;
            }
        }
    }
    if (!(lo <= hi)) {
        return std::nullopt;
    }
    return std::make_pair(lo, hi);
}

long long FillBlanks(CKelImage& image, int plane, float value)
{
    long long filled = 0;
    for (int y = 0; y < image.GetHeight(); ++y) {
        float* row = image.GetImageAdr(0, y, plane, 0, nullptr);
        if (!row) {
            break;
        }
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (!std::isfinite(row[x])) {
                row[x] = value;
                ++filled;
            }
        }
    }
    return filled;
}

PlaneStats MeasurePlane(const CKelImage& image, int plane, bool withMedian)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    PlaneStats s;
    s.min = s.max = s.mean = s.stddev = s.median = kNaN;

    double sum = 0.0;
    float lo = std::numeric_limits<float>::infinity();
    float hi = -std::numeric_limits<float>::infinity();
    std::vector<float> values;
    if (withMedian) {
        values.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    }
    for (int y = 0; y < height; ++y) {
        const float* row = image.GetImageAdr(0, y, plane, 1, nullptr);
        if (!row) {
            return s;
        }
        for (int x = 0; x < width; ++x) {
            const float v = row[x];
            if (!std::isfinite(v)) {
                ++s.blank;
                continue;
            }
            ++s.finite;
            sum += static_cast<double>(v);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            if (withMedian) {
                values.push_back(v);
            }
        }
    }
    if (s.finite == 0) {
        return s;
    }
    s.min = lo;
    s.max = hi;
    s.mean = sum / static_cast<double>(s.finite);

    double sq = 0.0;
    for (int y = 0; y < height; ++y) {
        const float* row = image.GetImageAdr(0, y, plane, 1, nullptr);
        for (int x = 0; x < width; ++x) {
            if (std::isfinite(row[x])) {
                const double d = static_cast<double>(row[x]) - s.mean;
                sq += d * d;
            }
        }
    }
    s.stddev = std::sqrt(sq / static_cast<double>(s.finite));

    if (withMedian) {
        const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        s.median = *middle;
    }
    return s;
}

}  // namespace orbimg::tool
