// Runs of the tool against golden/runs.txt: the command lines and files
// refused, damaged and hostile files among them; and the valid files that
// once crashed or were refused: tile-compressed images with tiles of several
// rows, a compressed header cfitsio cannot convert (a palette PNG with
// transparency: golden/pngread.txt). Every file is made here, small, by
// cfitsio, libjpeg or zlib and then patched.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <optional>

#include "imagefile.h"
#include "membudget.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::MakeFits;
using test::PngChunk;
using test::PngHeader;
using test::PutBigEndian;
using test::ScratchDir;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---- byte surgery on FITS files ----

std::string Card(const std::string& text)
{
    std::string card = text.substr(0, 80);
    card.resize(80, ' ');
    return card;
}

/// Offsets of the header and data of HDU 2 (the compressed table).
struct Hdu2 {
    std::size_t header = 0;
    std::size_t data = 0;
};

Hdu2 FindHdu2(const std::string& path)
{
    int status = 0;
    fitsfile* f = nullptr;
    LONGLONG header = 0, data = 0, end = 0;
    fits_open_diskfile(&f, path.c_str(), READONLY, &status);
    fits_movabs_hdu(f, 2, nullptr, &status);
    fits_get_hduaddrll(f, &header, &data, &end, &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0);
    return {static_cast<std::size_t>(header), static_cast<std::size_t>(data)};
}

/// Replaces the card of `key` in the header at `header`.
void SetCard(std::string& bytes, std::size_t header, const std::string& key, const std::string& card)
{
    for (std::size_t at = header; at + 80 <= bytes.size(); at += 80) {
        if (FitsHeader::Keyword(bytes.substr(at, 80)) == key) {
            bytes.replace(at, 80, Card(card));
            return;
        }
    }
    ADD_FAILURE() << key << " not found";
}

std::uint32_t GetBigEndian(const std::string& bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return v;
}

/// A tile-compressed image of `samples` (FITS order); `tileRows` 0 keeps
/// cfitsio's default tiles.
void MakeTiled(const std::string& path, int compression, int tileRows, int bitpix, long width, long height,
               const std::vector<double>& samples, std::optional<long> blank = std::nullopt)
{
    MakeFits(path, [&](fitsfile* f, int* status) {
        fits_set_compression_type(f, compression, status);
        if (tileRows > 0) {
            long tile[2] = {width, tileRows};
            fits_set_tile_dim(f, 2, tile, status);
        }
        if (bitpix < 0) {
            fits_set_quantize_level(f, 0.0, status);  // lossless
        }
        long axes[2] = {width, height};
        fits_create_img(f, bitpix, 2, axes, status);
        if (blank) {
            fits_write_key_lng(f, "BLANK", *blank, "", status);
        }
        fits_write_key_str(f, "OBJECT", "M 13", "", status);
        long first[2] = {1, 1};
        std::vector<double> copy(samples);
        // cfitsio compresses integers only from their own type.
        if (bitpix == SHORT_IMG) {
            std::vector<short> whole(samples.begin(), samples.end());
            fits_write_pix(f, TSHORT, first, static_cast<LONGLONG>(whole.size()), whole.data(), status);
        } else if (bitpix > 0) {
            std::vector<int> whole(samples.begin(), samples.end());
            fits_write_pix(f, TINT, first, static_cast<LONGLONG>(whole.size()), whole.data(), status);
        } else {
            fits_write_pix(f, TDOUBLE, first, static_cast<LONGLONG>(copy.size()), copy.data(), status);
        }
    });
}

/// Samples of a test frame, with every 7th one `blank` when given.
std::vector<double> Frame(long width, long height, std::optional<double> blank)
{
    std::vector<double> v;
    for (long i = 0; i < width * height; ++i) {
        v.push_back(blank && i % 7 == 3 ? *blank : static_cast<double>((i * 7919) % 6001 - 3000));
    }
    return v;
}

// ---- valid multi-row tiles ----

class MultiRowTiles : public ::testing::TestWithParam<test::GoldenLine> {};

