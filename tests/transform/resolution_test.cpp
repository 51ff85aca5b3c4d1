// CImgResolution: the numpy reference, every build of the kernels against the
// plain one (points and levels, in place, refusals, and every core against the
// serial loop: parallel_test.cpp).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "platform/simd.h"
#include "transformtest.h"

namespace orbimg::test {
namespace {

enum class Method { Bilinear, Bicubic, Do };

int Resample(CImgResolution& op, CKelImage* src, int width, int height, Method method)
{
    switch (method) {
    case Method::Bilinear:
        return op.Bilinear(src, width, height, 0);
    case Method::Bicubic:
        return op.Bicubic(src, width, height, 0);
    default:
        return op.Do(src, width, height, 12345);
    }
}

CImgResolution Resampled(const CKelImage& src, int width, int height, Method method)
{
    return Applied<CImgResolution>(src,
                                   [&](CImgResolution& op, CKelImage& s) { Resample(op, &s, width, height, method); });
}

// The sources and cases of tests/reference/transform_reference.py (each in
// one plane of a colour image, another plane in each case) and a few more
// sizes: enlargement, reduction, whole and fractional scales, one-sample axes
// and sources below 3 x 3. Every build of the row kernels gives the plain
// build's bits, on the colour image (with NaN, infinite and signed zero
// samples in its other planes) and on a mono one (without). Do is Bilinear.
TEST(Resolution, AgreesWithNumpyReferenceInEveryBuild)
{
    const struct {
        int srcWidth, srcHeight;
        bool specials, reference;
        int width, height;
    } cases[] = {
        {5, 4, false, true, 8, 7},   {5, 4, false, true, 3, 3},     {5, 4, false, true, 9, 7},
        {5, 4, false, true, 3, 2},   {1, 5, false, true, 6, 9},     {5, 1, false, true, 9, 4},
        {1, 1, false, true, 4, 3},   {2, 2, false, true, 5, 5},     {2, 3, false, true, 7, 2},
        {3, 3, false, true, 8, 8},   {16, 5, false, true, 3, 11},   {4, 4, false, true, 1, 1},
        {7, 9, false, true, 7, 9},   {6, 6, false, true, 11, 17},   {9, 7, true, true, 18, 14},
        {9, 7, true, true, 4, 3},    {9, 7, true, true, 9, 7},      {9, 7, true, true, 13, 5},
        {12, 8, false, false, 6, 4}, {12, 8, false, false, 18, 12}, {20, 3, false, false, 60, 9},
    };
    const std::vector<double> ref = ReadNumbers("transform_resample.txt");
    const std::vector<std::int64_t> targets = simd::Targets();
    const std::int64_t plain = *std::max_element(targets.begin(), targets.end());  // SCALAR or EMU128
    std::size_t k = 0;
    int plane = 0;
    for (const auto& c : cases) {
        CKelImage src = RandomImage(c.srcWidth, c.srcHeight, 3, static_cast<unsigned>(k), true);
        const CKelImage mono = RandomImage(c.srcWidth, c.srcHeight, 1, static_cast<unsigned>(k) + 1);
        plane = (plane + 1) % 3;
        Fill(src, plane, [](int x, int y) {
            return static_cast<float>(100.0 + 7.0 * x + 13.0 * y + ((x * 31 + y * 17) % 11) * 2.5);
        });
        if (c.srcWidth > 2 && c.srcHeight > 1) {
            *src.GetImageAdr(2, 1, plane, 0, nullptr) = -40.25f;
        }
        *src.GetImageAdr(c.srcWidth - 1, c.srcHeight - 1, plane, 0, nullptr) = 5000.5f;
        if (c.specials) {
            *src.GetImageAdr(4, 3, plane, 0, nullptr) = std::numeric_limits<float>::quiet_NaN();
            *src.GetImageAdr(1, 5, plane, 0, nullptr) = std::numeric_limits<float>::infinity();
            *src.GetImageAdr(7, 1, plane, 0, nullptr) = -0.0f;
        }
        for (Method method : {Method::Bilinear, Method::Bicubic}) {
            SCOPED_TRACE(::testing::Message() << c.srcWidth << "x" << c.srcHeight << " -> " << c.width << "x"
                                              << c.height << (method == Method::Bicubic ? " bicubic" : " bilinear"));
            for (const CKelImage* image : {static_cast<const CKelImage*>(&src), &mono}) {
                std::optional<simd::ForceTarget> force(std::in_place, plain);
                const CImgResolution want = Resampled(*image, c.width, c.height, method);
                for (std::int64_t target : targets) {
                    force.reset();
                    force.emplace(target);
                    EXPECT_TRUE(SameImage(Resampled(*image, c.width, c.height, method), want))
                        << simd::TargetName(target) << " planes " << image->GetPlanes();
                }
            }
            const CImgResolution out = Resampled(src, c.width, c.height, method);
            EXPECT_TRUE(method != Method::Bilinear || SameImage(Resampled(src, c.width, c.height, Method::Do), out));
            for (int y = 0; y < c.height && c.reference; ++y) {
                for (int x = 0; x < c.width; ++x, ++k) {
                    ASSERT_LT(k, ref.size());
                    EXPECT_TRUE(SameSample(At(out, x, y, plane), static_cast<float>(ref[k])))
                        << x << "," << y << ": " << At(out, x, y, plane) << " vs " << ref[k];
                }
            }
        }
    }
    EXPECT_EQ(k, ref.size());
}

}  // namespace
}  // namespace orbimg::test
