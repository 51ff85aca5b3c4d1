// CImgResolution: the numpy reference, every build of the kernels against the
// plain one (points and levels, in place, refusals, and every core against the
// serial loop: parallel_test.cpp).
#include <algorithm>
#include <cstdint>
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

// The sources and cases of tests/reference/transform_reference.py (each
// source read into one plane of a colour image, another plane in each case):
// enlargement, reduction, whole and fractional scales, one-sample axes,
// sources below 3 x 3, NaN, infinite and signed zero samples. Every build of
// the row kernels gives the plain build's bits, on the colour image (with
// NaN, infinite and signed zero samples in its other planes) and on a mono
// one (without). Do is Bilinear.
TEST(Resolution, AgreesWithNumpyReferenceInEveryBuild)
{
    const std::vector<double> ref = ReadNumbers("transform_resample.txt");
    ASSERT_FALSE(ref.empty());
    const std::vector<std::int64_t> targets = simd::Targets();
    const std::int64_t plain = *std::max_element(targets.begin(), targets.end());  // SCALAR or EMU128
    std::size_t k = 0;
    int plane = 0;
    for (unsigned seed = 0; k + 5 <= ref.size(); ++seed) {
        const int srcWidth = static_cast<int>(ref[k]), srcHeight = static_cast<int>(ref[k + 1]);
        const int width = static_cast<int>(ref[k + 3]), height = static_cast<int>(ref[k + 4]);
        k += 5;
        CKelImage src = RandomImage(srcWidth, srcHeight, 3, seed, true);
        const CKelImage mono = RandomImage(srcWidth, srcHeight, 1, seed + 1);
        plane = (plane + 1) % 3;
        ASSERT_LE(k + static_cast<std::size_t>(srcWidth * srcHeight), ref.size());
        Fill(src, plane, [&](int x, int y) { return static_cast<float>(ref[k + y * srcWidth + x]); });
        k += static_cast<std::size_t>(srcWidth * srcHeight);
        for (Method method : {Method::Bilinear, Method::Bicubic}) {
            SCOPED_TRACE(::testing::Message() << srcWidth << "x" << srcHeight << " -> " << width << "x" << height
                                              << (method == Method::Bicubic ? " bicubic" : " bilinear"));
            for (const CKelImage* image : {static_cast<const CKelImage*>(&src), &mono}) {
                std::optional<simd::ForceTarget> force(std::in_place, plain);
                const CImgResolution want = Resampled(*image, width, height, method);
                for (std::int64_t target : targets) {
                    force.reset();
                    force.emplace(target);
                    EXPECT_TRUE(SameImage(Resampled(*image, width, height, method), want))
                        << simd::TargetName(target) << " planes " << image->GetPlanes();
                }
            }
            const CImgResolution out = Resampled(src, width, height, method);
            EXPECT_TRUE(method != Method::Bilinear || SameImage(Resampled(src, width, height, Method::Do), out));
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x, ++k) {
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
