// CImgResize: anchors, truncated centring, fill with plane 0's levels,
// cropping and plane mismatches (in place, refusals and the points:
// parallel_test.cpp).
#include "transformtest.h"

namespace orbimg::test {
namespace {

CImgResize Resized(const CKelImage& src, int width, int height, int anchor, float* fill)
{
    return Applied<CImgResize>(src, [&](CImgResize& op, CKelImage& s) { op.Do(width, height, anchor, fill, &s, 0); });
}

TEST(Resize, EveryAnchorPlacesAndCrops)
{
    // Anchors 0..8 are top-left .. bottom-right; centring truncates toward
    // zero (10 -> 7 wide: offset -3 / 2 = -1).
    const CKelImage src = Numbered(10, 10, 3);
    float fill[3] = {0.0f, 0.0f, 0.0f};
    const int sizes[][2] = {{14, 12}, {7, 5}, {13, 8}, {10, 10}};
    for (const auto& size : sizes) {
        const int W = size[0];
        const int H = size[1];
        for (int anchor = 0; anchor <= 8; ++anchor) {
            const int col = anchor % 3;
            const int row = anchor / 3;
            const int dx = col == 0 ? 0 : (col == 1 ? (W - 10) / 2 : W - 10);
            const int dy = row == 0 ? 0 : (row == 1 ? (H - 10) / 2 : H - 10);
            EXPECT_TRUE(SameImage(Resized(src, W, H, anchor, fill), Moved(src, W, H, dx, dy)))
                << W << "x" << H << " anchor " << anchor;
        }
    }
    // Unknown anchors act as top-left.
    const CImgResize topLeft = Resized(src, 12, 11, 0, fill);
    for (int anchor : {9, -1, 100}) {
        EXPECT_TRUE(SameImage(Resized(src, 12, 11, anchor, fill), topLeft)) << "anchor " << anchor;
    }
}

TEST(Resize, FillUsesPlaneZeroLevelsAndPlanesBothHaveAreCopied)
{
    CKelImage src = Numbered(2, 2, 3);
    src.SetLevel(0, 100.0, 1100.0);
    src.SetLevel(1, 0.0, 10.0);
    src.SetLevel(2, -50.0, 50.0);
    // Per-plane values, each through plane 0's window: 51 -> 300 raw.
    float mixed[3] = {0.0f, 51.0f, 127.5f};
    const CImgResize out = Resized(src, 3, 3, 0, mixed);
    EXPECT_EQ(At(out, 2, 2, 0), 100.0f);
    EXPECT_EQ(At(out, 2, 2, 1), 300.0f);
    EXPECT_EQ(At(out, 2, 2, 2), static_cast<float>(127.5 / 255.0 * 1000.0 + 100.0));
    EXPECT_EQ(out.GetLevelMax(2), 50.0);  // levels survive
    // No fill values: display value 0, plane 0's level minimum.
    EXPECT_EQ(At(Resized(src, 3, 3, 0, nullptr), 2, 2, 2), 100.0f);

    float fill[3] = {1.0f, 2.0f, 3.0f};
    // Mono source into a colour object: plane 0 copied, 1 and 2 filled.
    CImgResize colour;
    colour = Numbered(4, 4, 3);
    CKelImage mono = Numbered(4, 4, 1);
    ASSERT_EQ(colour.Do(6, 6, 4, fill, &mono, 0), 1);
    EXPECT_EQ(At(colour, 1, 1, 0), At(mono, 0, 0));
    EXPECT_EQ(At(colour, 1, 1, 1), 2.0f);
    EXPECT_EQ(At(colour, 1, 1, 2), 3.0f);
    // Colour source into a mono object: plane 0 only.
    CImgResize single;
    single = Numbered(4, 4, 1);
    CKelImage rgb = Numbered(4, 4, 3);
    ASSERT_EQ(single.Do(5, 5, 0, fill, &rgb, 0), 1);
    EXPECT_EQ(single.GetPlanes(), 1);
    EXPECT_EQ(At(single, 3, 3), At(rgb, 3, 3));
    EXPECT_EQ(At(single, 4, 4), 1.0f);
}

}  // namespace
}  // namespace orbimg::test
