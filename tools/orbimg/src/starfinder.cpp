// Isolated local maxima, brightest first.
#include "starfinder.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace orbimg::tool {
namespace {

/// Every local maximum above the threshold (plus the background at its
/// pixel when there is one), in row order.
std::vector<StarCandidate> LocalMaxima(const std::vector<float>& s, int width, int height, double threshold,
                                       const std::vector<float>* background)
{
    std::vector<StarCandidate> maxima;
    for (int y = 0; y < height; ++y) {
        const float* row = s.data() + static_cast<std::size_t>(y) * width;
        const float* up = y > 0 ? row - width : nullptr;
        const float* down = y + 1 < height ? row + width : nullptr;
        const float* sky = background ? background->data() + static_cast<std::size_t>(y) * width : nullptr;
        for (int x = 0; x < width; ++x) {
            const float v = row[x];
            const double base = sky ? static_cast<double>(sky[x]) : 0.0;
            if (!(v > threshold + base)) {
                continue;
            }
            const bool left = x > 0;
            const bool right = x + 1 < width;
            // Before in row order: strictly lower (NaN fails). After: not higher.
            bool peak = !(left && !(v > row[x - 1]));
            if (up) {
                peak = peak && !(left && !(v > up[x - 1])) && v > up[x] && !(right && !(v > up[x + 1]));
            }
            peak = peak && !(right && row[x + 1] > v);
            if (down) {
                peak = peak && !(left && down[x - 1] > v) && !(down[x] > v) && !(right && down[x + 1] > v);
            }
            if (peak) {
                maxima.push_back(StarCandidate{x, y, static_cast<float>(v - base)});
            }
        }
    }
    return maxima;
}

bool BoxIsClean(const std::vector<float>& s, int width, int height, int cx, int cy, int r)
{
    if (cx - r < 0 || cy - r < 0 || cx + r >= width || cy + r >= height) {
        return false;
    }
    for (int y = cy - r; y <= cy + r; ++y) {
        const float* row = s.data() + static_cast<std::size_t>(y) * width;
        for (int x = cx - r; x <= cx + r; ++x) {
            if (std::isnan(row[x])) {
                return false;
            }
        }
    }
    return true;
}

bool Saturated(const CKelImage& image, int x, int y, double saturation)
{
    for (int p = 0; p < image.GetPlanes(); ++p) {
        if (*image.GetImageAdr(x, y, p, 1, nullptr) >= saturation) {
            return true;
        }
    }
    return false;
}

/// The luminance of one row; `out` may be `r` (each sample is read before it is written).
void LuminanceRow(const float* r, const float* g, const float* b, float* out, int width)
{
    for (int x = 0; x < width; ++x) {
        out[x] =
            static_cast<float>(CKelImage::kBrightG * g[x] + CKelImage::kBrightR * r[x] + CKelImage::kBrightB * b[x]);
    }
}

}  // namespace

std::vector<float> StarSignal(const CKelImage& image, int plane)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    std::vector<float> s(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const bool luminance = plane < 0 && image.GetPlanes() >= 3;
    const int single = plane < 0 ? 0 : plane;
    for (int y = 0; y < height; ++y) {
        float* out = s.data() + static_cast<std::size_t>(y) * width;
        if (!luminance) {
            const float* in = image.GetImageAdr(0, y, single, 1, nullptr);
            std::copy(in, in + width, out);
            continue;
        }
        LuminanceRow(image.GetImageAdr(0, y, 0, 1, nullptr), image.GetImageAdr(0, y, 1, 1, nullptr),
                     image.GetImageAdr(0, y, 2, 1, nullptr), out, width);
    }
    return s;
}

void LuminanceIntoPlane0(CKelImage& image)
{
    if (image.GetPlanes() < 3) {
        return;
    }
    const int width = image.GetWidth();
    Concurrency::parallel_for(0, image.GetHeight(), [&](int y) {
        float* r = image.GetImageAdr(0, y, 0, 0, nullptr);
        LuminanceRow(r, image.GetImageAdr(0, y, 1, 1, nullptr), image.GetImageAdr(0, y, 2, 1, nullptr), r, width);
    });
}

std::vector<StarCandidate> FindStarCandidates(const CKelImage& image, const StarSearch& search)
{
    if (image.GetWidth() < 1 || image.GetHeight() < 1 || search.count < 1 || search.plane >= image.GetPlanes()) {
        return {};
    }
    return FindStarCandidates(image, StarSignal(image, search.plane), search);
}

std::vector<StarCandidate> FindStarCandidates(const CKelImage& image, const std::vector<float>& s,
                                              const StarSearch& search)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (width < 1 || height < 1 || search.count < 1 || search.plane >= image.GetPlanes() || s.size() != pixels ||
        (search.background && search.background->size() != pixels)) {
        return {};
    }
    const std::vector<StarCandidate> maxima = LocalMaxima(s, width, height, search.threshold, search.background);
    const int r = std::max(search.isolation, 0);

    // Maxima by cell of side r + 1: any neighbour within r lies in the 3 x 3 cells around.
    const int cell = r + 1;
    const auto key = [&](int cx, int cy) { return static_cast<long long>(cy) * ((width + cell - 1) / cell + 2) + cx; };
    std::unordered_map<long long, std::vector<int>> cells;
    for (int i = 0; i < static_cast<int>(maxima.size()); ++i) {
        cells[key(maxima[i].x / cell, maxima[i].y / cell)].push_back(i);
    }
    std::vector<StarCandidate> kept;
    for (int i = 0; i < static_cast<int>(maxima.size()); ++i) {
        const StarCandidate& m = maxima[i];
        bool alone = true;
        for (int dy = -1; dy <= 1 && alone; ++dy) {
            for (int dx = -1; dx <= 1 && alone; ++dx) {
                const auto it = cells.find(key(m.x / cell + dx, m.y / cell + dy));
                if (it == cells.end()) {
                    continue;
                }
                for (const int j : it->second) {
                    if (j != i && std::abs(maxima[j].x - m.x) <= r && std::abs(maxima[j].y - m.y) <= r) {
                        alone = false;
                        break;
                    }
                }
            }
        }
        if (alone && BoxIsClean(s, width, height, m.x, m.y, r) && !Saturated(image, m.x, m.y, search.saturation)) {
            kept.push_back(m);
        }
    }
    // Brightest first; equal values keep the scan order they were found in
    // (rows from the top, columns from the left).
    std::sort(kept.begin(), kept.end(), [](const StarCandidate& a, const StarCandidate& b) {
        if (a.value > b.value || b.value > a.value) {
            return a.value > b.value;
        }
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    if (static_cast<int>(kept.size()) > search.count) {
        kept.resize(static_cast<std::size_t>(search.count));
    }
    return kept;
}

}  // namespace orbimg::tool
