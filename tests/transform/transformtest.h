// Helpers for the transform tests: random images, NaN-aware sample
// comparison and lock counts.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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
    const float kinds[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -0.0f,
                           0.0f};
    for (int p = 0; p < planes; ++p) {
        Fill(image, p, [&](int, int) {
            const float v = value(rng);
            const int k = specials ? pick(rng) : 4;
            return k < 4 ? kinds[k] : v;
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
        const std::vector<float> sa = Samples(a, p);
        const std::vector<float> sb = Samples(b, p);
        const auto [ia, ib] = std::mismatch(sa.begin(), sa.end(), sb.begin(), SameSample);
        if (ia != sa.end()) {
            const auto i = ia - sa.begin();
            return ::testing::AssertionFailure() << "(" << i % a.GetWidth() << ", " << i / a.GetWidth() << ", plane "
                                                 << p << "): " << *ia << " vs " << *ib;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace orbimg::test
