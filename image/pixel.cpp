// Pixel values on the raw, 256 and byte scales, bilinear reads and colour
// brightness.
#include <algorithm>
#include <cmath>

#include "image/kelimage.h"

namespace {

// Byte of a display value already known to lie inside the window, or of a
// value that may not (saturating): NaN and values below 0 give 0, values
// above 255 give 255, others are truncated toward zero.
template <typename T>
unsigned char SaturatedByte(T v)
{
    if (!(v > T(0))) {
        return 0;
    }
    if (v >= T(255)) {
        return 255;
    }
    return static_cast<unsigned char>(v);
}

// Integer part and position of a bilinear coordinate on an axis of `size`
// samples: at or past the last sample, the last pair with the position on the
// last sample; negative or NaN positions clamp to 0; a one-sample axis has no
// neighbour (neighbour index = index).
struct Axis {
    int index;
    int next;
    double pos;
};

Axis BilinearAxis(double v, int size)
{
    if (!(v > 0.0)) {
        v = 0.0;
    }
    if (size < 2) {
        return {0, 0, 0.0};
    }
    if (static_cast<double>(size - 1) > v) {
        const int i = static_cast<int>(v);
        return {i, i + 1, v};
    }
    return {size - 2, size - 1, static_cast<double>(size - 1)};
}

}  // namespace

float CKelImage::GetPixelGrayRaw(int x, int y, int plane)
{
    const float* p = GetImageAdr(x, y, plane, 1, nullptr);
    return p ? *p : 0.0f;
}

float CKelImage::GetPixelGrayRaw(double x, double y, int plane)
{
    const int width = GetWidth();
    const int height = GetHeight();
    if (width < 1 || height < 1) {
        return 0.0f;
    }
    const Axis ax = BilinearAxis(x, width);
    const Axis ay = BilinearAxis(y, height);
    const float* row0 = GetImageAdr(ax.index, ay.index, plane, 1, nullptr);
    if (!row0) {
        return 0.0f;
    }
    if (static_cast<double>(ax.index) == ax.pos && static_cast<double>(ay.index) == ay.pos) {
        return row0[0];
    }
    const float* row1 = GetImageAdr(ax.index, ay.next, plane, 1, nullptr);
    const int dxNext = ax.next - ax.index;  // 0 on a one-column image
    const double dx = ax.pos - ax.index;
    const double dy = ay.pos - ay.index;
    const double s00 = row0[0];
    const double s01 = row1[0];
    const double s10 = row0[dxNext];
    const double s11 = row1[dxNext];
    return static_cast<float>((1.0 - dx) * (1.0 - dy) * s00 + (1.0 - dx) * dy * s01 + (1.0 - dy) * dx * s10 +
                              dx * dy * s11);
}

float CKelImage::To256(float v, int plane) const
{
    return static_cast<float>((static_cast<double>(v) - GetLevelMin(plane)) / GetLevelRange(plane) * 255.0);
}

float CKelImage::GetPixelGray256f(int x, int y, int plane)
{
    float* p = GetImageAdr(x, y, plane, 1, nullptr);
    return p ? To256(*p, plane) : 0.0f;
}

float CKelImage::GetPixelGray256f(float* p, float lo, float factor) const { return (*p - lo) * factor; }

float CKelImage::ToRaw(float v, int plane) const { return static_cast<float>(ToRaw(static_cast<double>(v), plane)); }

double CKelImage::ToRaw(double v, int plane) const { return v / 255.0 * GetLevelRange(plane) + GetLevelMin(plane); }

unsigned char CKelImage::GetPixelGray256(float* p, int plane) const
{
    const double v = *p;
    const double lo = GetLevelMin(plane);
    if (lo >= v) {
        return 0;
    }
    if (v >= GetLevelMax(plane)) {
        return 255;
    }
    return SaturatedByte((v - lo) / GetLevelRange(plane) * 255.0);
}

unsigned char CKelImage::GetPixelGray256(int x, int y, int plane)
{
    float* p = GetImageAdr(x, y, plane, 1, nullptr);
    return p ? GetPixelGray256(p, plane) : 0;
}

unsigned char CKelImage::GetPixelGray256(float* p, float lo, float hi, float factor) const
{
    const float v = *p;
    if (lo >= v) {
        return 0;
    }
    if (v >= hi) {
        return 255;
    }
    return SaturatedByte((v - lo) * factor);
}

unsigned char CKelImage::GetPixelGray256(double x, double y, int plane)
{
    float v = GetPixelGrayRaw(x, y, plane);
    return GetPixelGray256(&v, plane);
}

double CKelImage::CalcBright(double r, double g, double b) const { return kBrightG * g + kBrightR * r + kBrightB * b; }

float CKelImage::GetPixelBright256f(float* r, float* g, float* b)
{
    if (GetDimension() <= 2) {
        return To256(*r, 0);
    }
    const float rr = To256(*r, 0);
    const float gg = To256(*g, 1);
    const float bb = To256(*b, 2);
    return static_cast<float>(CalcBright(rr, gg, bb));
}

float CKelImage::GetPixelBright256f(int x, int y)
{
    float* r = GetImageAdr(x, y, 0, 1, nullptr);
    if (!r) {
        return 0.0f;
    }
    if (GetDimension() <= 2) {
        return To256(*r, 0);
    }
    float* g = GetImageAdr(x, y, 1, 1, nullptr);
    float* b = GetImageAdr(x, y, 2, 1, nullptr);
    if (!g || !b) {
        return 0.0f;
    }
    return GetPixelBright256f(r, g, b);
}

float CKelImage::GetPixelBrightRaw(float* r, float* g, float* b)
{
    const double bright = GetPixelBright256f(r, g, b);
    return static_cast<float>(bright / 255.0 * GetLevelRange(0) + GetLevelMin(0));
}
