// Display stretches: ToDIB at every depth, GetDib and the display histogram
// against the double-precision numpy reference (within 1 display level).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "display/displaysupport.h"

namespace orbimg::test {
namespace {

struct StretchCase {
    int kind = 0;
    double param[3] = {}, lo[3] = {}, hi[3] = {};
    std::vector<int> bytes[3];
};

// stretch_reference.txt: the positions t of the samples (the last sample is
// NaN); per case a line "# kind param x 3, lo, hi x 3" and the bytes of each plane.
struct StretchTable {
    std::vector<double> positions;
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
        for (std::string word; first >> word;) {
            t.positions.push_back(std::strtod(word.c_str(), nullptr));
        }
        while (std::getline(in, line)) {
            StretchCase c;
            std::istringstream head(line.substr(2));
            std::string kind;
            head >> kind >> c.param[0] >> c.param[1] >> c.param[2];
            c.kind = kind == "mtf"     ? CDisplayStretch::kMTF
                     : kind == "asinh" ? CDisplayStretch::kAsinh
                                       : CDisplayStretch::kLog;
            for (int p = 0; p < 3; ++p) {
                head >> c.lo[p] >> c.hi[p];
                std::getline(in, line);
                std::istringstream row(line);
                for (int b; row >> b;) {
                    c.bytes[p].push_back(b);
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
            return x == width - 1 ? NAN
                                  : static_cast<float>(c.lo[q] + t[static_cast<std::size_t>(x)] * (c.hi[q] - c.lo[q]));
        });
        img.SetLevel(p, c.lo[q], c.hi[q]);
        stretch.SetParam(p, c.param[q]);
    }
    img.SetStretch(stretch);
    return img;
}

class StretchReference : public ::testing::TestWithParam<int> {};

TEST_P(StretchReference, WithinOneLevelAtEveryDepth)
{
    const StretchCase& c = Table().cases[static_cast<std::size_t>(GetParam())];
    CKelImage colour = Stretched(c, 3);
    const int width = colour.GetWidth();
    auto near = [&c](int got, int p, int x, const char* what, int shift = 0, int add = 0) {
        const int want = std::min(c.bytes[p][static_cast<std::size_t>(x)] + add, 255) >> shift;
        EXPECT_LE(std::abs(got - want), 1) << what << " plane " << p << " sample " << x;
    };
    for (const int depth : {8, 16, 24, 32}) {
        CMemoryDIB dib;
        MakeDib(dib, depth, width, 2);
        colour.ToDIB(&dib, nullptr, 0);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* px = dib.GetImageAdr8(0, y) + x * (depth / 8);
                std::uint16_t w;
                std::memcpy(&w, px, sizeof w);
                for (int p = 0; p < 3; ++p) {
                    if (depth >= 24) {
                        near(px[2 - p], p, x, "ToDIB 24/32");
                    } else if (depth == 16) {
                        near((w >> (10 - 5 * p)) & 31, p, x, "ToDIB 16", 3, (x + y) % 2 == 0 ? 4 : 0);
                    } else {
                        near((px[0] >> (3 * p)) & (p == 2 ? 3 : 7), p, x, "ToDIB 8 (3-3-2)", p == 2 ? 6 : 5);
                    }
                }
            }
        }
    }
    const Packed packed(colour.GetDib(24));
    for (int x = 0; x < width; ++x) {
        for (int p = 0; p < 3; ++p) {
            near(packed.Row(0)[3 * x + 2 - p], p, x, "GetDib 24");
        }
    }
    // Mono: each plane alone, 8-bit grey rendering and export, and the
    // display histogram at 255 bins (bin = byte, 255 in the top bin).
    for (int p = 0; p < 3; ++p) {
        CKelImage mono = Stretched(c, 1, p);
        CMemoryDIB dib;
        MakeDib(dib, 8, width, 2);
        mono.ToDIB(&dib, nullptr, 0);
        const Packed grey(mono.GetDib(8));
        std::vector<int> counts(255, 0);
        for (int x = 0; x < width; ++x) {
            near(dib.GetImageAdr8(0, 1)[x], p, x, "ToDIB 8 grey");
            near(grey.Row(1)[x], p, x, "GetDib 8 grey");
            if (x < width - 1) {
                ++counts[static_cast<std::size_t>(std::min<int>(dib.GetImageAdr8(0, 1)[x], 254))];
            }
        }
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
    auto draw = [&img] {
        CMemoryDIB dib;
        MakeDib(dib, 32, img.GetWidth(), img.GetHeight());
        img.ToDIB(&dib, nullptr, 0);
        return Bits(dib);
    };
    const std::vector<unsigned char> plain = draw();
    img.SetStretch(CDisplayStretch(CDisplayStretch::kLinear, 0.3));
    EXPECT_EQ(draw(), plain);
    CDisplayStretch mtf(CDisplayStretch::kMTF, 0.2);
    mtf.SetParam(1, 1.5);  // out of range: green stays linear
    img.SetStretch(mtf);
    const std::vector<unsigned char> stretched = draw();
    int changed = 0;
    for (std::size_t i = 40; i < plain.size(); i += 4) {
        EXPECT_EQ(stretched[i + 1], plain[i + 1]) << "green byte of pixel " << (i - 40) / 4;
        changed += stretched[i + 2] != plain[i + 2];
    }
    EXPECT_GT(changed, 100);  // red is stretched
}

}  // namespace
}  // namespace orbimg::test
