// Shared by the filter tests: a fixture that fails any test during which the
// processors showed a message box, and plain reference loops for the
// separable filter.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/testsupport.h"

namespace orbimg::test {

/// Counts message boxes while a test runs; normal use must show none.
class FilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s_boxes = 0;
        m_previous = AfxSetMessageBoxHandler(&FilterTest::CountBox);
    }
    void TearDown() override
    {
        AfxSetMessageBoxHandler(m_previous);
        EXPECT_EQ(s_boxes.load(), 0) << "a message box was shown";
    }
    static int Boxes() { return s_boxes.load(); }

private:
    static void CountBox(const wchar_t*) { ++s_boxes; }
    static inline std::atomic<int> s_boxes{0};
    AfxMessageBoxHandler m_previous = nullptr;
};

/// The kernel a processor takes from a matrix: its middle row, divided by
/// its float sum when normalising (and the sum is not 0).
inline std::vector<float> RefKernel(const CFilterMatrix& matrix, bool normalise)
{
    const int size = matrix.GetSize();
    const float* middle = matrix.GetCoef() + size * matrix.GetRadius();
    std::vector<float> k(middle, middle + size);
    float sum = 0.0f;
    for (float v : k) {
        sum += v;
    }
    if (normalise && sum != 0.0f) {
        for (float& v : k) {
            v /= sum;
        }
    }
    return k;
}

/// Row j mirrored into an image of height h.
inline int RefMirror(long long j, int h)
{
    long long m = j % (2LL * h);
    m = m < 0 ? -m : m;
    return static_cast<int>(m >= h ? 2LL * h - 1 - m : m);
}

/// The filtered value of (x, y): plain loops, one pixel at a time.
inline float RefValue(const CKelImage& img, int plane, const std::vector<float>& k, int x, int y)
{
    const int r = static_cast<int>(k.size()) / 2;
    const int w = img.GetWidth();
    float v = 0.0f;
    for (int t = 0; t < static_cast<int>(k.size()); ++t) {
        const int row = RefMirror(static_cast<long long>(y) - r + t, img.GetHeight());
        float h = 0.0f;
        for (int j = 0; j < static_cast<int>(k.size()); ++j) {
            int c = x - r + j;
            c = c < 0 ? 0 : (c >= w ? w - 1 : c);
            h += k[j] * At(img, c, row, plane);
        }
        v += k[t] * h;
    }
    return v;
}

/// Every filtered value of a plane, row-major, by RefValue.
inline std::vector<float> RefPlane(const CKelImage& img, int plane, const std::vector<float>& k)
{
    std::vector<float> out;
    for (int y = 0; y < img.GetHeight(); ++y) {
        for (int x = 0; x < img.GetWidth(); ++x) {
            out.push_back(RefValue(img, plane, k, x, y));
        }
    }
    return out;
}

/// Deterministic pseudo-random floats over several orders of magnitude,
/// with both signs, so that a changed order of sums would show.
inline void FillRandom(CKelImage& img, int plane, std::uint32_t seed)
{
    std::uint32_t s = seed * 2654435761u + 1u;
    Fill(img, plane, [&s](int, int) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        const float mantissa = static_cast<float>(s & 0xffff) / 65536.0f;
        const int exponent = static_cast<int>((s >> 16) % 12) - 4;
        const float sign = (s >> 31) ? -1.0f : 1.0f;
        return sign * mantissa * static_cast<float>(1 << (exponent + 4)) / 16.0f;
    });
}

}  // namespace orbimg::test
