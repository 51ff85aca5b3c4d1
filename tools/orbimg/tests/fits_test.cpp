// FITS input and output through cfitsio.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "imagefile.h"
#include "safeoutput.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::At;
using test::MakeFits;
using test::MakeImageFits;
using test::ScratchDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class FitsReadGolden : public ::testing::TestWithParam<test::GoldenLine> {};

// A line of fitsread.txt: BITPIX | axes | samples | samples read | levels | BSCALE BZERO [BLANK].
TEST_P(FitsReadGolden, SamplesOrientationScalingBlanksAndLevels)
{
    const auto fields = test::Split(GetParam().text, " | ");
    ASSERT_EQ(fields.size(), 6u);
    const int bitpix = std::stoi(fields[0]);
    const auto sizes = test::Numbers(fields[1]);
    const std::vector<long> axes(sizes.begin(), sizes.end());
    const auto scaling = test::Numbers(fields[5]);
    ScratchDir dir;
    MakeImageFits(dir / "in.fits", bitpix, axes, test::Numbers(fields[2]), [&](fitsfile* f, int* status) {
        if (scaling[0] != 1.0 || scaling[1] != 0.0) {
            fits_update_key_dbl(f, "BSCALE", scaling[0], -15, "", status);
            fits_update_key_dbl(f, "BZERO", scaling[1], -15, "", status);
            fits_set_bscale(f, scaling[0], scaling[1], status);
        }
        if (scaling.size() == 3) {
            fits_write_key_lng(f, "BLANK", static_cast<long>(scaling[2]), "", status);
        }
    });
    const ImageFile f = LoadImageFile(dir / "in.fits");
    EXPECT_EQ(f.format, "FITS");
    EXPECT_EQ(f.hdu, 1);
    EXPECT_EQ(f.bitDepth, bitpix == USHORT_IMG ? 16 : bitpix);
    EXPECT_EQ(f.bscale, scaling[0]);
    EXPECT_EQ(f.bzero, scaling[1]);
    const int planes = axes.size() == 3 && axes[2] == 3 ? 3 : 1;
    ASSERT_EQ(f.image->GetWidth(), axes[0]);
    ASSERT_EQ(f.image->GetHeight(), axes[1]);
    ASSERT_EQ(f.image->GetPlanes(), planes);
    EXPECT_EQ(f.image->IsColor(), planes == 3);
    const auto expected = test::Numbers(fields[3]);
    const auto samples = test::Samples(f);
    ASSERT_EQ(samples.size(), expected.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float want = static_cast<float>(expected[i]);
        EXPECT_TRUE(std::isnan(want) ? std::isnan(samples[i]) : samples[i] == want) << i << ": " << samples[i];
    }
    const auto levels = test::Numbers(fields[4]);
    ASSERT_EQ(levels.size(), 2u * planes);
    for (int p = 0; p < planes; ++p) {
        EXPECT_EQ(f.image->GetLevelMin(p), levels[2 * p]) << "plane " << p;
        EXPECT_EQ(f.image->GetLevelMax(p), levels[2 * p + 1]) << "plane " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Golden, FitsReadGolden, ::testing::ValuesIn(test::GoldenLines("fitsread.txt")),
                         test::LineName);

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
    test::WriteText(dir / "plain", "x");  // paths that cannot be written: golden/runs.txt
    EXPECT_THROW(WriteFitsFile(dir.Path().string(), image, none), ToolError);
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
