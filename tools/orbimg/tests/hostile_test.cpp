// Damaged and hostile files, and the valid files that once crashed or were
// refused: tile-compressed images with tiles of several rows, a compressed
// header cfitsio cannot convert, a palette PNG with transparency. Every file
// is made here, small, by cfitsio, libjpeg or zlib and then patched.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
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

std::size_t HeaderEnd(const std::string& bytes, std::size_t from)
{
    for (std::size_t at = from; at + 80 <= bytes.size(); at += 80) {
        if (bytes.compare(at, 8, "END     ") == 0) {
            return (at / 2880 + 1) * 2880;
        }
    }
    return bytes.size();
}

Hdu2 FindHdu2(const std::string& bytes)
{
    Hdu2 h;
    h.header = HeaderEnd(bytes, 0);  // the primary HDU of a compressed file holds no data
    h.data = HeaderEnd(bytes, h.header);
    return h;
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

bool SameImage(const CKelImage& a, const CKelImage& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetPlanes() != b.GetPlanes()) {
        return false;
    }
    for (int y = 0; y < a.GetHeight(); ++y) {
        const auto* ra = const_cast<CKelImage&>(a).GetImageAdr(0, y, 0, 1, nullptr);
        const auto* rb = const_cast<CKelImage&>(b).GetImageAdr(0, y, 0, 1, nullptr);
        if (std::memcmp(ra, rb, static_cast<std::size_t>(a.GetWidth()) * sizeof(float)) != 0) {
            return false;
        }
    }
    return true;
}

// ---- valid multi-row tiles ----

struct TileCase {
    const char* name;
    int compression;
    int tileRows;
    int bitpix;
    bool blanks;
};

class MultiRowTiles : public ::testing::TestWithParam<TileCase> {};

// cfitsio 4.2's row-by-row reader crashed on these when no sample was blank.
TEST_P(MultiRowTiles, LoadAsTheUncompressedOriginal)
{
    const TileCase& c = GetParam();
    ScratchDir dir;
    const long width = 37;
    const long height = 23;  // part tiles at the top
    const bool floats = c.bitpix < 0;
    const std::optional<double> blank = !c.blanks ? std::nullopt
                                        : floats  ? std::optional<double>(kNaN)
                                                  : std::optional<double>(-32768.0);
    const std::optional<long> blankKey = c.blanks && !floats ? std::optional<long>(-32768) : std::nullopt;
    const auto samples = Frame(width, height, blank);
    test::MakeImageFits(dir / "plain.fits", c.bitpix, {width, height}, samples, [&](fitsfile* f, int* status) {
        if (blankKey) {
            fits_write_key_lng(f, "BLANK", *blankKey, "", status);
        }
    });
    MakeTiled(dir / "tiled.fits", c.compression, c.tileRows, c.bitpix, width, height, samples, blankKey);
    const ImageFile plain = LoadImageFile(dir / "plain.fits");
    const ImageFile tiled = LoadImageFile(dir / "tiled.fits");
    EXPECT_TRUE(tiled.compressed);
    EXPECT_EQ(tiled.hdu, 2);
    EXPECT_EQ(tiled.bitDepth, c.bitpix);
    EXPECT_TRUE(SameImage(*plain.image, *tiled.image));
    EXPECT_EQ(std::isnan(test::At(tiled, 3, height - 1)), c.blanks);  // sample 3 of FITS row 1
    EXPECT_EQ(tiled.header.Value("OBJECT"), "'M 13    '");
    EXPECT_FALSE(tiled.header.Value("EXTNAME"));
    for (const auto& card : tiled.header.Cards()) {  // nothing of the table's own header
        EXPECT_TRUE(card[0] != 'Z' && card.rfind("TTYPE", 0) != 0) << card;
    }
}

INSTANTIATE_TEST_SUITE_P(Reliability, MultiRowTiles,
                         ::testing::Values(TileCase{"Hcompress16", HCOMPRESS_1, 0, SHORT_IMG, false},
                                           TileCase{"Hcompress16Blank", HCOMPRESS_1, 0, SHORT_IMG, true},
                                           TileCase{"Hcompress32", HCOMPRESS_1, 0, LONG_IMG, false},
                                           TileCase{"Rice16", RICE_1, 4, SHORT_IMG, false},
                                           TileCase{"Rice16Blank", RICE_1, 4, SHORT_IMG, true},
                                           TileCase{"Rice32", RICE_1, 5, LONG_IMG, false},
                                           TileCase{"Gzip16", GZIP_1, 4, SHORT_IMG, false},
                                           TileCase{"Gzip2Float", GZIP_2, 4, FLOAT_IMG, false},
                                           TileCase{"GzipFloatNaN", GZIP_1, 4, FLOAT_IMG, true}),
                         [](const ::testing::TestParamInfo<TileCase>& info) { return std::string(info.param.name); });

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

