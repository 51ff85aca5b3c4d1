// orbimg focus: the focus figure of each frame and the best one.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "dibfile.h"
#include "imagefile.h"
#include "planestats.h"
#include "progress.h"
#include "text.h"

namespace orbimg::tool {
namespace {

// Prints the frames' errors and notes once the progress bar is gone; true
// when there was an error.
bool Report(Context& ctx, const std::vector<std::string>& errors, const std::vector<std::string>& notes)
{
    for (const auto& error : errors) {
        ctx.err << "orbimg: " << error << '\n';
    }
    for (const auto& note : notes) {
        ctx.out << note << '\n';
    }
    return !errors.empty();
}

/// Measures every frame in the order given, under a progress bar:
/// `measure(frame, index)` fills a frame (or throws ToolError) and returns
/// its debayering note; `better(a, b)`: frame a beats frame b. Notes get
/// `noteTail`, frames not measured the error "focus: <failure> '<file>'".
template <class Measure, class Better>
FocusResult MeasureFrames(const FocusPlan& plan, Context& ctx, const char* noteTail, const char* failure,
                          Measure measure, Better better)
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
                const std::string note = measure(frame, i);
                if (!note.empty()) {
                    notes.push_back(frame.path + ": " + note + noteTail);
                }
                if (!frame.measured) {
                    errors.push_back(std::string("focus: ") + failure + " '" + frame.path + "'");
                }
            } catch (const ToolError& e) {
                errors.push_back(e.what());
            }
            if (frame.measured && (result.best < 0 || better(frame, result.frames[result.best]))) {
                result.best = static_cast<int>(i);
            }
            result.frames.push_back(frame);
        }
        bar.Update(static_cast<int>(plan.inputs.size()));
    }
    result.failed = Report(ctx, errors, notes);
    return result;
}

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
    LibraryWindow window(rect, frame.GetWidth(), frame.GetHeight());
    FillBlanksWithMedians(frame);
    return frame.Do(window.get(), 0);
}

/// The focuser position written in a frame's header, if any.
std::optional<double> HeaderPosition(const ImageFile& file)
{
    for (const char* key : {"FOCUSPOS", "FOCPOS"}) {
        if (const auto value = file.header.Value(key)) {
            char* end = nullptr;
            const double v = std::strtod(value->c_str(), &end);
            if (end != value->c_str() && std::isfinite(v)) {
                return v;
            }
        }
    }
    return std::nullopt;
}

void MeasureHfr(FocusFrame& frame, const FocusPlan& plan, std::size_t index, std::string& note)
{
    ImageFile file = LoadImageFile(frame.path);
    note = DebayerIfMosaic(file, plan.mosaic);
    if (const auto at = HeaderPosition(file)) {
        frame.position = *at;
    }
    if (index < plan.positions.size()) {
        frame.position = plan.positions[index];
    }
    if (std::isnan(frame.position)) {
        throw ToolError("focus: no focuser position for '" + frame.path +
                        "' (no FOCUSPOS or FOCPOS keyword; give --positions)");
    }
    CStarField field(file.image.get());
    field.Detect();
    const StarSummary summary = field.GetSummary();
    frame.stars = summary.good;
    frame.hfr = summary.hfr;
    frame.hfrError = summary.hfrError;
    frame.measured = summary.good > 0;
}

