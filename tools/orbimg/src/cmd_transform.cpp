// orbimg transform: flip, bin, resample, resize the canvas, change brightness.
//
// Orientation: the library keeps row 0 at the top of the picture, as DS9
// shows it; FITS row 1 is the bottom row. So:
//   - flip v mirrors the picture top to bottom (FITS row 1 takes the old top
//     row), flip h left to right;
//   - canvas anchors are positions in the picture as displayed: 0 top left,
//     1 top centre, 2 top right, ..., 6 bottom left, 8 bottom right;
//   - bin blocks and the resampling grid start at FITS pixel (1, 1), the
//     bottom-left pixel, as astronomy software counts them: a partial block
//     (or the rows dropped without --round-up) lies at the top and the right,
//     and pixel (x, y) of a resampled image samples the source at FITS
//     ((x - 1) W / w + 1, (y - 1) H / h + 1). The library counts both from
//     its row 0, so the picture is turned upside down around these steps.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "commands.h"
#include "imagefile.h"
#include "text.h"

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

using ImagePtr = std::unique_ptr<CKelImage>;

/// A copy of `image` as the operation object T (the destination of T's Do).
template <class T>
std::unique_ptr<T> DestinationFor(const CKelImage& image)
{
    auto out = std::make_unique<T>();
    *out = image;
    return out;
}

/// Mirrors the image: mode 0 top to bottom, 1 left to right. In place when
/// the image is a CImgFlip (the loader makes it one); otherwise into a new
/// object that takes the image's record and size from it.
void Flip(ImagePtr& image, int mode)
{
    if (auto* flip = dynamic_cast<CImgFlip*>(image.get())) {
        flip->Do(mode, flip, 0);
        return;
    }
    auto out = std::make_unique<CImgFlip>();
    out->Do(mode, image.get(), 0);
    image = std::move(out);
}

