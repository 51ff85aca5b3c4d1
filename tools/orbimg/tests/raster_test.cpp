// PNG and JPEG input; BMP and PNG output from packed DIBs.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "dibfile.h"
#include "imagefile.h"
#include "literaldeflate.h"
#include "pngrows.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::Samples;
using test::ScratchDir;

class PngRead : public ::testing::TestWithParam<test::GoldenLine> {};

// A line of pngread.txt: colour type | depth | size | samples | samples read
// [| chunks before the pixels].
TEST_P(PngRead, EveryColourTypeAtBothDepths)
{
    const auto fields = test::Split(GetParam().text, " | ");
    ASSERT_GE(fields.size(), 5u);
    const auto size = test::Numbers(fields[2]);
    const auto samples = test::Numbers(fields[3]);
    const auto expected = test::Numbers(fields[4]);
    std::string chunks;
    for (std::size_t i = 5; i < fields.size(); ++i) {
        std::string bytes;
        for (const double b : test::Numbers(fields[i].substr(4))) {
            bytes += static_cast<char>(b);
        }
        test::PngChunk(chunks, fields[i].c_str(), bytes, static_cast<std::uint32_t>(bytes.size()));
    }
    ScratchDir dir;
    test::WriteText(dir / "in.png", test::MakePng(int(size[0]), int(size[1]), std::stoi(fields[1]),
                                                  std::stoi(fields[0]), {samples.begin(), samples.end()}, chunks));
    const ImageFile f = LoadImageFile(dir / "in.png");
    EXPECT_EQ(f.format, "PNG");
    EXPECT_EQ(f.bitDepth, std::stoi(fields[1]));
    EXPECT_EQ(Samples(f), std::vector<float>(expected.begin(), expected.end()));
}

INSTANTIATE_TEST_SUITE_P(Golden, PngRead, ::testing::ValuesIn(test::GoldenLines("pngread.txt")), test::LineName);

// A ramp and a flat colour survive quality 100 within a level or two, row 0
// the top (golden/files/g.jpg, c.jpeg).
TEST(JpegRead, GreyAndColour)
{
    const std::string files = std::string(ORBIMG_TOOL_GOLDEN_DIR) + "/files/";
    const float colour[3] = {200, 100, 30};
    std::vector<float> grey(16 * 8);         // rows of 0, 30, .. 210
    std::vector<float> planes(16 * 16 * 3);  // of the colour picture, plane after plane
    for (std::size_t i = 0; i < planes.size(); ++i) {
        grey[i % grey.size()] = static_cast<float>(i % grey.size() / 16 * 30);
        planes[i] = colour[i / 256];
    }
    const ImageFile g = LoadImageFile(files + "g.jpg");
    EXPECT_EQ(g.format, "JPEG");
    EXPECT_EQ(g.bitDepth, 8);
    ASSERT_EQ(g.image->GetWidth(), 16);
    for (const auto& [got, want] : {std::pair{Samples(g), grey}, {Samples(LoadImageFile(files + "c.jpeg")), planes}}) {
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i], want[i], 2.0f) << want.size() << " samples, " << i;
        }
    }
}

/// A packed DIB made by hand: header, colour table, rows as given (stored
/// order, padding included).
std::vector<unsigned char> MakeDib(int width, int height, int bitCount, const std::vector<RGBQUAD>& table,
                                   const std::vector<unsigned char>& rows, DWORD clrUsed = 0)
{
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(rows.size());
    h.biClrUsed = clrUsed;
    std::vector<unsigned char> dib(sizeof h + table.size() * sizeof(RGBQUAD) + rows.size());
    std::memcpy(dib.data(), &h, sizeof h);
    std::copy(table.begin(), table.end(), reinterpret_cast<RGBQUAD*>(dib.data() + sizeof h));
    std::copy(rows.begin(), rows.end(),
              dib.begin() + static_cast<std::ptrdiff_t>(sizeof h + table.size() * sizeof(RGBQUAD)));
    return dib;
}

