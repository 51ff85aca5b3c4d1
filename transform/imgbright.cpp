// Brightness and contrast on the display scale of plane 0.
#include "transform/imgbright.h"

#include <algorithm>
#include <cmath>

#include "transform/transformrows.h"

#ifndef ORBIMG_IMGBRIGHT_SHARED  // compiled once, before the kernels
#define ORBIMG_IMGBRIGHT_SHARED
namespace orbimg::detail {
namespace {

struct BrightConstants {
    float levelMin;
    float toDisplay;
    float toRaw;
    float pivot;
    float gain;
    float brightness;
};

}  // namespace
}  // namespace orbimg::detail
#endif

// The kernel, built for each instruction set (platform/simd.h).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transform/imgbright.cpp"
#include <hwy/foreach_target.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace orbimg::detail::HWY_NAMESPACE {
namespace {

// One row of changed samples, element by element (in and out may be the same
// row): t = (v - levelMin) x toDisplay, then
// (((t - pivot) x gain + brightness) + t) x toRaw + levelMin, in float.
void BrightRow(const float* in, float* out, int n, BrightConstants c)
{
    for (int x = 0; x < n; ++x) {
        const float t = (in[x] - c.levelMin) * c.toDisplay;
        out[x] = (((t - c.pivot) * c.gain + c.brightness) + t) * c.toRaw + c.levelMin;
    }
}

}  // namespace
}  // namespace orbimg::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace orbimg::detail {
HWY_EXPORT(BrightRow);
}  // namespace orbimg::detail

CImgBright::~CImgBright() = default;

void CImgBright::Do(double brightness, double contrast, double pivot, CKelImage* src, CRect* rect, int)
{
    const int width = GetWidth();
    const int height = GetHeight();
    int left = 0;
    int right = width;
    int top = 0;
    int bottom = height;
    if (rect) {
        left = std::min(std::max(rect->left, 0), width);
        right = std::min(std::max(rect->right, 0), width);
        top = std::min(std::max(rect->top, 0), height);
        bottom = std::min(std::max(rect->bottom, 0), height);
    }
    DoBright(static_cast<float>(brightness), static_cast<float>(contrast), static_cast<float>(pivot), src, left,
             right, top, bottom);
}

void CImgBright::DoBright(float brightness, float contrast, float pivot, CKelImage* src, int left, int right,
                          int top, int bottom)
{
    if (!src || !orbimg::detail::Covers(*src, *this)) {
        return;
    }
    left = std::clamp(left, 0, GetWidth());
    right = std::clamp(right, 0, GetWidth());
    top = std::clamp(top, 0, GetHeight());
    bottom = std::clamp(bottom, 0, GetHeight());

    const float m = static_cast<float>(GetLevelMin(0));
    const float r = static_cast<float>(GetLevelRange(0));
    const float k = static_cast<float>(255.0 / static_cast<double>(r));
    const float kinv = static_cast<float>(static_cast<double>(r) / 255.0);
    const float g = static_cast<float>(static_cast<double>(contrast) * 0.00390625);
    if (!std::isfinite(k) || !std::isfinite(kinv) || k == 0.0f || kinv == 0.0f) {
        return;
    }
    const int count = right - left;
    if (count <= 0) {
        return;
    }
    const orbimg::detail::BrightConstants constants{m, k, kinv, pivot, g, brightness};
    for (int p = 0; p < GetPlanes(); ++p) {
        for (int y = top; y < bottom; ++y) {
            float* to = GetImageAdr(left, y, p, 0, nullptr);
            const float* from = src->GetImageAdr(left, y, p, 1, nullptr);
            if (to && from) {
                HWY_DYNAMIC_DISPATCH(orbimg::detail::BrightRow)(from, to, count, constants);
            }
        }
    }
}
#endif  // HWY_ONCE
