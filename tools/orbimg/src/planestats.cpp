// Per-plane minimum, maximum, mean, standard deviation and median.
#include "planestats.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace orbimg::tool {

void ExtendFiniteExtremes(const float* row, int width, float& lo, float& hi)
{
    float l = lo;
    float h = hi;
    for (int x = 0; x < width; ++x) {
        const float v = row[x];
        // NaN fails both comparisons; infinities cannot pass them either.
        if (v < l && std::isfinite(v)) {
            l = v;
        }
        if (v > h && std::isfinite(v)) {
            h = v;
        }
    }
    lo = l;
    hi = h;
}

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
        ExtendFiniteExtremes(row, width, lo, hi);
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

namespace {

/// The float's bits as an unsigned key in the floats' order (negative values
/// below positive ones, -0 just below +0).
inline std::uint32_t OrderKey(float v)
{
    std::uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

inline float FromOrderKey(std::uint32_t key)
{
    const std::uint32_t u = (key & 0x80000000u) ? (key & 0x7FFFFFFFu) : ~key;
    float v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

/// The bucket of `histogram` (ascending) that holds rank k, and the count
/// below it.
std::pair<std::size_t, long long> BucketOfRank(const std::vector<long long>& histogram, long long k)
{
    long long below = 0;
    for (std::size_t b = 0; b < histogram.size(); ++b) {
        if (below + histogram[b] > k) {
            return {b, below};
        }
        below += histogram[b];
    }
    return {histogram.size() - 1, below};
}

}  // namespace

PlaneStats MeasurePlane(const CKelImage& image, int plane, bool withMedian)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    PlaneStats s;
    s.min = s.max = s.mean = s.stddev = s.median = kNaN;

    // The median is found without a copy of the plane: the histogram of the
    // upper 16 bits of the samples' order keys (first pass) gives the bucket
    // of the middle rank, the histogram of the lower 16 bits of that
    // bucket's samples (second pass) the sample itself.
    std::vector<long long> upper(withMedian ? 65536 : 0, 0);
    double sum = 0.0;
    float lo = std::numeric_limits<float>::infinity();
    float hi = -std::numeric_limits<float>::infinity();
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
                ++upper[OrderKey(v) >> 16];
            }
        }
    }
    if (s.finite == 0) {
        return s;
    }
    s.min = lo;
    s.max = hi;
    s.mean = sum / static_cast<double>(s.finite);

    const long long k = s.finite / 2;
    std::uint32_t bucket = 0;
    long long below = 0;
    if (withMedian) {
        const auto found = BucketOfRank(upper, k);
        bucket = static_cast<std::uint32_t>(found.first);
        below = found.second;
    }
    std::vector<long long> lower(withMedian ? 65536 : 0, 0);
    double sq = 0.0;
    for (int y = 0; y < height; ++y) {
        const float* row = image.GetImageAdr(0, y, plane, 1, nullptr);
        for (int x = 0; x < width; ++x) {
            if (std::isfinite(row[x])) {
                const double d = static_cast<double>(row[x]) - s.mean;
                sq += d * d;
                if (withMedian) {
                    const std::uint32_t key = OrderKey(row[x]);
                    if ((key >> 16) == bucket) {
                        ++lower[key & 0xFFFFu];
                    }
                }
            }
        }
    }
    s.stddev = std::sqrt(sq / static_cast<double>(s.finite));

    if (withMedian) {
        const std::size_t low = BucketOfRank(lower, k - below).first;
        s.median = FromOrderKey((bucket << 16) | static_cast<std::uint32_t>(low));
    }
    return s;
}

}  // namespace orbimg::tool
