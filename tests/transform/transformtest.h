// Helpers for the transform tests: random images, NaN-aware sample
// comparison, lock counts, and plain pixel-by-pixel resampling written
// straight from the rules (every sample fetched where it is used), against
// which the library's row kernels must agree bit for bit.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "support/testsupport.h"

namespace orbimg::test {

inline int Locks(const CImage& image) { return image.GetVmImage()->GetLockCount(); }

/// An operation object prepared as a copy of `src`, after run(op, source)
/// with a separate copy of `src` as the source; no row may stay locked.
template <class Op, class Run>
Op Applied(const CKelImage& src, const Run& run)
{
    Op op;
    op = src;
    CKelImage source = src;
    run(op, source);
    EXPECT_EQ(Locks(op), 0);
    EXPECT_EQ(Locks(source), 0);
    return op;
}

/// Random samples around 1000 in every plane; with `specials`, a few NaN,
/// infinite, zero and negative-zero samples as well.
inline CKelImage RandomImage(int width, int height, int planes, unsigned seed, bool specials = false)
{
    CKelImage image = MakeImage(width, height, planes);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(500.0f, 1500.0f);
    std::uniform_int_distribution<int> pick(0, 29);
    for (int p = 0; p < planes; ++p) {
        Fill(image, p, [&](int, int) {
            const float v = value(rng);
            if (!specials) {
                return v;
            }
            switch (pick(rng)) {
            case 0:
                return std::numeric_limits<float>::quiet_NaN();
            case 1:
                return std::numeric_limits<float>::infinity();
            case 2:
                return -0.0f;
            case 3:
                return 0.0f;
            default:
                return v;
            }
        });
    }
    return image;
}

/// Equal bits, or both NaN (a NaN's payload is not part of the result).
inline bool SameSample(float a, float b) { return (std::isnan(a) && std::isnan(b)) || SameBits(a, b); }

/// Every sample of every plane the same (SameSample); reports the first
/// difference.
inline ::testing::AssertionResult SameImage(const CKelImage& a, const CKelImage& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPlanes() != b.GetPlanes()) {
        return ::testing::AssertionFailure() << "geometry differs";
    }
    for (int p = 0; p < a.GetPlanes(); ++p) {
        for (int y = 0; y < a.GetHeight(); ++y) {
            for (int x = 0; x < a.GetWidth(); ++x) {
                if (!SameSample(At(a, x, y, p), At(b, x, y, p))) {
                    return ::testing::AssertionFailure() << "(" << x << ", " << y << ", plane " << p
                                                         << "): " << At(a, x, y, p) << " vs " << At(b, x, y, p);
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

/// The two source samples a bilinear read at s pairs along an axis of `size`
/// samples, and the weight of the second: past the last sample the last
/// pair, extrapolated.
struct BilinearTaps {
    int first;
    int second;
    float f;
};

inline BilinearTaps TapsAt(float s, int size)
{
    const int i = static_cast<int>(s);
    const float f = s - static_cast<float>(i);
    if (size == 1) {
        return {0, 0, f};
    }
    if (f != 0.0f && i >= size - 1) {
        return {i - 1, i, s - static_cast<float>(i - 1)};
    }
    return {i, i + 1, f};
}

/// Bilinear resampling of `src` to width x height, pixel by pixel; taps of
/// weight 0 are not read.
inline CKelImage ReferenceBilinear(const CKelImage& src, int width, int height)
{
    CKelImage out = MakeImage(width, height, src.GetPlanes());
    const float xScale = static_cast<float>(src.GetWidth()) / static_cast<float>(width);
    const float yScale = static_cast<float>(src.GetHeight()) / static_cast<float>(height);
    for (int p = 0; p < src.GetPlanes(); ++p) {
        for (int y = 0; y < height; ++y) {
            const BilinearTaps r = TapsAt(static_cast<float>(y) * yScale, src.GetHeight());
            for (int x = 0; x < width; ++x) {
                const BilinearTaps c = TapsAt(static_cast<float>(x) * xScale, src.GetWidth());
                float v = At(src, c.first, r.first, p);
                if (c.f != 0.0f || r.f != 0.0f) {
                    const float w11 = c.f * r.f;
                    const float w01 = r.f - w11;
                    const float w10 = c.f - w11;
                    v *= (1.0f - c.f) * (1.0f - r.f);
                    if (w01 != 0.0f) {
                        v += w01 * At(src, c.first, r.second, p);
                    }
                    if (w10 != 0.0f) {
                        v += w10 * At(src, c.second, r.first, p);
                    }
                    if (w11 != 0.0f) {
                        v += w11 * At(src, c.second, r.second, p);
                    }
                }
                *out.GetImageAdr(x, y, p, 0, nullptr) = v;
            }
        }
    }
    return out;
}

inline double CubicKernel(double t)
{
    const double t2 = t * t;
    if (t < 1.0) {
        return (1.0 - t2 * 2.9) + (t2 * 1.9) * t;
    }
    return ((0.4 - t * 0.8) + t2 * 0.5) - (t2 * 0.1) * t;
}

inline int MirrorIndex(int j, int size)
{
    if (j < 0) {
        j = -j;
    } else if (j > size - 1) {
        j = 2 * (size - 1) - j;
    }
    return j < 0 ? 0 : (j > size - 1 ? size - 1 : j);
}

/// Bicubic resampling of `src` to width x height, pixel by pixel: taps of
/// weight 0 left out, mirrored at the edges.
inline CKelImage ReferenceBicubic(const CKelImage& src, int width, int height)
{
    CKelImage out = MakeImage(width, height, src.GetPlanes());
    const int W = src.GetWidth();
    const int H = src.GetHeight();
    const double xScale = static_cast<double>(W) / static_cast<double>(width);
    const double yScale = static_cast<double>(H) / static_cast<double>(height);
    for (int p = 0; p < src.GetPlanes(); ++p) {
        for (int y = 0; y < height; ++y) {
            const double sy = y * yScale;
            for (int x = 0; x < width; ++x) {
                const double sx = x * xScale;
                double acc = 0.0;
                double sum = 0.0;
                for (int j = static_cast<int>(sy) - 1; j <= static_cast<int>(sy) + 2; ++j) {
                    for (int i = static_cast<int>(sx) - 1; i <= static_cast<int>(sx) + 2; ++i) {
                        const double dy = std::fabs(j - sy);
                        const double dx = std::fabs(i - sx);
                        if (dy >= 2.0 || dx >= 2.0 || CubicKernel(dy) == 0.0 || CubicKernel(dx) == 0.0) {
                            continue;
                        }
                        const double w = CubicKernel(dx) * CubicKernel(dy);
                        sum += w;
                        acc += At(src, MirrorIndex(i, W), MirrorIndex(j, H), p) * w;
                    }
                }
                *out.GetImageAdr(x, y, p, 0, nullptr) = static_cast<float>(acc) / static_cast<float>(sum);
            }
        }
    }
    return out;
}

}  // namespace orbimg::test
