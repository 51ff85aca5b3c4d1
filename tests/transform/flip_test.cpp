// CImgFlip: both modes, twice restoring, in place, refused sources (an object
// smaller than the source takes its size: parallel_test.cpp).
#include "transformtest.h"

namespace orbimg::test {
namespace {

CImgFlip FlipOf(const CKelImage& image, int mode)
{
    CImgFlip flip;
    flip = image;
    CKelImage src = image;
    flip.Do(mode, &src, 0);
    return flip;
}

TEST(Flip, TopToBottomAndLeftToRight)
{
    CKelImage image = MakeImage(3, 2, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(image, p, [p](int x, int y) { return static_cast<float>(100 * p + 10 * y + x); });
    }
    const CImgFlip vertical = FlipOf(image, 0);
    const CImgFlip horizontal = FlipOf(image, 1);
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(At(vertical, x, y, p), At(image, x, 1 - y, p));
                EXPECT_EQ(At(horizontal, x, y, p), At(image, 2 - x, y, p));
            }
        }
    }
    EXPECT_EQ(Locks(vertical), 0);
    EXPECT_EQ(Locks(horizontal), 0);
}

TEST(Flip, TwiceRestoresAndKeepsRawBits)
{
    for (int mode = 0; mode < 2; ++mode) {
        const CKelImage image = RandomImage(7, 5, 3, 11 + mode, true);
        const CImgFlip once = FlipOf(image, mode);
        const CImgFlip twice = FlipOf(once, mode);
        for (int p = 0; p < 3; ++p) {
            const std::vector<float> a = Samples(image, p);
            const std::vector<float> b = Samples(twice, p);
            for (std::size_t i = 0; i < a.size(); ++i) {
                EXPECT_TRUE(SameBits(a[i], b[i])) << "mode " << mode << " sample " << i;
            }
        }
    }
}

TEST(Flip, DegenerateShapesAndUnknownModes)
{
    CKelImage column = RandomImage(1, 6, 1, 3);
    CKelImage row = RandomImage(6, 1, 1, 4);
    EXPECT_TRUE(SameImage(FlipOf(column, 1), column));
    EXPECT_TRUE(SameImage(FlipOf(row, 0), row));
    const CKelImage image = RandomImage(4, 3, 3, 5);
    for (int mode : {2, -1, 99}) {
        EXPECT_TRUE(SameImage(FlipOf(image, mode), image));
    }
}

TEST(Flip, InPlaceMatchesCopy)
{
    for (int mode = 0; mode < 2; ++mode) {
        for (int size : {1, 4, 5}) {
            const CKelImage image = RandomImage(size + 2, size, 3, 20 + size);
            CImgFlip self;
            self = image;
            self.Do(mode, &self, 0);
            EXPECT_TRUE(SameImage(self, FlipOf(image, mode))) << "mode " << mode << " size " << size;
        }
    }
}

TEST(Flip, KeepsStandardPoints)
{
    CImgFlip flip;
    flip = RandomImage(4, 4, 1, 6);
    flip.SetStdCtr(1.5, 2.5);
    CKelImage src = flip;
    flip.Do(0, &src, 0);
    EXPECT_EQ(flip.GetStdCtr().x, 1.5);
    EXPECT_EQ(flip.GetStdCtr().y, 2.5);
}

TEST(Flip, SourceThatCannotCoverChangesNothing)
{
    const CKelImage image = RandomImage(5, 4, 3, 7);
    CKelImage narrow = RandomImage(4, 4, 3, 8);
    CKelImage low = RandomImage(5, 3, 3, 9);
    CKelImage mono = RandomImage(5, 4, 1, 10);
    CKelImage bytes(5, 4, 3, 8, 1.0, 0.0, 0);
    for (CKelImage* src : {&narrow, &low, &mono, &bytes, static_cast<CKelImage*>(nullptr)}) {
        for (int mode = 0; mode < 2; ++mode) {
            CImgFlip flip;
            flip = image;
            flip.Do(mode, src, 0);
            EXPECT_TRUE(SameImage(flip, image));
        }
    }
}

}  // namespace
}  // namespace orbimg::test
