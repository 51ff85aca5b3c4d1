// Runs of the tool against golden/runs.txt: the command lines and files
// refused, damaged and hostile files among them (golden/files); and the valid
// files that once crashed or were refused: tile-compressed images with tiles
// of several rows, a compressed header cfitsio cannot convert (a palette PNG
// with transparency: golden/pngread.txt).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <map>

#include "imagefile.h"
#include "membudget.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::MakeFits;
using test::ScratchDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- valid multi-row tiles ----

class MultiRowTiles : public ::testing::TestWithParam<test::GoldenLine> {};

// A line of golden/tiles.txt: compression | rows per tile | BITPIX | blanks.
TEST_P(MultiRowTiles, LoadAsTheUncompressedOriginal)
{
    const auto c = test::Numbers(test::ReplaceAll(GetParam().text, "|", " "));
    ASSERT_EQ(c.size(), 4u);
    const int bitpix = static_cast<int>(c[2]);
    const bool blanks = c[3] != 0;
    long axes[2] = {37, 23};      // part tiles at the top
    std::vector<double> samples;  // every 7th one blank when asked
    for (long i = 0; i < axes[0] * axes[1]; ++i) {
        samples.push_back(!blanks || i % 7 != 3 ? static_cast<double>((i * 7919) % 6001 - 3000)
                          : bitpix < 0          ? kNaN
                                                : -32768.0);
    }
    const auto keywords = [&](fitsfile* f, int* status) {
        if (blanks && bitpix > 0) {
            fits_write_key_lng(f, "BLANK", -32768, "", status);
        }
        fits_write_key_str(f, "OBJECT", "M 13", "", status);
    };
    ScratchDir dir;
    test::MakeImageFits(dir / "plain.fits", bitpix, {axes[0], axes[1]}, samples, keywords);
    MakeFits(dir / "tiled.fits", [&](fitsfile* f, int* status) {
        fits_set_compression_type(f, static_cast<int>(c[0]), status);
        long tile[2] = {axes[0], static_cast<long>(c[1])};
        if (tile[1] > 0) {  // else cfitsio's default tiles
            fits_set_tile_dim(f, 2, tile, status);
        }
        if (bitpix < 0) {
            fits_set_quantize_level(f, 0.0, status);  // lossless
        }
        fits_create_img(f, bitpix, 2, axes, status);
        keywords(f, status);
        long first[2] = {1, 1};
        const auto n = static_cast<LONGLONG>(samples.size());
        // cfitsio compresses integers only from their own type.
        if (bitpix == SHORT_IMG) {
            std::vector<short> whole(samples.begin(), samples.end());
            fits_write_pix(f, TSHORT, first, n, whole.data(), status);
        } else if (bitpix > 0) {
            std::vector<int> whole(samples.begin(), samples.end());
            fits_write_pix(f, TINT, first, n, whole.data(), status);
        } else {
            fits_write_pix(f, TDOUBLE, first, n, samples.data(), status);
        }
    });
    const ImageFile plain = LoadImageFile(dir / "plain.fits");
    const ImageFile tiled = LoadImageFile(dir / "tiled.fits");
    EXPECT_TRUE(tiled.compressed);
    EXPECT_EQ(tiled.hdu, 2);
    EXPECT_EQ(tiled.bitDepth, bitpix);
    const auto a = test::Samples(plain);
    const auto b = test::Samples(tiled);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);  // NaN for NaN
    EXPECT_EQ(std::isnan(test::At(tiled, 3, axes[1] - 1)), blanks);           // sample 3 of FITS row 1
    EXPECT_EQ(tiled.header.Value("OBJECT"), "'M 13    '");
    EXPECT_FALSE(tiled.header.Value("EXTNAME"));
    for (const auto& card : tiled.header.Cards()) {  // nothing of the table's own header
        EXPECT_TRUE(card[0] != 'Z' && card.rfind("TTYPE", 0) != 0) << card;
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, MultiRowTiles, ::testing::ValuesIn(test::GoldenLines("tiles.txt")),
                         test::LineName);

// ---- the files of golden/runs.txt ----

/// budget.fits.gz: a 4096 x 2048 16-bit image of noise, which barely shrinks.
void MakeBudgetFile(const std::string& path)
{
    std::string bytes;
    for (const std::string card :
         {"SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    2",
          "NAXIS1  =                 4096", "NAXIS2  =                 2048", "END"}) {
        bytes += card + std::string(80 - card.size(), ' ');
    }
    bytes.resize(2880, ' ');
    for (std::uint32_t i = 0, x = 1; i < 4096 * 2048 * 2; ++i, x = x * 1664525u + 1013904223u) {
        bytes += static_cast<char>(x >> 24);
    }
    gzFile gz = gzopen(path.c_str(), "wb9");
    gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size()));
    gzclose(gz);
}

/// The files made for a run; the others are in golden/files (see its README).
const std::map<std::string, std::function<void(const std::string&)>> kFiles = {
    {"b.fits",  // a star with a blank on its profile
     [](const std::string& path) {
         std::vector<double> values = test::StarFrame(40, 40, 100, 1, {{20, 20, 500, 3}});
         values[static_cast<std::size_t>(19 * 40 + 21)] = kNaN;
         test::MakeImageFits(path, FLOAT_IMG, {40, 40}, values);
     }},
    {"budget.fits.gz", MakeBudgetFile},
    {"f2.fits", [](const std::string& path) { test::MakeFocusFrame(path, 2.0, true); }},
    {"f4.fits", [](const std::string& path) { test::MakeFocusFrame(path, 4.0); }},
    {"f6.fits", [](const std::string& path) { test::MakeFocusFrame(path, 6.0); }},
    {"s.fits", test::MakeStarField},
    {"folder.fits", [](const std::string& path) { std::filesystem::create_directory(path); }},
};

