// Display stretches: ToDIB at every depth, GetDib and the display histogram
// against the double-precision numpy reference (within 1 display level).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace orbimg::test {
namespace {

struct StretchCase {
    int kind = 0;
    double param[3] = {};
    double lo[3] = {};
    double hi[3] = {};
    std::vector<int> bytes[3];
};

struct StretchTable {
    std::vector<double> positions;  // t of each sample; the last sample is NaN
    std::vector<StretchCase> cases;
};

const StretchTable& Table()
{
    static const StretchTable table = [] {
        StretchTable t;
        std::ifstream in(ReferencePath("stretch_reference.txt"));
        std::string line;
        std::getline(in, line);
        std::istringstream first(line);
        std::string word;
        while (first >> word) {
            t.positions.push_back(std::strtod(word.c_str(), nullptr));
        }
        while (std::getline(in, line)) {
            StretchCase c;
            std::istringstream head(line.substr(2));
            std::string kind;
            head >> kind;
            c.kind = kind == "mtf" ? CDisplayStretch::kMTF : kind == "asinh" ? CDisplayStretch::kAsinh
                                                                            : CDisplayStretch::kLog;
            head >> c.param[0] >> c.param[1] >> c.param[2];
            for (int p = 0; p < 3; ++p) {
                head >> c.lo[p] >> c.hi[p];
            }
            for (auto& bytes : c.bytes) {
                std::getline(in, line);
                std::istringstream row(line);
                int b;
                while (row >> b) {
                    bytes.push_back(b);
                }
            }
            t.cases.push_back(c);
        }
        return t;
    }();
    return table;
}

// The case's samples on two rows of `planes` planes (plane p of a mono
// image: the case's plane `only`), its levels and stretch installed.
CKelImage Stretched(const StretchCase& c, int planes, int only = 0)
{
    const auto& t = Table().positions;
    const int width = static_cast<int>(t.size());
    CKelImage img = MakeImage(width, 2, planes);
    CDisplayStretch stretch(c.kind, 0.5);
    for (int p = 0; p < planes; ++p) {
        const int q = planes == 1 ? only : p;
        Fill(img, p, [&](int x, int) {
            return x == width - 1 ? NAN : static_cast<float>(c.lo[q] + t[static_cast<std::size_t>(x)] * (c.hi[q] - c.lo[q]));
        });
        img.SetLevel(p, c.lo[q], c.hi[q]);
        stretch.SetParam(p, c.param[q]);
    }
    img.SetStretch(stretch);
    return img;
}

// Pixel x, y of a bitmap as bytes.
const unsigned char* Pixel(CMemoryDIB& dib, int x, int y)
{
    return dib.GetImageAdr8(0, y) + static_cast<std::size_t>(x) * (dib.GetBitCount() / 8);
}

class StretchReference : public ::testing::TestWithParam<int> {};

TEST_P(StretchReference, WithinOneLevelAtEveryDepth)
{
    const StretchCase& c = Table().cases[static_cast<std::size_t>(GetParam())];
    CKelImage colour = Stretched(c, 3);
    const int width = colour.GetWidth();
    auto near = [](int got, int want, int tolerance, const char* what, int p, int x) {
        EXPECT_LE(std::abs(got - want), tolerance) << what << " plane " << p << " sample " << x;
    };
    for (const int depth : {8, 16, 24, 32}) {
        CWnd wnd(depth);
        CMemoryDIB dib;
        ASSERT_EQ(dib.Create(&wnd, width, 2, 0), 1);
        colour.ToDIB(&dib, nullptr, 0);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* px = Pixel(dib, x, y);
                int want[3];
                for (int p = 0; p < 3; ++p) {
                    want[p] = c.bytes[p][static_cast<std::size_t>(x)];
                }
                if (depth >= 24) {
                    for (int p = 0; p < 3; ++p) {
                        near(px[2 - p], want[p], 1, "ToDIB 24/32", p, x);
                    }
                } else if (depth == 16) {
                    std::uint16_t w;
                    std::memcpy(&w, px, sizeof w);
                    const int add = (x + y) % 2 == 0 ? 4 : 0;
                    const int got[3] = {(w >> 10) & 31, (w >> 5) & 31, w & 31};
                    for (int p = 0; p < 3; ++p) {
                        near(got[p], std::min(want[p] + add, 255) >> 3, 1, "ToDIB 16", p, x);
                    }
                } else {
                    const int got[3] = {px[0] & 7, (px[0] >> 3) & 7, px[0] >> 6};
                    const int shift[3] = {5, 5, 6};
                    for (int p = 0; p < 3; ++p) {
                        near(got[p], want[p] >> shift[p], 1, "ToDIB 8 (3-3-2)", p, x);
                    }
                }
            }
        }
    }
    // Export: 24 bits, rows bottom-up.
    HDIB block = colour.GetDib(24);
    ASSERT_NE(block, nullptr);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(block));
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);
    const unsigned char* rows = bytes + header->biSize;
    for (int x = 0; x < width; ++x) {
        for (int p = 0; p < 3; ++p) {
            near(rows[3 * x + 2 - p], c.bytes[p][static_cast<std::size_t>(x)], 1, "GetDib 24", p, x);
        }
    }
    GlobalUnlock(block);
    GlobalFree(block);

    // Mono: each plane alone, 8-bit grey rendering and export, and the
    // display histogram at 255 bins (bin = byte, 255 in the top bin).
    for (int p = 0; p < 3; ++p) {
        CKelImage mono = Stretched(c, 1, p);
        CWnd wnd(8);
        CMemoryDIB dib;
        ASSERT_EQ(dib.Create(&wnd, width, 2, 0), 1);
        mono.ToDIB(&dib, nullptr, 0);
        HDIB grey = mono.GetDib(8);
        ASSERT_NE(grey, nullptr);
        const auto* g = static_cast<const unsigned char*>(GlobalLock(grey));
        const unsigned char* pixels = g + sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);
        std::vector<int> counts(255, 0);
        for (int x = 0; x < width; ++x) {
            near(*Pixel(dib, x, 1), c.bytes[p][static_cast<std::size_t>(x)], 1, "ToDIB 8 grey", p, x);
            near(pixels[x], c.bytes[p][static_cast<std::size_t>(x)], 1, "GetDib 8 grey", p, x);
            if (x < width - 1) {
                ++counts[static_cast<std::size_t>(std::min<int>(*Pixel(dib, x, 1), 254))];
            }
        }
        GlobalUnlock(grey);
        GlobalFree(grey);
        std::vector<int> hist(255, -1);
        CRect row(0, 1, width, 2);
        mono.GetHistogramDisplay(hist.data(), 255, -1, &row);
        EXPECT_EQ(hist, counts) << "display histogram of plane " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StretchReference, ::testing::Range(0, 4));

