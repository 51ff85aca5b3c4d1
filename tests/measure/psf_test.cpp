// PSF: the checkerboard worked example, refusals, the limit setting, the
// getters and the climb.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

#include "measure_support.h"

using orbimg::detail::PsfAccess;
using orbimg::test::CheckerStar;
using orbimg::test::CrossStar;
using orbimg::test::MakeImage;
using orbimg::test::SameBits;

namespace {

constexpr double kWorkedFwhm = 1.9800000000000004;
const double kWorkedPsf = std::sqrt(kWorkedFwhm) * 0.4246609;

class PsfTest : public ::testing::Test {
protected:
    void TearDown() override { CRegistry::Clear(); }
    static void SetLimit(double fwhm) { CRegistry::Write(CString(L"Psf"), CString(L"Max"), fwhm); }
};

/// The mono image on three planes, plane p scaled by gain[p].
CKelImage Colour(const CKelImage& mono, const float (&gain)[3])
{
    CKelImage img = MakeImage(mono.GetWidth(), mono.GetHeight(), 3);
    orbimg::test::Fill(img, [&](int x, int y, int p) { return orbimg::test::At(mono, x, y) * gain[p]; });
    return img;
}

// From the peak and from aside; a colour star is measured on the plane mean.
TEST_F(PsfTest, WorkedExampleFromPeakAndFromAsideAndInColour)
{
    const CKelImage mono = CheckerStar(21, 21, 10, 10);
    const CKelImage colour = Colour(mono, {0.5f, 1.0f, 1.5f});
    for (auto [img, start] : {std::pair{mono, CPoint(10, 10)}, {mono, CPoint(12, 12)}, {colour, CPoint(12, 12)}}) {
        PSF psf(&img);
        EXPECT_EQ(PsfAccess::Climb(psf, start), CPoint(10, 10));
        double base = -1.0;
        ASSERT_EQ(PsfAccess::Base(psf, CPoint(10, 10), &base), 1);
        EXPECT_EQ(base, 1.0);
        double f = -1.0;
        ASSERT_EQ(PsfAccess::Fwhm(psf, CPoint(10, 10), base, &f), 1);
        EXPECT_TRUE(SameBits(f, kWorkedFwhm));

        ASSERT_EQ(psf.Add(start), 1);
        EXPECT_EQ(psf.GetCount(), 1);
        double got[3] = {};  // the mean and median PSF, the mean FWHM
        ASSERT_TRUE(psf.GetMeanPSF(&got[0]) && psf.GetMedianPSF(&got[1]) && psf.GetMeanFWHM(&got[2]));
        EXPECT_TRUE(SameBits(got[0], kWorkedPsf) && SameBits(got[1], kWorkedPsf));
        EXPECT_TRUE(SameBits(got[2], (kWorkedPsf * 2.354820045829508) * (kWorkedPsf * 2.354820045829508)));
    }
}

// Refused stars: the peak on the first or last column or row (a half-height
// walk cannot start or runs off the image); starts outside the image; a flat
// image and a star on a constant sky (equal values never stop a descent, so
// every ray runs to the edge); descents that stop one pixel from the edge
// (nothing left to gather); a blank on the climb neighbourhood, a descent or
// a background sample (plane 1 of a colour image).
TEST_F(PsfTest, Refusals)
{
    std::vector<std::pair<CKelImage, CPoint>> refused;
    for (const CPoint at : {CPoint(0, 10), CPoint(20, 10), CPoint(10, 0), CPoint(10, 20)}) {
        refused.emplace_back(CheckerStar(21, 21, at.x, at.y), at);
    }
    for (const CPoint out : {CPoint(-1, 5), CPoint(21, 5), CPoint(5, -1), CPoint(5, 21), CPoint(INT_MIN, INT_MAX)}) {
        refused.emplace_back(CheckerStar(21, 21, 10, 10), out);
    }
    CKelImage flat = MakeImage(15, 15);
    orbimg::test::Fill(flat, 0, [](int, int) { return 5.0f; });
    CKelImage star = flat;
    *star.GetImageAdr(7, 7, 0, 0, nullptr) = 100.0f;
    CKelImage near = MakeImage(7, 7);
    *near.GetImageAdr(3, 3, 0, 0, nullptr) = 100.0f;
    for (const CPoint rise : {CPoint(1, 3), CPoint(5, 3), CPoint(3, 1), CPoint(3, 5)}) {
        *near.GetImageAdr(rise.x, rise.y, 0, 0, nullptr) = 5.0f;
    }
    const std::size_t noSky = refused.size();
    refused.insert(refused.end(), {{flat, CPoint(7, 7)}, {star, CPoint(7, 7)}, {near, CPoint(3, 3)}});
    const std::size_t blanks = refused.size();
    for (const float blank : {NAN, INFINITY, -INFINITY}) {
        for (const CPoint at : {CPoint(11, 11), CPoint(7, 10), CPoint(10, 13), CPoint(2, 10), CPoint(0, 0)}) {
            refused.emplace_back(Colour(CheckerStar(21, 21, 10, 10), {1.0f, 1.0f, 1.0f}), CPoint(10, 10));
            *refused.back().first.GetImageAdr(at.x, at.y, 1, 0, nullptr) = blank;
        }
    }
    for (std::size_t i = 0; i < refused.size(); ++i) {
        auto& [img, start] = refused[i];
        PSF psf(&img);
        const bool harmless = i >= blanks && (i - blanks) % 5 == 4;  // a blank elsewhere: (0, 0)
        EXPECT_EQ(psf.Add(start), harmless ? 1 : 0) << i << ": " << start.x << "," << start.y;
        EXPECT_EQ(psf.GetCount(), harmless ? 1 : 0);
        if (i < 4) {
            EXPECT_EQ(PsfAccess::Climb(psf, start), start);
        }
        double base = -1.0;
        if (i >= noSky && i < blanks) {
            EXPECT_EQ(PsfAccess::Base(psf, start, &base), 0);
            EXPECT_EQ(base, -1.0);
        }
    }
    PSF none(nullptr);
    EXPECT_EQ(none.Add(CPoint(0, 0)), 0);
    // A blank on the half-height walk only (base given directly).
    CKelImage img = CheckerStar(21, 21, 10, 10);
    *img.GetImageAdr(10, 11, 0, 0, nullptr) = NAN;
    PSF psf(&img);
    double f = -1.0;
    EXPECT_EQ(PsfAccess::Fwhm(psf, CPoint(10, 10), 1.0, &f), 0);
    EXPECT_EQ(f, -1.0);
}

TEST_F(PsfTest, LimitIsExclusiveAndComesFromTheSetting)
{
    // A cross star of FWHM exactly 20 (crossing value at half height).
    CKelImage twenty = CrossStar(61, 61, {{30, 30, 10, 50.5f}});
    CKelImage below = CrossStar(61, 61, {{30, 30, 10, 50.0f}});  // 19.98
    PSF psf(&twenty);
    EXPECT_EQ(PsfAccess::Limit(psf), 20.0);
    double f = 0.0;
    ASSERT_EQ(PsfAccess::Fwhm(psf, CPoint(30, 30), 1.0, &f), 1);
    EXPECT_EQ(f, 20.0);
    EXPECT_EQ(psf.Add(CPoint(30, 30)), 0);
    EXPECT_EQ(PSF(&below).Add(CPoint(30, 30)), 1);
    SetLimit(std::nextafter(20.0, 30.0));
    EXPECT_EQ(PSF(&twenty).Add(CPoint(30, 30)), 1);

    SetLimit(kWorkedFwhm);
    CKelImage worked = CheckerStar(21, 21, 10, 10);
    PSF tight(&worked);
    EXPECT_EQ(tight.Add(CPoint(10, 10)), 0);  // equal to the limit
    SetLimit(0.5);
    EXPECT_EQ(PsfAccess::Limit(tight), kWorkedFwhm);  // read once, at construction
    SetLimit(std::nextafter(kWorkedFwhm, 3.0));
    EXPECT_EQ(PSF(&worked).Add(CPoint(10, 10)), 1);
}

TEST_F(PsfTest, GettersRefuseValuesOutsideTheirRangeAndAnEmptyObject)
{
    // Neighbours far below the sky put the crossings almost at the next
    // pixel: a FWHM of about 1e-4 (PSF value 0.0042) or 1e-13 (1.3e-7). Every
    // getter refuses a PSF value not above 1e-6, one not below the limit (the
    // getters compare the PSF value, not the FWHM, with it) and an empty
    // object; the PSF getters leave their output, the FWHM getters write 0.
    CKelImage narrow = CheckerStar(21, 21, 10, 10, -1e6f);
    CKelImage needle = CheckerStar(21, 21, 10, 10, -1e15f);
    CKelImage empty = MakeImage(4, 4);
    PSF tiny(&needle);
    ASSERT_EQ(tiny.Add(CPoint(10, 10)), 1);
    PSF none(&empty);
    SetLimit(0.003);
    PSF psf(&narrow);
    ASSERT_EQ(psf.Add(CPoint(10, 10)), 1);
    for (PSF* p : {&tiny, &none, &psf}) {
        for (const auto get : {&PSF::GetMeanPSF, &PSF::GetMedianPSF, &PSF::GetMeanFWHM, &PSF::GetMedianFWHM}) {
            double v = 7.0;
            EXPECT_EQ((p->*get)(&v), 0);
            EXPECT_EQ(v, get == &PSF::GetMeanPSF || get == &PSF::GetMedianPSF ? 7.0 : 0.0);
        }
    }
    EXPECT_EQ(psf.GetCount(), 1);
}

TEST_F(PsfTest, MedianSortsTheKeptValues)
{
    // FWHM 2w for crossing values at exactly half height: 14, 6, 18, 10.
    const std::vector<orbimg::test::Cross> stars = {
        {30, 30, 7, 50.5f}, {90, 90, 3, 50.5f}, {150, 150, 9, 50.5f}, {210, 210, 5, 50.5f}};
    CKelImage img = CrossStar(250, 250, stars);
    PSF psf(&img);
    std::vector<double> added;
    for (const auto& s : stars) {
        ASSERT_EQ(psf.Add(CPoint(s.x + 1, s.y + 1)), 1);  // climbs to the centre
        added.push_back(std::sqrt(2.0 * s.half) * 0.4246609);
    }
    EXPECT_EQ(PsfAccess::Values(psf), added);
    double mean = 0.0;
    ASSERT_EQ(psf.GetMeanPSF(&mean), 1);
    EXPECT_TRUE(SameBits(mean, (((added[0] + added[1]) + added[2]) + added[3]) / 4));
    double median = 0.0;
    ASSERT_EQ(psf.GetMedianPSF(&median), 1);
    EXPECT_EQ(median, added[0]);  // index 2 of four: FWHM 14
    EXPECT_EQ(PsfAccess::Values(psf), (std::vector<double>{added[1], added[3], added[0], added[2]}));
    double f = 0.0;
    ASSERT_EQ(psf.GetMedianFWHM(&f), 1);
    EXPECT_NEAR(f, 14.0, 1e-13);
}

TEST_F(PsfTest, ClimbKeepsTheFirstOfEqualNeighbours)
{
    CKelImage img = MakeImage(12, 12);
    *img.GetImageAdr(5, 5, 0, 0, nullptr) = 50.0f;
    *img.GetImageAdr(6, 5, 0, 0, nullptr) = 50.0f;
    PSF psf(&img);
    EXPECT_EQ(PsfAccess::Climb(psf, CPoint(4, 5)), CPoint(5, 5));
    EXPECT_EQ(PsfAccess::Climb(psf, CPoint(7, 5)), CPoint(6, 5));
    EXPECT_EQ(PsfAccess::Climb(psf, CPoint(5, 6)), CPoint(5, 5));  // smallest x', then y'
    EXPECT_EQ(PsfAccess::Climb(psf, CPoint(0, 0)), CPoint(0, 0));  // flat: stays
}

}  // namespace