class Runs : public ::testing::TestWithParam<test::GoldenLine> {};

TEST_P(Runs, StatusAndOutput)
{
    ScratchDir dir;
    const std::string line =
        test::ReplaceAll(test::ReplaceAll(GetParam().text, "DIR", dir.Path().string()), "\\n", "\n");
    const auto fields = test::Split(line, " | ");
    ASSERT_GE(fields.size(), 2u);
    for (const auto& [name, make] : kFiles) {
        if (line.find(dir / name) != std::string::npos) {
            make(dir / name);
        }
    }
    for (const auto& file : std::filesystem::directory_iterator(std::string(ORBIMG_TOOL_GOLDEN_DIR) + "/files")) {
        if (line.find(dir / file.path().filename().string()) != std::string::npos) {
            std::filesystem::copy_file(file.path(), dir / file.path().filename().string());
        }
    }
    for (const auto& file : test::GoldenLines("runs.txt")) {  // the "text" and "fits" lines
        const std::string kind = file.text.substr(0, file.text.find(' '));
        auto parts = test::Split(test::ReplaceAll(file.text.substr(kind.size() + 1), "\\n", "\n"), " | ");
        parts.resize(std::max<std::size_t>(parts.size(), 4));
        const std::string path = dir / parts[0];
        if (line.find(path) == std::string::npos) {
            continue;
        }
        if (kind == "text") {
            test::WriteText(path, parts[1]);
        } else if (kind == "fits") {
            const auto axes = test::Numbers(parts[2]);
            test::MakeImageFits(path, std::stoi(parts[1]), {axes.begin(), axes.end()}, test::Numbers(parts[3]));
        }
    }
    const auto args = test::Split(fields[1], " ");
    const bool program = fields[0][0] == '$';  // the built program rather than in-process
    const auto r = program ? test::RunProgram(args, dir) : test::RunTool(args);
    SetMemoryBudget(std::nullopt);
    const int status = std::stoi(fields[0].substr(program ? 1 : 0));
    EXPECT_EQ(r.status, status) << r.err;
    bool outChecked = false;
    bool errChecked = false;  // by a "!" check: then stderr may be anything else
    bool errSeen = false;
    for (std::size_t i = 2; i < fields.size(); ++i) {
        const std::string& check = fields[i];
        const std::string& stream = check.rfind("out", 0) == 0 ? r.out : r.err;
        const std::string text = check.substr(4);
        outChecked |= &stream == &r.out;
        errChecked |= &stream == &r.err && check[3] == '!';
        errSeen |= &stream == &r.err;
        if (check[3] == '=') {
            EXPECT_EQ(stream, text + "\n");
        } else if (check[3] == '@') {
            const std::string golden = test::ReadText(std::string(ORBIMG_TOOL_GOLDEN_DIR) + "/" + text);
            EXPECT_EQ(stream, test::ReplaceAll(golden, "DIR", dir.Path().string()));
        } else {
            const std::size_t at = stream.find(text);
            EXPECT_TRUE(check[3] == '^'   ? at == 0
                        : check[3] == '~' ? at != std::string::npos
                                          : at == std::string::npos)
                << check << "\n"
                << stream;
        }
    }
    EXPECT_TRUE(status != 0 || errSeen || r.err.empty()) << r.err;
    if (status != 0) {
        EXPECT_TRUE(errChecked || r.err.rfind("orbimg: ", 0) == 0) << r.err;
        EXPECT_TRUE(errChecked || std::count(r.err.begin(), r.err.end(), '\n') == 1) << r.err;
        EXPECT_TRUE(outChecked || r.out.empty()) << r.out;
        for (std::size_t i = 0; i + 1 < args.size(); ++i) {
            EXPECT_FALSE((args[i] == "-o" || args[i] == "--csv") && std::filesystem::is_regular_file(args[i + 1]));
        }
    }
}

std::vector<test::GoldenLine> RunLines()
{
    auto lines = test::GoldenLines("runs.txt");
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const auto& l) { return !std::isdigit(l.text[0]) && l.text[0] != '$'; }),
                lines.end());
    return lines;
}

INSTANTIATE_TEST_SUITE_P(Golden, Runs, ::testing::ValuesIn(RunLines()), test::LineName);

// ---- valid files once refused ----

// As astropy writes it: ZTENSION, ZPCOUNT and ZGCOUNT after the image's own
// cards, no ZSIMPLE (golden/files/late.fits; runs of the tool on it:
// golden/runs.txt).
TEST(Reliability, CompressedHeaderThatCfitsioCannotConvert)
{
    const ImageFile f = LoadImageFile(std::string(ORBIMG_TOOL_GOLDEN_DIR) + "/files/late.fits");
    EXPECT_NE(f.headerNote.find("cfitsio could not convert it"), std::string::npos) << f.headerNote;
    EXPECT_EQ(f.header.Value("OBJECT"), "'M 13    '");
    EXPECT_FALSE(f.header.Value("EXTNAME"));
    for (const auto& card : f.header.Cards()) {
        EXPECT_NE(card[0], 'Z') << card;
    }
    EXPECT_EQ(test::At(f, 0, 11), -3000.0f);  // FITS pixel (1, 1)
}

}  // namespace
}  // namespace orbimg::tool
