// CImgSoftBinning: block sums, rounding up or down, level scaling, order of
// the float sums and refusals (in place: parallel_test.cpp).
#include "support/eachtarget.h"
#include "transformtest.h"

namespace orbimg::test {
namespace {

CImgSoftBinning Binned(const CKelImage& src, int binX, int binY, int roundUp, int scaleLevels)
{
    return Applied<CImgSoftBinning>(
        src, [&](CImgSoftBinning& op, CKelImage& s) { op.Do(binX, binY, roundUp, scaleLevels, &s, 0); });
}

// A w x h image of the block sums of src, each added row by row, left to
// right, in float, from 0.
CKelImage BlockSums(const CKelImage& src, int binX, int binY, int w, int h)
{
    CKelImage sums = MakeImage(w, h, src.GetPlanes());
    Fill(sums, [&](int bx, int by, int p) {
        float sum = 0.0f;
        for (int y = by * binY; y < (by + 1) * binY && y < src.GetHeight(); ++y) {
            for (int x = bx * binX; x < (bx + 1) * binX && x < src.GetWidth(); ++x) {
                sum += At(src, x, y, p);
            }
        }
        return sum;
    });
    return sums;
}

using SoftBinningEachTarget = orbimg::test::EachTarget;
ORBIMG_EACH_TARGET(SoftBinningEachTarget);

TEST_P(SoftBinningEachTarget, MatchesBlockSumsAndTheirOrderForManyBins)
{
    // 75 columns: even bin 6 leaves rows long enough for the widest vectors.
    const CKelImage src = RandomImage(75, 11, 3, 1, true);
    for (int binX = 1; binX <= 6; ++binX) {
        for (int binY = 1; binY <= 5; ++binY) {
            for (int roundUp = 0; roundUp < 2; ++roundUp) {
                const int w = roundUp ? (75 + binX - 1) / binX : 75 / binX;
                const int h = roundUp ? (11 + binY - 1) / binY : 11 / binY;
                ASSERT_TRUE(SameImage(Binned(src, binX, binY, roundUp, 0), BlockSums(src, binX, binY, w, h)))
                    << binX << "x" << binY << " roundUp " << roundUp;
            }
        }
    }
    // Row by row, left to right, in float: ((1e8 + 1) - 1e8) + 1 = 1, where
    // a column-first order would give 2.
    CKelImage order = MakeImage(2, 2, 1);
    Fill(order, 0, {1e8f, 1.0f, -1e8f, 1.0f});
    EXPECT_EQ(At(Binned(order, 2, 2, 0, 0), 0, 0), 1.0f);
    // A sum of -0.0 samples starts from +0.0.
    CKelImage zeros = MakeImage(2, 2, 1);
    Fill(zeros, 0, {-0.0f, -0.0f, -0.0f, -0.0f});
    EXPECT_TRUE(SameBits(At(Binned(zeros, 2, 1, 0, 0), 0, 0), 0.0f));
    EXPECT_TRUE(SameBits(At(Binned(zeros, 2, 2, 0, 0), 0, 0), 0.0f));
}

TEST(SoftBinning, ScalesLevelsByTheBinArea)
{
    CKelImage src = RandomImage(6, 4, 3, 3);
    src.SetLevel(0, 100.0, 1000.0);
    src.SetLevel(1, -10.0, 20.0);
    EXPECT_EQ(LevelList(Binned(src, 3, 2, 0, 1)), (std::vector<double>{600, 6000, -60, 120, 0, 255 * 6}));
    EXPECT_EQ(Binned(src, 3, 2, 0, 0).GetLevelMax(0), 1000.0);
    const CImgSoftBinning same = Binned(src, 1, 1, 0, 1);
    EXPECT_TRUE(SameImage(same, src));
    EXPECT_EQ(same.GetLevelMin(1), -10.0);
}

TEST(SoftBinning, BinLargerThanTheImageAndRefusals)
{
    CKelImage src = RandomImage(5, 3, 3, 4);
    EXPECT_TRUE(SameImage(Binned(src, 8, 100, 1, 0), BlockSums(src, 8, 100, 1, 1)));
    // Bins below 1 are refused before anything changes (refused sources and
    // a new size of 0: parallel_test.cpp).
    src.SetLevel(0, 100.0, 1000.0);
    for (const auto& [binX, binY] : {std::pair{0, 2}, std::pair{2, 0}, std::pair{-1, 1}}) {
        CImgSoftBinning op;
        op = src;
        op.SetStdCtr(1.0, 1.0);
        CKelImage copy = src;
        EXPECT_EQ(op.Do(binX, binY, 1, 1, &copy, 0), 0) << binX << "x" << binY;
        EXPECT_EQ(op.GetStdCtr().x, 1.0);
        EXPECT_EQ(op.GetLevelMax(0), 1000.0);
        EXPECT_TRUE(SameImage(op, src));
    }
}

}  // namespace
}  // namespace orbimg::test