std::string SizeText(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

/// UsageError unless a width x height image of `planes` planes can be held
/// (the loader's limit: fewer than 2^30 samples in all).
void CheckNewSize(int width, int height, int planes, const char* option)
{
    constexpr long long kMaxSamples = (1LL << 30) - 1;
    if (static_cast<long long>(width) * height > kMaxSamples / std::max(planes, 1)) {
        throw UsageError(std::string("transform: ") + option + " " + std::to_string(width) + "x" +
                         std::to_string(height) + " makes an image too large to hold");
    }
}

void CheckResult(int result, const std::string& what)
{
    if (!result) {
        throw ToolError("transform: " + what + " failed");
    }
}

void Bin(ImagePtr& image, const TransformStep& step)
{
    const int width = image->GetWidth();
    const int height = image->GetHeight();
    if (!step.roundUp && (step.binX > width || step.binY > height)) {
        throw UsageError("transform: --bin " + std::to_string(step.binX) + "x" + std::to_string(step.binY) +
                         " is larger than the " + SizeText(width, height) +
                         " image (add --round-up to keep a partial block)");
    }
    // Blocks start at the bottom row (FITS row 1); the library starts them
    // at its row 0, the top, so the picture is turned over around the step
    // whenever the rows do not divide evenly.
    const bool turn = height % step.binY != 0;
    if (turn) {
        Flip(image, 0);
    }
    // A fresh object takes the source's record: no copy of the frame first.
    auto out = std::make_unique<CImgSoftBinning>();
    CheckResult(out->Do(step.binX, step.binY, step.roundUp ? 1 : 0, step.scaleLevels ? 1 : 0, image.get(), 0),
                "binning");
    image = std::move(out);
    if (turn) {
        Flip(image, 0);
    }
}

void Resample(ImagePtr& image, const TransformStep& step)
{
    CheckNewSize(step.size.width, step.size.height, image->GetPlanes(), "--resample");
    // The grid starts at FITS pixel (1, 1): see Bin.
    Flip(image, 0);
    auto out = std::make_unique<CImgResolution>();
    const int done = step.bicubic ? out->Bicubic(image.get(), step.size.width, step.size.height, 0)
                                  : out->Bilinear(image.get(), step.size.width, step.size.height, 0);
    CheckResult(done, "resampling");
    image = std::move(out);
    Flip(image, 0);
}

void Canvas(ImagePtr& image, const TransformStep& step)
{
    CheckNewSize(step.size.width, step.size.height, image->GetPlanes(), "--canvas");
    auto out = DestinationFor<CImgResize>(*image);
    float fill[3] = {static_cast<float>(step.fill), static_cast<float>(step.fill), static_cast<float>(step.fill)};
    CheckResult(out->Do(step.size.width, step.size.height, step.anchor, fill, image.get(), 0), "the new canvas");
    image = std::move(out);
}

/// Brightness and contrast: in place when the image is a CImgBright (the
/// loader makes it one when this is the first step), else into a new object.
void Bright(ImagePtr& image, const TransformStep& step)
{
    if (auto* bright = dynamic_cast<CImgBright*>(image.get())) {
        bright->Do(step.bright, step.contrast, step.pivot, bright, nullptr, 0);
        return;
    }
    auto out = std::make_unique<CImgBright>();
    out->Do(step.bright, step.contrast, step.pivot, image.get(), nullptr, 0);
    image = std::move(out);
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool AllDigitsOrUnderscore(const std::string& text, std::size_t from)
{
    for (std::size_t i = from; i < text.size(); ++i) {
        if (!(std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '_')) {
            return false;
        }
    }
    return true;
}

/// Keywords of a world coordinate system, which a change of geometry
/// invalidates: the linear WCS (primary and alternates A..Z), its distortion
/// terms (SIP, PV, PS) and names.
bool IsWcsKeyword(std::string key)
{
    if (key.size() > 1 && std::isdigit(static_cast<unsigned char>(key[key.size() - 2])) && key.back() >= 'A' &&
        key.back() <= 'Z') {
        key.pop_back();  // alternate description: CTYPE1A
    }
    for (const char* prefix : {"CRPIX", "CRVAL", "CDELT", "CTYPE", "CUNIT", "CROTA", "CRDER", "CSYER"}) {
        if (StartsWith(key, prefix) && key.size() > std::string(prefix).size() &&
            AllDigitsOrUnderscore(key, std::string(prefix).size())) {
            return true;
        }
    }
    for (const char* prefix : {"CD", "PC", "PV", "PS", "A_", "B_", "AP_", "BP_"}) {
        if (StartsWith(key, prefix) && key.size() > std::string(prefix).size() &&
            AllDigitsOrUnderscore(key, std::string(prefix).size())) {
            return true;
        }
    }
    for (const char* exact : {"LONPOLE", "LATPOLE", "A_ORDER", "B_ORDER", "AP_ORDER", "BP_ORDER", "A_DMAX", "B_DMAX"}) {
        if (key == exact) {
            return true;
        }
    }
    return StartsWith(key, "WCSNAME") || StartsWith(key, "WCSAXES");
}

void DropKeywords(FitsHeader& header, bool (*drop)(std::string))
{
    std::vector<std::string> keys;
    for (const auto& card : header.Cards()) {
        const std::string key = FitsHeader::Keyword(card);
        if (drop(key)) {
            keys.push_back(key);
        }
    }
    for (const auto& key : keys) {
        header.Remove(key);
    }
}

/// Multiplies a numeric keyword by `factor` when it is present.
void ScaleKeyword(FitsHeader& header, const std::string& key, double factor, const std::string& comment)
{
    const auto value = header.Value(key);
    if (!value) {
        return;
    }
    char* end = nullptr;
    const double v = std::strtod(value->c_str(), &end);
    if (end == value->c_str() || *end != '\0') {
        return;
    }
    header.Remove(key);
    header.Add(FitsCard(key, Format("%.10g", v * factor), comment));
}

/// What a step did, for a HISTORY card and the report.
std::string Describe(const TransformStep& step)
{
    switch (step.kind) {
    case Kind::Flip:
        return step.vertical ? "flipped top to bottom" : "flipped left to right";
    case Kind::Bin:
        return "binned " + std::to_string(step.binX) + "x" + std::to_string(step.binY) +
               (step.roundUp ? ", partial blocks kept" : "");
    case Kind::Resample:
        return std::string("resampled ") + (step.bicubic ? "bicubic" : "bilinear") + " to " +
               std::to_string(step.size.width) + "x" + std::to_string(step.size.height);
    case Kind::Canvas:
        return "canvas " + std::to_string(step.size.width) + "x" + std::to_string(step.size.height) + ", anchor " +
               std::to_string(step.anchor) + ", fill " + Format("%g", step.fill);
    case Kind::Bright:
        break;
    }
    return "brightness " + Format("%g", step.bright) + ", contrast " + Format("%g", step.contrast) + ", pivot " +
           Format("%g", step.pivot);
}

}  // namespace

CommandSpec TransformCommand()
{
    return CommandSpec{
        "transform",
        "flip, bin, resample, resize the canvas or change brightness; writes FITS",
        "orbimg transform IN -o OUT.fits [steps]",
        "Applies the steps in the order they are given and writes the result as\n"
        "32-bit float FITS with the input's header keywords; WCS keywords are dropped\n"
        "once the geometry changes, DATAMIN and DATAMAX once the values change, and\n"
        "XBINNING, YBINNING, XPIXSZ and YPIXSZ follow a binning. Steps:\n"
        "  --flip v|h                            top to bottom, or left to right\n"
        "  --bin NxM [--round-up] [--scale-levels]  sum N x M blocks\n"
        "  --resample WxH [--bicubic]            bilinear (or bicubic) to W x H\n"
        "  --canvas WxH [--anchor 0..8] [--fill V]  new canvas, the image placed at\n"
        "                                        the anchor (0 top left .. 8 bottom\n"
        "                                        right, default 4 centre), the rest\n"
        "                                        filled with V on the 0..255 display\n"
        "                                        scale (default 0)\n"
        "  --bright B --contrast C --pivot P     brightness B and contrast C (in 1/256)\n"
        "                                        about display value P (default 0, 0, 128)\n"
        "Orientation is the picture's as DS9 shows it (FITS row 1 at the bottom): top\n"
        "and bottom, and the anchors, are as seen. Bin blocks and the resampling grid\n"
        "start at FITS pixel (1,1), the bottom-left one: partial blocks lie at the top\n"
        "and right, and pixel (x,y) of a W x H image resampled to w x h samples the\n"
        "source at ((x-1) W/w + 1, (y-1) H/h + 1).\n"
        "Display values (--fill, --bright, --pivot) are on the 0..255 scale of the\n"
        "first plane's levels, which start at its least and greatest samples; after\n"
        "--bin they stay unless --scale-levels multiplies them by N x M.",
        {
            {"--output", "-o", OptionValue::Required, "OUT.fits", "the FITS file to write"},
            {"--flip", "", OptionValue::Required, "v|h", "flip top to bottom (v) or left to right (h)"},
            {"--bin", "", OptionValue::Required, "NxM", "bin N x M pixels into one"},
            {"--round-up", "", OptionValue::None, "", "keep partial blocks at the right and top"},
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
            RunTransform(ParseTransform(args), ctx);
            return 0;
        },
    };
}

TransformPlan ParseTransform(const ParsedArgs& args)
{
    RequirePositional(args, "transform", 1, 1, "IN");
    TransformPlan plan;
    plan.input = args.positional[0];
    plan.output = *OutputFile(args, "transform", {".fits", ".fit", ".fts"},
                              "output must be a FITS file (.fits, .fit or .fts)", "missing -o OUT.fits");

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
    } modifiers[] = {{"--round-up", Kind::Bin, "--bin"},
                     {"--scale-levels", Kind::Bin, "--bin"},
                     {"--bicubic", Kind::Resample, "--resample"},
                     {"--anchor", Kind::Canvas, "--canvas"},
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

void RunTransform(const TransformPlan& plan, Context& ctx)
{
    // The frame is read straight into the object of the first step that
    // works in place: a CImgBright for brightness first, else a CImgFlip
    // (flips, and the turns around binning and resampling). Binning and
    // resampling write into new objects of their result's size.
    const bool brightFirst = plan.steps.front().kind == Kind::Bright;
    ImageFile file = LoadImageFile(plan.input, brightFirst ? MakeImage<CImgBright> : MakeImage<CImgFlip>);
    ImagePtr image = std::move(file.image);
    FitsHeader header = file.header;
    const int width = image->GetWidth();
    const int height = image->GetHeight();
    bool geometry = false;
    bool values = false;
    for (const auto& step : plan.steps) {
        switch (step.kind) {
        case Kind::Flip:
            Flip(image, step.vertical ? 0 : 1);
            geometry = true;
            break;
        case Kind::Bin:
            Bin(image, step);
            geometry = values = true;
            ScaleKeyword(header, "XBINNING", step.binX, "binning factor in x");
            ScaleKeyword(header, "YBINNING", step.binY, "binning factor in y");
            ScaleKeyword(header, "XPIXSZ", step.binX, "[um] pixel size in x, binning included");
            ScaleKeyword(header, "YPIXSZ", step.binY, "[um] pixel size in y, binning included");
            break;
        case Kind::Resample:
            Resample(image, step);
            geometry = values = true;
            header.Remove("XPIXSZ");
            header.Remove("YPIXSZ");
            break;
        case Kind::Canvas:
            Canvas(image, step);
            geometry = values = true;
            break;
        case Kind::Bright:
            Bright(image, step);
            values = true;
            break;
        }
        header.Add("HISTORY orbimg transform: " + Describe(step));
    }
    if (geometry) {
        DropKeywords(header, IsWcsKeyword);
    }
    if (values) {
        header.Remove("DATAMIN");
        header.Remove("DATAMAX");
    }
    WriteFitsFile(plan.output, *image, header);
    ctx.out << "wrote " << plan.output << " (" << SizeText(image->GetWidth(), image->GetHeight()) << ", "
            << (image->GetPlanes() == 1 ? "mono" : "colour") << ", from " << SizeText(width, height) << "):";
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        ctx.out << (i ? "; " : " ") << Describe(plan.steps[i]);
    }
    ctx.out << '\n';
}

}  // namespace orbimg::tool
