// FITS input and output through cfitsio.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "imagefile.h"
#include "safeoutput.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::At;
using test::MakeFits;
using test::MakeImageFits;
using test::ReadError;
using test::ScratchDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(FitsRead, EveryBitpixWithTheBottomRowLast)
{
    ScratchDir dir;
    for (const int bitpix : {BYTE_IMG, SHORT_IMG, LONG_IMG, LONGLONG_IMG, FLOAT_IMG, DOUBLE_IMG}) {
        const std::string path = dir / ("b" + std::to_string(bitpix + 100) + ".fits");
        MakeImageFits(path, bitpix, {3, 2}, {1, 2, 3, 4, 5, 6});  // FITS order: row 1, the bottom, first
        const ImageFile f = LoadImageFile(path);
        EXPECT_EQ(f.format, "FITS");
        EXPECT_EQ(f.bitDepth, bitpix);
        EXPECT_EQ(f.hdu, 1);
        EXPECT_EQ(f.image->GetOrgBitsPixel(), bitpix);
        ASSERT_EQ(f.image->GetWidth(), 3);
        ASSERT_EQ(f.image->GetHeight(), 2);
        EXPECT_EQ(f.image->GetPlanes(), 1);
        // Library row 0 is the top: FITS row 2.
        EXPECT_EQ(At(f, 0, 0), 4.0f) << bitpix;
        EXPECT_EQ(At(f, 2, 0), 6.0f);
        EXPECT_EQ(At(f, 0, 1), 1.0f);
        EXPECT_EQ(At(f, 2, 1), 3.0f);
        EXPECT_EQ(f.image->GetLevelMin(0), 1.0);
        EXPECT_EQ(f.image->GetLevelMax(0), 6.0);
    }
}

TEST(FitsRead, ScalingIsApplied)
{
    ScratchDir dir;
    MakeImageFits(dir / "s.fits", SHORT_IMG, {2, 2}, {100.0, 100.5, -50.0, 8000.25}, [](fitsfile* f, int* status) {
        fits_write_key_dbl(f, "BSCALE", 0.25, -15, "", status);
        fits_write_key_dbl(f, "BZERO", 100.0, -15, "", status);
        fits_set_bscale(f, 0.25, 100.0, status);
    });
    const ImageFile s = LoadImageFile(dir / "s.fits");
    EXPECT_EQ(s.bscale, 0.25);
    EXPECT_EQ(s.bzero, 100.0);
    EXPECT_EQ(At(s, 0, 1), 100.0f);
    EXPECT_EQ(At(s, 1, 1), 100.5f);
    EXPECT_EQ(At(s, 0, 0), -50.0f);
    EXPECT_EQ(At(s, 1, 0), 8000.25f);

    // Unsigned 16-bit: BITPIX 16 with BZERO 32768.
    MakeImageFits(dir / "u16.fits", USHORT_IMG, {4, 1}, {0, 1, 32768, 65535});
    const ImageFile u = LoadImageFile(dir / "u16.fits");
    EXPECT_EQ(u.bitDepth, 16);
    EXPECT_EQ(u.bzero, 32768.0);
    EXPECT_EQ(At(u, 0, 0), 0.0f);
    EXPECT_EQ(At(u, 2, 0), 32768.0f);
    EXPECT_EQ(At(u, 3, 0), 65535.0f);
}

TEST(FitsRead, ColourCubeAndSinglePlaneCube)
{
    ScratchDir dir;
    // 2 x 2 x 3: plane p holds 10 p + the FITS pixel number.
    std::vector<double> samples;
    for (int i = 0; i < 12; ++i) {
        samples.push_back(10 * (i / 4) + i % 4 + 1);
    }
    MakeImageFits(dir / "cube.fits", FLOAT_IMG, {2, 2, 3}, samples);
    const ImageFile c = LoadImageFile(dir / "cube.fits");
    ASSERT_EQ(c.image->GetPlanes(), 3);
    EXPECT_TRUE(c.image->IsColor());
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(At(c, 0, 1, p), 10.0f * p + 1);  // FITS (1, 1)
        EXPECT_EQ(At(c, 1, 0, p), 10.0f * p + 4);  // FITS (2, 2)
        EXPECT_EQ(c.image->GetLevelMin(p), 10.0 * p + 1);
        EXPECT_EQ(c.image->GetLevelMax(p), 10.0 * p + 4);
    }
    MakeImageFits(dir / "single.fits", SHORT_IMG, {2, 2, 1}, {1, 2, 3, 4});
    const ImageFile s = LoadImageFile(dir / "single.fits");
    EXPECT_EQ(s.image->GetPlanes(), 1);
    EXPECT_EQ(At(s, 0, 0), 3.0f);
}

