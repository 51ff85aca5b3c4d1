// CFilterProc: values against plain reference loops, edges, order
// independence, building, copies, locks and concurrent use.
#include <algorithm>
#include <climits>
#include <cmath>
#include <thread>

#include "filtertest.h"

using namespace orbimg::test;

namespace {

/// A matrix whose middle row is `row` (other rows 0).
CFilterMatrix RowMatrix(std::initializer_list<float> row)
{
    CFilterMatrix m;
    const int size = static_cast<int>(row.size());
    m.Create(size / 2, 0);
    std::fill_n(m.GetCoef(), m.GetCount(), 0.0f);
    std::copy(row.begin(), row.end(), m.GetCoef() + size * (size / 2));
    return m;
}

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

void ExpectSameBits(const std::vector<float>& a, const std::vector<float>& b, const char* what)
{
    ASSERT_EQ(a.size(), b.size()) << what;
    int bad = 0;
    for (std::size_t i = 0; i < a.size() && bad < 5; ++i) {
        if (!SameBits(a[i], b[i])) {
            ADD_FAILURE() << what << ": value " << i << " is " << a[i] << ", expected " << b[i];
            ++bad;
        }
    }
}

}  // namespace

using FilterProc = FilterTest;

TEST_F(FilterProc, IdentityAndBoxKernels)
{
    CKelImage img = MakeImage(5, 4);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x * x + 7 * y); });
    CFilterMatrix identity;
    identity.MakeGaussian(1, 0.0);
    CFilterProc proc(&img, &identity, 0);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(proc.Calc(x, y), At(img, x, y)) << x << "," << y;
        }
    }

    // All ones: the 3 x 3 sum, or with normalise the weights 1/3.
    CFilterMatrix ones;
    ones.Create(1, 9);
    std::fill_n(ones.GetCoef(), 9, 1.0f);
    CFilterProc sum;
    sum.MakeBuf(&img, &ones, 0, 0);
    float box = 0.0f;
    for (int y = 1; y <= 3; ++y) {
        for (int x = 1; x <= 3; ++x) {
            box += At(img, x, y);
        }
    }
    EXPECT_EQ(sum.Calc(2, 2), box);
    CFilterProc mean;
    mean.MakeBuf(&img, &ones, 0, 1);
    EXPECT_TRUE(SameBits(mean.Calc(2, 2), RefValue(img, 0, {1.0f / 3, 1.0f / 3, 1.0f / 3}, 2, 2)));
    EXPECT_NEAR(mean.Calc(2, 2), box / 9.0f, 1e-4f);
}

