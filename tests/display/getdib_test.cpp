// CKelImage::GetDib: packed layout (header, colour table, bottom-up rows,
// zero padding), double-precision levels at every form, and the adaptive
// palette against the independent reference in tests/reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/eachtarget.h"
#include "support/testsupport.h"

namespace {

using orbimg::test::Fill;
using orbimg::test::MakeImage;

// A locked view of a packed DIB, freed on destruction.
class Packed {
public:
    explicit Packed(HDIB block) : m_block(block)
    {
        if (block) {
            m_bytes = static_cast<const unsigned char*>(GlobalLock(block));
        }
    }
    ~Packed()
    {
        if (m_block) {
            GlobalUnlock(m_block);
            GlobalFree(m_block);
        }
    }
    Packed(const Packed&) = delete;
    Packed& operator=(const Packed&) = delete;

    bool Valid() const { return m_bytes != nullptr; }
    const BITMAPINFOHEADER& Header() const { return *reinterpret_cast<const BITMAPINFOHEADER*>(m_bytes); }
    const RGBQUAD* Colors() const { return reinterpret_cast<const RGBQUAD*>(m_bytes + 40); }
    int Stride() const { return (Header().biWidth * Header().biBitCount / 8 + 3) / 4 * 4; }
    /// Storage of image row y (rows are stored bottom-up).
    const unsigned char* Row(int y) const
    {
        const int table = Header().biBitCount == 8 ? 1024 : 0;
        return m_bytes + 40 + table + static_cast<std::size_t>(Header().biHeight - 1 - y) * Stride();
    }
    std::size_t Size() const { return GlobalSize(m_block); }

private:
    HDIB m_block;
    const unsigned char* m_bytes = nullptr;
};

// The display byte of a sample with double-precision levels, case by case.
int Expected(float sample, double lo, double hi)
{
    const double v = sample;
    if (lo >= v) {
        return 0;
    }
    if (v >= hi) {
        return 255;
    }
    if (std::isnan(v)) {
        return 0;
    }
    const double t = (v - lo) / (hi - lo) * 255.0;
    return t >= 255.0 ? 255 : static_cast<int>(t);
}

class GetDibTest : public ::testing::Test {
protected:
    void SetUp() override { m_blocks = GlobalLiveBlockCount(); }
    void TearDown() override { EXPECT_EQ(GlobalLiveBlockCount(), m_blocks); }

private:
    int m_blocks = 0;
};

TEST_F(GetDibTest, MonoLayoutAt8And24Bits)
{
    CKelImage img = MakeImage(3, 2);
    Fill(img, 0, {0, 79, 237, 300, -1, 118.5f});
    img.SetLevel(0, 0.0, 237.0);
    const int grey[6] = {0, 85, 255, 255, 0, 127};  // in double 79 x 255 / 237 = 85.0 exactly
    {
        Packed dib(img.GetDib(8));
        ASSERT_TRUE(dib.Valid());
        const BITMAPINFOHEADER& h = dib.Header();
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 3);
        EXPECT_EQ(h.biHeight, 2);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, 8);
        EXPECT_EQ(h.biCompression, BI_RGB);
        EXPECT_EQ(h.biSizeImage, 8u);  // stride 4
        EXPECT_EQ(h.biXPelsPerMeter, 0);
        EXPECT_EQ(h.biYPelsPerMeter, 0);
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(h.biClrImportant, 0u);
        EXPECT_EQ(dib.Size(), 40u + 1024u + 8u);
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD& c = dib.Colors()[i];
            ASSERT_TRUE(c.rgbBlue == i && c.rgbGreen == i && c.rgbRed == i && c.rgbReserved == 0) << i;
        }
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(dib.Row(y)[x], grey[y * 3 + x]) << x << "," << y;
            }
            EXPECT_EQ(dib.Row(y)[3], 0);  // pad
        }
        EXPECT_EQ(dib.Row(1), dib.Row(0) - 4);  // the last image row is stored first
    }
    {
        Packed dib(img.GetDib(24));
        ASSERT_TRUE(dib.Valid());
        EXPECT_EQ(dib.Header().biBitCount, 24);
        EXPECT_EQ(dib.Header().biSizeImage, 24u);  // stride 12
        EXPECT_EQ(dib.Size(), 40u + 24u);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                for (int k = 0; k < 3; ++k) {
                    EXPECT_EQ(dib.Row(y)[3 * x + k], grey[y * 3 + x]);
                }
            }
            for (int k = 9; k < 12; ++k) {
                EXPECT_EQ(dib.Row(y)[k], 0);
            }
        }
    }
}