TEST(FitsRead, FirstImageExtension)
{
    ScratchDir dir;
    MakeFits(dir / "ext.fits", [](fitsfile* f, int* status) {
        fits_create_img(f, SHORT_IMG, 0, nullptr, status);
        fits_write_key_str(f, "TELESCOP", "RC8", "", status);
        long axes[2] = {3, 2};
        fits_create_img(f, FLOAT_IMG, 2, axes, status);
        fits_write_key_str(f, "OBJECT", "M 27", "target", status);
        long first[2] = {1, 1};
        float samples[6] = {1, 2, 3, 4, 5, 6};
        fits_write_pix(f, TFLOAT, first, 6, samples, status);
    });
    const ImageFile e = LoadImageFile(dir / "ext.fits");
    EXPECT_EQ(e.hdu, 2);
    EXPECT_FALSE(e.compressed);
    EXPECT_EQ(At(e, 0, 0), 4.0f);
    EXPECT_EQ(e.header.Value("OBJECT"), "'M 27    '");
    EXPECT_FALSE(e.header.Value("XTENSION"));
}

TEST(FitsRead, BlanksBecomeNaN)
{
    ScratchDir dir;
    MakeImageFits(dir / "nan.fits", FLOAT_IMG, {3, 1}, {kNaN, 7.0, -2.0});
    const ImageFile f = LoadImageFile(dir / "nan.fits");
    EXPECT_TRUE(std::isnan(At(f, 0, 0)));
    EXPECT_EQ(At(f, 1, 0), 7.0f);
    EXPECT_EQ(f.image->GetLevelMin(0), -2.0);
    EXPECT_EQ(f.image->GetLevelMax(0), 7.0);

    MakeImageFits(dir / "blank.fits", SHORT_IMG, {3, 1}, {-32768.0, 5.0, 6.0}, [](fitsfile* f, int* status) {
        fits_write_key_lng(f, "BLANK", -32768, "undefined", status);
    });
    const ImageFile i = LoadImageFile(dir / "blank.fits");
    EXPECT_TRUE(std::isnan(At(i, 0, 0)));
    EXPECT_EQ(At(i, 1, 0), 5.0f);
    EXPECT_EQ(i.image->GetLevelMin(0), 5.0);
}

TEST(FitsRead, LevelsOfPlanesWithoutRange)
{
    ScratchDir dir;
    // Plane 0 flat at 9, plane 1 all NaN, plane 2 ordinary.
    MakeImageFits(dir / "flat.fits", FLOAT_IMG, {2, 1, 3}, {9, 9, kNaN, kNaN, 1, 3});
    const ImageFile f = LoadImageFile(dir / "flat.fits");
    const double levels[3][2] = {{9, 10}, {0, 1}, {1, 3}};
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(f.image->GetLevelMin(p), levels[p][0]) << p;
        EXPECT_EQ(f.image->GetLevelMax(p), levels[p][1]) << p;
    }
    // Flat at 2^60, where min + 1 rounds back to min: the next double above.
    MakeImageFits(dir / "high.fits", DOUBLE_IMG, {2, 1}, {0x1p60, 0x1p60});
    const ImageFile h = LoadImageFile(dir / "high.fits");
    EXPECT_EQ(h.image->GetLevelMin(0), 0x1p60);
    EXPECT_EQ(h.image->GetLevelMax(0), std::nextafter(0x1p60, HUGE_VAL));
}