TEST_F(FilterProc, EdgesClampColumnsAndMirrorRows)
{
    // Kernel (1, 10, 100) unnormalised: each tap's sample shows in its own digit.
    CKelImage img = MakeImage(4, 3);
    Fill(img, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    CFilterMatrix m = RowMatrix({1, 10, 100});
    CFilterProc proc;
    ASSERT_EQ(proc.MakeBuf(&img, &m, 0, 0), 1);
    // Top-left: sample 0 twice on the left; row 1 stands in for row -1.
    EXPECT_EQ(proc.Calc(0, 0), 655.0f + 10.0f * 211.0f + 100.0f * 655.0f);
    // Top-right: the last sample twice on the right.
    EXPECT_EQ(proc.Calc(3, 0), 887.0f + 10.0f * 443.0f + 100.0f * 887.0f);
    // Bottom-left and bottom-right: row H - 1 is used twice.
    EXPECT_EQ(proc.Calc(0, 2), 655.0f + 10.0f * 1099.0f + 100.0f * 1099.0f);
    EXPECT_EQ(proc.Calc(3, 2), 887.0f + 10.0f * 1331.0f + 100.0f * 1331.0f);
    // Every pixel against the plain loops.
    ExpectSameBits(ProcPlane(proc, 4, 3), RefPlane(img, 0, {1, 10, 100}), "4 x 3");
}

TEST_F(FilterProc, SmallImagesStayInside)
{
    // Fewer rows (and columns) than the radius: rows mirror as often as
    // needed, columns clamp; nothing is read outside (sanitizers watch).
    for (int height : {1, 2, 3, 4}) {
        for (int width : {1, 2, 5}) {
            for (int r : {3, 5}) {
                CKelImage img = MakeImage(width, height);
                FillRandom(img, 0, static_cast<std::uint32_t>(height * 100 + width * 10 + r));
                CFilterMatrix m;
                m.MakeGaussian(r, 0.7 * r);
                CFilterProc proc(&img, &m, 0);
                const std::vector<float> k = RefKernel(m, true);
                ExpectSameBits(ProcPlane(proc, width, height), RefPlane(img, 0, k), "small image");
                for (int y : {-1000, -7, height + 6, 1000}) {
                    EXPECT_TRUE(SameBits(proc.Calc(0, y), RefValue(img, 0, k, 0, y))) << y;
                }
            }
        }
    }
}

TEST_F(FilterProc, ArgumentsOutsideGiveZero)
{
    CKelImage img = MakeImage(6, 5);
    Fill(img, 0, [](int x, int y) { return 1.0f + static_cast<float>(x + y); });
    CFilterMatrix m;
    m.MakeGaussian(2, 1.0);
    CFilterProc empty;
    EXPECT_EQ(empty.Calc(1, 1), 0.0f);
    float row[4] = {9, 9, 9, 9};
    EXPECT_EQ(empty.CalcRows(0, 1, 4, 1, row), 0);
    EXPECT_EQ(row[0] + row[3], 0.0f);

    CFilterProc proc(&img, &m, 0);
    EXPECT_EQ(proc.Calc(-1, 2), 0.0f);
    EXPECT_EQ(proc.Calc(6, 2), 0.0f);
    EXPECT_EQ(proc.Calc(INT_MIN, 2), 0.0f);
    EXPECT_EQ(proc.Calc(INT_MAX, 2), 0.0f);
    const std::vector<float> k = RefKernel(m, true);
    for (int y : {INT_MIN, INT_MIN + 1, -1, INT_MAX - 1, INT_MAX}) {
        EXPECT_TRUE(SameBits(proc.Calc(3, y), RefValue(img, 0, k, 3, y))) << y;
    }
    // A row that overhangs both ends: zeros outside, Calc's values inside.
    float wide[10];
    ASSERT_EQ(proc.CalcRows(-2, 3, 10, 1, wide), 1);
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(SameBits(wide[i], proc.Calc(i - 2, 3))) << i;
    }
    EXPECT_EQ(proc.CalcRows(INT_MAX - 1, 3, 4, 1, row), 1);
    EXPECT_EQ(row[0] + row[1] + row[2] + row[3], 0.0f);
}

TEST_F(FilterProc, WideRowsMatchThePlainLoopBitForBit)
{
    // Widths around the vector and block sizes, a long kernel and samples
    // over many magnitudes: any reordering of the sums would show.
    for (int width : {17, 1023, 1024, 1025, 2100}) {
        CKelImage img = MakeImage(width, 9, 2);
        FillRandom(img, 1, static_cast<std::uint32_t>(width));
        CFilterMatrix m;
        m.MakeGaussian(29, 10.0);
        m.GetCoef()[29 * 59 + 3] = -0.25f;  // uneven kernel
        CFilterProc proc(&img, &m, 1);
        const std::vector<float> k = RefKernel(m, true);
        std::vector<float> rows(static_cast<std::size_t>(width) * 9);
        ASSERT_EQ(proc.CalcRows(0, 0, width, 9, rows.data()), 1);  // 4 + 4 + 1 rows
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < width; x += (x < 40 || x > width - 40) ? 1 : 7) {
                const float ref = RefValue(img, 1, k, x, y);
                ASSERT_TRUE(SameBits(proc.Calc(x, y), ref)) << width << " " << x << "," << y;
                ASSERT_TRUE(SameBits(rows[static_cast<std::size_t>(y * width + x)], ref))
                    << width << " " << x << "," << y;
            }
        }
    }
}

