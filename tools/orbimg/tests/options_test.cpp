// Coordinates and command-line parsing (what the parsed options do:
// golden/runs.txt and the tests of each command).
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "coords.h"
#include "options.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

TEST(Coordinates, FitsPixelsMapToLibraryRowsFromTheBottom)
{
    // FITS (1, 1) is the bottom-left pixel, library (0, height - 1); fractional
    // positions convert both ways exactly.
    for (const double fx : {0.5, 1.0, 17.25, 3000.0}) {
        for (const double fy : {0.5, 1.0, 1999.75, 2000.0}) {
            const CfPoint lib = FitsToLibrary(FitsPoint{fx, fy}, 2000);
            EXPECT_TRUE(lib.x == fx - 1.0 && lib.y == 2000.0 - fy) << fx << "," << fy;
            const FitsPoint back = LibraryToFits(lib.x, lib.y, 2000);
            EXPECT_TRUE(back.x == fx && back.y == fy) << fx << "," << fy;
        }
    }
    EXPECT_EQ(FitsRowToLibrary(1, 3), 2);
    EXPECT_EQ(FitsRowToLibrary(3, 3), 0);
}

TEST(Coordinates, RectanglesCoverTheSamePixelsInBothSystems)
{
    // Of a 5 x 4 image: FITS columns 2..4, rows 1..2 (corners in either
    // order) are library rows 2..3; the whole image; the top-right pixel.
    const std::pair<FitsRect, CRect> cases[] = {
        {{4, 2, 2, 1}, CRect(1, 2, 4, 4)}, {{1, 1, 5, 4}, CRect(0, 0, 5, 4)}, {{5, 4, 5, 4}, CRect(4, 0, 5, 1)}};
    for (const auto& [fits, lib] : cases) {
        EXPECT_EQ(FitsRectToLibrary(fits, 5, 4), lib);
        const FitsRect back = LibraryRectToFits(lib, 4);
        EXPECT_EQ(back.x0, std::min(fits.x0, fits.x1));
        EXPECT_EQ(back.y0, std::min(fits.y0, fits.y1));
        EXPECT_EQ(back.x1, std::max(fits.x0, fits.x1));
        EXPECT_EQ(back.y1, std::max(fits.y0, fits.y1));
    }
    for (const FitsRect outside : {FitsRect{0, 1, 3, 3}, FitsRect{1, 1, 6, 3}, FitsRect{1, 1, 3, 5}}) {
        EXPECT_THROW(FitsRectToLibrary(outside, 5, 4), UsageError);
    }
}

TEST(OptionValues, NumbersAreCheckedWhole)
{
    EXPECT_EQ(ParseNumber("2.5", "--low"), 2.5);
    EXPECT_EQ(ParseNumber("-1e3", "--low"), -1000.0);
    for (const char* bad : {"", "abc", "1.5x", " 1", "nan", "inf", "1e999"}) {
        EXPECT_THROW(ParseNumber(bad, "--low"), UsageError) << bad;
    }
    // Both ends of the range are allowed.
    EXPECT_EQ(ParseInt("2", "--bins", 2, 65536), 2);
    EXPECT_EQ(ParseInt("65536", "--bins", 2, 65536), 65536);
    for (const char* bad : {"1", "65537", "2.0", "0x10", "-", "99999999999999"}) {
        EXPECT_THROW(ParseInt(bad, "--bins", 2, 65536), UsageError) << bad;
    }
    EXPECT_THROW(ParseNumber("300", "--fill", 0, 255), UsageError);
}

TEST(OptionValues, ShapedValues)
{
    const FitsPoint p = ParsePoint("12.5,-3", "--at");
    EXPECT_EQ(p.x, 12.5);
    EXPECT_EQ(p.y, -3.0);
    EXPECT_THROW(ParsePoint("12", "--at"), UsageError);
    EXPECT_THROW(ParsePoint("1,2,3", "--at"), UsageError);

    const PixelSize s = ParseSize("640x480", "--resample", 1 << 20);
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, 480);
    EXPECT_EQ(ParseSize("2X3", "--bin", 10).height, 3);
    for (const char* bad : {"0x5", "5x0", "5", "x5", "-2x3", "2x3x4", "11x2"}) {
        EXPECT_THROW(ParseSize(bad, "--bin", 10), UsageError) << bad;
    }

    const FitsRect r = ParseRect("10,20,30,40", "--rect");
    EXPECT_EQ(r.x0, 10);
    EXPECT_EQ(r.y1, 40);
    EXPECT_THROW(ParseRect("10,20,30", "--rect"), UsageError);
    EXPECT_THROW(ParseRect("1.5,2,3,4", "--rect"), UsageError);

    const auto range = ParseRange("-5,100", "--levels");
    EXPECT_EQ(range.first, -5.0);
    EXPECT_EQ(range.second, 100.0);
    EXPECT_THROW(ParseRange("100,100", "--levels"), UsageError);
    EXPECT_THROW(ParseRange("100,5", "--levels"), UsageError);

    EXPECT_EQ(ParseChoice("MEAN", "--method", {"range", "mean", "median"}), "mean");
    EXPECT_THROW(ParseChoice("avg", "--method", {"range", "mean", "median"}), UsageError);
    EXPECT_EQ(LowerExtension("dir.v2/Out.PNG"), ".png");
    EXPECT_EQ(LowerExtension("dir.v2/out"), "");
}

/// A parsed command line as one line: "help" when asked, the positional
/// words, then each option use in order with its values; or the error.
std::string Parsed(const std::vector<std::string>& words)
{
    static const std::vector<OptionSpec> specs = {
        {"--output", "-o", OptionValue::Required, "OUT", ""}, {"--log", "", OptionValue::None, "", ""},
        {"--fill", "", OptionValue::Required, "V", ""},       {"--auto", "", OptionValue::OptionalCount, "N", ""},
        {"--at", "", OptionValue::Points, "X,Y", ""},
    };
    try {
        const ParsedArgs parsed = ParseArgs(specs, words, "t");
        std::string text = parsed.help ? " help" : "";
        for (const auto& word : parsed.positional) {
            text += " " + word;
        }
        for (const auto& use : parsed.options) {
            text += " " + use.name;
            for (const auto& value : use.values) {
                text += "=" + value;
            }
        }
        return text.substr(1);
    } catch (const UsageError& e) {
        return e.what();
    }
}

class ParseArgsGolden : public ::testing::TestWithParam<test::GoldenLine> {};

TEST_P(ParseArgsGolden, WordsInOrder)
{
    const auto parts = test::Split(GetParam().text, " => ");
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(Parsed(test::Split(parts[0], " ")), parts[1]);
}

INSTANTIATE_TEST_SUITE_P(Golden, ParseArgsGolden, ::testing::ValuesIn(test::GoldenLines("parseargs.txt")),
                         test::LineName);

}  // namespace
}  // namespace orbimg::tool
