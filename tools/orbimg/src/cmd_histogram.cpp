// orbimg histogram: the distribution of the samples, as a plot or a table.
#include "commands.h"

namespace orbimg::tool {

CommandSpec HistogramCommand()
{
    return CommandSpec{
        "histogram",
        "histogram of a plane or the luminance, as a PNG plot or a text table",
        "orbimg histogram FILE [-o hist.png] [--bins N] [--log] [--plane R|G|B|L]",
        "Counts the samples of a plane (R, G or B) or of the luminance (L, the\n"
        "default; the plane itself for a mono image) in N bins between the least and\n"
        "greatest sample. With -o the histogram is drawn as a PNG plot with axes and\n"
        "the current display levels marked; without it a text table is printed.",
        {
            {"--output", "-o", OptionValue::Required, "OUT.png", "draw the plot into this PNG file"},
            {"--bins", "", OptionValue::Required, "N", "number of bins, 2 to 65536 (default 256)"},
            {"--log", "", OptionValue::None, "", "logarithmic counts"},
            {"--plane", "", OptionValue::Required, "R|G|B|L", "plane or luminance (default L)"},
        },
        [](const ParsedArgs& args, Context& ctx) {
            ParseHistogram(args);
            return NotAvailable(ctx, "histogram");
        },
    };
}

HistogramPlan ParseHistogram(const ParsedArgs& args)
{
    RequirePositional(args, "histogram", 1, 1, "FILE");
    HistogramPlan plan;
    plan.input = args.positional[0];
    if (const auto output = args.Value("--output")) {
        if (LowerExtension(*output) != ".png") {
            throw UsageError("histogram: the plot must be a .png file, not '" + *output + "'");
        }
        plan.output = *output;
    }
    if (const auto bins = args.Value("--bins")) {
        plan.bins = ParseInt(*bins, "--bins", 2, 65536);
    }
    plan.log = args.Has("--log");
    if (const auto plane = args.Value("--plane")) {
        plan.plane = ParseChoice(*plane, "--plane", {"R", "G", "B", "L"})[0];
    }
    return plan;
}

}  // namespace orbimg::tool
