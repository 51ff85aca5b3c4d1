// The build keeps every floating-point rounding the code asks for.
#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Pair {
    double lo;
    double hi;
};

// Two float roundings side by side: g++ 12's straight-line vectorizer pairs
// them and drops the rounding unless it is turned off for the build; clang's
// keeps it (14 and 19), so it stays on there. The tests are compiled with the
// library's exactness flags, so this checks them on the compiler in use.
__attribute__((noinline)) Pair RoundedPair(double lo, double hi, double c)
{
    return Pair{static_cast<float>(lo) - c, static_cast<float>(hi) - c};
}

// a * b + c must not be fused into one rounding.
__attribute__((noinline)) double MultiplyAdd(double a, double b, double c) { return a * b + c; }

}  // namespace

TEST(Compiler, KeepsFloatRoundingsAndDoesNotFuse)
{
    volatile double lo = 996.598747103822;
    volatile double hi = 15112.46;
    const Pair p = RoundedPair(lo, hi, 950.0);
    EXPECT_EQ(p.lo, static_cast<double>(static_cast<float>(996.598747103822)) - 950.0);
    EXPECT_EQ(p.hi, static_cast<double>(static_cast<float>(15112.46)) - 950.0);

    // 1 + 2^-30 squared minus (1 + 2^-29): 2^-60 when fused, 0 when rounded twice.
    volatile double a = 1.0 + 0x1p-30;
    EXPECT_EQ(MultiplyAdd(a, a, -(1.0 + 0x1p-29)), 0.0);
}