/// Points, error bars, both fitted curves and the best position, on white.
void DrawCurve(const std::string& path, const FocusResult& result, int pngLevel)
{
    constexpr int kWidth = 640;
    constexpr int kHeight = 400;
    constexpr int kLeft = 40;
    constexpr int kRight = kWidth - 20;
    constexpr int kTop = 20;
    constexpr int kBottom = kHeight - 30;
    Raster raster;
    raster.width = kWidth;
    raster.height = kHeight;
    raster.channels = 3;
    raster.samples.assign(static_cast<std::size_t>(kWidth) * kHeight * 3, 255);
    const auto dot = [&](int x, int y, std::array<unsigned char, 3> c) {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight) {
            std::copy(c.begin(), c.end(), raster.samples.begin() + (static_cast<std::ptrdiff_t>(y) * kWidth + x) * 3);
        }
    };
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = 0.0;
    for (const auto& f : result.frames) {
        if (f.measured) {
            x0 = std::min(x0, f.position);
            x1 = std::max(x1, f.position);
            y1 = std::max(y1, f.hfr + (std::isfinite(f.hfrError) ? f.hfrError : 0.0));
        }
    }
    if (!(x1 > x0) || !(y1 > 0.0)) {
        throw ToolError("focus: too few frames with stars to draw a curve");
    }
    const double pad = 0.05 * (x1 - x0);
    x0 -= pad;
    x1 += pad;
    y1 *= 1.1;
    const auto px = [&](double x) {
        return kLeft + static_cast<int>(std::lround((x - x0) / (x1 - x0) * (kRight - kLeft)));
    };
    const auto py = [&](double y) { return kBottom - static_cast<int>(std::lround(y / y1 * (kBottom - kTop))); };
    for (int x = kLeft; x <= kRight; ++x) {
        dot(x, kBottom, {0, 0, 0});
    }
    for (int y = kTop; y <= kBottom; ++y) {
        dot(kLeft, y, {0, 0, 0});
    }
    for (int k = 0; k <= 10; ++k) {  // ticks every tenth of the range, and every HFR pixel
        for (int d = 1; d <= 4; ++d) {
            dot(kLeft + (kRight - kLeft) * k / 10, kBottom + d, {0, 0, 0});
        }
    }
    for (int v = 1; v < y1; ++v) {
        for (int d = 1; d <= 4; ++d) {
            dot(kLeft - d, py(v), {0, 0, 0});
        }
    }
    const auto curve = [&](const FocusFitResult& fit, bool hyperbola, std::array<unsigned char, 3> c) {
        int last = -1;
        for (int x = kLeft; x <= kRight; ++x) {
            const double pos = x0 + (x - kLeft) * (x1 - x0) / (kRight - kLeft);
            const double v = hyperbola ? CFocusCurve::Hyperbola(fit, pos) : CFocusCurve::Parabola(fit, pos);
            if (!std::isfinite(v) || v < 0.0 || v > y1) {
                last = -1;
                continue;
            }
            const int y = py(v);
            for (int yy = std::min(y, last < 0 ? y : last); yy <= std::max(y, last < 0 ? y : last); ++yy) {
                dot(x, yy, c);
            }
            last = y;
        }
    };
    if (result.curve) {
        if (result.curve->parabola.points >= 3 && result.curve->parabola.p[2] != 0.0) {
            curve(result.curve->parabola, false, {230, 140, 20});
        }
        if (result.curve->hyperbola.p[1] > 0.0) {
            curve(result.curve->hyperbola, true, {40, 80, 220});
        }
        if (result.curve->ok) {
            for (int y = kTop; y < kBottom; y += 2) {
                dot(px(result.curve->best), y, {30, 150, 40});
            }
        }
    }
    for (const auto& f : result.frames) {
        if (!f.measured) {
            continue;
        }
        const int x = px(f.position);
        const double e = std::isfinite(f.hfrError) ? f.hfrError : 0.0;
        for (int y = py(f.hfr + e); y <= py(std::max(f.hfr - e, 0.0)); ++y) {
            dot(x, y, {0, 0, 0});
        }
        for (int d = -3; d <= 3; ++d) {
            dot(x + d, py(f.hfr + e), {0, 0, 0});
            dot(x + d, py(std::max(f.hfr - e, 0.0)), {0, 0, 0});
            for (int dd = -2; dd <= 2; ++dd) {
                if (std::abs(d) <= 2) {
                    dot(x + d, py(f.hfr) + dd, {200, 30, 30});
                }
            }
        }
    }
    WritePngFile(path, raster, pngLevel);
}

FocusResult RunHfrFocus(const FocusPlan& plan, Context& ctx)
{
    FocusResult result = MeasureFrames(
        plan, ctx, "; HFR measured on the luminance", "no good star in",
        [&](FocusFrame& frame, std::size_t i) {
            std::string note;
            MeasureHfr(frame, plan, i, note);
            return note;
        },
        [](const FocusFrame& a, const FocusFrame& b) { return a.hfr < b.hfr; });
    CFocusCurve curve;
    std::size_t nameWidth = 4;
    for (const auto& frame : result.frames) {
        nameWidth = std::max(nameWidth, frame.path.size());
        if (frame.measured) {
            curve.Add(frame.position, frame.hfr, frame.hfrError);
        }
    }
    char line[128];
    std::snprintf(line, sizeof line, "%6s  ", "frame");
    ctx.out << line << "file" << std::string(nameWidth - 4, ' ') << "     position  stars   median HFR (px)\n";
    for (std::size_t i = 0; i < result.frames.size(); ++i) {
        const auto& f = result.frames[i];
        std::snprintf(line, sizeof line, "%6zu  ", i + 1);
        ctx.out << line << f.path << std::string(nameWidth - f.path.size(), ' ');
        std::snprintf(line, sizeof line, " %12.6g  %5d   %s\n", f.position, f.stars,
                      f.measured ? (Fixed(f.hfr, 3) + " +- " + Fixed(f.hfrError, 3)).c_str() : "-");
        ctx.out << line;
    }
    result.curve = curve.Fit();
    const FocusCurveResult& fit = *result.curve;
    const auto describe = [&](const char* name, const FocusFitResult& f) {
        ctx.out << name << (f.ok ? "" : " (refused: " + f.reason + ")");
        if (f.points > 0 && std::isfinite(f.best)) {
            ctx.out << ": minimum at " << Format("%.6g", f.best) << " +- " << Format("%.3g", f.bestError) << ", HFR "
                    << Fixed(f.minimum, 3) << " px, R^2 " << Fixed(f.r2, 4) << ", reduced chi^2 "
                    << Format("%.3g", f.chi2);
        }
        ctx.out << '\n';
    };
    describe("hyperbola", fit.hyperbola);
    describe("parabola ", fit.parabola);
    if (fit.ok) {
        ctx.out << "best focus: position " << Format("%.6g", fit.best) << " +- " << Format("%.3g", fit.bestError)
                << " (" << (fit.fromHyperbola ? "hyperbola" : "parabola") << ")\n";
    } else {
        ctx.out << "no best focus position: " << fit.reason << '\n';
        result.failed = true;
    }
    if (plan.output) {
        DrawCurve(*plan.output, result, plan.pngLevel);
        ctx.out << "wrote " << *plan.output << '\n';
    }
    return result;
}

}  // namespace