TEST_F(GetDibTest, Colour24UsesEachPlanesLevels)
{
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    CKelImage img = MakeImage(5, 3, 3);
    Fill(img, 0, [](int x, int y) { return static_cast<float>(x * 40 + y); });
    Fill(img, 1, [](int x, int y) { return x == 2 ? kNaN : static_cast<float>(x * 100 - y); });
    Fill(img, 2, [](int x, int y) { return static_cast<float>(y * 1000 + x) - 500.0f; });
    img.SetLevel(0, 10.0, 150.0);
    img.SetLevel(1, 50.0, 250.0);
    img.SetLevel(2, -300.0, 1300.0);
    Packed dib(img.GetDib(24));
    ASSERT_TRUE(dib.Valid());
    EXPECT_EQ(dib.Header().biSizeImage, 16u * 3u);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const unsigned char* p = dib.Row(y) + 3 * x;
            EXPECT_EQ(p[0], Expected(orbimg::test::At(img, x, y, 2), -300.0, 1300.0));
            EXPECT_EQ(p[1], Expected(orbimg::test::At(img, x, y, 1), 50.0, 250.0));
            EXPECT_EQ(p[2], Expected(orbimg::test::At(img, x, y, 0), 10.0, 150.0));
        }
        EXPECT_EQ(dib.Row(y)[15], 0);
        EXPECT_EQ(dib.Row(y)[1 + 3 * 2], 0);  // NaN green is black
    }
}

TEST_F(GetDibTest, NullResults)
{
    CKelImage img = MakeImage(4, 4, 3);
    for (int bits : {0, 1, 4, 16, 32, -8}) {
        EXPECT_EQ(img.GetDib(bits), nullptr) << bits;
    }
    CKelImage empty;
    EXPECT_EQ(empty.GetDib(8), nullptr);
    EXPECT_EQ(empty.GetDib(24), nullptr);
    CKelImage noRows = MakeImage(5, 0, 3);
    EXPECT_EQ(noRows.GetDib(8), nullptr);
}

TEST_F(GetDibTest, PackedSizeBeyond32BitsIsRefused)
{
    // 65536 x 21846 x 3 bytes > 4 GiB - 1. The samples are never touched,
    // so their (zeroed, lazily mapped) store costs no memory.
    CKelImage img = MakeImage(65536, 21846);
    ASSERT_EQ(img.GetWidth(), 65536);
    EXPECT_EQ(img.GetDib(24), nullptr);
}

using GetDibEachTarget = orbimg::test::EachTargetOf<GetDibTest>;
ORBIMG_EACH_TARGET(GetDibEachTarget);

