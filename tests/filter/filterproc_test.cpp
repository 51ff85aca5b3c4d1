// CFilterProc: values against plain reference loops, edges, order
// independence, building, copies, locks and concurrent use.
#include <algorithm>
#include <climits>
#include <cmath>
#include <thread>

#include "filtertest.h"
#include "support/eachtarget.h"

using namespace orbimg::test;

namespace {

/// A matrix whose middle row is `row` (other rows 0).
CFilterMatrix RowMatrix(const std::vector<float>& row)
{
    CFilterMatrix m;
    const int size = static_cast<int>(row.size());
    m.Create(size / 2, 0);
    std::fill_n(m.GetCoef(), m.GetCount(), 0.0f);
    std::copy(row.begin(), row.end(), m.GetCoef() + size * (size / 2));
    return m;
}

/// A random mono image, a Gaussian of radius r and a processor over them.
struct Gauss {
    CKelImage img;
    CFilterMatrix m;
    CFilterProc proc;
    Gauss(int width, int height, int r, double sigma, std::uint32_t seed) : img(MakeImage(width, height))
    {
        FillRandom(img, 0, seed);
        m.MakeGaussian(r, sigma);
        proc.MakeBuf(&img, &m, 0, 1);
    }
    float Ref(int x, int y) const { return RefValue(img, 0, RefKernel(m, true), x, y); }
};

/// Every value of a processor, row-major, asked for in row-major order.
std::vector<float> ProcPlane(CFilterProc& proc, int width, int height)
{
    std::vector<float> out;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            out.push_back(proc.Calc(x, y));
        }
    }
    return out;
}

}  // namespace

using FilterProc = FilterTest;

TEST_F(FilterProc, EdgesClampColumnsMirrorRowsAndSmallImagesStayInside)
{
    // Kernel (1, 10, 100) unnormalised: each tap's sample shows in its own
    // digit; a zero-sum kernel is not normalised even when asked to be.
    CKelImage img = MakeImage(4, 3);
    Fill(img, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const std::pair<std::vector<float>, int> cases[] = {{{1, 10, 100}, 0}, {{1, -2, 1}, 1}};
    for (const auto& [row, normalise] : cases) {
        CFilterMatrix m = RowMatrix(row);
        CFilterProc proc;
        ASSERT_EQ(proc.MakeBuf(&img, &m, 0, normalise), 1);
        EXPECT_TRUE(SameBits(ProcPlane(proc, 4, 3), RefPlane(img, 0, row))) << "4 x 3";
    }
    // Fewer rows (and columns) than the radius: rows mirror as often as
    // needed, columns clamp; nothing is read outside (sanitizers watch).
    for (int height : {1, 2, 3, 4}) {
        for (int width : {1, 2, 5}) {
            for (int r : {3, 5}) {
                Gauss g(width, height, r, 0.7 * r, static_cast<std::uint32_t>(height * 100 + width * 10 + r));
                EXPECT_TRUE(SameBits(ProcPlane(g.proc, width, height), RefPlane(g.img, 0, RefKernel(g.m, true))))
                    << "small";
                for (int y : {-1000, -7, height + 6, 1000}) {
                    EXPECT_TRUE(SameBits(g.proc.Calc(0, y), g.Ref(0, y))) << y;
                }
            }
        }
    }
}

using FilterProcEachTarget = EachTargetOf<FilterTest>;
ORBIMG_EACH_TARGET(FilterProcEachTarget);

TEST_P(FilterProcEachTarget, WideRowsMatchThePlainLoopBitForBit)
{
    // Widths around the vector and block sizes, a long uneven kernel and
    // samples over many magnitudes: any reordering of the sums would show.
    for (int width : {17, 1023, 1024, 1025, 2100}) {
        CKelImage img = MakeImage(width, 9, 2);
        FillRandom(img, 1, static_cast<std::uint32_t>(width));
        CFilterMatrix m;
        m.MakeGaussian(29, 10.0);
        m.GetCoef()[29 * 59 + 3] = -0.25f;
        CFilterProc proc(&img, &m, 1);
        const std::vector<float> k = RefKernel(m, true);
        std::vector<float> rows(static_cast<std::size_t>(width) * 9);
        ASSERT_EQ(proc.CalcRows(0, 0, width, 9, rows.data()), 1);  // 4 + 4 + 1 rows
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < width; x += (x < 40 || x > width - 40) ? 1 : 7) {
                const float ref = RefValue(img, 1, k, x, y);
                ASSERT_TRUE(SameBits(proc.Calc(x, y), ref)) << width << " " << x << "," << y;
                ASSERT_TRUE(SameBits(rows[static_cast<std::size_t>(y * width + x)], ref)) << width << " " << x;
            }
        }
    }
}

