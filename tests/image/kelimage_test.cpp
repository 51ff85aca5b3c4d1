// CKelImage: points, copies and pasting.
#include <algorithm>
#include <limits>

#include "support/testsupport.h"

using namespace orbimg::test;

TEST(FPoint, TruncatesTowardZeroAndSaturates)
{
    CfPoint p(2.7, -1.5);
    EXPECT_EQ(std::pair(static_cast<const CPoint&>(p).x, static_cast<const CPoint&>(p).y), std::pair(2, -1));
    p.Set(-0.99, 1e12);
    EXPECT_EQ(std::pair(p.IntX(), p.IntY()), std::pair(0, 2147483647));
    p.Set(std::numeric_limits<double>::quiet_NaN(), -1e12);
    EXPECT_EQ(std::pair(p.IntX(), p.IntY()), std::pair(0, -2147483647 - 1));
}

TEST(StandardPoints, DefaultCentreAndCopiesKeepTheirOwn)
{
    CKelImage img = MakeImage(5, 4);
    EXPECT_EQ(img.GetStdCtr().IntX(), -1);  // unset
    img.SetDefaultCenter();
    EXPECT_EQ(std::pair(img.GetStdCtr().x, img.GetStdCtr().y), std::pair(2.0, 2.0));  // 5 / 2 and 4 / 2, truncated
    img.SetStdPt(1, CfPoint(9.5, 8.25));
    img.SetStdPt(7, CfPoint(1.0, 1.0));  // no such point: ignored
    CKelImage copy(img);
    img.InitStdPtCtr();
    EXPECT_EQ(img.GetStdPt(1).IntX(), -1);
    EXPECT_EQ(img.GetStdCtr().y, -1.0);
    EXPECT_EQ(copy.GetStdPt(1).y, 8.25);
    EXPECT_EQ(copy.GetStdCtr().x, 2.0);
}

TEST(Copy, PastesAtOffsetsClipsAtEveryEdgeAndRefuses)
{
    // dst (x, y) takes src (x - dx, y - dy) where that exists; planes each.
    // Offsets at or past the far edge land on the last column or row.
    const CKelImage src = Numbered(4, 3, 2);
    const int offsets[][2] = {{0, 0}, {1, 1}, {-2, -1}, {4, 2}, {2, 4}, {-4, 0}, {0, -3}, {5, 0}, {1, 250}};
    for (const auto& o : offsets) {
        CKelImage dst = MakeImage(5, 5, 2);
        EXPECT_EQ(dst.Copy(&src, o[0], o[1]), 1);
        EXPECT_TRUE(SameImage(dst, Moved(src, 5, 5, std::min(o[0], 4), std::min(o[1], 4))))
            << "offset " << o[0] << "," << o[1];
    }

    CKelImage mono = MakeImage(5, 5);
    CKelImage empty;
    EXPECT_EQ(mono.Copy(&empty, 3, 3), 1);
    EXPECT_EQ(empty.Copy(&mono, 0, 0), 1);
    // Another number of planes, or no source: nothing changes.
    EXPECT_EQ(mono.Copy(&src, 0, 0), 0);
    EXPECT_EQ(At(mono, 0, 0), 0.0f);
    EXPECT_EQ(mono.Copy(nullptr, 0, 0), 0);
}