// A linear stretch, and a plane whose parameter is out of range under a
// non-linear one, draw exactly the bytes of the levels alone.
TEST(Stretch, LinearPlanesDrawAsTheLevelsAlone)
{
    CKelImage img = MakeImage(263, 3, 3);
    for (int p = 0; p < 3; ++p) {
        Fill(img, p, [p](int x, int y) { return std::sin(0.37f * static_cast<float>(x + 7 * y + p)) * 977.0f; });
        img.SetLevel(p, -613.3 + p, 811.7 - 3 * p);
    }
    auto draw = [&img](int depth) {
        CWnd wnd(depth);
        CMemoryDIB dib;
        EXPECT_EQ(dib.Create(&wnd, img.GetWidth(), img.GetHeight(), 0), 1);
        img.ToDIB(&dib, nullptr, 0);
        std::vector<unsigned char> out;
        for (int y = 0; y < img.GetHeight(); ++y) {
            const unsigned char* row = dib.GetImageAdr8(0, y);
            out.insert(out.end(), row, row + img.GetWidth() * (depth / 8));
        }
        return out;
    };
    const std::vector<unsigned char> plain = draw(32);
    img.SetStretch(CDisplayStretch(CDisplayStretch::kLinear, 0.3));
    EXPECT_EQ(draw(32), plain);
    CDisplayStretch mtf(CDisplayStretch::kMTF, 0.2);
    mtf.SetParam(1, 1.5);  // out of range: green stays linear
    img.SetStretch(mtf);
    const std::vector<unsigned char> stretched = draw(32);
    int changed = 0;
    for (std::size_t i = 0; i < plain.size(); i += 4) {
        EXPECT_EQ(stretched[i + 1], plain[i + 1]) << "green byte of pixel " << i / 4;
        changed += stretched[i + 2] != plain[i + 2];
    }
    EXPECT_GT(changed, 100);  // red is stretched
}

}  // namespace
}  // namespace orbimg::test
