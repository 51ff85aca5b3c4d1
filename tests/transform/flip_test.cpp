// CImgFlip: both modes and refused modes (in place and refused sources:
// parallel_test.cpp).
#include "transformtest.h"

namespace orbimg::test {
namespace {

CImgFlip FlipOf(const CKelImage& image, int mode)
{
    return Applied<CImgFlip>(image, [mode](CImgFlip& op, CKelImage& src) { op.Do(mode, &src, 0); });
}

TEST(Flip, BothModesAndUnknownOnes)
{
    CKelImage image = Numbered(3, 2, 3);
    image.SetStdCtr(1.5, 0.5);
    const CImgFlip vertical = FlipOf(image, 0);
    const CImgFlip horizontal = FlipOf(image, 1);
    CKelImage rows = image;
    Fill(rows, [&image](int x, int y, int p) { return At(image, x, 1 - y, p); });
    CKelImage columns = image;
    Fill(columns, [&image](int x, int y, int p) { return At(image, 2 - x, y, p); });
    EXPECT_TRUE(SameImage(vertical, rows));
    EXPECT_TRUE(SameImage(horizontal, columns));
    EXPECT_EQ(vertical.GetStdCtr().x, 1.5);  // the points stay
    EXPECT_EQ(horizontal.GetStdCtr().y, 0.5);
    EXPECT_TRUE(SameImage(FlipOf(RandomImage(1, 6, 1, 3), 1), RandomImage(1, 6, 1, 3)));
    EXPECT_TRUE(SameImage(FlipOf(RandomImage(6, 1, 1, 4), 0), RandomImage(6, 1, 1, 4)));
    const CKelImage random = RandomImage(5, 4, 3, 7);
    for (int mode : {2, -1, 99}) {  // unknown modes change nothing
        EXPECT_TRUE(SameImage(FlipOf(random, mode), random));
    }
}

}  // namespace
}  // namespace orbimg::test
