// CImgEvaluateFocus: the figure against a numpy reference and against a
// straightforward pixel-by-pixel evaluation, windows, settings and reuse of
// the filter slots.
#include <cmath>

#include "filtertest.h"
#include "support/eachtarget.h"

using namespace orbimg::test;

namespace {

/// The 64 x 48 colour frame of tests/reference/focus_reference.py.
CImgEvaluateFocus FocusFrame()
{
    CImgEvaluateFocus img;
    img = MakeImage(64, 48, 3);
    struct Star {
        int x, y, peak;
    };
    const Star stars[] = {{20, 15, 4000}, {41, 30, 2500}, {9, 38, 6000}};
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p, &stars](int x, int y) {
            int v = 1000 + 40 * p + (x * 37 + y * 91 + p * 53 + (x * y) % 11) % 101;
            for (const Star& s : stars) {
                const int dx = std::abs(x - s.x);
                const int dy = std::abs(y - s.y);
                if (dx <= 1 && dy <= 1) {
                    v += dx + dy == 0 ? s.peak : (dx + dy == 1 ? s.peak * 3 / 8 : s.peak * 3 / 20);
                }
            }
            return static_cast<float>(v);
        });
    }
    return img;
}

/// The figure the plain way, on a copy of `src`: build the two slots, then
/// CalcFilterProcEx pixel by pixel, squares summed in double.
double StraightFocus(const CKelImage& src, const CRect* rect)
{
    CKelImage img(src);
    int a = 1;
    int b = 10;
    CRegistry::Read(L"Eval", L"Min", 1, &a, 1);
    CRegistry::Read(L"Eval", L"Max", 10, &b, 1);
    const int w = img.GetWidth();
    const int h = img.GetHeight();
    const int e = std::max(b, 0);  // a negative border counts as 0
    int left = e, top = e, right = w - e, bottom = h - e;
    if (rect) {
        left = std::max(rect->left + e, e);
        top = std::max(rect->top + e, e);
        right = std::min(rect->right - e, w - e);
        bottom = std::min(rect->bottom - e, h - e);
    }
    for (int p = 0; p < img.GetPlanes(); ++p) {
        CFilterMatrix narrow;
        narrow.MakeGaussian(static_cast<int>(std::max(1.0, a * 2.8 + 1.0)), a);
        img.MakeFilterProcEx(0, &img, &narrow, p, 1);
        CFilterMatrix wide;
        wide.MakeGaussian(static_cast<int>(std::max(1.0, b * 2.8 + 1.0)), b);
        img.MakeFilterProcEx(1, &img, &wide, p, 1);
    }
    double sum = 0.0;
    double count = 0.0;
    for (int p = 0; p < img.GetPlanes(); ++p) {
        img.SetFilterProcPlnEx(0, p);
        img.SetFilterProcPlnEx(1, p);
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                const float n = img.CalcFilterProcEx(0, x, y);
                const float wv = img.CalcFilterProcEx(1, x, y);
                const float d = std::fabs(n - wv);
                sum += static_cast<double>(d) * static_cast<double>(d);
                count += 1.0;
            }
        }
    }
    return count != 0.0 ? sum / count : 0.0;
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

TEST_F(Focus, MatchesTheNumpyReference)
{
    // Defaults (sigma 1 and 10, radii 3 and 29), then 2 and 3 on the whole
    // frame and a window, then sigma 0: the narrow filter is the identity.
    const std::vector<double> ref = ReadNumbers("focus_reference.txt");
    ASSERT_EQ(ref.size(), 29u);
    CRect window(5, 4, 50, 30);
    const struct {
        int min, max;
        CRect* rect;
    } cases[] = {{1, 10, nullptr}, {2, 3, nullptr}, {2, 3, &window}, {0, 3, nullptr}};
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {  // the first with nothing in the settings store
            SetEval(cases[i].min, cases[i].max);
        }
        CImgEvaluateFocus img = FocusFrame();
        EXPECT_TRUE(SameBits(img.Do(cases[i].rect, 0), ref[25 + i]))
            << img.Do(cases[i].rect, 0) << " vs " << ref[25 + i];
    }
}

using FocusEachTarget = EachTargetOf<Focus>;
ORBIMG_EACH_TARGET(FocusEachTarget);

TEST_P(FocusEachTarget, EqualsThePixelByPixelEvaluation)
{
    CImgEvaluateFocus colour;
    colour = MakeImage(53, 41, 3);
    for (int p = 0; p < 3; ++p) {
        FillRandom(colour, p, static_cast<std::uint32_t>(30 + p));
    }
    CImgEvaluateFocus mono;
    mono = MakeImage(47, 33, 1);
    FillRandom(mono, 0, 40);

    for (const auto& [a, b] : {std::pair{1, 10}, std::pair{2, 4}, std::pair{-1, 2}, std::pair{3, -2}}) {
        SetEval(a, b);
        for (CImgEvaluateFocus* img : {&colour, &mono}) {
            img->ClearFilterProc();
            CRect rects[] = {CRect(3, 2, 40, 30), CRect(-5, -5, 100, 100), CRect(10, 11, 12, 13)};
            EXPECT_TRUE(SameBits(img->Do(0), StraightFocus(*img, nullptr))) << a << " " << b;
            for (CRect& r : rects) {
                EXPECT_TRUE(SameBits(img->Do(&r, 0), StraightFocus(*img, &r))) << a << " " << b;
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
// pixel-by-pixel figure, on samples over 24 binades, and with a NaN sample
// (which reaches the sum).
TEST_F(Focus, RowBandsMatchTheSerialLoop)
{
    SetEval(1, 3);
    for (const bool nan : {false, true}) {
        CImgEvaluateFocus img;
        img = MakeImage(45, 160, 3);
        std::uint32_t state = 5;
        for (int p = 0; p < 3; ++p) {
            Fill(img, p, [&](int x, int y) {
                state = state * 1664525u + 1013904223u;
                const float v = std::ldexp(1.0f + static_cast<float>(state >> 9) * 0x1p-23f, (state >> 3) % 24);
                return nan && p == 1 && x == 20 && y == 90 ? std::nanf("") : v;
            });
        }
        CVmManager::SetCurrentSwapSize(1);
        const double serial = img.Do(0);
        CVmManager::SetCurrentSwapSize(0);
        const double parallel = img.Do(0);
        EXPECT_TRUE(SameBits(parallel, serial)) << parallel << " vs " << serial;
        EXPECT_TRUE(SameBits(parallel, StraightFocus(img, nullptr)));
        EXPECT_EQ(std::isnan(parallel), nan);
    }
}