TEST_F(FilterProc, RowsAtOnceEqualCalc)
{
    // Every radius path (one tap, three taps, longer), column spans that
    // overhang the image, row spans across both edges, any number of rows.
    CKelImage img = MakeImage(23, 10);
    FillRandom(img, 0, 31);
    for (int r : {0, 1, 2, 4}) {
        CFilterMatrix m;
        m.MakeGaussian(r, 1.1);
        CFilterProc rows(&img, &m, 0);
        CFilterProc single(&img, &m, 0);
        for (int y : {-6, -1, 0, 3, 8, 12}) {
            for (int n : {1, 2, 3, 4, 5, 9}) {
                for (int x : {-3, 0, 5}) {
                    const int count = 21;
                    std::vector<float> out(static_cast<std::size_t>(count * n), -1.0f);
                    ASSERT_EQ(rows.CalcRows(x, y, count, n, out.data()), 1);
                    for (int j = 0; j < n; ++j) {
                        for (int i = 0; i < count; ++i) {
                            ASSERT_TRUE(SameBits(out[static_cast<std::size_t>(j * count + i)],
                                                 single.Calc(x + i, y + j)))
                                << "r " << r << " at " << x + i << "," << y + j;
                        }
                    }
                }
            }
        }
    }
}

TEST_F(FilterProc, ValuesDoNotDependOnTheOrderOfRequests)
{
    // Jumps up and down of every length around r and 2r + 1 from two start
    // rows, then a random walk: always what a fresh processor gives.
    CKelImage img = MakeImage(11, 60);
    FillRandom(img, 0, 7);
    for (int r : {1, 3}) {
        CFilterMatrix m;
        m.MakeGaussian(r, 1.3);
        const int size = 2 * r + 1;
        const std::vector<float> k = RefKernel(m, true);
        CFilterProc proc(&img, &m, 0);
        for (int start : {2, 30}) {
            for (int jump = -2 * size - 2; jump <= 2 * size + 2; ++jump) {
                const int y = start + jump;
                proc.Calc(5, start);
                CFilterProc fresh(&img, &m, 0);
                for (int x = 0; x < 11; ++x) {
                    const float v = proc.Calc(x, y);
                    ASSERT_TRUE(SameBits(v, fresh.Calc(x, y))) << "r " << r << " from " << start << " by " << jump;
                    ASSERT_TRUE(SameBits(v, RefValue(img, 0, k, x, y))) << "r " << r << " from " << start;
                }
            }
        }
        std::uint32_t s = 99;
        for (int i = 0; i < 500; ++i) {
            s = s * 1664525u + 1013904223u;
            const int y = static_cast<int>((s >> 8) % 70) - 5;
            const int x = static_cast<int>((s >> 20) % 11);
            ASSERT_TRUE(SameBits(proc.Calc(x, y), RefValue(img, 0, k, x, y))) << "step " << i;
        }
    }
}

TEST_F(FilterProc, SlidingDownFiltersOnlyTheNewRows)
{
    // Rows already in the ring are not read again: after the samples change,
    // a repeated row keeps its value and a step down by one takes only the
    // new bottom row from the changed image.
    CKelImage img = MakeImage(6, 12);
    FillRandom(img, 0, 3);
    const CKelImage before(img);
    CFilterMatrix m;
    m.MakeGaussian(1, 1.0);
    const std::vector<float> k = RefKernel(m, true);
    CFilterProc proc(&img, &m, 0);
    for (int y = 0; y <= 5; ++y) {
        proc.Calc(2, y);
    }
    Fill(img, 0, [](int x, int y) { return static_cast<float>(100 * y + x); });
    EXPECT_TRUE(SameBits(proc.Calc(2, 5), RefValue(before, 0, k, 2, 5)));

    CKelImage mixed(before);  // rows 0..6 as before, the rest changed
    for (int y = 7; y < 12; ++y) {
        for (int x = 0; x < 6; ++x) {
            *mixed.GetImageAdr(x, y, 0, 0, nullptr) = At(img, x, y);
        }
    }
    EXPECT_TRUE(SameBits(proc.Calc(2, 6), RefValue(mixed, 0, k, 2, 6)));
    EXPECT_TRUE(SameBits(proc.Calc(4, 6), RefValue(mixed, 0, k, 4, 6)));
    // A step up within the rows the ring still holds reads nothing; one
    // past them refills the whole window from the changed image.
    EXPECT_TRUE(SameBits(proc.Calc(2, 5), RefValue(before, 0, k, 2, 5)));
    EXPECT_TRUE(SameBits(proc.Calc(2, 1), RefValue(img, 0, k, 2, 1)));
    EXPECT_TRUE(SameBits(proc.Calc(2, 2), RefValue(img, 0, k, 2, 2)));
}