// The estimate that maps export levels without a division must agree with
// the division everywhere, above all next to the 255 thresholds (in every
// build of the row kernels).
TEST_P(GetDibEachTarget, DoubleLevelsAtEveryThreshold)
{
    struct Levels {
        double lo;
        double hi;
    };
    const Levels cases[] = {{0.0, 255.0},   {0.0, 237.0},         {900.0, 3000.0},    {-50.5, 949.5},
                            {1e6, 1e6 + 3}, {1e7 + 0.3, 2e7},     {0.1, 0.2},         {-1e-3, 1e-3},
                            {1e20, 3e20},   {-1e35, 1e35},        {5.0, 5.0 + 1e-9},  {3.0, 3.0},
                            {7.0, 2.0},     {1e-40, 1e-39},       {65535.0 * 0.5, 65535.0}};
    std::mt19937 rng(7);
    for (const Levels& lv : cases) {
        SCOPED_TRACE(::testing::Message() << lv.lo << " .. " << lv.hi);
        std::vector<float> samples;
        for (int k = 0; k <= 256; ++k) {
            float v = static_cast<float>(lv.lo + (lv.hi - lv.lo) * k / 255.0);
            for (int s = 0; s < 3; ++s) {
                v = std::nextafter(v, -std::numeric_limits<float>::infinity());
            }
            for (int s = 0; s < 7; ++s) {
                samples.push_back(v);
                v = std::nextafter(v, std::numeric_limits<float>::infinity());
            }
        }
        std::uniform_real_distribution<double> spread(lv.lo - 0.1 * (lv.hi - lv.lo), lv.hi + 0.1 * (lv.hi - lv.lo));
        while (samples.size() % 1000 != 0 || samples.size() < 6000) {
            samples.push_back(static_cast<float>(spread(rng)));
        }
        samples[0] = static_cast<float>(lv.lo);
        samples[1] = static_cast<float>(lv.hi);
        samples[2] = std::numeric_limits<float>::quiet_NaN();
        const int w = 1000;
        const int h = static_cast<int>(samples.size()) / w;
        CKelImage img = MakeImage(w, h);
        Fill(img, 0, [&](int x, int y) { return samples[static_cast<std::size_t>(y) * w + x]; });
        img.SetLevel(0, lv.lo, lv.hi);
        Packed dib(img.GetDib(8));
        ASSERT_TRUE(dib.Valid());
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const float v = samples[static_cast<std::size_t>(y) * w + x];
                if (dib.Row(y)[x] != Expected(v, lv.lo, lv.hi) && ++wrong < 5) {
                    ADD_FAILURE() << "sample " << v << " gives " << int(dib.Row(y)[x]) << ", expected "
                                  << Expected(v, lv.lo, lv.hi);
                }
            }
        }
        EXPECT_EQ(wrong, 0);
    }
}

// ---- adaptive palette ----------------------------------------------------------

struct PaletteCase {
    int width = 0;
    int height = 0;
    double levels[6] = {};
    std::vector<float> samples[3];
    std::vector<int> palette;  // 256 x red, green, blue
    std::vector<int> index;    // rows top first
};

PaletteCase ReadCase(int n)
{
    const std::vector<double> v = orbimg::test::ReadNumbers("palette_case" + std::to_string(n) + ".txt");
    PaletteCase c;
    if (v.size() < 8) {
        return c;
    }
    std::size_t i = 0;
    c.width = static_cast<int>(v[i++]);
    c.height = static_cast<int>(v[i++]);
    const std::size_t pixels = static_cast<std::size_t>(c.width) * c.height;
    if (v.size() != 8 + 3 * pixels + 768 + pixels) {
        c.width = 0;
        return c;
    }
    for (double& l : c.levels) {
        l = v[i++];
    }
    for (auto& plane : c.samples) {
        for (std::size_t k = 0; k < pixels; ++k) {
            plane.push_back(static_cast<float>(v[i++]));
        }
    }
    for (int k = 0; k < 768; ++k) {
        c.palette.push_back(static_cast<int>(v[i++]));
    }
    for (std::size_t k = 0; k < pixels; ++k) {
        c.index.push_back(static_cast<int>(v[i++]));
    }
    return c;
}

TEST_F(GetDibTest, AdaptivePaletteMatchesReference)
{
    for (int n = 1; n <= 5; ++n) {
        SCOPED_TRACE(n);
        const PaletteCase c = ReadCase(n);
        ASSERT_GT(c.width, 0) << "reference file missing or malformed";
        CKelImage img = MakeImage(c.width, c.height, 3);
        for (int p = 0; p < 3; ++p) {
            Fill(img, p, [&](int x, int y) { return c.samples[p][static_cast<std::size_t>(y) * c.width + x]; });
            img.SetLevel(p, c.levels[2 * p], c.levels[2 * p + 1]);
        }
        Packed dib(img.GetDib(8));
        ASSERT_TRUE(dib.Valid());
        EXPECT_EQ(dib.Header().biBitCount, 8);
        EXPECT_EQ(dib.Header().biClrUsed, 0u);
        for (int e = 0; e < 256; ++e) {
            const RGBQUAD& q = dib.Colors()[e];
            EXPECT_EQ(q.rgbRed, c.palette[3 * e]) << "entry " << e;
            EXPECT_EQ(q.rgbGreen, c.palette[3 * e + 1]) << "entry " << e;
            EXPECT_EQ(q.rgbBlue, c.palette[3 * e + 2]) << "entry " << e;
            EXPECT_EQ(q.rgbReserved, 0);
        }
        const int stride = dib.Stride();
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                ASSERT_EQ(dib.Row(y)[x], c.index[static_cast<std::size_t>(y) * c.width + x]) << x << "," << y;
            }
            for (int x = c.width; x < stride; ++x) {
                EXPECT_EQ(dib.Row(y)[x], 0);
            }
        }
    }
}

