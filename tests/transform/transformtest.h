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

/// Bilinear resampling of `src` to width x height, pixel by pixel.
inline CKelImage ReferenceBilinear(const CKelImage& src, int width, int height)
{
    CKelImage out = MakeImage(width, height, src.GetPlanes());
    const int W = src.GetWidth();
    const int H = src.GetHeight();
    const float xScale = static_cast<float>(W) / static_cast<float>(width);
    const float yScale = static_cast<float>(H) / static_cast<float>(height);
    for (int p = 0; p < src.GetPlanes(); ++p) {
        for (int y = 0; y < height; ++y) {
            const float sy = static_cast<float>(y) * yScale;
            const int iy = static_cast<int>(sy);
            float fy = sy - static_cast<float>(iy);
            int r0 = iy;
            int r1 = iy;
            if (fy == 0.0f || H == 1) {
            } else if (iy >= H - 1) {
                r0 = iy - 1;
                fy = sy - static_cast<float>(iy - 1);
            } else {
                r1 = iy + 1;
            }
            for (int x = 0; x < width; ++x) {
                const float sx = static_cast<float>(x) * xScale;
                const int ix = static_cast<int>(sx);
                float fx = sx - static_cast<float>(ix);
                int c0 = ix;
                int c1 = ix + 1;
                if (W == 1) {
                    c0 = c1 = 0;
                } else if (fx != 0.0f && ix >= W - 1) {
                    c0 = ix - 1;
                    c1 = ix;
                    fx = sx - static_cast<float>(ix - 1);
                }
                float v;
                if (fx == 0.0f && fy == 0.0f) {
                    v = At(src, c0, r0, p);
                } else {
                    const float w11 = fx * fy;
                    const float w01 = fy - w11;
                    const float w10 = fx - w11;
                    const float w00 = (1.0f - fx) * (1.0f - fy);
                    v = w00 * At(src, c0, r0, p);
                    if (w01 != 0.0f) {
                        v += w01 * At(src, c0, r1, p);
                    }
                    if (w10 != 0.0f) {
                        v += w10 * At(src, c1, r0, p);
                    }
                    if (w11 != 0.0f) {
                        v += w11 * At(src, c1, r1, p);
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

/// Bicubic resampling of `src` to width x height, pixel by pixel: the four
/// source rows fetched for every destination pixel, left-out taps skipped.
inline CKelImage ReferenceBicubic(const CKelImage& src, int width, int height)
{
    const int planes = src.GetPlanes();
    CKelImage out = MakeImage(width, height, planes);
    const int W = src.GetWidth();
    const int H = src.GetHeight();
    const double xScale = static_cast<double>(W) / static_cast<double>(width);
    const double yScale = static_cast<double>(H) / static_cast<double>(height);
    for (int y = 0; y < height; ++y) {
        const double sy = y * yScale;
        const int iy = static_cast<int>(sy);
        for (int x = 0; x < width; ++x) {
            const double sx = x * xScale;
            const int ix = static_cast<int>(sx);
            std::vector<double> acc(planes, 0.0);
            double sum = 0.0;
            for (int j = iy - 1; j <= iy + 2; ++j) {
                std::vector<const float*> rows;
                for (int p = 0; p < planes; ++p) {
                    rows.push_back(src.GetImageAdr(0, MirrorIndex(j, H), p, 1, nullptr));
                }
                const double dy = std::fabs(j - sy);
                if (dy >= 2.0) {
                    continue;
                }
                const double wy = CubicKernel(dy);
                if (wy == 0.0) {
                    continue;
                }
                for (int i = ix - 1; i <= ix + 2; ++i) {
                    const double dx = std::fabs(i - sx);
                    if (dx >= 2.0) {
                        continue;
                    }
                    const double wx = CubicKernel(dx);
                    if (wx == 0.0) {
                        continue;
                    }
                    const double w = wx * wy;
                    sum += w;
                    for (int p = 0; p < planes; ++p) {
                        acc[p] += rows[p][MirrorIndex(i, W)] * w;
                    }
                }
            }
            for (int p = 0; p < planes; ++p) {
                *out.GetImageAdr(x, y, p, 0, nullptr) = static_cast<float>(acc[p]) / static_cast<float>(sum);
            }
        }
    }
    return out;
}

}  // namespace orbimg::test