// A line of golden/tiles.txt: compression | rows per tile | BITPIX | blanks.
TEST_P(MultiRowTiles, LoadAsTheUncompressedOriginal)
{
    const auto c = test::Numbers(test::ReplaceAll(GetParam().text, "|", " "));
    ASSERT_EQ(c.size(), 4u);
    const int bitpix = static_cast<int>(c[2]);
    const bool blanks = c[3] != 0;
    ScratchDir dir;
    const long width = 37;
    const long height = 23;  // part tiles at the top
    const bool floats = bitpix < 0;
    const std::optional<double> blank = !blanks  ? std::nullopt
                                        : floats ? std::optional<double>(kNaN)
                                                 : std::optional<double>(-32768.0);
    const std::optional<long> blankKey = blanks && !floats ? std::optional<long>(-32768) : std::nullopt;
    const auto samples = Frame(width, height, blank);
    test::MakeImageFits(dir / "plain.fits", bitpix, {width, height}, samples, [&](fitsfile* f, int* status) {
        if (blankKey) {
            fits_write_key_lng(f, "BLANK", *blankKey, "", status);
        }
    });
    MakeTiled(dir / "tiled.fits", static_cast<int>(c[0]), static_cast<int>(c[1]), bitpix, width, height, samples,
              blankKey);
    const ImageFile plain = LoadImageFile(dir / "plain.fits");
    const ImageFile tiled = LoadImageFile(dir / "tiled.fits");
    EXPECT_TRUE(tiled.compressed);
    EXPECT_EQ(tiled.hdu, 2);
    EXPECT_EQ(tiled.bitDepth, bitpix);
    const auto a = test::Samples(plain);
    const auto b = test::Samples(tiled);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);  // NaN for NaN
    EXPECT_EQ(std::isnan(test::At(tiled, 3, height - 1)), blanks);            // sample 3 of FITS row 1
    EXPECT_EQ(tiled.header.Value("OBJECT"), "'M 13    '");
    EXPECT_FALSE(tiled.header.Value("EXTNAME"));
    for (const auto& card : tiled.header.Cards()) {  // nothing of the table's own header
        EXPECT_TRUE(card[0] != 'Z' && card.rfind("TTYPE", 0) != 0) << card;
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, MultiRowTiles, ::testing::ValuesIn(test::GoldenLines("tiles.txt")),
                         test::LineName);

// ---- PNG and JPEG made by hand ----

/// A small progressive JPEG, its frame header then patched to claim width x height.
std::string ProgressiveJpeg(int width, int height)
{
    std::string jpeg = test::MakeJpeg(16, 16, 1, std::vector<unsigned char>(256, 128), true);
    const std::size_t sof = jpeg.find("\xFF\xC2");
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xFF);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

/// A gzip file of a FITS header followed by `zeros` zero bytes of data.
void GzipFits(const std::string& path, const std::string& header, std::uint64_t zeros)
{
    gzFile gz = gzopen(path.c_str(), "wb9");
    gzwrite(gz, header.data(), static_cast<unsigned>(header.size()));
    const std::string block(1 << 16, '\0');
    for (std::uint64_t left = zeros; left > 0;) {
        const unsigned n = static_cast<unsigned>(std::min<std::uint64_t>(left, block.size()));
        gzwrite(gz, block.data(), n);
        left -= n;
    }
    gzclose(gz);
}

std::string PrimaryHeader(long width, long height, int bitpix)
{
    std::string h = Card("SIMPLE  =                    T") + Card("BITPIX  = " + std::to_string(bitpix)) +
                    Card("NAXIS   =                    2") + Card("NAXIS1  = " + std::to_string(width)) +
                    Card("NAXIS2  = " + std::to_string(height)) + Card("END");
    h.resize(2880, ' ');
    return h;
}

// ---- the files of golden/runs.txt ----

using Maker = std::function<void(const std::string&)>;