TEST(FitsRead, BadFilesAreReportedClearly)
{
    ScratchDir dir;
    EXPECT_EQ(ReadError(dir / "missing.fits"), "cannot read '" + (dir / "missing.fits") + "': No such file or directory");
    test::WriteText(dir / "text.fits", "hello, this is not FITS\n");
    EXPECT_EQ(ReadError(dir / "text.fits"), "cannot read '" + (dir / "text.fits") + "': not a FITS file");

    MakeImageFits(dir / "whole.fits", FLOAT_IMG, {100, 100}, std::vector<double>(10000, 1.0));
    std::filesystem::copy_file(dir / "whole.fits", dir / "short-header.fits");
    std::filesystem::resize_file(dir / "short-header.fits", 400);
    test::WriteText(dir / "notes.txt", "hello\n");
    test::WriteText(dir / "empty.fits", "");
    MakeImageFits(dir / "naxis1.fits", FLOAT_IMG, {5}, {1, 2, 3, 4, 5});
    MakeImageFits(dir / "naxis4.fits", FLOAT_IMG, {2, 2, 3, 2}, std::vector<double>(24, 1.0));
    MakeImageFits(dir / "two.fits", FLOAT_IMG, {2, 2, 2}, std::vector<double>(8, 1.0));
    MakeFits(dir / "zero.fits", [](fitsfile* f, int* status) {
        long axes[2] = {0, 5};
        fits_create_img(f, FLOAT_IMG, 2, axes, status);
    });
    MakeFits(dir / "none.fits", [](fitsfile* f, int* status) { fits_create_img(f, SHORT_IMG, 0, nullptr, status); });
    const std::pair<const char*, const char*> cases[] = {
        {"short-header.fits", "FITS header"},  {"notes.txt", "not a FITS, PNG or JPEG file"},
        {"empty.fits", "empty"},               {"naxis1.fits", "NAXIS = 1"},
        {"naxis4.fits", "NAXIS = 4"},          {"two.fits", "a cube of 2 planes"},
        {"zero.fits", "zero-size image"},      {"none.fits", "no image in the file"},
    };
    for (const auto& [name, part] : cases) {
        const std::string message = ReadError(dir / name);
        EXPECT_EQ(message.rfind("cannot read '" + (dir / name) + "': ", 0), 0u) << message;
        EXPECT_NE(message.find(part), std::string::npos) << message;
    }
}

TEST(FitsWrite, RoundTripKeepsSamplesOrientationAndKeywords)
{
    ScratchDir dir;
    std::vector<double> samples;
    for (int i = 0; i < 36; ++i) {
        samples.push_back(i == 17 ? kNaN : 0.1 * (i % 12) + (i / 12) * 1000.0 + 1.0 / 3.0);
    }
    MakeImageFits(dir / "in.fits", FLOAT_IMG, {4, 3, 3}, samples, [](fitsfile* f, int* status) {
        fits_write_key_str(f, "OBJECT", "NGC 7000", "target", status);
        fits_write_key_dbl(f, "EXPTIME", 300.0, -6, "[s] exposure", status);
        fits_write_comment(f, "taken at the dark site", status);
        fits_write_history(f, "calibrated", status);
    });
    const ImageFile a = LoadImageFile(dir / "in.fits");
    WriteFitsFile(dir / "out.fits", *a.image, a.header);
    // Read back by cfitsio: BITPIX -32, the samples bit for bit in FITS order.
    const test::FitsData data = test::ReadFitsData(dir / "out.fits");
    ASSERT_EQ(data.axes, (std::vector<long>{4, 3, 3}));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float want = static_cast<float>(samples[i]);
        const float got = static_cast<float>(data.samples[i]);
        EXPECT_EQ(std::memcmp(&want, &got, sizeof want), 0) << i;
    }
    const ImageFile b = LoadImageFile(dir / "out.fits");
    EXPECT_EQ(b.bitDepth, FLOAT_IMG);
    EXPECT_EQ(b.header.Value("OBJECT"), "'NGC 7000'");
    EXPECT_EQ(b.header.Value("EXPTIME"), a.header.Value("EXPTIME"));
    int comments = 0;
    int standard = 0;
    for (const auto& card : b.header.Cards()) {
        comments += card.find("taken at the dark site") != std::string::npos;
        standard += card.find("Astronomy") != std::string::npos;
    }
    EXPECT_EQ(comments, 1);
    EXPECT_EQ(standard, 1);  // cfitsio's standard COMMENT, not repeated from the input
    EXPECT_EQ(b.header.Cards().size(), a.header.Cards().size());
}