CommandSpec FocusCommand()
{
    return CommandSpec{
        "focus",
        "focus figure and best frame, or HFR focus curve and best position",
        "orbimg focus FILE... [--rect X0,Y0,X1,Y1 | --hfr [--positions P1,P2,...] [-o CURVE.png]]",
        "Evaluates the focus of each frame, in the order given, over the whole frame\n"
        "or a window, and tells which frame is best focused. The figure is the mean\n"
        "square of a difference of Gaussians (sigma 1 and 10 pixels, a border of 10\n"
        "pixels left out): the larger, the sharper. Compare frames of one field taken\n"
        "with the same exposure. Blank samples count as their plane's median. With\n"
        "many files a progress bar is shown on a terminal. A file that cannot be\n"
        "read is reported and the others are still evaluated; the exit status is\n"
        "then 1.\n"
        "With --hfr, measures each frame's median half-flux radius (HFR) of its\n"
        "good stars instead, takes the focuser positions from the FOCUSPOS or\n"
        "FOCPOS keyword or from --positions, fits a hyperbola and a parabola to\n"
        "HFR against position and prints the best focuser position with its\n"
        "uncertainty (exit status 1 when the fit is refused: too few frames with\n"
        "stars, or the minimum outside the positions sampled). -o draws the points\n"
        "with their error bars, the hyperbola (blue), the parabola (orange) and\n"
        "the best position (green) as a PNG.\n"
        "A one-shot-colour mosaic (BAYERPAT, or --bayer) is debayered first\n"
        "(--debayer, RCD by default; super-pixel halves the frame and its\n"
        "coordinates) and evaluated on its three colour planes (the luminance).",
        {
            {"--rect", "", OptionValue::Required, "X0,Y0,X1,Y1", "the window evaluated (FITS pixels)"},
            {"--hfr", "", OptionValue::None, "", "median HFR and a fitted focus curve"},
            {"--positions", "", OptionValue::Required, "P1,P2,...", "focuser positions of the frames (--hfr)"},
            {"--output", "-o", OptionValue::Required, "CURVE.png", "draw the focus curve (--hfr)"},
            PngLevelSpec(),
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
    plan.hfr = args.Has("--hfr");
    if (const auto list = args.Value("--positions")) {
        std::string text = *list;
        std::size_t start = 0;
        while (start <= text.size()) {
            const std::size_t comma = std::min(text.find(',', start), text.size());
            const std::string word = text.substr(start, comma - start);
            char* end = nullptr;
            const double v = std::strtod(word.c_str(), &end);
            if (word.empty() || *end != '\0' || !std::isfinite(v)) {
                throw UsageError("focus: --positions expects numbers separated by commas, not '" + text + "'");
            }
            plan.positions.push_back(v);
            start = comma + 1;
        }
        if (plan.positions.size() != plan.inputs.size()) {
            throw UsageError("focus: --positions gives " + std::to_string(plan.positions.size()) + " positions for " +
                             std::to_string(plan.inputs.size()) + " frames");
        }
    }
    plan.output = args.Value("--output");
    plan.pngLevel = PngLevelOption(args, "focus", plan.output.value_or(""), plan.output.has_value());
    if ((plan.output || !plan.positions.empty()) && !plan.hfr) {
        throw UsageError("focus: --positions and -o go with --hfr");
    }
    plan.mosaic = ParseMosaicOptions(args);
    return plan;
}

FocusResult RunFocus(const FocusPlan& plan, Context& ctx)
{
    if (plan.hfr) {
        return RunHfrFocus(plan, ctx);
    }
    FocusResult result = MeasureFrames(
        plan, ctx, "; evaluated on the luminance (the three planes)", "no figure for",
        [&](FocusFrame& frame, std::size_t) {
            std::string note;
            frame.figure = EvaluateFrame(frame.path, plan.rect, plan.mosaic, note);
            frame.measured = std::isfinite(frame.figure);
            return note;
        },
        [](const FocusFrame& a, const FocusFrame& b) { return a.figure > b.figure; });

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
