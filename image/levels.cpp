// Display levels, plane averages, rectangle clipping and the brightest sample
// of a window.
#include <algorithm>
#include <cmath>

#include "image/kelimage.h"

void CKelImage::SetLevel(int plane, double min, double max)
{
    if (!IsColor()) {
        CImage::SetLevel(plane == -1 ? 0 : plane, min, max);
        return;
    }
    if (plane != -1) {
        CImage::SetLevel(plane, min, max);
        return;
    }
    // Linked: planes 1 and 2 move by the fraction of their own range by which
    // plane 0's ends move. Read all three windows before changing any.
    double lo[3];
    double hi[3];
    double range[3];
    for (int p = 0; p < 3; ++p) {
        lo[p] = GetLevelMin(p);
        hi[p] = GetLevelMax(p);
        range[p] = GetLevelRange(p);
    }
    const double fMin = (min - lo[0]) / range[0];
    const double fMax = (max - hi[0]) / range[0];
    CImage::SetLevel(0, min, max);
    if (!std::isfinite(fMin) || !std::isfinite(fMax)) {
        // Plane 0's window is flat (or broken): there is no fraction to carry
        // over, so every plane takes the new window as given.
        CImage::SetLevel(1, min, max);
        CImage::SetLevel(2, min, max);
        return;
    }
    CImage::SetLevel(1, lo[1] + range[1] * fMin, hi[1] + range[1] * fMax);
    CImage::SetLevel(2, lo[2] + range[2] * fMin, hi[2] + range[2] * fMax);
}

float CKelImage::GetAvrGrayRaw(int plane)
{
    const int width = GetWidth();
    const int height = GetHeight();
    if (width < 1 || height < 1) {
        return 0.0f;
    }
    double sum = 0.0;
    for (int y = 0; y < height; ++y) {
        const float* row = GetImageAdr(0, y, plane, 1, nullptr);
        if (!row) {
            return 0.0f;
        }
        for (int x = 0; x < width; ++x) {
            sum += static_cast<double>(row[x]);
        }
    }
    return static_cast<float>(sum / width / height);
}

float CKelImage::GetAvrGray(int plane) { return GetAvrGrayRaw(plane) - static_cast<float>(GetLevelMin(plane)); }

float CKelImage::GetAvrGray256f(int plane) { return To256(GetAvrGrayRaw(plane), plane); }

void CKelImage::NormalizeRect(CRect* rect, int& left, int& top, int& right, int& bottom)
{
    const int width = GetWidth();
    const int height = GetHeight();
    if (!rect) {
        left = 0;
        top = 0;
        right = width;
        bottom = height;
        return;
    }
    left = std::min(std::max(rect->left, 0), width);
    top = std::min(std::max(rect->top, 0), height);
    right = std::min(std::max(rect->right, 0), width);
    bottom = std::min(std::max(rect->bottom, 0), height);
}

float CKelImage::GetMaxPixel(int plane, CRect* rect, int& x, int& y)
{
    int left;
    int top;
    int right;
    int bottom;
    NormalizeRect(rect, left, top, right, bottom);
    x = -1;
    y = -1;
    const float* first = GetImageAdr(left, top, plane, 1, nullptr);
    if (!first) {
        return 0.0f;
    }
    float max = *first;
    bool haveMax = !std::isnan(max);
    for (int row = top; row < bottom; ++row) {
        const float* s = GetImageAdr(left, row, plane, 1, nullptr);
        for (int col = left; col < right; ++col, ++s) {
            const float v = *s;
            if (haveMax ? (v > max) : !std::isnan(v)) {
                max = v;
                x = col;
                y = row;
                haveMax = true;
            }
        }
    }
    return max;
}
