// orbimg render: a picture of an image through automatic or given levels.
#include <string>
#include <tuple>

#include "commands.h"

namespace orbimg::tool {

std::pair<double, double> DefaultLevelParameters(AutoLevelMethod method)
{
    switch (method) {
    case AutoLevelMethod::Range:
        return {0.10, 0.999};  // percentiles: 10 % of the pixels black, 0.1 % white
    case AutoLevelMethod::Mean:
        return {1.0, 8.0};     // standard deviations below and above the mean
    case AutoLevelMethod::Median:
        break;
    }
    return {1.0, 8.0};         // deviations below and above the median
}

CommandSpec RenderCommand()
{
    return CommandSpec{
        "render",
        "a PNG or BMP picture through automatic or given display levels",
        "orbimg render FILE -o OUT.png|OUT.bmp [options]",
        "Sets the display levels of the image by an automatic method (or to the\n"
        "levels given) and writes the picture: 24-bit RGB or grey, or 8 bits (grey,\n"
        "or an adaptive 256-colour palette for a colour image).\n"
        "Methods and their parameters (--low, --high):\n"
        "  range   the extremes of the window; parameters inside 0..1 are percentiles\n"
        "          (default 0.10 and 0.999), others fractions of the extreme range\n"
        "  mean    standard deviations below and above the mean (default 1 and 8)\n"
        "  median  deviations below and above the median (default 1 and 8)",
        {
            {"--output", "-o", OptionValue::Required, "OUT", "the picture to write (.png or .bmp)"},
            {"--method", "", OptionValue::Required, "METHOD", "range, mean or median (default median)"},
            {"--low", "", OptionValue::Required, "L", "the method's low parameter"},
            {"--high", "", OptionValue::Required, "H", "the method's high parameter"},
            {"--per-plane", "", OptionValue::None, "", "level each colour plane on its own"},
            {"--rect", "", OptionValue::Required, "X0,Y0,X1,Y1", "the window measured (FITS pixels)"},
            {"--levels", "", OptionValue::Required, "MIN,MAX", "explicit levels instead of a method"},
            {"--depth", "", OptionValue::Required, "8|24", "bits per pixel (default 24)"},
            {"--palette", "", OptionValue::None, "", "8 bits with an adaptive palette (colour images)"},
        },
        [](const ParsedArgs& args, Context& ctx) {
            ParseRender(args);
            return NotAvailable(ctx, "render");
        },
    };
}

RenderPlan ParseRender(const ParsedArgs& args)
{
    RequirePositional(args, "render", 1, 1, "FILE");
    RenderPlan plan;
    plan.input = args.positional[0];
    const auto output = args.Value("--output");
    if (!output) {
        throw UsageError("render: missing -o OUT.png or -o OUT.bmp");
    }
    plan.output = *output;
    const std::string ext = LowerExtension(plan.output);
    if (ext != ".png" && ext != ".bmp") {
        throw UsageError("render: the output must be a .png or .bmp file, not '" + plan.output + "'");
    }
    plan.bmp = ext == ".bmp";

    if (const auto method = args.Value("--method")) {
        const std::string name = ParseChoice(*method, "--method", {"range", "mean", "median"});
        plan.method = name == "range" ? AutoLevelMethod::Range
                      : name == "mean" ? AutoLevelMethod::Mean
                                       : AutoLevelMethod::Median;
    }
    std::tie(plan.low, plan.high) = DefaultLevelParameters(plan.method);
    if (const auto low = args.Value("--low")) {
        plan.low = ParseNumber(*low, "--low");
    }
    if (const auto high = args.Value("--high")) {
        plan.high = ParseNumber(*high, "--high");
    }
    plan.perPlane = args.Has("--per-plane");
    if (const auto rect = args.Value("--rect")) {
        plan.rect = ParseRect(*rect, "--rect");
    }
    if (const auto levels = args.Value("--levels")) {
        for (const char* other : {"--method", "--low", "--high", "--per-plane", "--rect"}) {
            if (args.Has(other)) {
                throw UsageError(std::string("render: --levels sets the levels itself and does not go with ") +
                                 other);
            }
        }
        plan.levels = ParseRange(*levels, "--levels");
    }
    if (const auto depth = args.Value("--depth")) {
        plan.depth = std::stoi(ParseChoice(*depth, "--depth", {"8", "24"}));
    }
    if (args.Has("--palette")) {
        if (plan.depth == 24 && args.Has("--depth")) {
            throw UsageError("render: --palette makes an 8-bit picture and does not go with --depth 24");
        }
        plan.depth = 8;
    }
    return plan;
}

}  // namespace orbimg::tool