/// A RICE (or `compression`) file of 40 x 12 samples, patched by `patch`
/// given the bytes and the offsets of the compressed table.
Maker PatchedTiles(int compression, int tileRows, std::function<void(std::string&, const Hdu2&)> patch)
{
    return [=](const std::string& path) {
        MakeTiled(path, compression, tileRows, SHORT_IMG, 40, 12, Frame(40, 12, std::nullopt));
        const Hdu2 hdu2 = FindHdu2(path);
        std::string bytes = test::ReadText(path);
        patch(bytes, hdu2);
        test::WriteText(path, bytes);
    };
}

/// A 50 x 50 FITS image cut to `size` bytes.
Maker CutFits(std::uintmax_t size)
{
    return [=](const std::string& path) {
        test::MakeImageFits(path, FLOAT_IMG, {50, 50}, std::vector<double>(2500, 3.0));
        std::filesystem::resize_file(path, size);
    };
}

/// Noise 64 x 64 as a PNG or JPEG, cut in half.
Maker CutRaster(bool png)
{
    return [=](const std::string& path) {
        std::vector<unsigned char> noise(64 * 64);
        for (std::size_t i = 0; i < noise.size(); ++i) {
            noise[i] = static_cast<unsigned char>(i * 7919 % 251);
        }
        test::WriteText(path, png ? test::MakePng(64, 64, 8, PNG_COLOR_TYPE_GRAY, {noise.begin(), noise.end()})
                                  : test::MakeJpeg(64, 64, 1, noise));
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    };
}