TEST_F(FilterProc, RowsAtOnceEqualCalc)
{
    // Every kernel path (one tap, three taps, longer), column spans that
    // overhang the image, row spans across both edges, any number of rows.
    for (int r : {0, 1, 2, 4}) {
        Gauss rows(23, 10, r, 1.1, 31);
        CFilterProc single(&rows.img, &rows.m, 0);
        for (int y : {-6, -1, 0, 3, 8, 12}) {
            for (int n : {1, 2, 3, 4, 5, 9}) {
                for (int x : {-3, 0, 5}) {
                    std::vector<float> out(static_cast<std::size_t>(21 * n), -1.0f);
                    ASSERT_EQ(rows.proc.CalcRows(x, y, 21, n, out.data()), 1);
                    for (int i = 0; i < 21 * n; ++i) {
                        ASSERT_TRUE(SameBits(out[static_cast<std::size_t>(i)], single.Calc(x + i % 21, y + i / 21)))
                            << "r " << r << " at " << x + i % 21 << "," << y + i / 21;
                    }
                }
            }
        }
    }
}

TEST_F(FilterProc, ValuesDoNotDependOnTheOrderOfRequests)
{
    // Jumps up and down of every length around r and 2r + 1 from two start
    // rows, then a random walk: always the reference value.
    for (int r : {1, 3}) {
        Gauss g(11, 60, r, 1.3, 7);
        const int size = 2 * r + 1;
        for (int start : {2, 30}) {
            for (int jump = -2 * size - 2; jump <= 2 * size + 2; ++jump) {
                g.proc.Calc(5, start);
                for (int x = 0; x < 11; ++x) {
                    ASSERT_TRUE(SameBits(g.proc.Calc(x, start + jump), g.Ref(x, start + jump)))
                        << r << " from " << start << " by " << jump;
                }
            }
        }
        std::uint32_t s = 99;
        for (int i = 0; i < 500; ++i) {
            s = s * 1664525u + 1013904223u;
            const int y = static_cast<int>((s >> 8) % 70) - 5;
            const int x = static_cast<int>((s >> 20) % 11);
            ASSERT_TRUE(SameBits(g.proc.Calc(x, y), g.Ref(x, y))) << "step " << i;
        }
    }
}

TEST_F(FilterProc, ArgumentsOutsideRebuildCopyAndRefusals)
{
    CFilterProc empty;
    float row[4] = {9, 9, 9, 9};
    EXPECT_EQ(empty.Calc(1, 1), 0.0f);
    EXPECT_EQ(empty.CalcRows(0, 1, 4, 1, row), 0);
    EXPECT_EQ(row[0] + row[3], 0.0f);

    Gauss g(8, 7, 2, 1.0, 5);
    for (int x : {-1, 8, INT_MIN, INT_MAX}) {
        EXPECT_EQ(g.proc.Calc(x, 2), 0.0f) << x;
    }
    for (int y : {INT_MIN, INT_MIN + 1, -1, INT_MAX - 1, INT_MAX}) {
        EXPECT_TRUE(SameBits(g.proc.Calc(3, y), g.Ref(3, y))) << y;
    }
    EXPECT_EQ(g.proc.CalcRows(INT_MAX - 1, 3, 4, 1, row), 1);
    EXPECT_EQ(row[0] + row[1] + row[2] + row[3], 0.0f);
    // Rebuilt with another radius and width after use.
    CFilterProc& proc = g.proc;
    EXPECT_TRUE(SameBits(proc.Calc(3, 3), g.Ref(3, 3)));
    Gauss other(8, 7, 2, 1.0, 6);
    Gauss narrow(3, 7, 3, 2.0, 8);
    ASSERT_EQ(proc.MakeBuf(&narrow.img, &narrow.m, 0, 1), 1);
    EXPECT_TRUE(SameBits(ProcPlane(proc, 3, 7), RefPlane(narrow.img, 0, RefKernel(narrow.m, true)))) << "rebuilt";

    // Copies start empty and leave the source as it was.
    CFilterProc copy(proc);
    EXPECT_EQ(copy.Calc(1, 1), 0.0f);
    other.proc = proc;
    EXPECT_TRUE(other.proc.IsEmpty());
    EXPECT_TRUE(SameBits(proc.Calc(1, 1), narrow.Ref(1, 1)));
    proc.Empty();
    EXPECT_EQ(proc.Calc(1, 1), 0.0f);

    // What cannot be built is refused and leaves the processor empty.
    CFilterMatrix none;
    CKelImage blank;
    proc.MakeBuf(&g.img, &g.m, 0, 1);
    EXPECT_EQ(proc.MakeBuf(&g.img, &none, 0, 1), 0);
    EXPECT_TRUE(proc.IsEmpty());
    EXPECT_EQ(proc.MakeBuf(nullptr, &g.m, 0, 1), 0);
    EXPECT_EQ(proc.MakeBuf(&g.img, nullptr, 0, 1), 0);
    EXPECT_EQ(proc.MakeBuf(&g.img, &g.m, 1, 1), 0);  // a mono image has plane 0 only
    EXPECT_EQ(proc.MakeBuf(&blank, &g.m, 0, 1), 0);
    EXPECT_TRUE(proc.IsEmpty());
}

