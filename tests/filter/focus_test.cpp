// CImgEvaluateFocus: the figure against a numpy reference on every build of
// the kernels and on every core, windows, settings and reuse of the filter
// slots.
#include <cmath>
#include <tuple>

#include "filtertest.h"
#include "support/eachtarget.h"

using namespace orbimg::test;

namespace {

/// The 64 x 48 colour frame of tests/reference/focus_reference.py (sky and
/// three stars), read from focus_frame.txt.
CImgEvaluateFocus FocusFrame()
{
    static const std::vector<double> samples = ReadNumbers("focus_frame.txt");
    EXPECT_EQ(samples.size(), 64u * 48u * 3u);
    CImgEvaluateFocus img;
    img = MakeImage(64, 48, 3);
    Fill(img, [](int x, int y, int p) { return static_cast<float>(samples.at(((p * 48) + y) * 64 + x)); });
    return img;
}

/// Figure i of tests/reference/focus_reference.txt.
double Reference(std::size_t i)
{
    static const std::vector<double> ref = ReadNumbers("focus_reference.txt");
    return ref.at(i);
}

void SetEval(int min, int max)
{
    CRegistry::Write(L"Eval", L"Min", min);
    CRegistry::Write(L"Eval", L"Max", max);
}

class Focus : public FilterTest {
protected:
    void TearDown() override
    {
        CRegistry::Clear();
        FilterTest::TearDown();
    }
};

}  // namespace

using FocusEachTarget = EachTargetOf<Focus>;
ORBIMG_EACH_TARGET(FocusEachTarget);

// The frame of the reference script with the defaults (sigma 1 and 10,
// radii 3 and 29), then 2 and 3 on the whole frame and a window, then sigma
// 0: the narrow filter is the identity. Random frames, colour and mono, with
// negative settings among them (sigma -1 is the radius; a negative border
// counts as 0), windows clipped, inside, and without a pixel.
TEST_P(FocusEachTarget, MatchesTheNumpyReference)
{
    CRect window(5, 4, 50, 30);
    const std::tuple<int, int, CRect*> cases[] = {{1, 10, nullptr}, {2, 3, nullptr}, {2, 3, &window}, {0, 3, nullptr}};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto [min, max, rect] = cases[i];
        if (i > 0) {  // the first with nothing in the settings store
            SetEval(min, max);
        }
        CImgEvaluateFocus img = FocusFrame();
        EXPECT_TRUE(SameBits(img.Do(rect, 0), Reference(25 + i))) << img.Do(rect, 0);
    }
    CImgEvaluateFocus colour;
    colour = MakeImage(53, 41, 3);
    for (int p = 0; p < 3; ++p) {
        FillRandom(colour, p, static_cast<std::uint32_t>(30 + p));
    }
    CImgEvaluateFocus mono;
    mono = MakeImage(47, 33, 1);
    FillRandom(mono, 0, 40);
    std::size_t k = 29;
    for (const auto& [a, b] : {std::pair{1, 10}, std::pair{2, 4}, std::pair{-1, 2}, std::pair{3, -2}}) {
        SetEval(a, b);
        for (CImgEvaluateFocus* img : {&colour, &mono}) {
            img->ClearFilterProc();
            CRect rects[] = {CRect(3, 2, 40, 30), CRect(-5, -5, 100, 100), CRect(10, 11, 12, 13)};
            EXPECT_TRUE(SameBits(img->Do(0), Reference(k++))) << a << " " << b;
            for (CRect& r : rects) {
                EXPECT_TRUE(SameBits(img->Do(&r, 0), Reference(k++))) << a << " " << b;
            }
        }
    }
}

TEST_F(Focus, WindowsSmallImagesAndReuseOfTheSlots)
{
    CImgEvaluateFocus img = FocusFrame();
    const double whole = img.Do(0);
    // Narrower than 2 x "Max" + 1, or inverted: no pixel, 0.0.
    CRect narrow(10, 0, 30, 48);
    EXPECT_EQ(img.Do(&narrow, 0), 0.0);
    CRect justOne(10, 10, 31, 31);
    EXPECT_GT(img.Do(&justOne, 0), 0.0);
    CRect inverted(50, 40, 5, 5);
    EXPECT_EQ(img.Do(&inverted, 0), 0.0);
    CImgEvaluateFocus small;  // no larger than twice "Max"
    small = MakeImage(20, 60, 1);
    FillRandom(small, 0, 3);
    EXPECT_EQ(small.Do(0), 0.0);
    CImgEvaluateFocus blank;
    EXPECT_EQ(blank.Do(0), 0.0);

    // Changed sigmas do not reach the built filters until the slots are
    // emptied; a fresh object sees them at once, and so does a copy.
    SetEval(3, 10);
    EXPECT_TRUE(SameBits(img.Do(0), whole));
    CImgEvaluateFocus fresh = FocusFrame();
    const double changed = fresh.Do(0);
    EXPECT_FALSE(SameBits(changed, whole));
    CImgEvaluateFocus copy(img);
    EXPECT_TRUE(SameBits(copy.Do(0), changed));
    img.ClearFilterProc();
    EXPECT_TRUE(SameBits(img.Do(0), changed));
}

// Row bands on every core against the serial loop (swap size set) and the
// numpy reference, on samples over 24 binades, and with a NaN sample (which
// reaches the sum).
TEST_F(Focus, RowBandsMatchTheSerialLoop)
{
    SetEval(1, 3);
    for (const bool nan : {false, true}) {
        CImgEvaluateFocus img;
        img = MakeImage(45, 160, 3);
        std::uint32_t state = 5;
        Fill(img, [&](int x, int y, int p) {
            state = state * 1664525u + 1013904223u;
            const float v = std::ldexp(1.0f + static_cast<float>(state >> 9) * 0x1p-23f, (state >> 3) % 24);
            return nan && p == 1 && x == 20 && y == 90 ? std::nanf("") : v;
        });
        CVmManager::SetCurrentSwapSize(1);
        const double serial = img.Do(0);
        CVmManager::SetCurrentSwapSize(0);
        const double parallel = img.Do(0);
        EXPECT_TRUE(SameBits(parallel, serial)) << parallel << " vs " << serial;
        EXPECT_TRUE(nan ? std::isnan(parallel) : SameBits(parallel, Reference(61))) << parallel;
    }
}