TEST_F(FilterProc, NormaliseOnAndOff)
{
    CKelImage img = MakeImage(7, 6);
    FillRandom(img, 0, 11);
    CFilterMatrix m = RowMatrix({0.5f, 2.0f, 3.0f, 1.0f, 0.25f});
    for (int normalise : {0, 1}) {
        CFilterProc proc;
        proc.MakeBuf(&img, &m, 0, normalise);
        ExpectSameBits(ProcPlane(proc, 7, 6), RefPlane(img, 0, RefKernel(m, normalise != 0)), "normalise");
    }
    // A kernel summing to 0 stays as it is with normalise set.
    CFilterMatrix edge = RowMatrix({1.0f, -2.0f, 1.0f});
    CFilterProc on;
    on.MakeBuf(&img, &edge, 0, 1);
    CFilterProc off;
    off.MakeBuf(&img, &edge, 0, 0);
    const std::vector<float> a = ProcPlane(on, 7, 6);
    ExpectSameBits(a, ProcPlane(off, 7, 6), "zero sum");
    ExpectSameBits(a, RefPlane(img, 0, {1.0f, -2.0f, 1.0f}), "zero sum reference");
    for (float v : a) {
        EXPECT_TRUE(std::isfinite(v));
    }
}

TEST_F(FilterProc, BuildEmptyAndRebuild)
{
    CKelImage img = MakeImage(8, 7, 3);
    FillRandom(img, 2, 5);
    CFilterMatrix m;
    m.MakeGaussian(2, 1.0);
    CFilterProc proc;
    EXPECT_TRUE(proc.IsEmpty());
    EXPECT_EQ(proc.GetWidth(), 50);
    ASSERT_EQ(proc.MakeBuf(&img, &m, 2, 1), 1);
    EXPECT_FALSE(proc.IsEmpty());  // built, although no thread has a ring yet
    EXPECT_EQ(proc.GetWidth(), 8);
    EXPECT_EQ(proc.GetRadius(), 2);
    const float v = proc.Calc(3, 3);
    EXPECT_TRUE(SameBits(v, RefValue(img, 2, RefKernel(m, true), 3, 3)));

    // Rebuilt over another image of the same size: rings kept, refilled.
    CKelImage other = MakeImage(8, 7, 3);
    FillRandom(other, 2, 6);
    ASSERT_EQ(proc.MakeBuf(&other, &m, 2, 1), 1);
    EXPECT_TRUE(SameBits(proc.Calc(3, 3), RefValue(other, 2, RefKernel(m, true), 3, 3)));
    // Rebuilt with another radius and width.
    CKelImage narrow = MakeImage(3, 7, 1);
    FillRandom(narrow, 0, 8);
    CFilterMatrix m3;
    m3.MakeGaussian(3, 2.0);
    ASSERT_EQ(proc.MakeBuf(&narrow, &m3, 0, 1), 1);
    ExpectSameBits(ProcPlane(proc, 3, 7), RefPlane(narrow, 0, RefKernel(m3, true)), "rebuilt");

    proc.Empty();
    EXPECT_TRUE(proc.IsEmpty());
    EXPECT_EQ(proc.GetWidth(), 50);
    EXPECT_EQ(proc.GetRadius(), 0);
    EXPECT_EQ(proc.Calc(1, 1), 0.0f);
    proc.MakeBuf(&img, &m, 0, 1);
    proc.Init();
    EXPECT_TRUE(proc.IsEmpty());

    // What cannot be built is refused and leaves the processor empty.
    CFilterMatrix none;
    CKelImage blank;
    EXPECT_EQ(proc.MakeBuf(nullptr, &m, 0, 1), 0);
    EXPECT_EQ(proc.MakeBuf(&img, nullptr, 0, 1), 0);
    EXPECT_EQ(proc.MakeBuf(&img, &none, 0, 1), 0);
    EXPECT_EQ(proc.MakeBuf(&img, &m, 3, 1), 0);
    EXPECT_EQ(proc.MakeBuf(&img, &m, -1, 1), 0);
    EXPECT_EQ(proc.MakeBuf(&blank, &m, 0, 1), 0);
    EXPECT_TRUE(proc.IsEmpty());
    proc.MakeBuf(&img, &m, 0, 1);
    EXPECT_EQ(proc.MakeBuf(&img, &none, 0, 1), 0);
    EXPECT_TRUE(proc.IsEmpty());
}