const std::map<std::string, Maker> kFiles = {
    {"cut.fits", CutFits(2880 + 2880)},
    {"short-header.fits", CutFits(400)},
    {"cut.png", CutRaster(true)},
    {"cut.jpg", CutRaster(false)},
    {"b.fits",  // a star with a blank on its profile
     [](const std::string& path) {
         std::vector<double> values = test::StarFrame(40, 40, 100, 1, {{20, 20, 500, 3}});
         values[static_cast<std::size_t>(19 * 40 + 21)] = kNaN;
         test::MakeImageFits(path, FLOAT_IMG, {40, 40}, values);
     }},
    {"rice-cut.fits", PatchedTiles(RICE_1, 4, [](std::string& b, const Hdu2& h) { PutBigEndian(b, h.data, 9); })},
    {"heap.fits",
     PatchedTiles(RICE_1, 4, [](std::string& b, const Hdu2& h) { PutBigEndian(b, h.data + 12, 0x7FFFFF00); })},
    {"hcompress.fits", PatchedTiles(HCOMPRESS_1, 0,
                                    [](std::string& b, const Hdu2& h) {
                                        // one row of 8 bytes, then the heap
                                        const std::size_t heap = h.data + GetBigEndian(b, h.data + 4) + 8;
                                        PutBigEndian(b, heap + 2, 1000);
                                    })},
    {"bomb.fits.gz", [](const std::string& path) { GzipFits(path, PrimaryHeader(2048, 2048, 8), 2048 * 2048); }},
    {"budget.fits.gz",  // noise barely shrinks
     [](const std::string& path) {
         std::string bytes = PrimaryHeader(4096, 2048, 16);
         for (std::uint32_t i = 0, x = 1; i < 4096 * 2048 * 2; ++i, x = x * 1664525u + 1013904223u) {
             bytes += static_cast<char>(x >> 24);
         }
         GzipFits(path, bytes, 0);
     }},
    {"claim.fits.gz", [](const std::string& path) { GzipFits(path, PrimaryHeader(100000, 100000, 8), 2880); }},
    {"huge.png",
     [](const std::string& path) {
         std::string png = PngHeader(32767, 32767, 16, PNG_COLOR_TYPE_GRAY);
         PngChunk(png, "IDAT", "", 0);
         PngChunk(png, "IEND", "", 0);
         test::WriteText(path, png);
     }},
    {"text.png",  // a text chunk claiming 2 GB
     [](const std::string& path) {
         std::string png = PngHeader(1, 1, 8, PNG_COLOR_TYPE_GRAY);
         PngChunk(png, "tEXt", "a", 0x7FFFFFFF);
         test::WriteText(path, png);
     }},
    {"f2.fits", [](const std::string& path) { test::MakeFocusFrame(path, 2.0, true); }},
    {"f4.fits", [](const std::string& path) { test::MakeFocusFrame(path, 4.0); }},
    {"f6.fits", [](const std::string& path) { test::MakeFocusFrame(path, 6.0); }},
    {"s.fits", test::MakeStarField},
    {"p.png", [](const std::string& path) { test::MakeStarPng(path); }},
    {"folder.fits", [](const std::string& path) { std::filesystem::create_directory(path); }},
    {"huge.jpg", [](const std::string& path) { test::WriteText(path, ProgressiveJpeg(32767, 32767)); }},
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
    for (const auto& file : test::GoldenLines("runs.txt")) {  // the "text", "fits" and "tiles" lines
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
        } else if (kind == "tiles") {
            PatchedTiles(RICE_1, std::stoi(parts[1]), [&](std::string& bytes, const Hdu2& h) {
                for (std::size_t i = 2; i < parts.size() && !parts[i].empty(); ++i) {
                    SetCard(bytes, h.header, FitsHeader::Keyword(Card(parts[i])), parts[i]);
                }
            })(path);
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
    for (std::size_t i = 2; i < fields.size(); ++i) {
        const std::string& check = fields[i];
        const std::string& stream = check.rfind("out", 0) == 0 ? r.out : r.err;
        const std::string text = check.substr(4);
        outChecked |= &stream == &r.out;
        errChecked |= &stream == &r.err && check[3] == '!';
        if (check[3] == '=') {
            EXPECT_EQ(stream, text + "\n");
        } else {
            const std::size_t at = stream.find(text);
            EXPECT_TRUE(check[3] == '^'   ? at == 0
                        : check[3] == '~' ? at != std::string::npos
                                          : at == std::string::npos)
                << check << "\n"
                << stream;
        }
    }
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

TEST(Reliability, CompressedHeaderThatCfitsioCannotConvert)
{
    // As astropy writes it: ZTENSION, ZPCOUNT and ZGCOUNT after the image's
    // own cards, no ZSIMPLE.
    ScratchDir dir;
    const std::string path = dir / "late.fits";
    MakeTiled(path, RICE_1, 1, SHORT_IMG, 40, 12, Frame(40, 12, std::nullopt));
    const Hdu2 h = FindHdu2(path);
    std::string bytes = test::ReadText(path);
    std::vector<std::string> cards;
    for (std::size_t at = h.header; at < h.data; at += 80) {
        const std::string card = bytes.substr(at, 80);
        const std::string key = FitsHeader::Keyword(card);
        if (key == "END") {
            break;
        }
        if (key != "ZSIMPLE") {
            cards.push_back(card);
        }
    }
    for (const char* extra :
         {"ZTENSION= 'IMAGE   '", "ZPCOUNT =                    0", "ZGCOUNT =                    1", "END"}) {
        cards.push_back(Card(extra));
    }
    std::string header;
    for (const auto& card : cards) {
        header += card;
    }
    header.resize((header.size() + 2879) / 2880 * 2880, ' ');
    bytes = bytes.substr(0, h.header) + header + bytes.substr(h.data);
    test::WriteText(path, bytes);

    const ImageFile f = LoadImageFile(path);
    EXPECT_NE(f.headerNote.find("cfitsio could not convert it"), std::string::npos) << f.headerNote;
    EXPECT_EQ(f.header.Value("OBJECT"), "'M 13    '");
    EXPECT_FALSE(f.header.Value("EXTNAME"));
    for (const auto& card : f.header.Cards()) {
        EXPECT_NE(card[0], 'Z') << card;
    }
    EXPECT_EQ(test::At(f, 0, 11), -3000.0f);  // FITS pixel (1, 1)
    const auto info = test::RunTool({"info", path});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("header  read as stored in the compressed table"), std::string::npos) << info.out;
    EXPECT_EQ(test::RunTool({"stars", path, "--auto"}).err.find("cannot read"), std::string::npos);
}

}  // namespace
}  // namespace orbimg::tool
