// Coordinates and command-line parsing (what the parsed options do:
// golden/runs.txt and the tests of each command).
#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <utility>

#include "coords.h"
#include "membudget.h"
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

/// What `parser` (see golden/values.txt) makes of `text`, or "refused".
std::string ParsedValue(const std::string& parser, const std::string& text)
{
    const auto number = [](double v) {
        std::ostringstream out;
        out << std::setprecision(17) << v;
        return out.str();
    };
    try {
        if (parser == "number" || parser == "fill") {
            return number(parser == "fill" ? ParseNumber(text, "--fill", 0, 255) : ParseNumber(text, "--low"));
        }
        if (parser == "int") {
            return std::to_string(ParseInt(text, "--bins", 2, 65536));
        }
        if (parser == "point") {
            const FitsPoint p = ParsePoint(text, "--at");
            return number(p.x) + "," + number(p.y);
        }
        if (parser == "size" || parser == "resample") {
            const PixelSize s =
                parser == "size" ? ParseSize(text, "--bin", 10) : ParseSize(text, "--resample", 1 << 20);
            return std::to_string(s.width) + "x" + std::to_string(s.height);
        }
        if (parser == "rect") {
            const FitsRect r = ParseRect(text, "--rect");
            return number(r.x0) + "," + number(r.y0) + "," + number(r.x1) + "," + number(r.y1);
        }
        if (parser == "range") {
            const auto range = ParseRange(text, "--levels");
            return number(range.first) + "," + number(range.second);
        }
        if (parser == "method") {
            return ParseChoice(text, "--method", {"range", "mean", "median"});
        }
        if (parser == "memory") {
            return std::to_string(ParseMemorySize(text, "--max-memory"));
        }
        return LowerExtension(text).empty() ? "(none)" : LowerExtension(text);
    } catch (const UsageError&) {
        return "refused";
    }
}

class OptionValues : public ::testing::TestWithParam<test::GoldenLine> {};

TEST_P(OptionValues, CheckedWhole)
{
    const auto parts = test::Split(GetParam().text, " | ");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(ParsedValue(parts[0], parts[1]), parts[2]);
}

INSTANTIATE_TEST_SUITE_P(Golden, OptionValues, ::testing::ValuesIn(test::GoldenLines("values.txt")), test::LineName);

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
