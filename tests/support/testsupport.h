// Helpers shared by the tests: small images filled from lists or functions,
// exact float comparison, reference files and a fixture that checks nothing
// leaks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "orbimg.h"

namespace orbimg::test {

/// A float image of the given size and planes (levels 0 .. 255).
inline CKelImage MakeImage(int width, int height, int planes = 1)
{
    return CKelImage(width, height, planes, -32, 1.0, 0.0, 1);
}

/// Sets every sample of a plane from f(x, y).
inline void Fill(CKelImage& img, int plane, const std::function<float(int, int)>& f)
{
    for (int y = 0; y < img.GetHeight(); ++y) {
        float* row = img.GetImageAdr(0, y, plane, 0, nullptr);
        for (int x = 0; x < img.GetWidth(); ++x) {
            row[x] = f(x, y);
        }
    }
}

/// Sets the samples of a plane from a row-major list (width x height values).
inline void Fill(CKelImage& img, int plane, std::initializer_list<float> values)
{
    auto it = values.begin();
    for (int y = 0; y < img.GetHeight(); ++y) {
        float* row = img.GetImageAdr(0, y, plane, 0, nullptr);
        for (int x = 0; x < img.GetWidth() && it != values.end(); ++x, ++it) {
            row[x] = *it;
        }
    }
}

/// Sets every sample of every plane from f(x, y, plane), plane by plane.
inline void Fill(CKelImage& img, const std::function<float(int, int, int)>& f)
{
    for (int p = 0; p < img.GetPlanes(); ++p) {
        Fill(img, p, [&f, p](int x, int y) { return f(x, y, p); });
    }
}

/// The sample at (x, y) of a plane.
inline float At(const CKelImage& img, int x, int y, int plane = 0) { return *img.GetImageAdr(x, y, plane, 1, nullptr); }

/// The samples of a plane (or of `planes` planes from it), row-major.
inline std::vector<float> Samples(const CKelImage& img, int plane = 0, int planes = 1)
{
    std::vector<float> out;
    for (int p = plane; p < plane + planes; ++p) {
        for (int y = 0; y < img.GetHeight(); ++y) {
            const float* row = img.GetImageAdr(0, y, p, 1, nullptr);
            out.insert(out.end(), row, row + img.GetWidth());
        }
    }
    return out;
}

/// A float of a random binade from 2^lowExponent to 2^highExponent.
inline float Spread(std::mt19937& rng, int lowExponent, int highExponent)
{
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    std::uniform_int_distribution<int> exponent(lowExponent, highExponent);
    return std::ldexp(mantissa(rng), exponent(rng));
}

/// Bit patterns equal (so NaN equals NaN and -0 differs from +0).
inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

/// same(a[i], b[i]) for every element; reports the first difference.
template <class T, class Same>
::testing::AssertionResult AllSame(const std::vector<T>& a, const std::vector<T>& b, Same same)
{
    if (a.size() != b.size()) {
        return ::testing::AssertionFailure() << a.size() << " values, expected " << b.size();
    }
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), same);
    if (ia != a.end()) {
        return ::testing::AssertionFailure() << "value " << ia - a.begin() << " is " << *ia << ", expected " << *ib;
    }
    return ::testing::AssertionSuccess();
}

/// SameBits element by element.
template <class T>
::testing::AssertionResult SameBits(const std::vector<T>& a, const std::vector<T>& b)
{
    return AllSame(a, b, [](T x, T y) { return SameBits(x, y); });
}

/// Equal bits, or both NaN (a NaN's payload is not part of the result).
inline bool SameSample(float a, float b) { return (std::isnan(a) && std::isnan(b)) || SameBits(a, b); }

/// The same size and planes and every sample the same (SameSample); a
/// difference is reported at value (plane x height + y) x width + x.
inline ::testing::AssertionResult SameImage(const CKelImage& a, const CKelImage& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPlanes() != b.GetPlanes()) {
        return ::testing::AssertionFailure() << "geometry differs";
    }
    return AllSame(Samples(a, 0, a.GetPlanes()), Samples(b, 0, b.GetPlanes()), SameSample);
}

/// A float image whose sample (x, y) of plane p is 1000 p + 100 y + x + 1.
inline CKelImage Numbered(int width, int height, int planes)
{
    CKelImage image = MakeImage(width, height, planes);
    Fill(image, [](int x, int y, int p) { return static_cast<float>(1000 * p + 100 * y + x + 1); });
    return image;
}

/// A width x height image with the planes of `src` moved by (dx, dy) and 0
/// where src has no sample.
inline CKelImage Moved(const CKelImage& src, int width, int height, int dx, int dy)
{
    CKelImage out = MakeImage(width, height, src.GetPlanes());
    Fill(out, [&](int x, int y, int p) {
        const int sx = x - dx;
        const int sy = y - dy;
        const bool inside = sx >= 0 && sy >= 0 && sx < src.GetWidth() && sy < src.GetHeight();
        return inside ? At(src, sx, sy, p) : 0.0f;
    });
    return out;
}

/// Every plane's level minimum and maximum (min 0, max 0, min 1, ...).
inline std::vector<double> LevelList(const CImage& img)
{
    std::vector<double> out;
    for (int p = 0; p < img.GetPlanes(); ++p) {
        out.insert(out.end(), {img.GetLevelMin(p), img.GetLevelMax(p)});
    }
    return out;
}

/// Path of a file in tests/reference.
inline std::string ReferencePath(const std::string& name)
{
    return std::string(ORBIMG_TEST_REFERENCE_DIR) + "/" + name;
}

/// Whitespace-separated numbers of a reference file, "nan" and "inf" among
/// them (lines starting with # are comments).
inline std::vector<double> ReadNumbers(const std::string& name)
{
    std::ifstream in(ReferencePath(name));
    std::vector<double> out;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            out.push_back(std::stod(word));
        }
    }
    return out;
}

/// A parameterised fixture whose tests may set a swap size (to run the
/// serial loops); it is set back to 0 after each.
template <class Param>
class SwapSizeReset : public ::testing::TestWithParam<Param> {
protected:
    void TearDown() override { CVmManager::SetCurrentSwapSize(0); }
};

/// Every test leaves the GDI objects and global blocks as it found them.
class NoLeaks : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_gdi = GdiLiveObjectCount();
        m_blocks = GlobalLiveBlockCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(GdiLiveObjectCount(), m_gdi);
        EXPECT_EQ(GlobalLiveBlockCount(), m_blocks);
    }

private:
    int m_gdi = 0;
    int m_blocks = 0;
};

}  // namespace orbimg::test
