// orbimg histogram: the distribution of the samples, as a plot or a table.
#include <algorithm>
#include <cmath>

#include "commands.h"
#include "histplot.h"
#include "imagefile.h"
#include "planestats.h"
#include "starfinder.h"
#include "text.h"

namespace orbimg::tool {
namespace {

/// Luminance weights, as the library applies them.
double Luminance(double r, double g, double b)
{
    return (0.587 * g + 0.299 * r) + 0.114 * b;
}

/// The levels `render` sets by default.
Levels DefaultRenderLevels(const CKelImage& image)
{
    CImgAutoLevel levelled(image);
    const auto [low, high] = DefaultLevelParameters(AutoLevelMethod::Median);
    ApplyAutoLevel(levelled, AutoLevelMethod::Median, low, high, false, nullptr);
    MendLevels(levelled);
    return GetLevels(levelled);
}

}  // namespace

CommandSpec HistogramCommand()
{
    return CommandSpec{
        "histogram",
        "histogram of a plane or the luminance, as a PNG plot or a text table",
        "orbimg histogram FILE [-o hist.png] [--bins N] [--log] [--plane R|G|B|L] [--range LO,HI]",
        "Counts the samples of a plane (R, G or B) or the luminance 0.299 R + 0.587 G\n"
        "+ 0.114 B (L, the default; the plane itself for a mono image) in N bins\n"
        "between the least and greatest value, or over --range. With -o the\n"
        "histogram is drawn as a PNG plot with axes, the display levels that\n"
        "'orbimg render' sets by default marked as dashed lines; without it a text\n"
        "table is printed (with --log: log10 of the counts).",
        {
            {"--output", "-o", OptionValue::Required, "OUT.png", "draw the plot into this PNG file"},
            {"--bins", "", OptionValue::Required, "N", "number of bins, 2 to 65536 (default 256)"},
            {"--log", "", OptionValue::None, "", "logarithmic counts"},
            {"--plane", "", OptionValue::Required, "R|G|B|L", "plane or luminance (default L)"},
            {"--range", "", OptionValue::Required, "LO,HI", "the values counted (default: all)"},
        },
        [](const ParsedArgs& args, Context& ctx) {
            RunHistogram(ParseHistogram(args), ctx);
            return 0;
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
    if (const auto range = args.Value("--range")) {
        plan.range = ParseRange(*range, "--range");
    }
    return plan;
}

void RunHistogram(const HistogramPlan& plan, Context& ctx)
{
    ImageFile file = LoadImageFile(plan.input);
    CKelImage& image = *file.image;
    const bool colour = image.GetPlanes() >= 3;
    if (!colour && plan.plane != 'L') {
        throw UsageError(std::string("histogram: --plane ") + plan.plane + " needs a colour image; '" + plan.input +
                         "' is mono");
    }
    const int plane = plan.plane == 'R' ? 0 : plan.plane == 'G' ? 1 : plan.plane == 'B' ? 2 : colour ? -1 : 0;
    const Levels marks = DefaultRenderLevels(image);

    HistogramPlot plot;
    plot.logCounts = plan.log;
    const char series = plane < 0 ? 'L' : colour ? plan.plane : 'L';
    double lo = 0.0;
    double hi = 1.0;
    std::string what;
    if (plane >= 0) {
        const auto extremes = FiniteExtremes(image, plane);
        if (!extremes && !plan.range) {
            throw ToolError("histogram: '" + plan.input + "' has no sample that is not blank");
        }
        lo = plan.range ? plan.range->first : extremes->first;
        hi = plan.range ? plan.range->second : extremes->second;
        what = colour ? std::string(plane == 0 ? "red" : plane == 1 ? "green" : "blue") + " plane" : "samples";
        plot.markers = {HistogramMarker{marks.min[plane], series}, HistogramMarker{marks.max[plane], series}};
    } else {
        // One window for the three planes makes the library's display
        // luminance a linear function of the raw luminance, with the same
        // ends: lo and hi are then luminance values.
        double gmin = HUGE_VAL;
        double gmax = -HUGE_VAL;
        for (int p = 0; p < 3; ++p) {
            if (const auto extremes = FiniteExtremes(image, p)) {
                gmin = std::min(gmin, static_cast<double>(extremes->first));
                gmax = std::max(gmax, static_cast<double>(extremes->second));
            }
        }
        if (!(gmin <= gmax)) {
            throw ToolError("histogram: '" + plan.input + "' has no sample that is not blank");
        }
        if (!(gmax > gmin)) {
            gmax = LevelAbove(gmin);
        }
        for (int p = 0; p < 3; ++p) {
            image.SetLevel(p, gmin, gmax);
        }
        if (plan.range) {
            lo = plan.range->first;
            hi = plan.range->second;
        } else {
            const std::vector<float> signal = StarSignal(image, -1);
            float ylo = HUGE_VALF;
            float yhi = -HUGE_VALF;
            for (const float v : signal) {
                if (std::isfinite(v)) {
                    ylo = std::min(ylo, v);
                    yhi = std::max(yhi, v);
                }
            }
            if (!(ylo <= yhi)) {
                throw ToolError("histogram: '" + plan.input + "' has no pixel without a blank");
            }
            // A hair of room at both ends: the library takes each plane to
            // the display scale in float, which can put an extreme pixel a
            // rounding step outside the window.
            const double margin = std::max(static_cast<double>(yhi - ylo), 1.0) * 1e-6;
            lo = ylo - margin;
            hi = yhi + margin;
        }
        what = "luminance";
        plot.markers = {HistogramMarker{Luminance(marks.min[0], marks.min[1], marks.min[2]), 'L'},
                        HistogramMarker{Luminance(marks.max[0], marks.max[1], marks.max[2]), 'L'}};
    }
    if (!(hi > lo)) {
        hi = LevelAbove(lo);
    }

    std::vector<int> counts(static_cast<std::size_t>(plan.bins));
    image.GetHistogram(counts.data(), plan.bins, lo, hi, plane, plan.log ? 1 : 0, 1, 0, nullptr, 0, 0);
    plot.lo = lo;
    plot.hi = hi;
    plot.series = {HistogramSeries{series, std::move(counts)}};

    const std::string title = plan.input + ": " + what + ", " + std::to_string(plan.bins) + " bins from " +
                              Number(lo) + " to " + Number(hi) + (plan.log ? ", log10 counts" : "") +
                              "; render levels " + Number(plot.markers[0].value) + " .. " +
                              Number(plot.markers[1].value);
    if (plan.output) {
        WritePngFile(*plan.output, DrawHistogram(plot));
        ctx.out << "wrote " << *plan.output << " (" << title.substr(plan.input.size() + 2) << ")\n";
    } else {
        PrintHistogramTable(plot, title, ctx.out);
    }
}

}  // namespace orbimg::tool
