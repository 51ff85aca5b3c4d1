// Histograms of display values: a plane (or the display luminance) after the
// levels and the display stretch, as ToDIB shows it.
#include <algorithm>
#include <vector>

#include "display/rowmap.h"
#include "display/stretchrows.h"
#include "image/kelimage.h"

int CKelImage::GetHistogramDisplay(int* hist, int bins, int plane, CRect* rect)
{
    const bool colour = IsColor() && GetPlanes() >= 3;
    if (bins < 1 || !hist || plane < -1 || plane >= GetPlanes() || (plane > 2)) {
        return 0;
    }
    std::fill(hist, hist + bins, 0);
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    NormalizeRect(rect, left, top, right, bottom);
    const bool luminance = plane < 0 && colour;
    const int planes = colour ? 3 : 1;
    orbimg::detail::StretchSet stretch;
    orbimg::detail::PrepareStretch(*this, planes, stretch);
    if (!colour && plane < 0) {
        plane = 0;
    }
    const int n = right - left;
    if (n <= 0 || bottom <= top) {
        return 0;
    }
    std::vector<float> values(static_cast<std::size_t>(n) * (luminance ? 3 : 1));
    // Display values come on the 0..255 scale.
    const float scale = static_cast<float>(bins) / 255.0f;
    auto count = [&](float y) {
        if (y != y) {
            return;
        }
        int b = static_cast<int>(y * scale);
        b = std::clamp(b, 0, bins - 1);
        ++hist[b];
    };
    for (int y = top; y < bottom; ++y) {
        if (luminance) {
            for (int p = 0; p < 3; ++p) {
                const float* src = GetImageAdr(left, y, p, 1, nullptr);
                orbimg::detail::DisplayRow(src, n, stretch.lv[p], values.data() + static_cast<std::size_t>(p) * n);
            }
            for (int i = 0; i < n; ++i) {
                const double l = CKelImage::kBrightG * values[static_cast<std::size_t>(n + i)] +
                                 CKelImage::kBrightR * values[static_cast<std::size_t>(i)] +
                                 CKelImage::kBrightB * values[static_cast<std::size_t>(2 * n + i)];
                count(static_cast<float>(l));
            }
        } else {
            const float* src = GetImageAdr(left, y, plane, 1, nullptr);
            orbimg::detail::DisplayRow(src, n, stretch.lv[colour ? plane : 0], values.data());
            for (int i = 0; i < n; ++i) {
                count(values[static_cast<std::size_t>(i)]);
            }
        }
    }
    return GetHeightOfHistogram(hist, bins);
}
