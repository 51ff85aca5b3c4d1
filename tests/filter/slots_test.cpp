// CFilterProcEx and the filter slots of CKelImage.
#include "filtertest.h"

using namespace orbimg::test;

namespace {

struct Frame {
    CKelImage image = MakeImage(9, 8, 3);
    CFilterMatrix narrow;
    CFilterMatrix wide;
    Frame()
    {
        for (int p = 0; p < 3; ++p) {
            FillRandom(image, p, static_cast<std::uint32_t>(20 + p));
        }
        narrow.MakeGaussian(1, 0.8);
        wide.MakeGaussian(2, 2.0);
    }
    float Ref(const CFilterMatrix& m, int plane, int x, int y) const
    {
        return RefValue(image, plane, RefKernel(m, true), x, y);
    }
};

}  // namespace

using FilterSlots = FilterTest;

TEST_F(FilterSlots, BuildOnceThenKeepUntilCleared)
{
    Frame f;
    CKelImage host = MakeImage(2, 2);  // the slots may filter another image
    EXPECT_EQ(host.MakeFilterProc(&f.image, &f.narrow, 3, 1), 0);
    EXPECT_EQ(host.MakeFilterProc(&f.image, &f.narrow, -1, 1), 0);
    ASSERT_EQ(host.MakeFilterProc(&f.image, &f.narrow, 1, 1), 1);
    EXPECT_EQ(host.MakeFilterProc(&f.image, &f.wide, 1, 1), 1);  // already built: kept
    EXPECT_TRUE(SameBits(host.CalcFilterProc(4, 4, 1), f.Ref(f.narrow, 1, 4, 4)));
    host.SetFilterProcPln(1);
    EXPECT_TRUE(SameBits(host.CalcFilterProc(4, 5), f.Ref(f.narrow, 1, 4, 5)));
    EXPECT_EQ(host.CalcFilterProc(4, 5, 3), 0.0f);
    EXPECT_EQ(host.CalcFilterProc(4, 5, 0), 0.0f);  // not built

    host.ClearFilterProc();
    EXPECT_EQ(host.CalcFilterProc(4, 4, 1), 0.0f);
    ASSERT_EQ(host.MakeFilterProc(&f.image, &f.wide, 1, 1), 1);
    EXPECT_TRUE(SameBits(host.CalcFilterProc(4, 4), f.Ref(f.wide, 1, 4, 4)));  // selection stayed on 1
    host.MakeFilterProc(&f.image, &f.narrow, 0, 1);
    host.SetFilterProcPln(7);  // outside 0..2: slot 0
    EXPECT_TRUE(SameBits(host.CalcFilterProc(2, 3), f.Ref(f.narrow, 0, 2, 3)));
}

TEST_F(FilterSlots, ExtendedSlotsAreIndependent)
{
    Frame f;
    CKelImage& img = f.image;
    ASSERT_EQ(img.MakeFilterProcEx(1, &img, &f.wide, 2, 1), 1);
    ASSERT_EQ(img.MakeFilterProcEx(1, &img, &f.narrow, 0, 1), 1);
    EXPECT_EQ(img.MakeFilterProcEx(1, &img, &f.narrow, 2, 1), 1);  // kept the wide one
    EXPECT_TRUE(SameBits(img.CalcFilterProcEx(1, 3, 6, 2), f.Ref(f.wide, 2, 3, 6)));
    img.SetFilterProcPlnEx(1, 5);  // outside 0..2: processor 0
    EXPECT_TRUE(SameBits(img.CalcFilterProcEx(1, 3, 6), f.Ref(f.narrow, 0, 3, 6)));
    EXPECT_EQ(img.CalcFilterProcEx(1, 3, 6, 1), 0.0f);  // plane 1 not built
    EXPECT_EQ(img.CalcFilterProcEx(0, 3, 6, 2), 0.0f);  // another slot
    // Indices outside 0..5 do nothing.
    EXPECT_EQ(img.MakeFilterProcEx(6, &img, &f.wide, 0, 1), 0);
    EXPECT_EQ(img.MakeFilterProcEx(-1, &img, &f.wide, 0, 1), 0);
    img.SetFilterProcPlnEx(9, 1);
    EXPECT_EQ(img.CalcFilterProcEx(6, 3, 6), 0.0f);
    EXPECT_EQ(img.CalcFilterProcEx(-1, 3, 6, 0), 0.0f);

    img.ClearFilterProc();
    EXPECT_EQ(img.CalcFilterProcEx(1, 3, 6, 2), 0.0f);
}

TEST_F(FilterSlots, CopiesStartEmptyOnTheirOwnProcessors)
{
    Frame f;
    CFilterProcEx ex;
    ex.Make(&f.image, &f.narrow, 2, 1);
    ex.SetPln(2);
    CFilterProcEx copy(ex);
    EXPECT_EQ(copy.Calc(4, 4), 0.0f);
    copy.Make(&f.image, &f.wide, 0, 1);  // its current selection is its own processor 0
    EXPECT_TRUE(SameBits(copy.Calc(4, 4), f.Ref(f.wide, 0, 4, 4)));
    EXPECT_TRUE(SameBits(ex.Calc(4, 4), f.Ref(f.narrow, 2, 4, 4)));

    CKelImage& img = f.image;
    img.MakeFilterProc(&img, &f.narrow, 2, 1);
    img.SetFilterProcPln(2);
    img.MakeFilterProcEx(3, &img, &f.wide, 1, 1);
    CKelImage copied(img);
    EXPECT_EQ(copied.CalcFilterProc(4, 4), 0.0f);
    EXPECT_EQ(copied.CalcFilterProcEx(3, 4, 4, 1), 0.0f);
    CKelImage assigned = MakeImage(3, 3);
    assigned.MakeFilterProc(&assigned, &f.narrow, 0, 1);
    assigned = img;
    EXPECT_EQ(assigned.CalcFilterProc(1, 1, 0), 0.0f);
    EXPECT_TRUE(SameBits(img.CalcFilterProc(4, 4), f.Ref(f.narrow, 2, 4, 4)));
}
