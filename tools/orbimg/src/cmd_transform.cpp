// orbimg transform: flip, bin, resample, resize the canvas, change brightness.
#include <string>

#include "commands.h"

namespace orbimg::tool {
namespace {

constexpr int kMaxSide = 1 << 20;

using Kind = TransformStep::Kind;

/// The step of a kind, added at the end when it is not there yet.
TransformStep& StepOf(TransformPlan& plan, Kind kind)
{
    for (auto& step : plan.steps) {
        if (step.kind == kind) {
            return step;
        }
    }
    plan.steps.push_back(TransformStep{});
    plan.steps.back().kind = kind;
    return plan.steps.back();
}

bool HasStep(const TransformPlan& plan, Kind kind)
{
    for (const auto& step : plan.steps) {
        if (step.kind == kind) {
            return true;
        }
    }
    return false;
}

}  // namespace

CommandSpec TransformCommand()
{
    return CommandSpec{
        "transform",
        "flip, bin, resample, resize the canvas or change brightness; writes FITS",
        "orbimg transform IN -o OUT.fits [steps]",
        "Applies the steps in the order they are given and writes the result as\n"
        "32-bit float FITS with the input's header keywords. Steps:\n"
        "  --flip v|h                            top to bottom, or left to right\n"
        "  --bin NxM [--round-up] [--scale-levels]  sum N x M blocks\n"
        "  --resample WxH [--bicubic]            bilinear (or bicubic) to W x H\n"
        "  --canvas WxH [--anchor 0..8] [--fill V]  new canvas, the image placed at\n"
        "                                        the anchor (0 top left .. 8 bottom\n"
        "                                        right, default 4 centre), the rest\n"
        "                                        filled with V on the 0..255 display\n"
        "                                        scale (default 0)\n"
        "  --bright B --contrast C --pivot P     brightness B and contrast C (in 1/256)\n"
        "                                        about display value P (default 0, 0, 128)",
        {
            {"--output", "-o", OptionValue::Required, "OUT.fits", "the FITS file to write"},
            {"--flip", "", OptionValue::Required, "v|h", "flip top to bottom (v) or left to right (h)"},
            {"--bin", "", OptionValue::Required, "NxM", "bin N x M pixels into one"},
            {"--round-up", "", OptionValue::None, "", "keep partial blocks at the right and bottom"},
            {"--scale-levels", "", OptionValue::None, "", "multiply the display levels by N x M"},
            {"--resample", "", OptionValue::Required, "WxH", "resample to W x H pixels"},
            {"--bicubic", "", OptionValue::None, "", "bicubic instead of bilinear resampling"},
            {"--canvas", "", OptionValue::Required, "WxH", "resize the canvas to W x H"},
            {"--anchor", "", OptionValue::Required, "0..8", "where the image sits on the canvas"},
            {"--fill", "", OptionValue::Required, "V", "canvas fill, 0..255 display scale"},
            {"--bright", "", OptionValue::Required, "B", "brightness change, display units"},
            {"--contrast", "", OptionValue::Required, "C", "contrast change, 1/256 units"},
            {"--pivot", "", OptionValue::Required, "P", "display value the contrast keeps"},
        },
        [](const ParsedArgs& args, Context& ctx) {
            ParseTransform(args);
            return NotAvailable(ctx, "transform");
        },
    };
}

TransformPlan ParseTransform(const ParsedArgs& args)
{
    RequirePositional(args, "transform", 1, 1, "IN");
    TransformPlan plan;
    plan.input = args.positional[0];
    const auto output = args.Value("--output");
    if (!output) {
        throw UsageError("transform: missing -o OUT.fits");
    }
    const std::string ext = LowerExtension(*output);
    if (ext != ".fits" && ext != ".fit" && ext != ".fts") {
        throw UsageError("transform: the output must be a FITS file (.fits, .fit or .fts), not '" + *output + "'");
    }
    plan.output = *output;

    for (const auto& use : args.options) {
        const std::string& name = use.name;
        const std::string value = use.values.empty() ? std::string() : use.values.back();
        if (name == "--flip" || name == "--bin" || name == "--resample" || name == "--canvas") {
            const Kind kind = name == "--flip"       ? Kind::Flip
                              : name == "--bin"      ? Kind::Bin
                              : name == "--resample" ? Kind::Resample
                                                     : Kind::Canvas;
            if (HasStep(plan, kind)) {
                throw UsageError("transform: " + name + " is given twice");
            }
            TransformStep& step = StepOf(plan, kind);
            if (kind == Kind::Flip) {
                step.vertical = ParseChoice(value, name, {"v", "h"}) == "v";
            } else if (kind == Kind::Bin) {
                const PixelSize block = ParseSize(value, name, 65536);
                step.binX = block.width;
                step.binY = block.height;
            } else {
                step.size = ParseSize(value, name, kMaxSide);
            }
        } else if (name == "--bright" || name == "--contrast" || name == "--pivot") {
            TransformStep& step = StepOf(plan, Kind::Bright);
            const double v = ParseNumber(value, name);
            (name == "--bright" ? step.bright : name == "--contrast" ? step.contrast : step.pivot) = v;
        }
    }
    // Modifiers belong to a step that must be there.
    const struct {
        const char* name;
        Kind kind;
        const char* owner;
    } modifiers[] = {{"--round-up", Kind::Bin, "--bin"},         {"--scale-levels", Kind::Bin, "--bin"},
                     {"--bicubic", Kind::Resample, "--resample"}, {"--anchor", Kind::Canvas, "--canvas"},
                     {"--fill", Kind::Canvas, "--canvas"}};
    for (const auto& modifier : modifiers) {
        if (args.Has(modifier.name) && !HasStep(plan, modifier.kind)) {
            throw UsageError(std::string("transform: ") + modifier.name + " goes with " + modifier.owner);
        }
    }
    for (auto& step : plan.steps) {
        if (step.kind == Kind::Bin) {
            step.roundUp = args.Has("--round-up");
            step.scaleLevels = args.Has("--scale-levels");
        } else if (step.kind == Kind::Resample) {
            step.bicubic = args.Has("--bicubic");
        } else if (step.kind == Kind::Canvas) {
            if (const auto anchor = args.Value("--anchor")) {
                step.anchor = ParseInt(*anchor, "--anchor", 0, 8);
            }
            if (const auto fill = args.Value("--fill")) {
                step.fill = ParseNumber(*fill, "--fill");
            }
        }
    }
    if (plan.steps.empty()) {
        throw UsageError("transform: nothing to do (give --flip, --bin, --resample, --canvas or --bright)");
    }
    return plan;
}

}  // namespace orbimg::tool