std::vector<RGBQUAD> GreyRamp()
{
    std::vector<RGBQUAD> table(256);
    for (int i = 0; i < 256; ++i) {
        table[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    }
    return table;
}

// 3 x 2, 8 bits: picture rows top (10 20 30) and bottom (40 50 60), stored
// bottom-up with one pad byte each.
const std::vector<unsigned char> kGreyRows = {40, 50, 60, 0, 10, 20, 30, 0};

TEST(DibOutput, BmpIsTheDibBehindAFileHeader)
{
    ScratchDir dir;
    const auto dib = MakeDib(3, 2, 8, GreyRamp(), kGreyRows);
    WriteBmpFile(dir / "g.bmp", dib.data(), dib.size());
    const std::string bmp = test::ReadText(dir / "g.bmp");
    ASSERT_EQ(bmp.size(), 14 + dib.size());
    const auto* b = reinterpret_cast<const unsigned char*>(bmp.data());
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(b[2] | b[3] << 8 | b[4] << 16 | b[5] << 24, 14 + 40 + 1024 + 8);
    EXPECT_EQ(b[6] | b[7] | b[8] | b[9], 0);
    EXPECT_EQ(b[10] | b[11] << 8 | b[12] << 16 | b[13] << 24, 14 + 40 + 1024);
    EXPECT_EQ(std::memcmp(b + 14, dib.data(), dib.size()), 0);

    // A larger global block than the bitmap needs: only the bitmap is written.
    auto padded = dib;
    padded.resize(dib.size() + 100, 0xEE);
    WriteBmpFile(dir / "p.bmp", padded.data(), padded.size());
    EXPECT_EQ(test::ReadText(dir / "p.bmp"), bmp);
}

TEST(DibOutput, PngHoldsTheSamePixels)
{
    ScratchDir dir;
    const auto grey = MakeDib(3, 2, 8, GreyRamp(), kGreyRows);
    WritePngFile(dir / "g.png", grey.data(), grey.size());
    EXPECT_EQ(Samples(LoadImageFile(dir / "g.png")), (std::vector<float>{10, 20, 30, 40, 50, 60}));

    // A palette that is not grey: an RGB PNG through the table; an index
    // past a 2-entry table reads black.
    const std::vector<RGBQUAD> table = {RGBQUAD{3, 2, 1, 0}, RGBQUAD{30, 20, 10, 0}};
    const auto pal = MakeDib(2, 1, 8, table, {1, 7, 0, 0}, 2);
    WritePngFile(dir / "p.png", pal.data(), pal.size());
    EXPECT_EQ(Samples(LoadImageFile(dir / "p.png")), (std::vector<float>{10, 0, 20, 0, 30, 0}));

    // 24 bits, 3 x 2: blue, green, red per pixel, 3 pad bytes per row.
    const std::vector<unsigned char> rows = {
        3,  2,  1,  6,  5,  4,  9,  8,  7,  0, 0, 0,  // stored first: the bottom row
        13, 12, 11, 16, 15, 14, 19, 18, 17, 0, 0, 0,  // the top row
    };
    const auto rgb = MakeDib(3, 2, 24, {}, rows);
    WritePngFile(dir / "c.png", rgb.data(), rgb.size());
    EXPECT_EQ(Samples(LoadImageFile(dir / "c.png")),
              (std::vector<float>{11, 14, 17, 1, 4, 7, 12, 15, 18, 2, 5, 8, 13, 16, 19, 3, 6, 9}));

    // The same picture stored top-down.
    auto topDown = MakeDib(3, -2, 24, {}, {rows.begin() + 12, rows.end()});
    topDown.insert(topDown.end(), rows.begin(), rows.begin() + 12);
    WritePngFile(dir / "t.png", topDown.data(), topDown.size());
    EXPECT_EQ(test::ReadText(dir / "t.png"), test::ReadText(dir / "c.png"));
}

// Wide rows of 24 and 32 bits, bottom-up and top-down, go through the
// vector filter: the PNG reads back as the plain conversion has the DIB.
TEST(DibOutput, WideRowsAsThePlainConversion)
{
    ScratchDir dir;
    const int w = 203;
    const int h = 5;
    std::uint32_t seed = 7;
    for (const int bits : {24, 32}) {
        std::vector<unsigned char> rows((static_cast<std::size_t>(w) * bits / 8 + 3) / 4 * 4 * h);
        for (auto& b : rows) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(seed >> 24);
        }
        const auto dib = MakeDib(w, bits == 24 ? h : -h, bits, {}, rows);
        WritePngFile(dir / "w.png", dib.data(), dib.size());
        const Raster raster = DibToRaster(ParseDib(dib.data(), dib.size()));
        const std::vector<float> planes = Samples(LoadImageFile(dir / "w.png"));
        ASSERT_EQ(planes.size(), raster.samples.size());
        for (std::size_t i = 0; i < raster.samples.size(); ++i) {
            ASSERT_EQ(planes[i % 3 * w * h + i / 3], raster.samples[i]) << bits << " bits, sample " << i;
        }
    }
}