TEST_F(FilterProc, CopiesStartEmpty)
{
    CKelImage img = MakeImage(5, 5);
    FillRandom(img, 0, 2);
    CFilterMatrix m;
    m.MakeGaussian(1, 1.0);
    CFilterProc proc(&img, &m, 0);
    const float v = proc.Calc(2, 2);
    CFilterProc copy(proc);
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(copy.Calc(2, 2), 0.0f);
    CFilterProc assigned(&img, &m, 0);
    assigned = proc;
    EXPECT_TRUE(assigned.IsEmpty());
    EXPECT_FALSE(proc.IsEmpty());
    EXPECT_TRUE(SameBits(proc.Calc(2, 2), v));
    assigned.MakeBuf(&img, &m, 0, 1);
    EXPECT_TRUE(SameBits(assigned.Calc(2, 2), v));
}

TEST_F(FilterProc, LocksAreReleasedOneByOne)
{
    // Rows are locked while filtered and released by their handles: the
    // host's own lock survives, and nothing stays locked.
    CKelImage img = MakeImage(9, 9);
    FillRandom(img, 0, 4);
    void* handle = nullptr;
    ASSERT_NE(img.GetImageAdr(0, 0, 0, 3u, &handle), nullptr);
    ASSERT_EQ(img.GetVmImage()->GetLockCount(), 1);
    CFilterMatrix m;
    m.MakeGaussian(2, 1.0);
    CFilterProc proc(&img, &m, 0);
    for (int y = 0; y < 9; ++y) {
        float row[9];
        proc.CalcRows(0, y, 9, 1, row);
        proc.Calc(4, 8 - y);
    }
    EXPECT_EQ(img.GetVmImage()->GetLockCount(), 1);
    img.Unlock(handle);
    EXPECT_EQ(img.GetVmImage()->GetLockCount(), 0);
}

TEST_F(FilterProc, ImageChangedAfterBuildIsNeverOverrun)
{
    CKelImage img = MakeImage(20, 16);
    FillRandom(img, 0, 9);
    CFilterMatrix m;
    m.MakeGaussian(3, 1.0);
    CFilterProc proc(&img, &m, 0);
    proc.Calc(10, 8);
    // Smaller: rows and columns past the new size are not there to read.
    ASSERT_EQ(img.ChangeSize(5, 3), 1);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x + 10 * y); });
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 20; ++x) {
            EXPECT_TRUE(std::isfinite(proc.Calc(x, y)));
        }
    }
    EXPECT_TRUE(SameBits(proc.Calc(2, 1), RefValue(img, 0, RefKernel(m, true), 2, 1)));
    ASSERT_EQ(img.ChangeSize(40, 30), 1);
    EXPECT_EQ(proc.Calc(19, 29), 0.0f);  // zeroed samples
}

TEST_F(FilterProc, ConcurrentThreadsGiveTheSingleThreadValues)
{
    CKelImage img = MakeImage(37, 41);
    FillRandom(img, 0, 12);
    CFilterMatrix m;
    m.MakeGaussian(4, 1.7);
    CFilterProc single(&img, &m, 0);
    const std::vector<float> expected = ProcPlane(single, 37, 41);

    CFilterProc shared(&img, &m, 0);
    constexpr int kThreads = 4;
    std::vector<std::vector<float>> got(kThreads, std::vector<float>(expected.size()));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&shared, &got, t] {
            std::vector<float>& out = got[static_cast<std::size_t>(t)];
            for (int pass = 0; pass < 3; ++pass) {
                for (int i = 0; i < 41; ++i) {
                    // Each thread walks the rows in its own order.
                    const int y = (t % 2 == 0) ? i : 40 - i;
                    const int yy = (t == 3) ? (i * 17) % 41 : y;
                    if (t == 2) {
                        const int n = std::min(3, 41 - yy);  // several rows at once
                        shared.CalcRows(0, yy, 37, n, out.data() + yy * 37);
                        continue;
                    }
                    for (int x = 0; x < 37; ++x) {
                        out[static_cast<std::size_t>(yy * 37 + x)] = shared.Calc(x, yy);
                    }
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        ExpectSameBits(got[static_cast<std::size_t>(t)], expected, "thread");
    }
}
