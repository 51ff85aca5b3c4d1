// Helpers for the transform tests: random images and lock counts.
#pragma once

#include <gtest/gtest.h>

#include <limits>
#include <random>

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
    Fill(image, [&](int, int, int) {
        const float v = value(rng);
        const int k = specials ? pick(rng) : 4;
        return k < 4 ? kinds[k] : v;
    });
    return image;
}

}  // namespace orbimg::test