// The vector Adler-32 is zlib's: short and odd lengths, across its blocks of
// vectors (bytes of 255 first, the largest sums), from 1 and from a running
// value.
TEST(PngRows, AdlerAsZlibs)
{
    std::vector<unsigned char> bytes(300007, 255);
    for (std::size_t i = 200000; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 131 >> 3);
    }
    for (const std::size_t n : {0, 1, 15, 17, 64, 65, 1001, 262177, 300007}) {
        for (const std::uint32_t start : {1u, 0xFFF0FFF0u}) {
            EXPECT_EQ(Adler32(start, bytes.data(), n), adler32_z(start, bytes.data(), n)) << n;
        }
    }
}

// Bytes coded alone inflate back, as one stream when blocks of several calls
// are joined: no bytes; one value; all 256 evenly; counts growing as the
// Fibonacci numbers, whose optimal code is 24 bits deep (past deflate's 15).
TEST(LiteralDeflate, InflatesBackAcrossJoinedBlocks)
{
    std::vector<std::vector<unsigned char>> cases = {{}, std::vector<unsigned char>(1000, 7), {}, {}};
    for (int i = 0; i < 4096; ++i) {
        cases[2].push_back(static_cast<unsigned char>(i * 37));
    }
    for (long long a = 1, b = 1, v = 0; v < 25; ++v, std::tie(a, b) = std::pair(b, a + b)) {
        cases[3].insert(cases[3].end(), static_cast<std::size_t>(a), static_cast<unsigned char>(v * 10));
    }
    std::vector<unsigned char> stream;
    std::vector<unsigned char> all;
    for (std::size_t c = 0; c < cases.size(); ++c) {
        DeflateLiterals(cases[c].data(), cases[c].size(), c + 1 == cases.size(), stream);
        all.insert(all.end(), cases[c].begin(), cases[c].end());
    }
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
    std::vector<unsigned char> back(all.size() + 1);
    z.next_in = stream.data();
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = back.data();
    z.avail_out = static_cast<uInt>(back.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << (z.msg ? z.msg : "");
    EXPECT_EQ(z.avail_in, 0u);
    back.resize(back.size() - z.avail_out);
    inflateEnd(&z);
    EXPECT_EQ(back, all);
}

TEST(DibOutput, MalformedBitmapsWriteNothing)
{
    ScratchDir dir;
    const auto good = MakeDib(3, 2, 8, GreyRamp(), kGreyRows);
    auto shortBlock = good;
    shortBlock.resize(good.size() - 1);
    auto sixteen = MakeDib(3, 2, 16, {}, std::vector<unsigned char>(16));
    auto compressed = good;
    compressed[16] = 1;  // biCompression = BI_RLE8
    for (const auto* dib : {&shortBlock, &sixteen, &compressed}) {
        EXPECT_THROW(WriteBmpFile(dir / "x.bmp", dib->data(), dib->size()), ToolError);
        EXPECT_THROW(WritePngFile(dir / "x.png", dib->data(), dib->size()), ToolError);
    }
    EXPECT_THROW(WriteBmpFile(dir / "x.bmp", good.data(), 39), ToolError);
    EXPECT_TRUE(dir.Files().empty());
    EXPECT_THROW(WritePngFile(dir / "missing/x.png", good.data(), good.size()), ToolError);
    EXPECT_TRUE(dir.Files().empty());
}

}  // namespace
}  // namespace orbimg::tool
