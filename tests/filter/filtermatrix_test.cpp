// CFilterMatrix: creation, Gaussian kernels, normalisation and copies.
#include <cmath>
#include <vector>

#include "filtertest.h"

using namespace orbimg::test;

namespace {

std::vector<float> Coefs(const CFilterMatrix& m) { return {m.GetCoef(), m.GetCoef() + m.GetCount()}; }

}  // namespace

TEST(FilterMatrix, CreateRefusesBadRadiiAndShortCounts)
{
    CFilterMatrix m;
    EXPECT_NE(m.Create(2, 25), 0);
    EXPECT_EQ(m.GetSize(), 5);
    EXPECT_EQ(m.GetCount(), 25);
    EXPECT_EQ(m.Create(2, 26), 0);  // too few coefficients for the caller
    EXPECT_EQ(m.GetCount(), 25);
    // Radii outside 0 .. kMaxRadius: refused, the matrix is left empty.
    for (int r : {-1, CFilterMatrix::kMaxRadius + 1}) {
        EXPECT_NE(m.Create(1, 0), 0);
        EXPECT_EQ(m.Create(r, 0), 0) << r;
        EXPECT_EQ(m.GetCoef(), nullptr);
        EXPECT_EQ(m.GetCount(), 0);
        EXPECT_EQ(m.MakeGaussian(r, 1.0), 0);
    }
    CFilterMatrix copy(m);  // copies are deep
    m.MakeGaussian(2, 1.0);
    copy = m;
    ASSERT_NE(copy.GetCoef(), m.GetCoef());
    EXPECT_EQ(copy.GetCoef()[7], m.GetCoef()[7]);
}

TEST(FilterMatrix, GaussianMatchesReferenceAndSigmaZeroIsTheIdentity)
{
    // Sigma -1.0 means sigma = radius; sigma 0.7 has an exponent denominator
    // that float would round. Values from tests/reference/focus_reference.py.
    const std::vector<double> ref = ReadNumbers("focus_reference.txt");
    ASSERT_EQ(ref.size(), 112u);
    CFilterMatrix m;
    ASSERT_EQ(m.MakeGaussian(2, -1.0), 1);
    EXPECT_TRUE(SameBits(Coefs(m), std::vector<float>(ref.begin(), ref.begin() + 25)));
    ASSERT_EQ(m.MakeGaussian(3, 0.7), 1);
    EXPECT_TRUE(SameBits(Coefs(m), std::vector<float>(ref.begin() + 63, ref.begin() + 63 + 49)));
    ASSERT_EQ(m.MakeGaussian(1, 0.0), 1);
    EXPECT_EQ(Coefs(m), (std::vector<float>{0, 0, 0, 0, 1, 0, 0, 0, 0}));
    ASSERT_EQ(m.MakeGaussian(0, 5.0), 1);  // radius 0: one coefficient, normalised to 1
    EXPECT_EQ(m.GetCoef()[0], 1.0f);
    ASSERT_EQ(m.MakeGaussian(1, std::nan("")), 1);  // NaN coefficients, nothing worse
    EXPECT_TRUE(std::isnan(m.GetCoef()[4]));
}

TEST(FilterMatrix, NormalizeDividesByTheFloatSumUnlessZero)
{
    CFilterMatrix m;
    m.Create(1, 0);
    float sum = 0.0f;
    for (int i = 0; i < 9; ++i) {
        m.GetCoef()[i] = static_cast<float>(i) * 0.1f;
        sum += m.GetCoef()[i];
    }
    m.Normalize();
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(SameBits(m.GetCoef()[i], static_cast<float>(i) * 0.1f / sum)) << i;
    }

    const std::vector<float> zeroSum = {1, -2, 1, 2, -4, 2, 1, -2, 1};
    std::copy(zeroSum.begin(), zeroSum.end(), m.GetCoef());
    m.Normalize();
    EXPECT_EQ(Coefs(m), zeroSum);
    CFilterMatrix empty;
    empty.Normalize();  // nothing to do, nothing touched
    EXPECT_EQ(empty.GetCoef(), nullptr);
}
