// Ordered sums in every build of the kernels and on every core, of rows in
// memory and of rows made on demand, against the plain loop `sum += term`,
// on terms chosen so that any other order or rounding shows in the last
// bit: values over 40 binades, terms half way between two steps of the
// running sum, sums that cross binades both ways, NaN and infinities.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/orderedsum.h"
#include "platform/simd.h"
#include "support/testsupport.h"

namespace orbimg::test {
namespace {

using platform::OrderedSum;
using platform::SumTerms;

constexpr int kRows = 96;
constexpr int kWidth = 257;

struct Case {
    std::string name;
    SumTerms terms;
    std::function<float(std::mt19937&, int row, int column)> value;

    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

const Case kCases[] = {
    {"Magnitudes", {}, [](std::mt19937& rng, int, int c) { return c % 97 == 5 ? kNaN : Spread(rng, -20, 20); }},
    // A first term of 2^30, then 1 + 2^-23, half way between two steps of
    // the running sum (ties to even, so the parity of the sum decides), and
    // 1 + 2^-22, which changes that parity; plain 1.0 rows between.
    {"HalfWay",
     {},
     [](std::mt19937&, int r, int c) {
         if (r == 0 && c == 0) {
             return 0x1p30f;
         }
         return r % 3 == 1 ? 1.0f : (c % 3 == 0 ? 1.0f + 0x1p-22f : 1.0f + 0x1p-23f);
     }},
    {"SignsAndBinades",
     {},
     [](std::mt19937& rng, int r, int) {
         const float v = Spread(rng, 0, 12);
         return (r / 8) % 2 == 0 ? v : -1.01f * v;
     }},
    // Every row leaves the binade of the running sum (2^20) and comes back;
    // the small terms are (8k + 3) 2^-35, 3/8 of a step of the sum between.
    {"LeavesTheBinade",
     {},
     [](std::mt19937& rng, int r, int c) {
         if (r == 0 && c == 0) {
             return 0x1.2p20f;
         }
         const float small = std::ldexp(static_cast<float>(8 * (rng() % (1 << 20) + (1 << 18)) + 3), -35);
         return c == 5 || c == 6 ? -0x1p17f : (c == 9 || c == 10 ? 0x1p17f : small);
     }},
    {"SquaresAboutCenter",
     {1000.3, true, true},
     [](std::mt19937& rng, int, int c) { return c == 100 ? kNaN : 1000.0f + Spread(rng, -12, 4); }},
    {"NaNReachesTheSum",
     {0.0, true, false},
     [](std::mt19937& rng, int r, int c) { return r == 50 && c == 7 ? kNaN : Spread(rng, -3, 3); }},
    {"Infinities",
     {},
     [](std::mt19937& rng, int r, int c) {
         return c == 3 && r == 40 ? kInf : (c == 3 && r == 70 ? -kInf : Spread(rng, 0, 3));
     }},
};

using OrderedSumTest = SwapSizeReset<Case>;

TEST_P(OrderedSumTest, SameBitsAsThePlainLoop)
{
    // The rows, and the plain loop over them.
    const SumTerms& t = GetParam().terms;
    std::mt19937 rng(7);
    std::vector<std::vector<float>> rows(kRows, std::vector<float>(kWidth));
    std::vector<const float*> pointers;
    double expected = 0.0;
    long long count = 0;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kWidth; ++c) {
            rows[r][c] = GetParam().value(rng, r, c);
            const double x = static_cast<double>(rows[r][c]);
            const bool skip = t.skipNaN && x != x;
            expected += skip ? 0.0 : (t.squares ? (x - t.center) * (x - t.center) : x);
            count += skip ? 0 : 1;
        }
        pointers.push_back(rows[r].data());
    }
    pointers.insert(pointers.begin() + 30, nullptr);  // a row that does not exist adds nothing
    for (const std::int64_t target : simd::Targets()) {
        const simd::ForceTarget force(target);
        for (const long long swap : {0, 1 << 20}) {
            for (const bool costly : {false, true}) {  // rows also reduced on the next binade
                CVmManager::SetCurrentSwapSize(swap);
                OrderedSum sum(t);
                sum.AddRows(pointers.data(), 40, kWidth);  // in two calls, the second of rows made on demand
                sum.AddRows(
                    [&](int r, float* out) -> const float* {
                        const float* row = pointers[static_cast<std::size_t>(40 + r)];
                        return row ? std::copy(row, row + kWidth, out) - kWidth : nullptr;
                    },
                    kRows + 1 - 40, kWidth, costly);
                EXPECT_TRUE(SameBits(sum.Value(), expected))
                    << simd::TargetName(target) << (swap ? " serial " : " parallel ") << (costly ? "costly " : "")
                    << sum.Value() << " != " << expected;
                EXPECT_EQ(sum.Count(), count);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Terms, OrderedSumTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orbimg::test
