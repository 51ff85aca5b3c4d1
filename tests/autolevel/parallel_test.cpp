// The auto-level passes over row bands on every core against the serial loop
// (swap size set): the same levels, bit for bit, on samples over 30 binades
// (so a sum in another order differs in its last bits), with NaN, and with
// zeros of both signs (the first one in window order decides the sign).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "autolevel_support.h"

namespace orbimg::test {
namespace {

struct Pass {
    std::string name;
    std::function<void(CImgAutoLevel&, double out[2])> run;

    friend void PrintTo(const Pass& p, std::ostream* os) { *os << p.name; }
};

const Pass kPasses[] = {
    {"NormalLuminance", [](CImgAutoLevel& a, double*) { a.DoByNormal(0.01, 0.995, 0, nullptr); }},
    {"NormalPlanes", [](CImgAutoLevel& a, double*) { a.DoByNormal(0.02, 0.9, 1, nullptr); }},
    {"MeanLuminance", [](CImgAutoLevel& a, double*) { a.DoByMean(2.0, 5.0, 0, nullptr); }},
    {"MeanPlanes", [](CImgAutoLevel& a, double*) { a.DoByMean(1.5, 3.0, 1, nullptr); }},
    {"MedianLuminance", [](CImgAutoLevel& a, double*) { a.DoByMedian(2.0, 5.0, 0, nullptr); }},
    {"MedianPlanesWindow",
     [](CImgAutoLevel& a, double*) {
         CRect window(3, 20, 90, 280);
         a.DoByMedian(1.0, 4.0, 1, &window);
     }},
    {"GetByEach",
     [](CImgAutoLevel& a, double out[2]) {
         double low = 0.0;
         double high = 0.0;
         a.GetByNormal(low, high, nullptr);
         a.GetByMean(out[0], out[1], nullptr);
         out[0] += low;  // one pair of figures carrying all three
         out[1] += high;
         a.GetByMedian(low, high, nullptr);
         out[0] *= low;
         out[1] *= high;
     }},
};

CImgAutoLevel Samples(int planes)
{
    CImgAutoLevel img = MakeAuto(97, 300, planes);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    std::uniform_int_distribution<int> exponent(-10, 20);
    for (int p = 0; p < planes; ++p) {
        Fill(img, p, [&](int x, int y) {
            if ((x * 7 + y) % 101 == 0) {
                return kNaN;
            }
            if (x == 40 && (y == 100 || y == 160)) {
                return y == 100 ? -0.0f : 0.0f;
            }
            return std::ldexp(mantissa(rng), exponent(rng));
        });
        img.SetLevel(p, 10.0 * (p + 1), 5000.0 + p);
    }
    return img;
}

class AutoLevelParallel : public ::testing::TestWithParam<Pass> {
protected:
    void TearDown() override { CVmManager::SetCurrentSwapSize(0); }
};

TEST_P(AutoLevelParallel, SameLevelsAsTheSerialLoop)
{
    for (const int planes : {1, 3}) {
        const CImgAutoLevel source = Samples(planes);
        CImgAutoLevel result[2] = {source, source};
        double out[2][2] = {};
        for (const int serial : {0, 1}) {
            CVmManager::SetCurrentSwapSize(serial);
            GetParam().run(result[serial], out[serial]);
        }
        for (int p = 0; p < planes; ++p) {
            EXPECT_TRUE(SameBits(result[0].GetLevelMin(p), result[1].GetLevelMin(p))) << planes << " planes, " << p;
            EXPECT_TRUE(SameBits(result[0].GetLevelMax(p), result[1].GetLevelMax(p))) << planes << " planes, " << p;
        }
        EXPECT_TRUE(SameBits(out[0][0], out[1][0]) && SameBits(out[0][1], out[1][1])) << planes << " planes";
        EXPECT_TRUE(result[0].GetLevelMax(0) != source.GetLevelMax(0) || out[0][0] != 0.0) << "nothing measured";
    }
}

INSTANTIATE_TEST_SUITE_P(Passes, AutoLevelParallel, ::testing::ValuesIn(kPasses),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orbimg::test