// ---- hostile files ----

struct Hostile {
    const char* name;
    const char* reason;  ///< part of the one error line
    std::function<void(const ScratchDir&, const std::string&)> make;
};

/// A RICE (or `compression`) file of 40 x 12 samples, patched by `patch`
/// given the bytes and the offsets of the compressed table.
std::function<void(const ScratchDir&, const std::string&)> PatchedTiles(
    int compression, int tileRows, std::function<void(std::string&, const Hdu2&)> patch)
{
    return [=](const ScratchDir&, const std::string& path) {
        MakeTiled(path, compression, tileRows, SHORT_IMG, 40, 12, Frame(40, 12, std::nullopt));
        std::string bytes = test::ReadText(path);
        patch(bytes, FindHdu2(bytes));
        test::WriteText(path, bytes);
    };
}

const Hostile kHostile[] = {
    {"ztile0.fits", "ZTILE2 = 0 (a tile side is at least 1)",
     PatchedTiles(RICE_1, 4, [](std::string& b, const Hdu2& h) { SetCard(b, h.header, "ZTILE2", "ZTILE2  = 0"); })},
    {"rice-cut.fits", "tile 1 of 3: its Rice stream is damaged or ends before its 160 pixels do",
     PatchedTiles(RICE_1, 4, [](std::string& b, const Hdu2& h) { PutBigEndian(b, h.data, 9); })},
    {"heap.fits", "tile 2 of 3: COMPRESSED_DATA points past the heap",
     PatchedTiles(RICE_1, 4, [](std::string& b, const Hdu2& h) { PutBigEndian(b, h.data + 12, 0x7FFFFF00); })},
    {"hcompress.fits", "its HCOMPRESS stream is 40 x 1000 for a tile of 40 x 12",
     PatchedTiles(HCOMPRESS_1, 0,
                  [](std::string& b, const Hdu2& h) {
                      const std::size_t heap = h.data + GetBigEndian(b, h.data + 4) + 8;  // one row of 8 bytes
                      PutBigEndian(b, heap + 2, 1000);
                  })},
    {"zbitpix.fits", "ZBITPIX missing or not 8, 16, 32, 64, -32 or -64",
     PatchedTiles(RICE_1, 4, [](std::string& b, const Hdu2& h) { SetCard(b, h.header, "ZBITPIX", "ZBITPIX = 12"); })},
    {"lzma.fits", "unknown compression ZCMPTYPE = 'LZMA_1'",
     PatchedTiles(RICE_1, 4,
                  [](std::string& b, const Hdu2& h) { SetCard(b, h.header, "ZCMPTYPE", "ZCMPTYPE= 'LZMA_1'"); })},
    {"rows.fits", "the table has 3 rows for 4 tiles",
     PatchedTiles(RICE_1, 4, [](std::string& b, const Hdu2& h) { SetCard(b, h.header, "ZNAXIS2", "ZNAXIS2 = 13"); })},
    {"tile-gb.fits", "more than the memory budget",  // a 30000 x 30000 image in one tile
     PatchedTiles(RICE_1, 12,
                  [](std::string& b, const Hdu2& h) {
                      for (const char* key : {"ZNAXIS1", "ZNAXIS2", "ZTILE1", "ZTILE2"}) {
                          SetCard(b, h.header, key, std::string(key) + " = 30000");
                      }
                  })},
    {"bomb.fits.gz", "the gzip file would inflate more than 256-fold",
     [](const ScratchDir&, const std::string& path) { GzipFits(path, PrimaryHeader(2048, 2048, 8), 2048 * 2048); }},
    {"budget.fits.gz", "more than the memory budget of 32 MB",  // noise barely shrinks
     [](const ScratchDir&, const std::string& path) {
         std::string bytes = PrimaryHeader(4096, 2048, 16);
         for (std::uint32_t i = 0, x = 1; i < 4096 * 2048 * 2; ++i, x = x * 1664525u + 1013904223u) {
             bytes += static_cast<char>(x >> 24);
         }
         GzipFits(path, bytes, 0);
     }},
    {"claim.fits.gz", "truncated FITS file: the data ends before the image does",
     [](const ScratchDir&, const std::string& path) { GzipFits(path, PrimaryHeader(100000, 100000, 8), 2880); }},
    {"huge.png", "truncated PNG file: 32767 x 32767 pixels cannot be held in 57 bytes",
     [](const ScratchDir&, const std::string& path) {
         std::string png = PngHeader(32767, 32767, 16, PNG_COLOR_TYPE_GRAY);
         PngChunk(png, "IDAT", "", 0);
         PngChunk(png, "IEND", "", 0);
         test::WriteText(path, png);
     }},
    {"text.png", "truncated PNG file: the file ends inside a chunk",  // a text chunk claiming 2 GB
     [](const ScratchDir&, const std::string& path) {
         std::string png = PngHeader(1, 1, 8, PNG_COLOR_TYPE_GRAY);
         PngChunk(png, "tEXt", "a", 0x7FFFFFFF);
         test::WriteText(path, png);
     }},
    {"huge.jpg", "truncated JPEG file: 32767 x 32767 pixels cannot be held in",
     [](const ScratchDir&, const std::string& path) { test::WriteText(path, ProgressiveJpeg(32767, 32767)); }},
};

