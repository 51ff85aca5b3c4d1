// orbimg focus: the focus figure of each frame and the best one.
#include <cmath>
#include <cstdio>

#include "commands.h"
#include "imagefile.h"
#include "planestats.h"
#include "progress.h"
#include "text.h"

namespace orbimg::tool {
namespace {

/// Replaces blank samples by the median of their plane: one NaN would
/// otherwise spread through both Gaussians into the whole figure.
void FillBlanksWithMedians(CKelImage& image)
{
    for (int p = 0; p < image.GetPlanes(); ++p) {
        if (MeasurePlane(image, p, false).blank > 0) {
            const PlaneStats stats = MeasurePlane(image, p);
            FillBlanks(image, p, stats.finite > 0 ? static_cast<float>(stats.median) : 0.0f);
        }
    }
}

double EvaluateFrame(const std::string& path, const std::optional<FitsRect>& rect, const MosaicOptions& mosaic,
                     std::string& note)
{
    ImageFile file = LoadImageFile(path);
    note = DebayerIfMosaic(file, mosaic);
    CImgEvaluateFocus frame;
    frame = *file.image;
    file.image.reset();
    std::optional<CRect> window;
    if (rect) {
        window = FitsRectToLibrary(*rect, frame.GetWidth(), frame.GetHeight());
    }
    FillBlanksWithMedians(frame);
    return frame.Do(window ? &*window : nullptr, 0);
}

}  // namespace

CommandSpec FocusCommand()
{
    return CommandSpec{
        "focus",
        "focus figure of each frame, and the best frame",
        "orbimg focus FILE... [--rect X0,Y0,X1,Y1]",
        "Evaluates the focus of each frame, in the order given, over the whole frame\n"
        "or a window, and tells which frame is best focused. The figure is the mean\n"
        "square of a difference of Gaussians (sigma 1 and 10 pixels, a border of 10\n"
        "pixels left out): the larger, the sharper. Compare frames of one field taken\n"
        "with the same exposure. Blank samples count as their plane's median. With\n"
        "many files a progress bar is shown on a terminal. A file that cannot be\n"
        "read is reported and the others are still evaluated; the exit status is\n"
        "then 1. A one-shot-colour mosaic (BAYERPAT, or --bayer) is debayered first\n"
        "(--debayer, RCD by default; super-pixel halves the frame and its\n"
        "coordinates) and evaluated on its three colour planes (the luminance).",
        {
            {"--rect", "", OptionValue::Required, "X0,Y0,X1,Y1", "the window evaluated (FITS pixels)"},
            MosaicOptionSpecs()[0],
            MosaicOptionSpecs()[1],
        },
        [](const ParsedArgs& args, Context& ctx) { return RunFocus(ParseFocus(args), ctx).failed ? 1 : 0; },
    };
}

FocusPlan ParseFocus(const ParsedArgs& args)
{
    RequirePositional(args, "focus", 1, -1, "FILE");
    FocusPlan plan;
    plan.inputs = args.positional;
    if (const auto rect = args.Value("--rect")) {
        plan.rect = ParseRect(*rect, "--rect");
    }
    plan.mosaic = ParseMosaicOptions(args);
    return plan;
}

FocusResult RunFocus(const FocusPlan& plan, Context& ctx)
{
    FocusResult result;
    std::vector<std::string> errors;
    std::vector<std::string> notes;
    {
        ProgressBar bar(ctx, static_cast<int>(plan.inputs.size()), "focus");
        for (std::size_t i = 0; i < plan.inputs.size(); ++i) {
            bar.Update(static_cast<int>(i), plan.inputs[i]);
            FocusFrame frame;
            frame.path = plan.inputs[i];
            try {
                std::string note;
                frame.figure = EvaluateFrame(frame.path, plan.rect, plan.mosaic, note);
                if (!note.empty()) {
                    notes.push_back(frame.path + ": " + note + "; evaluated on the luminance (the three planes)");
                }
                frame.measured = std::isfinite(frame.figure);
                if (!frame.measured) {
                    errors.push_back("focus: no figure for '" + frame.path + "'");
                }
            } catch (const ToolError& e) {
                errors.push_back(e.what());
            }
            if (frame.measured && (result.best < 0 || frame.figure > result.frames[result.best].figure)) {
                result.best = static_cast<int>(i);
            }
            result.frames.push_back(frame);
        }
        bar.Update(static_cast<int>(plan.inputs.size()));
    }
    for (const auto& error : errors) {
        ctx.err << "orbimg: " << error << '\n';
    }
    for (const auto& note : notes) {
        ctx.out << note << '\n';
    }
    result.failed = !errors.empty();

    const double top = result.best >= 0 ? result.frames[result.best].figure : 0.0;
    std::size_t nameWidth = 4;
    for (const auto& frame : result.frames) {
        nameWidth = std::max(nameWidth, frame.path.size());
    }
    char line[64];
    std::snprintf(line, sizeof line, "%6s  ", "frame");
    ctx.out << line << "file" << std::string(nameWidth - 4, ' ') << "   focus figure\n";
    for (std::size_t i = 0; i < result.frames.size(); ++i) {
        const auto& frame = result.frames[i];
        std::snprintf(line, sizeof line, "%6zu  ", i + 1);
        ctx.out << line << frame.path << std::string(nameWidth - frame.path.size(), ' ');
        std::snprintf(line, sizeof line, " %14s  ", frame.measured ? Format("%.6g", frame.figure).c_str() : "-");
        ctx.out << line;
        if (frame.measured && top > 0.0) {
            ctx.out << std::string(static_cast<std::size_t>(std::lround(std::max(frame.figure, 0.0) / top * 40.0)),
                                   '#');
        }
        ctx.out << (static_cast<int>(i) == result.best && result.frames.size() > 1 ? "  <- best" : "") << '\n';
    }
    if (result.best >= 0) {
        ctx.out << "best: frame " << result.best + 1 << " (" << result.frames[result.best].path << "), figure "
                << Format("%.6g", top) << '\n';
    }
    return result;
}

}  // namespace orbimg::tool
