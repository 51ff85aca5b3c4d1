// CImgResize: anchors, truncated centring, fill with plane 0's levels,
// cropping, plane mismatches and refusals.
#include "transformtest.h"

namespace orbimg::test {
namespace {

// A w x h image whose sample (x, y) of plane p is 1000 p + 100 y + x + 1.
CKelImage Numbered(int w, int h, int planes)
{
    CKelImage image = MakeImage(w, h, planes);
    for (int p = 0; p < planes; ++p) {
        Fill(image, p, [p](int x, int y) { return static_cast<float>(1000 * p + 100 * y + x + 1); });
    }
    return image;
}

// Resizes a copy of `src` (prepared as its own object) and returns it.
CImgResize Resized(const CKelImage& src, int width, int height, int anchor, float* fill, int* result = nullptr)
{
    CImgResize op;
    op = src;
    CKelImage source = src;
    const int r = op.Do(width, height, anchor, fill, &source, 0);
    if (result) {
        *result = r;
    }
    return op;
}

// Source sample for destination (x, y), or the fill when it has none.
float Expected(const CKelImage& src, int x, int y, int p, int dx, int dy, float fill)
{
    const int sx = x - dx;
    const int sy = y - dy;
    if (sx < 0 || sy < 0 || sx >= src.GetWidth() || sy >= src.GetHeight()) {
        return fill;
    }
    return At(src, sx, sy, p);
}

TEST(Resize, SameSizeCopiesWithEveryAnchor)
{
    const CKelImage src = RandomImage(6, 5, 3, 1, true);
    float fill[3] = {10.0f, 20.0f, 30.0f};
    for (int anchor = -1; anchor <= 9; ++anchor) {
        EXPECT_TRUE(SameImage(Resized(src, 6, 5, anchor, fill), src)) << "anchor " << anchor;
    }
}

TEST(Resize, CentringTruncatesTowardZero)
{
    // 10 -> 7 wide, centred: dx = -3 / 2 = -1, source columns 1..7 kept.
    const CKelImage src = Numbered(10, 3, 1);
    const CImgResize out = Resized(src, 7, 3, 4, nullptr);
    ASSERT_EQ(out.GetWidth(), 7);
    for (int x = 0; x < 7; ++x) {
        EXPECT_EQ(At(out, x, 1), At(src, x + 1, 1));
    }
}

TEST(Resize, EveryAnchorPlacesAndCrops)
{
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
            const CImgResize out = Resized(src, W, H, anchor, fill);
            ASSERT_EQ(out.GetWidth(), W);
            ASSERT_EQ(out.GetHeight(), H);
            for (int p = 0; p < 3; ++p) {
                for (int y = 0; y < H; ++y) {
                    for (int x = 0; x < W; ++x) {
                        ASSERT_EQ(At(out, x, y, p), Expected(src, x, y, p, dx, dy, 0.0f))
                            << W << "x" << H << " anchor " << anchor << " at " << x << "," << y;
                    }
                }
            }
        }
    }
    // 10 x 10 -> 14 x 12 bottom right: source at columns 4..13, rows 2..11.
    const CImgResize out = Resized(src, 14, 12, 8, fill);
    EXPECT_EQ(At(out, 4, 2), At(src, 0, 0));
    EXPECT_EQ(At(out, 13, 11), At(src, 9, 9));
    EXPECT_EQ(At(out, 3, 11), 0.0f);
    EXPECT_EQ(At(out, 13, 1), 0.0f);
}

TEST(Resize, UnknownAnchorsActAsTopLeft)
{
    const CKelImage src = Numbered(5, 4, 1);
    float fill[1] = {7.0f};
    const CImgResize topLeft = Resized(src, 8, 6, 0, fill);
    for (int anchor : {9, -1, -7, 100}) {
        EXPECT_TRUE(SameImage(Resized(src, 8, 6, anchor, fill), topLeft)) << "anchor " << anchor;
    }
}

TEST(Resize, FillUsesPlaneZeroLevels)
{
    CKelImage src = Numbered(2, 2, 3);
    src.SetLevel(0, 100.0, 1100.0);
    src.SetLevel(1, 0.0, 10.0);
    src.SetLevel(2, -50.0, 50.0);
    float fill[3] = {255.0f, 255.0f, 255.0f};
    const CImgResize out = Resized(src, 4, 4, 0, fill);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(At(out, 3, 3, p), 1100.0f);
    }
    // Per-plane values, each through plane 0's window: 51 -> 300 raw.
    float mixed[3] = {0.0f, 51.0f, 127.5f};
    const CImgResize out2 = Resized(src, 3, 3, 0, mixed);
    EXPECT_EQ(At(out2, 2, 2, 0), 100.0f);
    EXPECT_EQ(At(out2, 2, 2, 1), 300.0f);
    EXPECT_EQ(At(out2, 2, 2, 2), static_cast<float>(127.5 / 255.0 * 1000.0 + 100.0));
    // No fill values: display value 0, plane 0's level minimum.
    const CImgResize out3 = Resized(src, 3, 3, 0, nullptr);
    EXPECT_EQ(At(out3, 2, 2, 2), 100.0f);
    // Levels survive the resize.
    EXPECT_EQ(out.GetLevelMin(1), 0.0);
    EXPECT_EQ(out.GetLevelMax(2), 50.0);
}

TEST(Resize, PlanesBothHaveAreCopied)
{
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

TEST(Resize, StandardPointsResetAndFailures)
{
    const CKelImage src = Numbered(4, 3, 1);
    CImgResize op;
    op = src;
    op.SetStdCtr(1.0, 2.0);
    CKelImage source = src;
    // A size below 1 fails in ChangeSize: 0, points reset, image kept.
    EXPECT_EQ(op.Do(0, 5, 0, nullptr, &source, 1), 0);
    EXPECT_EQ(op.GetStdCtr().x, -1.0);
    EXPECT_TRUE(SameImage(op, src));
    EXPECT_EQ(op.Do(5, -2, 0, nullptr, &source, 0), 0);
    // Refused before anything changes: no source, or not float samples.
    op.SetStdCtr(1.0, 2.0);
    EXPECT_EQ(op.Do(5, 5, 0, nullptr, nullptr, 0), 0);
    CImage bytes(4, 3, 1, 16, 1.0, 0.0, 1);
    EXPECT_EQ(op.Do(5, 5, 0, nullptr, &bytes, 0), 0);
    EXPECT_EQ(op.GetStdCtr().x, 1.0);
    EXPECT_TRUE(SameImage(op, src));
    // Success resets them too.
    EXPECT_EQ(op.Do(5, 5, 0, nullptr, &source, 0), 1);
    EXPECT_EQ(op.GetStdCtr().y, -1.0);
    EXPECT_EQ(static_cast<const CPoint&>(op.GetStdPt(1)).x, -1);
    EXPECT_EQ(Locks(op), 0);
}

TEST(Resize, ItselfAsSource)
{
    const CKelImage src = Numbered(6, 4, 3);
    float fill[3] = {5.0f, 6.0f, 7.0f};
    CImgResize self;
    self = src;
    ASSERT_EQ(self.Do(9, 3, 4, fill, &self, 0), 1);
    EXPECT_TRUE(SameImage(self, Resized(src, 9, 3, 4, fill)));
}

}  // namespace
}  // namespace orbimg::test
