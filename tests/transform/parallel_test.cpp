// The transforms on every core against the serial loop (swap size set), in
// place against a separate source, on a fresh object against the result after
// a copy of the source, the sources they refuse, and the points reset by a new
// size.
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "transformtest.h"

namespace orbimg::test {
namespace {

template <class Op>
using Body = std::function<void(Op& op, CKelImage* src)>;

// Wraps an operation class so that the table can hold every class alike:
// the object is made (a copy of `prepared`), run and returned as a CKelImage.
struct Operation {
    std::string name;
    std::function<CKelImage(const CKelImage* prepared, CKelImage* src, bool self)> apply;
    bool takesSource = true;  // a fresh object takes the source's size
    bool mustCover = false;   // the source must have the object's size and planes
};

template <class Op>
Operation Make(const std::string& name, Body<Op> body)
{
    return {name,
            [body](const CKelImage* prepared, CKelImage* src, bool self) {
                Op op;
                if (prepared) {
                    op = *prepared;
                }
                body(op, self ? &op : src);
                EXPECT_EQ(Locks(op), 0);
                EXPECT_TRUE(!src || Locks(*src) == 0);
                return CKelImage(op);
            },
            !std::is_same_v<Op, CImgResize>, std::is_same_v<Op, CImgFlip> || std::is_same_v<Op, CImgBright>};
}

const Operation kOperations[] = {
    Make<CImgResolution>("BilinearHalf", [](auto& op, auto* src) { op.Bilinear(src, 31, 24, 0); }),
    Make<CImgResolution>("BilinearUp", [](auto& op, auto* src) { op.Bilinear(src, 97, 71, 0); }),
    Make<CImgResolution>("BicubicHalf", [](auto& op, auto* src) { op.Bicubic(src, 31, 24, 0); }),
    Make<CImgResolution>("BicubicUp", [](auto& op, auto* src) { op.Bicubic(src, 97, 71, 0); }),
    Make<CImgSoftBinning>("Bin2x2", [](auto& op, auto* src) { op.Do(2, 2, 0, 1, src, 0); }),
    Make<CImgSoftBinning>("Bin3x2Up", [](auto& op, auto* src) { op.Do(3, 2, 1, 0, src, 0); }),
    Make<CImgFlip>("FlipRows", [](auto& op, auto* src) { op.Do(0, src, 0); }),
    Make<CImgFlip>("FlipColumns", [](auto& op, auto* src) { op.Do(1, src, 0); }),
    Make<CImgResize>("Resize",
                     [](auto& op, auto* src) {
                         float fill[3] = {10.0f, 20.0f, 30.0f};
                         op.Do(70, 40, 4, fill, src, 0);
                     }),
    Make<CImgBright>("Bright", [](auto& op, auto* src) { op.Do(12.0, 40.0, 100.0, src, nullptr, 0); }),
    Make<CImgBright>("BrightWindow",
                     [](auto& op, auto* src) {
                         CRect window(5, 7, 50, 40);
                         op.Do(-8.0, 25.0, 60.0, src, &window, 0);
                     }),
};

// An odd width and an even height (an in-place flip swaps the middle pair),
// NaN, infinities and signed zeros; levels that make Bright's scale
// non-trivial; standard points that a copy carries.
CKelImage Source()
{
    CKelImage src = RandomImage(63, 48, 3, 77, true);
    src.SetLevel(0, 480.0, 1530.0);
    src.SetLevel(2, 5.0, 60.0);
    src.SetStdCtr(4.0, 5.0);
    return src;
}

using TransformParallel = SwapSizeReset<Operation>;

// The same bits with the row bands on every core and with the serial loop
// (part of the store swapped out), from a separate source and in place.
TEST_P(TransformParallel, SameBitsSerialAndInPlace)
{
    const CKelImage prepared = Source();
    CKelImage src = prepared;
    const CKelImage parallel = GetParam().apply(&prepared, &src, false);
    EXPECT_FALSE(SameImage(parallel, prepared)) << "the operation changed nothing";
    for (const long long swap : {0LL, 1LL << 20}) {
        CVmManager::SetCurrentSwapSize(swap);
        for (const bool self : {false, true}) {
            EXPECT_TRUE(SameImage(GetParam().apply(&prepared, &src, self), parallel))
                << (self ? "in place" : "from a source") << (swap ? ", serial" : ", parallel");
        }
    }
}

// An empty object, one of another size, and one holding a resampling's or
// binning's result from another frame (its store is reused) take the
// source's size, planes, levels and points: the result is the one after a
// copy of the source. (A flip or brightness object of the source's size is
// taken as that copy already.)
TEST_P(TransformParallel, FreshObjectMatchesACopyFirst)
{
    CKelImage src = Source();
    const CKelImage copied = GetParam().apply(&src, &src, false);
    const CKelImage smaller = RandomImage(20, 11, 1, 5);
    if (!GetParam().takesSource) {
        return;  // a canvas keeps the object's planes and levels
    }
    CKelImage other = RandomImage(63, 47, 3, 9, true);
    const CKelImage previous = GetParam().apply(nullptr, &other, false);
    const char* names[] = {"empty object", "smaller object", "object holding a previous result"};
    int i = 0;
    const bool resized = previous.GetWidth() != src.GetWidth() || previous.GetHeight() != src.GetHeight();
    for (const CKelImage* prepared :
         {static_cast<const CKelImage*>(nullptr), &smaller, resized ? &previous : nullptr}) {
        const CKelImage fresh = GetParam().apply(prepared, &src, false);
        EXPECT_TRUE(SameImage(fresh, copied)) << names[i++];
        EXPECT_EQ(LevelList(fresh), LevelList(copied));
        EXPECT_EQ(fresh.GetStdCtr().x, copied.GetStdCtr().x);
    }
}

// Refused before anything changes (samples and points as they were): no
// source, one without float samples and, where the source must cover the
// object, one narrower, lower or with fewer planes.
TEST_P(TransformParallel, RefusedSourcesChangeNothing)
{
    const CKelImage prepared = Source();
    CKelImage bytes(63, 48, 3, 8, 1.0, 0.0, 0);
    CKelImage narrow = RandomImage(62, 48, 3, 1);
    CKelImage low = RandomImage(63, 47, 3, 2);
    CKelImage mono = RandomImage(63, 48, 1, 3);
    std::vector<CKelImage*> refused = {nullptr, &bytes};
    if (GetParam().mustCover) {
        refused.insert(refused.end(), {&narrow, &low, &mono});
    }
    for (CKelImage* src : refused) {
        const CKelImage out = GetParam().apply(&prepared, src, false);
        EXPECT_TRUE(SameImage(out, prepared));
        EXPECT_EQ(out.GetStdCtr().x, 4.0);
    }
}

// An operation that sets a new size, run (op, source, fails) on an object
// holding `src` whose points are set: with fails, the size is below 1 and
// ChangeSize fails after the points are reset (the samples stay); else it
// succeeds and resets them too. Levels stay either way; no row stays locked.
template <class Op, class Run>
void Resets(const CKelImage& src, const Run& run)
{
    for (const bool fails : {true, false}) {
        Op op;
        op = src;
        op.SetStdCtr(3.0, 4.0);
        CKelImage source = src;
        EXPECT_EQ(run(op, &source, fails), fails ? 0 : 1);
        EXPECT_EQ(std::pair(op.GetStdCtr().x, op.GetStdCtr().y), std::pair(-1.0, -1.0));
        EXPECT_EQ(op.GetLevelMax(1), 20.0);
        EXPECT_TRUE(!fails || SameImage(op, src));
        EXPECT_EQ(Locks(op), 0);
    }
}

TEST(Transforms, NewSizesResetThePoints)
{
    CKelImage src = RandomImage(6, 5, 3, 8);
    src.SetLevel(1, 10.0, 20.0);
    Resets<CImgResolution>(src, [](auto& op, auto* s, bool fails) { return op.Bilinear(s, fails ? 0 : 5, 9, 0); });
    Resets<CImgResolution>(src, [](auto& op, auto* s, bool fails) { return op.Bicubic(s, 7, fails ? 0 : 4, 0); });
    Resets<CImgResolution>(src, [](auto& op, auto* s, bool fails) { return op.Do(s, fails ? -3 : 5, 9, 1); });
    // 6 / 8 columns, not rounded up: none.
    Resets<CImgSoftBinning>(src, [](auto& op, auto* s, bool fails) { return op.Do(fails ? 8 : 2, 2, 0, 0, s, 0); });
    Resets<CImgResize>(src, [](auto& op, auto* s, bool fails) { return op.Do(fails ? 0 : 5, 5, 0, nullptr, s, 1); });
    Resets<CImgResize>(src, [](auto& op, auto* s, bool fails) { return op.Do(5, fails ? -2 : 5, 0, nullptr, s, 0); });
    // An empty object and source: nothing to resample.
    for (const bool bicubic : {false, true}) {
        CImgResolution empty;
        CKelImage none;
        EXPECT_EQ(bicubic ? empty.Bicubic(&none, 3, 3, 0) : empty.Bilinear(&none, 3, 3, 0), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Transforms, TransformParallel, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) { return info.param.name; });

}  // namespace
}  // namespace orbimg::test