TEST_F(FilterProc, LocksReleasedAndChangedImages)
{
    // Rows are locked while filtered and released by their handles: the
    // host's own lock survives, and nothing stays locked.
    Gauss g(20, 16, 3, 1.0, 9);
    void* handle = nullptr;
    ASSERT_NE(g.img.GetImageAdr(0, 0, 0, 3u, &handle), nullptr);
    float row[20 * 5];
    g.proc.CalcRows(0, 4, 20, 5, row);
    for (int y = 0; y < 16; ++y) {
        g.proc.Calc(4, 15 - y);
    }
    EXPECT_EQ(g.img.GetVmImage()->GetLockCount(), 1);
    g.img.Unlock(handle);
    EXPECT_EQ(g.img.GetVmImage()->GetLockCount(), 0);

    // The image shrinks after the build: rows and columns past its new size
    // are not there to read; it grows: zeroed samples.
    ASSERT_EQ(g.img.ChangeSize(5, 3), 1);
    FillRandom(g.img, 0, 10);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 20; ++x) {
            EXPECT_TRUE(std::isfinite(g.proc.Calc(x, y)));
        }
    }
    EXPECT_TRUE(SameBits(g.proc.Calc(2, 1), g.Ref(2, 1)));
    ASSERT_EQ(g.img.ChangeSize(40, 30), 1);
    EXPECT_EQ(g.proc.Calc(19, 29), 0.0f);
}

TEST_F(FilterProc, ConcurrentThreadsGiveTheSingleThreadValues)
{
    Gauss g(37, 41, 4, 1.7, 12);
    CFilterProc single(&g.img, &g.m, 0);
    const std::vector<float> expected = ProcPlane(single, 37, 41);

    // Four threads on one processor, each walking the rows its own way:
    // down, up, several rows at a time, scattered.
    constexpr int kThreads = 4;
    std::vector<std::vector<float>> got(kThreads, std::vector<float>(expected.size()));
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&g, &got, t] {
            std::vector<float>& out = got[static_cast<std::size_t>(t)];
            for (int pass = 0; pass < 3; ++pass) {
                for (int i = 0; i < 41; ++i) {
                    const int y = t == 0 ? i : (t == 1 ? 40 - i : (t == 2 ? i : (i * 17) % 41));
                    if (t == 2) {
                        g.proc.CalcRows(0, y, 37, std::min(3, 41 - y), out.data() + y * 37);
                        continue;
                    }
                    for (int x = 0; x < 37; ++x) {
                        out[static_cast<std::size_t>(y * 37 + x)] = g.proc.Calc(x, y);
                    }
                }
            }
        });
    }
    threads.clear();  // joins them
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_TRUE(SameBits(got[static_cast<std::size_t>(t)], expected)) << "thread";
    }
}