TEST_F(GetDibTest, SingleColourFillsItsBand)
{
    CKelImage img = MakeImage(3, 5, 3);
    Fill(img, 0, [](int, int) { return 100.0f; });
    Fill(img, 1, [](int, int) { return 180.0f; });
    Fill(img, 2, [](int, int) { return 20.0f; });
    Packed dib(img.GetDib(8));
    ASSERT_TRUE(dib.Valid());
    const RGBQUAD* e = dib.Colors();
    EXPECT_EQ(e[0].rgbRed, 100);  // bucket centres: 12 x 8 + 4, 22 x 8 + 4, 2 x 8 + 4
    EXPECT_EQ(e[0].rgbGreen, 180);
    EXPECT_EQ(e[0].rgbBlue, 20);
    for (int s = 1; s < 256; ++s) {
        ASSERT_TRUE(e[s].rgbRed == 4 && e[s].rgbGreen == 4 && e[s].rgbBlue == 4) << s;
    }
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(std::memcmp(dib.Row(y), "\0\0\0\0", 4), 0);  // index 0 and one zero pad byte
    }
}

TEST_F(GetDibTest, CountsSaturate)
{
    // 33000 pixels of colour a and 32536 of colour b (same band, b > a as
    // codes). Both counts saturate at 32000, the tie goes to the higher
    // code, so b takes slot 0 although a is the more frequent.
    CKelImage img = MakeImage(256, 256, 3);
    auto isA = [](int x, int y) { return y * 256 + x < 33000; };
    Fill(img, 0, [&](int x, int y) { return isA(x, y) ? 200.0f : 208.0f; });
    Fill(img, 1, [](int, int) { return 200.0f; });
    Fill(img, 2, [](int, int) { return 200.0f; });
    Packed dib(img.GetDib(8));
    ASSERT_TRUE(dib.Valid());
    EXPECT_EQ(dib.Colors()[0].rgbRed, 212);
    EXPECT_EQ(dib.Colors()[1].rgbRed, 204);
    EXPECT_EQ(dib.Row(0)[0], 1);
    EXPECT_EQ(dib.Row(255)[255], 0);
}

}  // namespace

// Row bands on every core against the serial loop (swap size set): the same
// block, byte for byte, at 8 and 24 bits, mono and colour (the palette's
// counts are added over the bands).
class GetDibParallel : public ::testing::TestWithParam<std::pair<int, int>> {
protected:
    void TearDown() override { CVmManager::SetCurrentSwapSize(0); }
};

TEST_P(GetDibParallel, SameBytesAsTheSerialLoop)
{
    const auto [bits, planes] = GetParam();
    CKelImage img = MakeImage(61, 150, planes);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> value(-20.0f, 300.0f);
    for (int p = 0; p < planes; ++p) {
        Fill(img, p, [&](int x, int y) {
            return (x + y) % 37 == 0 ? std::numeric_limits<float>::quiet_NaN() : value(rng) * (y < 75 ? 1.0f : 0.3f);
        });
    }
    std::vector<unsigned char> bytes[2];
    for (const int serial : {0, 1}) {
        CVmManager::SetCurrentSwapSize(serial);
        Packed dib(img.GetDib(bits));
        ASSERT_TRUE(dib.Valid());
        const auto* start = reinterpret_cast<const unsigned char*>(&dib.Header());
        bytes[serial].assign(start, start + dib.Size());
    }
    EXPECT_TRUE(bytes[0] == bytes[1]);
}

INSTANTIATE_TEST_SUITE_P(Forms, GetDibParallel,
                         ::testing::Values(std::pair{8, 1}, std::pair{8, 3}, std::pair{24, 1}, std::pair{24, 3}));
