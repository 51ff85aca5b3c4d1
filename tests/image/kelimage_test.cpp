// CKelImage: points, copies and pasting.
#include <gtest/gtest.h>

#include <limits>

#include "support/testsupport.h"

using orbimg::test::At;
using orbimg::test::Fill;
using orbimg::test::MakeImage;

TEST(FPoint, TruncatesTowardZeroAndSaturates)
{
    CfPoint p(2.7, -1.5);
    EXPECT_EQ(static_cast<const CPoint&>(p).x, 2);
    EXPECT_EQ(static_cast<const CPoint&>(p).y, -1);
    p.Set(-0.99, 1e12);
    EXPECT_EQ(p.IntX(), 0);
    EXPECT_EQ(p.IntY(), 2147483647);
    p.Set(std::numeric_limits<double>::quiet_NaN(), -1e12);
    EXPECT_EQ(p.IntX(), 0);
    EXPECT_EQ(p.IntY(), -2147483647 - 1);
}

TEST(StandardPoints, DefaultCentreAndCopiesKeepTheirOwn)
{
    CKelImage img = MakeImage(5, 4);
    EXPECT_EQ(img.GetStdCtr().IntX(), -1);  // unset
    img.SetDefaultCenter();
    EXPECT_EQ(img.GetStdCtr().x, 2.0);  // 5 / 2 and 4 / 2, truncated
    EXPECT_EQ(img.GetStdCtr().y, 2.0);
    img.SetStdPt(1, CfPoint(9.5, 8.25));
    img.SetStdPt(7, CfPoint(1.0, 1.0));  // no such point: ignored
    CKelImage copy(img);
    img.InitStdPtCtr();
    EXPECT_EQ(img.GetStdPt(1).IntX(), -1);
    EXPECT_EQ(img.GetStdCtr().y, -1.0);
    EXPECT_EQ(copy.GetStdPt(1).y, 8.25);
    EXPECT_EQ(copy.GetStdCtr().x, 2.0);
}

TEST(Copy, PastesAtOffsetsAndClipsAtEveryEdge)
{
    // dst (x, y) takes src (x - dx, y - dy) where that exists; planes each.
    CKelImage src = MakeImage(4, 3, 2);
    for (int p = 0; p < 2; ++p) {
        Fill(src, p, [p](int x, int y) { return static_cast<float>(100 * p + 10 * y + x + 1); });
    }
    const int offsets[][2] = {{0, 0}, {1, 1}, {-2, -1}, {4, 2}, {2, 4}, {-4, 0}, {0, -3}};
    for (const auto& o : offsets) {
        CKelImage dst = MakeImage(5, 5, 2);
        EXPECT_EQ(dst.Copy(&src, o[0], o[1]), 1);
        for (int p = 0; p < 2; ++p) {
            for (int y = 0; y < 5; ++y) {
                for (int x = 0; x < 5; ++x) {
                    const int sx = x - o[0];
                    const int sy = y - o[1];
                    const bool inside = sx >= 0 && sx < 4 && sy >= 0 && sy < 3;
                    EXPECT_EQ(At(dst, x, y, p), inside ? At(src, sx, sy, p) : 0.0f)
                        << "offset " << o[0] << "," << o[1] << " at " << x << "," << y << " plane " << p;
                }
            }
        }
    }
}

TEST(Copy, OffsetsPastTheEdgeAndRefusals)
{
    CKelImage src = MakeImage(10, 10);
    Fill(src, 0, [](int x, int y) { return static_cast<float>(100 * y + x + 1); });
    CKelImage edge = MakeImage(100, 100);
    EXPECT_EQ(edge.Copy(&src, 100, 0), 1);
    EXPECT_EQ(At(edge, 99, 0), 1.0f);
    EXPECT_EQ(At(edge, 99, 9), 901.0f);
    EXPECT_EQ(At(edge, 98, 0), 0.0f);
    EXPECT_EQ(At(edge, 99, 10), 0.0f);
    CKelImage below = MakeImage(100, 100);
    EXPECT_EQ(below.Copy(&src, 3, 250), 1);
    EXPECT_EQ(At(below, 3, 99), 1.0f);
    EXPECT_EQ(At(below, 12, 99), 10.0f);
    EXPECT_EQ(At(below, 3, 98), 0.0f);

    CKelImage empty;
    EXPECT_EQ(edge.Copy(&empty, 3, 3), 1);
    EXPECT_EQ(empty.Copy(&src, 0, 0), 1);
    // Another number of planes, or no source: nothing changes.
    CKelImage colour = MakeImage(2, 2, 3);
    Fill(colour, 0, [](int, int) { return 5.0f; });
    EXPECT_EQ(below.Copy(&colour, 0, 0), 0);
    EXPECT_EQ(At(below, 0, 0), 0.0f);
    EXPECT_EQ(below.Copy(nullptr, 0, 0), 0);
}
