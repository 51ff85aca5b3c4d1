// The command line: help and exit codes, the program itself, and the demo
// (the refusals and `info` against golden text are in golden/runs.txt).
#include <gtest/gtest.h>

#include "commands.h"
#include "imagefile.h"
#include "toolsupport.h"

namespace orbimg::tool {
namespace {

using test::RunTool;
using test::ScratchDir;

TEST(Cli, HelpTexts)
{
    const auto top = RunTool({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const auto& command : Commands()) {
        EXPECT_NE(top.out.find("\n  " + command.name + " "), std::string::npos) << command.name;
        const auto help = RunTool({command.name, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Usage: orbimg " + command.name, 0), 0u) << help.out;
        EXPECT_NE(help.out.find("-h, --help"), std::string::npos);
        for (const auto& option : command.options) {
            EXPECT_NE(help.out.find(option.name), std::string::npos) << option.name;
        }
        EXPECT_EQ(RunTool({"help", command.name}).out, help.out);
    }
    const auto none = RunTool({});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("Usage: orbimg <command>"), std::string::npos);
}

// Results that cannot be written are a failure too (other runs of the
// program: golden/runs.txt).
TEST(Cli, TheProgramFailsOnAFullDisk)
{
    const std::string full =
        std::string(ORBIMG_TOOL_COMMAND) + " info '" + ORBIMG_TOOL_GOLDEN_DIR + "/files/p.png' >/dev/full 2>/dev/null";
    const int raw = std::system(full.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
}

TEST(Cli, DemoRunsEveryCommand)
{
    ScratchDir dir;
    const std::string out = dir / "demo";
    const auto r = RunTool({"demo", out, "--size", "400x300"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Each file written is listed, none is empty, and none is missing.
    std::vector<std::string> expected;
    for (const auto& line : test::GoldenLines("demo.txt")) {
        expected.push_back(line.text);
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        files.push_back(entry.path().filename().string());
        EXPECT_GT(entry.file_size(), 0u) << files.back();
        EXPECT_NE(r.out.find("\n  " + out + "/" + files.back() + "\n"), std::string::npos) << files.back();
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, expected);
    // Every command ran, each shown as typed.
    for (const char* command : {"info", "render", "histogram", "stars", "focus", "transform"}) {
        EXPECT_NE(r.out.find(std::string("\n$ orbimg ") + command + " "), std::string::npos) << command;
    }

    // The report: measured FWHM within 10 % of the truth, the sharp frame found.
    const auto at = r.out.find("median FWHM ", r.out.find("\nReport\n"));
    ASSERT_NE(at, std::string::npos) << r.out;
    const double fwhm = std::stod(r.out.substr(at + 12));
    EXPECT_NEAR(fwhm, 3.0, 0.3);
    EXPECT_NE(r.out.find("best frame 4 of 7 (the sharpest is frame 4)"), std::string::npos);
    // The one-shot-colour sample: RCD closer to the field than bilinear.
    const auto osc = r.out.find("RGGB mosaic debayered by RCD, PSNR ", r.out.find("\nReport\n"));
    ASSERT_NE(osc, std::string::npos) << r.out;
    const double rcd = std::stod(r.out.substr(osc + 35));
    const double bilinear = std::stod(r.out.substr(r.out.find("(bilinear ", osc) + 10));
    EXPECT_GT(rcd, bilinear) << "PSNR of the demo's colour sample";

    const ImageFile sample = LoadImageFile(out + "/sample.fits");
    EXPECT_EQ(sample.image->GetWidth(), 400);
    EXPECT_EQ(sample.image->GetHeight(), 300);
    EXPECT_EQ(sample.image->GetPlanes(), 3);
    EXPECT_EQ(sample.header.Value("STARFWHM"), "3.000");
    EXPECT_EQ(LoadImageFile(out + "/binned-2x2.fits").image->GetWidth(), 200);
}

}  // namespace
}  // namespace orbimg::tool
