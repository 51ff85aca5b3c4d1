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

/// Luminance of a colour value, with the library's weights and order.
double Luminance(double r, double g, double b)
{
    return (CKelImage::kBrightG * g + CKelImage::kBrightR * r) + CKelImage::kBrightB * b;
}

/// What `render` draws with by default: its levels and stretch.
struct RenderLook {
    Levels levels;
    CDisplayStretch stretch;
};

RenderLook DefaultRenderLook(const CKelImage& image)
{
    CImgAutoLevel levelled(image);
    ApplyDefaultRender(levelled);
    return {GetLevels(levelled), levelled.GetStretch()};
}

/// The sample value the stretch shows at half brightness.
double Midtone(const RenderLook& look, int plane)
{
    const double t = look.stretch.Inverse(0.5, plane);
    return look.levels.min[plane] + t * (look.levels.max[plane] - look.levels.min[plane]);
}

}  // namespace

CommandSpec HistogramCommand()
{
    std::vector<OptionSpec> options = {
        {"--output", "-o", OptionValue::Required, "OUT.png", "draw the plot into this PNG file"},
        {"--bins", "", OptionValue::Required, "N", "number of bins, 2 to 65536 (default 256)"},
        {"--log", "", OptionValue::None, "", "logarithmic counts"},
        {"--plane", "", OptionValue::Required, "R|G|B|L", "one plane or the luminance (default: R, G and B)"},
        {"--range", "", OptionValue::Required, "LO,HI", "the values counted (default: all)"},
        PngLevelSpec(),
    };
    for (auto& option : MosaicOptionSpecs()) {
        options.push_back(option);
    }
    return CommandSpec{
        "histogram",
        "histogram of the colour planes, a plane or the luminance, as a PNG plot or a text table",
        "orbimg histogram FILE [-o hist.png] [--bins N] [--log] [--plane R|G|B|L] [--range LO,HI]",
        "Counts the samples in N bins between the least and greatest value (of all\n"
        "planes counted), or over --range: the red, green and blue planes of a\n"
        "colour image (one curve each), the plane of a mono image, or with --plane\n"
        "one plane (R, G, B) or the luminance 0.299 R + 0.587 G + 0.114 B (L).\n"
        "With -o the histogram is drawn as a PNG plot with axes ticked at round\n"
        "values; the black and white points of the stretch 'orbimg render' uses by\n"
        "default are marked as dashed lines and its midtone (the value shown at half\n"
        "brightness) in finer dashes. Without -o a text table is printed (with\n"
        "--log: log10 of the counts). A one-shot-colour mosaic (BAYERPAT, or\n"
        "--bayer) is debayered first (--debayer, RCD by default).",
        options,
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
    plan.output = OutputFile(args, "histogram", {".png"}, "plot must be a .png file");
    plan.pngLevel = PngLevelOption(args, "histogram", plan.output.value_or(""), plan.output.has_value());
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
    plan.mosaic = ParseMosaicOptions(args);
    return plan;
}

void RunHistogram(const HistogramPlan& plan, Context& ctx)
{
    ImageFile file = LoadImageFile(plan.input);
    const std::string mosaic = DebayerIfMosaic(file, plan.mosaic);
    CKelImage& image = *file.image;
    const bool colour = image.GetPlanes() >= 3;
    if (!colour && plan.plane != 'L' && plan.plane != 'C') {
        throw UsageError(std::string("histogram: --plane ") + plan.plane + " needs a colour image; '" + plan.input +
                         "' is mono");
    }
    const bool all = colour && plan.plane == 'C';
    const int plane = plan.plane == 'R' ? 0 : plan.plane == 'G' ? 1 : plan.plane == 'B' ? 2 : colour ? -1 : 0;
    const RenderLook look = DefaultRenderLook(image);

    HistogramPlot plot;
    plot.logCounts = plan.log;
    double lo = 0.0;
    double hi = 1.0;
    std::string what;
    auto addMarks = [&](int p, char series) {
        plot.markers.push_back(HistogramMarker{look.levels.min[p], series});
        plot.markers.push_back(HistogramMarker{look.levels.max[p], series});
        if (!look.stretch.IsLinear()) {
            plot.markers.push_back(HistogramMarker{Midtone(look, p), series, true});
        }
    };
    if (all || plane >= 0) {
        double gmin = HUGE_VAL;
        double gmax = -HUGE_VAL;
        for (int p = all ? 0 : plane; p <= (all ? 2 : plane); ++p) {
            if (const auto extremes = FiniteExtremes(image, p)) {
                gmin = std::min(gmin, static_cast<double>(extremes->first));
                gmax = std::max(gmax, static_cast<double>(extremes->second));
            }
        }
        if (!(gmin <= gmax) && !plan.range) {
            throw ToolError("histogram: '" + plan.input + "' has no sample that is not blank");
        }
        lo = plan.range ? plan.range->first : gmin;
        hi = plan.range ? plan.range->second : gmax;
        if (all) {
            what = "red, green and blue planes";
            for (int p = 0; p < 3; ++p) {
                addMarks(p, "RGB"[p]);
            }
        } else {
            what = colour ? std::string(plane == 0 ? "red" : plane == 1 ? "green" : "blue") + " plane" : "samples";
            addMarks(plane, colour ? plan.plane : 'L');
        }
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
        const auto& lv = look.levels;
        plot.markers = {HistogramMarker{Luminance(lv.min[0], lv.min[1], lv.min[2]), 'L'},
                        HistogramMarker{Luminance(lv.max[0], lv.max[1], lv.max[2]), 'L'}};
        if (!look.stretch.IsLinear()) {
            plot.markers.push_back(
                HistogramMarker{Luminance(Midtone(look, 0), Midtone(look, 1), Midtone(look, 2)), 'L', true});
        }
    }
    if (!(hi > lo)) {
        hi = LevelAbove(lo);
    }

    plot.lo = lo;
    plot.hi = hi;
    if (all) {
        std::vector<int> counts[3];
        for (auto& c : counts) {
            c.assign(static_cast<std::size_t>(plan.bins), 0);
        }
        image.GetHistogramRGB(counts[0].data(), counts[1].data(), counts[2].data(), plan.bins, lo, hi, nullptr, nullptr,
                              plan.log ? 1 : 0, 1, 0, nullptr, 0, 0);
        plot.series = {HistogramSeries{'R', std::move(counts[0])}, HistogramSeries{'G', std::move(counts[1])},
                       HistogramSeries{'B', std::move(counts[2])}};
    } else {
        std::vector<int> counts(static_cast<std::size_t>(plan.bins));
        image.GetHistogram(counts.data(), plan.bins, lo, hi, plane, plan.log ? 1 : 0, 1, 0, nullptr, 0, 0);
        plot.series = {HistogramSeries{plane < 0 ? 'L' : colour ? plan.plane : 'L', std::move(counts)}};
    }

    std::string marks = "render levels " + Number(plot.markers[0].value) + " .. " + Number(plot.markers[1].value);
    if (plot.markers.size() > 2 && plot.markers[2].midtone) {
        marks += ", midtone " + Number(plot.markers[2].value);
    }
    const std::string title = plan.input + ": " + (mosaic.empty() ? std::string() : mosaic + "; ") + what + ", " +
                              std::to_string(plan.bins) + " bins from " + Number(lo) + " to " + Number(hi) +
                              (plan.log ? ", log10 counts" : "") + "; " + marks;
    if (plan.output) {
        WritePngFile(*plan.output, DrawHistogram(plot), plan.pngLevel);
        ctx.out << "wrote " << *plan.output << " (" << title.substr(plan.input.size() + 2) << ")\n";
    } else {
        PrintHistogramTable(plot, title, ctx.out);
    }
}

}  // namespace orbimg::tool