TEST(FitsWrite, StructuralKeywordsFollowTheNewImage)
{
    ScratchDir dir;
    MakeImageFits(dir / "u16.fits", USHORT_IMG, {3, 2}, {1, 2, 3, 4, 5, 6}, [](fitsfile* f, int* status) {
        fits_write_key_lng(f, "BLANK", 0, "", status);
        fits_write_key_str(f, "FILTER", "Ha", "", status);
    });
    const ImageFile a = LoadImageFile(dir / "u16.fits");
    EXPECT_FALSE(a.header.Value("BZERO"));
    EXPECT_FALSE(a.header.Value("BLANK"));
    // A 5 x 4 result written with the 3 x 2 input's cards.
    CKelImage bigger(5, 4, 1, -32, 1.0, 0.0, 1);
    *bigger.GetImageAdr(4, 0, 0, 0, nullptr) = 65535.0f;
    WriteFitsFile(dir / "big.fits", bigger, a.header);
    const test::FitsData data = test::ReadFitsData(dir / "big.fits");
    EXPECT_EQ(data.axes, (std::vector<long>{5, 4}));
    EXPECT_EQ(data.At(5, 4), 65535.0);  // the top-right pixel stays top right
    EXPECT_EQ(test::ReadText(dir / "big.fits").find("BZERO"), std::string::npos);
    const ImageFile b = LoadImageFile(dir / "big.fits");
    EXPECT_EQ(b.bitDepth, FLOAT_IMG);
    EXPECT_EQ(b.header.Value("FILTER"), "'Ha      '");
}

TEST(FitsWrite, FailuresLeaveNoFile)
{
    ScratchDir dir;
    CKelImage image(3, 2, 1, -32, 1.0, 0.0, 1);
    const FitsHeader none;
    test::WriteText(dir / "plain", "x");
    for (const std::string& path : {dir / "no-such-dir/out.fits", dir / "plain/out.fits", dir.Path().string()}) {
        try {
            WriteFitsFile(path, image, none);
            ADD_FAILURE() << path;
        } catch (const ToolError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("cannot write '" + path + "': ", 0), 0u) << e.what();
        }
    }
    CKelImage empty;
    EXPECT_THROW(WriteFitsFile(dir / "empty.fits", empty, none), ToolError);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"plain"});
}

TEST(SafeOutput, ReplacesOnlyOnSuccess)
{
    ScratchDir dir;
    const std::string path = dir / "result.txt";
    test::WriteText(path, "old");
    EXPECT_THROW(WriteFileSafely(path,
                                 [](std::FILE* out) {
                                     std::fputs("half of the new", out);
                                     throw ToolError("the writer failed");
                                 }),
                 ToolError);
    EXPECT_EQ(test::ReadText(path), "old");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"result.txt"});
    WriteFileSafely(path, [](std::FILE* out) { std::fputs("new", out); });
    EXPECT_EQ(test::ReadText(path), "new");
    {
        SafeOutput abandoned(dir / "never.txt");
        std::fputs("x", abandoned.Stream());
    }
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"result.txt"});
}

TEST(FitsHeader, CardsKeywordsAndValues)
{
    FitsHeader h;
    h.Add("NAXIS1  =                   10");
    h.Add("BZERO   =                32768");
    h.Add(FitsCard("EXPTIME", "30.5", "[s]"));
    h.Add(FitsCard("OBJECT", FitsString("Bob's nebula"), "a / in the comment"));
    h.Add("ZTILE1  =                   10");
    h.Add("HISTORY dark subtracted");
    ASSERT_EQ(h.Cards().size(), 3u);
    for (const auto& card : h.Cards()) {
        EXPECT_EQ(card.size(), 80u);
    }
    EXPECT_EQ(h.Cards()[0].substr(0, 30), "EXPTIME =                 30.5");
    EXPECT_EQ(h.Value("OBJECT"), "'Bob''s nebula'");
    const std::string cut = FitsCard("OBJECT", FitsString(std::string(75, 'x')), "");
    EXPECT_EQ(cut.size(), 80u);
    EXPECT_EQ(cut.back(), '\'') << "a cut string keeps its closing quote";
    EXPECT_FALSE(h.Value("HISTORY"));
    h.Remove("EXPTIME");
    EXPECT_EQ(h.Cards().size(), 2u);
    EXPECT_TRUE(FitsHeader::IsStructural("NAXIS3"));
    EXPECT_TRUE(FitsHeader::IsStructural("CHECKSUM"));
    EXPECT_FALSE(FitsHeader::IsStructural("NAXISX"));
    EXPECT_FALSE(FitsHeader::IsStructural("OBJECT"));
}

}  // namespace
}  // namespace orbimg::tool
