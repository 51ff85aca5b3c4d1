// Coordinates and command-line parsing.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "commands.h"
#include "coords.h"
#include "options.h"

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

/// A parsed command line as one line: the positional words, then each option
/// use in order with its values; "help" when asked; or the error message.
std::string Parsed(const std::vector<std::string>& words)
{
    static const std::vector<OptionSpec> specs = {
        {"--output", "-o", OptionValue::Required, "OUT", ""}, {"--log", "", OptionValue::None, "", ""},
        {"--fill", "", OptionValue::Required, "V", ""},       {"--auto", "", OptionValue::OptionalCount, "N", ""},
        {"--at", "", OptionValue::Points, "X,Y", ""},
    };
    try {
        const ParsedArgs parsed = ParseArgs(specs, words, "t");
        std::string text = parsed.help ? "help" : "";
        for (const auto& word : parsed.positional) {
            text += " " + word;
        }
        for (const auto& use : parsed.options) {
            text += " " + use.name;
            for (const auto& value : use.values) {
                text += "=" + value;
            }
        }
        return text;
    } catch (const UsageError& e) {
        return e.what();
    }
}

TEST(ParseArgs, WordsInOrder)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        // values: the next word whatever it is, or after '='; the alias; the last use is kept in order
        {{"in.fits", "-o", "x.png", "--fill", "-5", "--log", "--output=y.png"},
         " in.fits --output=x.png --fill=-5 --log --output=y.png"},
        {{"--fill", "--log", "-oz.png"}, " --fill=--log --output=z.png"},
        {{"--fill", "--", "a"}, " a --fill=--"},
        // --auto takes the next word only when it is a whole number; --at every X,Y word
        {{"--auto", "f.fits", "--at", "1,2", "3.5,4", "g.fits", "--", "--log"},
         " f.fits g.fits --log --auto --at=1,2=3.5,4"},
        {{"--auto", "-3", "--auto=x", "7"}, " 7 --auto=-3 --auto=x"},
        {{"--at=x", "1,2", "-5,1e3", "g"}, " g --at=x=1,2=-5,1e3"},
        {{"--at", "1,2", "--", "3,4"}, " 3,4 --at=1,2"},
        {{"--auto", "--", "5"}, " 5 --auto"},
        // numbers are words, not options; help anywhere, even past a bad value
        {{"-5", "-1e3", "-.5", "-", "f.fits", "-h"}, "help -5 -1e3 -.5 - f.fits"},
        {{"--fill", "nonsense", "--help"}, "help --fill=nonsense"},
        // errors, the first one met
        {{"in.fits", "--bins=3"}, "unknown option '--bins' for 't' (see 'orbimg t --help')"},
        {{"-x=3", "-o"}, "unknown option '-x=3' for 't' (see 'orbimg t --help')"},
        {{"-h", "--bogus"}, "unknown option '--bogus' for 't' (see 'orbimg t --help')"},
        {{"f.fits", "-o"}, "option --output needs a value (OUT)"},
        {{"--at", "x"}, "option --at needs at least one X,Y"},
        {{"--at", "-o"}, "option --at needs at least one X,Y"},
        {{"--at", "--bogus"}, "option --at needs at least one X,Y"},
        {{"--log=1"}, "option --log takes no value"},
    };
    for (const auto& [words, expected] : cases) {
        EXPECT_EQ(Parsed(words), expected) << words.front();
    }
}

ParsedArgs Parse(const std::string& command, const std::vector<std::string>& words)
{
    return ParseArgs(FindCommand(command)->options, words, command);
}

// What the command lines ask for; the refusals are in Cli.BadCommandLines.
TEST(CommandPlans, RenderHistogramStarsFocus)
{
    const RenderPlan p = ParseRender(Parse("render", {"a.fits", "-o", "a.BMP", "--method", "mean", "--high", "3"}));
    EXPECT_TRUE(p.bmp);
    EXPECT_EQ(p.method, AutoLevelMethod::Mean);
    EXPECT_EQ(p.low, DefaultLevelParameters(AutoLevelMethod::Mean).first);
    EXPECT_EQ(p.high, 3.0);
    EXPECT_EQ(p.depth, 24);
    EXPECT_EQ(ParseRender(Parse("render", {"a.fits", "-o", "a.png", "--palette"})).depth, 8);
    const RenderPlan l = ParseRender(Parse("render", {"a.fits", "-o", "a.png", "--levels", "100,2000"}));
    ASSERT_TRUE(l.levels);
    EXPECT_EQ(l.levels->second, 2000.0);

    const HistogramPlan h = ParseHistogram(Parse("histogram", {"a.fits", "--bins", "64", "--plane", "g", "--log"}));
    EXPECT_EQ(h.bins, 64);
    EXPECT_EQ(h.plane, 'G');
    EXPECT_TRUE(h.log);
    EXPECT_FALSE(h.output);
    EXPECT_EQ(ParseHistogram(Parse("histogram", {"a.fits", "-o", "h.png", "--png-level", "9"})).pngLevel, 9);
    EXPECT_EQ(ParseFocus(Parse("focus", {"a.fits", "--hfr", "-o", "c.png", "--png-level", "0"})).pngLevel, 0);

    const StarsPlan s = ParseStars(Parse("stars", {"a.fits", "--at", "10,20", "--at", "30.5,40"}));
    ASSERT_EQ(s.at.size(), 2u);
    EXPECT_EQ(s.at[1].x, 30.5);
    EXPECT_EQ(ParseStars(Parse("stars", {"a.fits", "--auto"})).autoCount, 50);
    EXPECT_EQ(ParseStars(Parse("stars", {"a.fits", "--auto", "7", "--csv", "s.csv"})).autoCount, 7);
    const FocusPlan f = ParseFocus(Parse("focus", {"a.fits", "b.fits", "--rect", "1,1,100,100"}));
    EXPECT_EQ(f.inputs.size(), 2u);
    EXPECT_TRUE(f.rect);
}

TEST(CommandPlans, TransformStepsKeepTheirOrder)
{
    using Kind = TransformStep::Kind;
    const TransformPlan t = ParseTransform(
        Parse("transform", {"a.fits", "-o", "b.fit", "--bin", "2x3", "--flip", "h", "--round-up", "--contrast", "64",
                            "--canvas", "100x50", "--anchor", "8", "--fill", "255", "--bright", "-10"}));
    ASSERT_EQ(t.steps.size(), 4u);
    EXPECT_EQ(t.steps[0].kind, Kind::Bin);
    EXPECT_EQ(t.steps[0].binX, 2);
    EXPECT_EQ(t.steps[0].binY, 3);
    EXPECT_TRUE(t.steps[0].roundUp);
    EXPECT_FALSE(t.steps[0].scaleLevels);
    EXPECT_EQ(t.steps[1].kind, Kind::Flip);
    EXPECT_FALSE(t.steps[1].vertical);
    EXPECT_EQ(t.steps[2].kind, Kind::Bright);
    EXPECT_EQ(t.steps[2].contrast, 64.0);
    EXPECT_EQ(t.steps[2].bright, -10.0);
    EXPECT_EQ(t.steps[2].pivot, 128.0);
    EXPECT_EQ(t.steps[3].kind, Kind::Canvas);
    EXPECT_EQ(t.steps[3].size.width, 100);
    EXPECT_EQ(t.steps[3].anchor, 8);
    EXPECT_EQ(t.steps[3].fill, 255.0);
}

}  // namespace
}  // namespace orbimg::tool