class HostileFiles : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileFiles, OneLineStatusOneAndNoOutput)
{
    const Hostile& h = GetParam();
    ScratchDir dir;
    const std::string path = dir / h.name;
    h.make(dir, path);
    SetMemoryBudget(std::uint64_t{32} << 20);
    const auto r = test::RunTool({"render", path, "-o", dir / "out.png"});
    SetMemoryBudget(std::nullopt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("orbimg: cannot read '" + path + "': ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(h.reason), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
}

INSTANTIATE_TEST_SUITE_P(Reliability, HostileFiles, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<Hostile>& info) {
                             std::string name = info.param.name;
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

// ---- valid files once refused ----

TEST(Reliability, CompressedHeaderThatCfitsioCannotConvert)
{
    // As astropy writes it: ZTENSION, ZPCOUNT and ZGCOUNT after the image's
    // own cards, no ZSIMPLE.
    ScratchDir dir;
    const std::string path = dir / "late.fits";
    MakeTiled(path, RICE_1, 1, SHORT_IMG, 40, 12, Frame(40, 12, std::nullopt));
    std::string bytes = test::ReadText(path);
    const Hdu2 h = FindHdu2(bytes);
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

TEST(Reliability, TransparencyChunksAreDroppedLikeAlpha)
{
    ScratchDir dir;
    // A 2 x 1 palette image, entry 0 transparent.
    std::string chunks;
    PngChunk(chunks, "PLTE", std::string("\x01\x02\x03\xC8\x64\x32", 6), 6);
    PngChunk(chunks, "tRNS", std::string("\x00", 1), 1);
    test::WriteText(dir / "trns.png", test::MakePng(2, 1, 8, PNG_COLOR_TYPE_PALETTE, {1, 0}, chunks));
    const ImageFile p = LoadImageFile(dir / "trns.png");
    ASSERT_EQ(p.image->GetPlanes(), 3);
    EXPECT_EQ(test::At(p, 0, 0, 0), 200.0f);
    EXPECT_EQ(test::At(p, 1, 0, 2), 3.0f);
}

TEST(Reliability, MemorySizes)
{
    EXPECT_EQ(ParseMemorySize("512M", "x"), std::uint64_t{512} << 20);
    EXPECT_EQ(ParseMemorySize("4gib", "x"), std::uint64_t{4} << 30);
    EXPECT_EQ(ParseMemorySize("1500000000", "x"), 1500000000u);
    for (const char* bad : {"", "0", "-1", "1.5G", "12Q", "99999999999999999999", "16777216T"}) {
        EXPECT_THROW(ParseMemorySize(bad, "x"), UsageError) << bad;
    }
    EXPECT_EQ(test::RunTool({"info", "x.fits", "--max-memory", "lots"}).status, 2);
}

}  // namespace
}  // namespace orbimg::tool
