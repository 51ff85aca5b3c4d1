// Brightness and contrast on the display scale of plane 0.
#include "transform/imgbright.h"

#include <algorithm>
#include <cmath>

#include "platform/rowbands.h"
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
    const bool fresh = TakeSourceSize(src);
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
    Bright(static_cast<float>(brightness), static_cast<float>(contrast), static_cast<float>(pivot), src, left, right,
           top, bottom, fresh);
}

void CImgBright::DoBright(float brightness, float contrast, float pivot, CKelImage* src, int left, int right, int top,
                          int bottom)
{
    const bool fresh = TakeSourceSize(src);
    Bright(brightness, contrast, pivot, src, left, right, top, bottom, fresh);
}

bool CImgBright::TakeSourceSize(CKelImage* src)
{
    return src && orbimg::detail::TakesSourceSize(*src, *this) && TakeRecord(*src, src->GetWidth(), src->GetHeight());
}

void CImgBright::Bright(float brightness, float contrast, float pivot, CKelImage* src, int left, int right, int top,
                        int bottom, bool fresh)
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
    const bool usable = std::isfinite(k) && std::isfinite(kinv) && k != 0.0f && kinv != 0.0f;
    const int count = right - left;
    if (!fresh && (!usable || count <= 0)) {
        return;
    }
    // A fresh object (it took the source's size) has no samples of its own
    // yet: it gets the source's outside the window, as a copy would.
    const int first = fresh ? 0 : top;
    const int last = fresh ? GetHeight() : bottom;
    const bool change = usable && count > 0;
    const int width = GetWidth();
    const int planes = GetPlanes();
    const orbimg::detail::BrightConstants constants{m, k, kinv, pivot, g, brightness};
    orbimg::platform::ForRowBands(first, last, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            const bool inside = change && y >= top && y < bottom;
            for (int p = 0; p < planes; ++p) {
                float* to = GetImageAdr(0, y, p, 0, nullptr);
                const float* from = src->GetImageAdr(0, y, p, 1, nullptr);
                if (fresh) {
                    std::copy(from, from + (inside ? left : width), to);
                    if (inside) {
                        std::copy(from + right, from + width, to + right);
                    }
                }
                if (inside) {
                    HWY_DYNAMIC_DISPATCH(orbimg::detail::BrightRow)(from + left, to + left, count, constants);
                }
            }
        }
    });
}
#endif  // HWY_ONCE
