// The auto-level passes over row bands on every core against the serial loop
// (swap size set): the same levels, bit for bit, on samples over 30 binades
// (so a sum in another order differs in its last bits), with NaN, and with
// zeros of both signs (the first one in window order decides the sign).
#include <random>
#include <utility>

#include "autolevel_support.h"

namespace orbimg::test {
namespace {

// A setter (Do with the method's number) and, after it, the getter.
struct Pass {
    const char* name;
    int method, perPlane;
    double low, high;
    bool window;

    friend void PrintTo(const Pass& p, std::ostream* os) { *os << p.name; }
};

const Pass kPasses[] = {
    {"NormalLuminance", 0, 0, 0.01, 0.995, false}, {"NormalPlanesWindow", 0, 1, 0.02, 0.9, true},
    {"MeanLuminance", 1, 0, 2.0, 5.0, false},      {"MeanPlanes", 1, 1, 1.5, 3.0, false},
    {"MedianLuminance", 2, 0, 2.0, 5.0, false},    {"MedianPlanesWindow", 2, 1, 1.0, 4.0, true},
};

CImgAutoLevel Samples(int planes)
{
    CImgAutoLevel img = MakeAuto(97, 300, planes);
    std::mt19937 rng(11);
    Fill(img, [&](int x, int y, int) {
        if ((x * 7 + y) % 101 == 0) {
            return kNaN;
        }
        if (x == 40 && (y == 100 || y == 160)) {
            return y == 100 ? -0.0f : 0.0f;
        }
        return Spread(rng, -10, 20);
    });
    for (int p = 0; p < planes; ++p) {
        img.SetLevel(p, 10.0 * (p + 1), 5000.0 + p);
    }
    return img;
}

using AutoLevelParallel = SwapSizeReset<Pass>;

TEST_P(AutoLevelParallel, SameLevelsAsTheSerialLoop)
{
    for (const int planes : {1, 3}) {
        const CImgAutoLevel source = Samples(planes);
        const Pass& pass = GetParam();
        CImgAutoLevel result[2] = {source, source};
        std::pair<double, double> got[2];
        for (const int serial : {0, 1}) {
            CVmManager::SetCurrentSwapSize(serial);
            CRect window(3, 20, 90, 280);
            result[serial].Do(pass.low, pass.high, pass.method, pass.perPlane, pass.window ? &window : nullptr);
            got[serial] = Get(result[serial], pass.method, pass.window ? &window : nullptr);
        }
        EXPECT_TRUE(SameBits(LevelList(result[0]), LevelList(result[1]))) << planes << " planes";
        EXPECT_TRUE(SameBits(got[0].first, got[1].first) && SameBits(got[0].second, got[1].second)) << planes;
        EXPECT_NE(result[0].GetLevelMax(0), source.GetLevelMax(0)) << "nothing measured";
    }
}

INSTANTIATE_TEST_SUITE_P(Passes, AutoLevelParallel, ::testing::ValuesIn(kPasses),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orbimg::test
