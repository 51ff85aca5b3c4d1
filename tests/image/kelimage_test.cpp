// CKelImage: points, copies and pasting.
#include <gtest/gtest.h>

#include "support/testsupport.h"

using orbimg::test::At;
using orbimg::test::Fill;
using orbimg::test::MakeImage;

TEST(FPoint, TruncationTowardZero)
{
    CfPoint p(2.7, -1.5);
    EXPECT_EQ(p.x, 2.7);
    EXPECT_EQ(p.y, -1.5);
    EXPECT_EQ(static_cast<const CPoint&>(p).x, 2);
    EXPECT_EQ(static_cast<const CPoint&>(p).y, -1);
    CfPoint q(3, -4);
    EXPECT_EQ(q.x, 3.0);
    EXPECT_EQ(q.IntY(), -4);
    CfPoint r;
    EXPECT_EQ(r.IntX(), 0);
    r.Set(-0.99, 1e12);  // saturates instead of overflowing
    EXPECT_EQ(r.IntX(), 0);
    EXPECT_EQ(r.IntY(), 2147483647);
    r.Set(std::numeric_limits<double>::quiet_NaN(), -1e12);
    EXPECT_EQ(r.IntX(), 0);
    EXPECT_EQ(r.IntY(), -2147483647 - 1);
}

TEST(StandardPoints, UnsetSetAndReset)
{
    CKelImage img = MakeImage(5, 4);
    CfPoint c = img.GetStdCtr();
    EXPECT_EQ(c.IntX(), -1);
    EXPECT_EQ(c.IntY(), -1);
    EXPECT_EQ(c.x, -1.0);
    EXPECT_EQ(c.y, -1.0);
    img.SetStdCtr(2.7, -1.5);
    c = img.GetStdCtr();
    EXPECT_EQ(c.IntX(), 2);
    EXPECT_EQ(c.IntY(), -1);
    EXPECT_EQ(c.x, 2.7);
    EXPECT_EQ(c.y, -1.5);
    img.SetDefaultCenter();
    c = img.GetStdCtr();
    EXPECT_EQ(c.IntX(), 2);
    EXPECT_EQ(c.IntY(), 2);
    EXPECT_EQ(c.x, 2.0);
    EXPECT_EQ(c.y, 2.0);

    img.SetStdPt(1, CfPoint(9.5, 8.25));
    img.SetStdPt(7, CfPoint(1.0, 1.0));  // ignored
    EXPECT_EQ(img.GetStdPt(1).x, 9.5);
    EXPECT_EQ(img.GetStdPt(0).x, -1.0);
    CKelImage copy(img);
    EXPECT_EQ(copy.GetStdPt(1).y, 8.25);
    EXPECT_EQ(copy.GetStdCtr().x, 2.0);
    img.InitStdPtCtr();
    EXPECT_EQ(img.GetStdPt(1).IntX(), -1);
    EXPECT_EQ(img.GetStdCtr().y, -1.0);
    EXPECT_EQ(copy.GetStdPt(1).x, 9.5);  // the copy keeps its own
}

TEST(Copy, MismatchedFormatChangesNothing)
{
    CKelImage dst = MakeImage(4, 4, 1);
    CKelImage colour = MakeImage(2, 2, 3);
    Fill(colour, 0, [](int, int) { return 5.0f; });
    EXPECT_EQ(dst.Copy(&colour, 0, 0), 0);
    EXPECT_EQ(At(dst, 0, 0), 0.0f);
    EXPECT_EQ(dst.Copy(nullptr, 0, 0), 0);
}

TEST(Copy, PastesAtOffsetsAndClipsAtTheEdges)
{
    CKelImage src = MakeImage(10, 10);
    Fill(src, 0, [](int x, int y) { return static_cast<float>(100 * y + x + 1); });
    CKelImage dst = MakeImage(100, 100);
    EXPECT_EQ(dst.Copy(&src, 95, 0), 1);
    for (int y = 0; y < 11; ++y) {
        for (int x = 93; x < 100; ++x) {
            const float want = (x >= 95 && y < 10) ? static_cast<float>(100 * y + (x - 95) + 1) : 0.0f;
            EXPECT_EQ(At(dst, x, y), want) << x << "," << y;
        }
    }

    // An offset at the width writes the last column from the source's first.
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
}

TEST(Copy, NegativeOffsetsAndEmptyImagesStayInside)
{
    CKelImage src = MakeImage(4, 3);
    Fill(src, 0, [](int x, int y) { return static_cast<float>(10 * y + x); });
    CKelImage dst = MakeImage(3, 3);
    EXPECT_EQ(dst.Copy(&src, -2, -1), 1);
    // dst (0,0) <- src (2,1); dst (1,0) <- src (3,1); dst (0,1) <- src (2,2)
    EXPECT_EQ(At(dst, 0, 0), 12.0f);
    EXPECT_EQ(At(dst, 1, 0), 13.0f);
    EXPECT_EQ(At(dst, 2, 0), 0.0f);
    EXPECT_EQ(At(dst, 0, 1), 22.0f);
    EXPECT_EQ(At(dst, 0, 2), 0.0f);

    CKelImage far = MakeImage(3, 3);
    EXPECT_EQ(far.Copy(&src, -4, 0), 1);  // wholly left of the image
    EXPECT_EQ(orbimg::test::Samples(far), std::vector<float>(9, 0.0f));

    CKelImage empty;
    EXPECT_EQ(dst.Copy(&empty, 3, 3), 1);
    EXPECT_EQ(empty.Copy(&src, 0, 0), 1);
}

TEST(Copy, ColourPlanesEach)
{
    CKelImage src = MakeImage(2, 2, 3);
    CKelImage dst = MakeImage(3, 3, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(src, p, [p](int x, int y) { return static_cast<float>(p * 100 + y * 10 + x); });
    }
    EXPECT_EQ(dst.Copy(&src, 1, 1), 1);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(At(dst, 1, 1, p), p * 100.0f);
        EXPECT_EQ(At(dst, 2, 2, p), p * 100.0f + 11.0f);
        EXPECT_EQ(At(dst, 0, 0, p), 0.0f);
    }
}
