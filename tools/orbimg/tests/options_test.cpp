// Coordinates and command-line parsing (the cases: golden/values.txt and
// parseargs.txt; what the parsed options do: golden/runs.txt and the tests
// of each command).
#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "coords.h"
#include "membudget.h"
#include "options.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

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
        if (parser == "fits-point") {  // of a 2000-row image: library position, back, library row
            const FitsPoint p = ParsePoint(text, "--at");
            const CfPoint lib = FitsToLibrary(p, 2000);
            const FitsPoint back = LibraryToFits(lib.x, lib.y, 2000);
            return number(lib.x) + "," + number(lib.y) + " " + number(back.x) + "," + number(back.y) + " " +
                   std::to_string(FitsRowToLibrary(static_cast<int>(p.y), 2000));
        }
        if (parser == "fits-rect") {  // of a 5 x 4 image: library window, back
            const CRect lib = FitsRectToLibrary(ParseRect(text, "--rect"), 5, 4);
            const FitsRect r = LibraryRectToFits(lib, 4);
            return std::to_string(lib.left) + "," + std::to_string(lib.top) + "," + std::to_string(lib.right) + "," +
                   std::to_string(lib.bottom) + " " + number(r.x0) + "," + number(r.y0) + "," + number(r.x1) + "," +
                   number(r.y1);
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
