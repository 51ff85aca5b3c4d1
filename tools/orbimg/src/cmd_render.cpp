// orbimg render: a picture of an image through automatic or given levels.
#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "commands.h"
#include "dibfile.h"
#include "imagefile.h"
#include "text.h"

namespace orbimg::tool {

// Tuned on star fields like the demo's (a 16-bit frame, sky about 1000 with
// noise 10 and a gradient of 200 to 300, 1500 stars): each gives a sky of
// about 28 of 255 at the dark edge, the noise a faint grain (a little over
// 1 of 255), faint stars visible and bright stars white. The mean and the
// deviation of a star field are dominated by its bright stars, so fields
// with far fewer or far more of them want other parameters.
std::pair<double, double> DefaultLevelParameters(AutoLevelMethod method)
{
    switch (method) {
    case AutoLevelMethod::Range:
        // Black 0.3 % of the full range below the least value; white where
        // 0.28 % of the pixels (the star cores) lie above.
        return {-0.003, 0.9972};
    case AutoLevelMethod::Mean:
        return {0.7, 3.5};  // standard deviations below and above the mean
    case AutoLevelMethod::Median:
        break;
    }
    return {0.5, 3.5};  // deviations below and above the median
}

CommandSpec RenderCommand()
{
    std::vector<OptionSpec> options = {
        {"--output", "-o", OptionValue::Required, "OUT", "the picture to write (.png or .bmp)"},
        {"--stretch", "", OptionValue::Required, "FUNCTION", "linear, mtf, asinh or log (default mtf)"},
        {"--stretch-param", "", OptionValue::Required, "P",
         "mtf: midtones balance 0..1; asinh, log: strength (default: auto)"},
        {"--unlinked", "", OptionValue::None, "", "auto stretch of each colour plane on its own"},
        {"--method", "", OptionValue::Required, "METHOD", "linear levels: range, mean or median (default median)"},
        {"--low", "", OptionValue::Required, "L", "the method's low parameter"},
        {"--high", "", OptionValue::Required, "H", "the method's high parameter"},
        {"--per-plane", "", OptionValue::None, "", "level each colour plane on its own"},
        {"--rect", "", OptionValue::Required, "X0,Y0,X1,Y1", "the window measured (FITS pixels)"},
        {"--levels", "", OptionValue::Required, "MIN,MAX", "explicit levels instead of a method"},
        {"--depth", "", OptionValue::Required, "8|24", "bits per pixel (default 24)"},
        {"--palette", "", OptionValue::None, "", "8 bits with an adaptive palette (colour images)"},
        PngLevelSpec(),
    };
    for (auto& option : MosaicOptionSpecs()) {
        options.push_back(option);
    }
    return CommandSpec{
        "render",
        "a PNG or BMP picture through a display stretch or display levels",
        "orbimg render FILE -o OUT.png|OUT.bmp [options]",
        "Writes the picture of the image: 24-bit RGB or grey, or 8 bits (grey, or an\n"
        "adaptive 256-colour palette for a colour image).\n"
        "By default through the auto MTF stretch every capture program shows: the\n"
        "black point at the median less 2.8 normalised MADs (1.4826 MAD), the white\n"
        "point at the greatest sample, and the midtones transfer function that\n"
        "brings the median to a quarter of the display, the colour planes linked\n"
        "(--unlinked: each plane on its own). --stretch asinh or log auto-fits\n"
        "their strength the same way; --stretch-param sets the parameter instead\n"
        "(mtf: the midtones balance, 0 < m < 1, 0.5 linear; asinh: strength up to\n"
        "1e5; log: up to 1e6), --levels the black and white points.\n"
        "--stretch linear, or any of --method, --low, --high, --per-plane, draws\n"
        "through linear levels set by an automatic method, as render always did:\n"
        "  range   parameters inside 0..1 are percentiles of the window's values,\n"
        "          others fractions of the extreme range (0 the least value, 1 the\n"
        "          greatest); default -0.003 and 0.9972\n"
        "  mean    standard deviations below and above the window's mean\n"
        "          (default 0.7 and 3.5)\n"
        "  median  root-mean-square deviations from the window's median, below and\n"
        "          above it (default 0.5 and 3.5)\n"
        "A colour image is levelled by its luminance, the planes linked, unless\n"
        "--per-plane is given. --rect is the window measured (FITS pixels, corners\n"
        "included); the picture is always the whole image.\n"
        "A one-shot-colour mosaic (a BAYERPAT keyword, or --bayer) is debayered\n"
        "first (--debayer, RCD by default).\n"
        "A PNG is compressed in bands of rows on every core, its rows\n"
        "filtered by Sub; --png-level 1 (the default) codes the bytes alone on noisy\n"
        "bands and matches runs on flat ones, which is fast at 100 megapixels and\n"
        "as small as the higher levels on noisy frames;\n"
        "2 to 9 are zlib's levels (smaller files of smooth pictures, slower); 0\n"
        "stores the rows uncompressed.",
        options,
        [](const ParsedArgs& args, Context& ctx) {
            RunRender(ParseRender(args), ctx);
            return 0;
        },
    };
}

RenderPlan ParseRender(const ParsedArgs& args)
{
    RequirePositional(args, "render", 1, 1, "FILE");
    RenderPlan plan;
    plan.input = args.positional[0];
    plan.output = *OutputFile(args, "render", {".png", ".bmp"}, "output must be a .png or .bmp file",
                              "missing -o OUT.png or -o OUT.bmp");
    plan.bmp = LowerExtension(plan.output) == ".bmp";
    plan.pngLevel = PngLevelOption(args, "render", plan.output, !plan.bmp);

    const bool methodGiven = args.Has("--method") || args.Has("--low") || args.Has("--high") || args.Has("--per-plane");
    if (const auto stretch = args.Value("--stretch")) {
        const std::string name = ParseChoice(*stretch, "--stretch", {"linear", "mtf", "asinh", "log"});
        plan.stretch = name == "linear"  ? CDisplayStretch::kLinear
                       : name == "mtf"   ? CDisplayStretch::kMTF
                       : name == "asinh" ? CDisplayStretch::kAsinh
                                         : CDisplayStretch::kLog;
        if (plan.stretch != CDisplayStretch::kLinear && methodGiven) {
            throw UsageError(
                "render: --method, --low, --high and --per-plane set linear levels and do not go with "
                "--stretch " +
                name);
        }
    } else if (methodGiven || args.Has("--levels")) {
        plan.stretch = CDisplayStretch::kLinear;
    }
    const bool linear = plan.stretch == CDisplayStretch::kLinear;
    if (const auto param = args.Value("--stretch-param")) {
        if (linear) {
            throw UsageError("render: --stretch-param needs --stretch mtf, asinh or log");
        }
        const double p = ParseNumber(*param, "--stretch-param");
        if (!CDisplayStretch(plan.stretch, p).IsValid(0)) {
            throw UsageError("render: --stretch-param " + *param + " is outside the range of the stretch (" +
                             (plan.stretch == CDisplayStretch::kMTF     ? "0 < m < 1"
                              : plan.stretch == CDisplayStretch::kAsinh ? "0 < strength <= 1e5"
                                                                        : "0 < strength <= 1e6") +
                             ")");
        }
        plan.stretchParam = p;
    }
    plan.unlinked = args.Has("--unlinked");
    if (plan.unlinked && (linear || args.Has("--levels"))) {
        throw UsageError("render: --unlinked belongs to the auto stretch (not to linear levels or --levels)");
    }

    if (const auto method = args.Value("--method")) {
        const std::string name = ParseChoice(*method, "--method", {"range", "mean", "median"});
        plan.method = name == "range"  ? AutoLevelMethod::Range
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
                throw UsageError(std::string("render: --levels sets the levels itself and does not go with ") + other);
            }
        }
        if (!linear && !plan.stretchParam) {
            throw UsageError("render: --levels with a non-linear stretch needs --stretch-param");
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
    plan.mosaic = ParseMosaicOptions(args);
    return plan;
}

std::string DescribeLevels(const Levels& levels)
{
    static const char* const kNames[] = {"red", "green", "blue"};
    std::string text;
    for (int p = 0; p < levels.planes; ++p) {
        if (p > 0) {
            text += ", ";
        }
        if (levels.planes > 1) {
            text += std::string(kNames[p]) + " ";
        }
        text += Number(levels.min[p]) + " .. " + Number(levels.max[p]);
    }
    return text;
}

void ApplyDefaultRender(CImgAutoLevel& image)
{
    image.DoAutoStretch(CDisplayStretch::kMTF, 1);
    MendLevels(image);
}

std::string DescribeStretch(const CDisplayStretch& stretch, int planes)
{
    static const char* const kNames[] = {"linear", "MTF", "asinh", "log"};
    const int kind = stretch.GetKind();
    std::string text = kNames[kind];
    if (kind == CDisplayStretch::kLinear) {
        return text;
    }
    text += kind == CDisplayStretch::kMTF ? ", midtones " : ", strength ";
    const char* format = kind == CDisplayStretch::kMTF ? "%.5g" : "%.4g";
    const bool same =
        planes == 1 || (stretch.GetParam(1) == stretch.GetParam(0) && stretch.GetParam(2) == stretch.GetParam(0));
    if (same) {
        return text + Format(format, stretch.GetParam(0));
    }
    static const char* const kPlanes[] = {"red", "green", "blue"};
    for (int p = 0; p < planes; ++p) {
        text += std::string(p ? ", " : "") + kPlanes[p] + " " + Format(format, stretch.GetParam(p));
    }
    return text;
}

Levels RunRender(const RenderPlan& plan, Context& ctx)
{
    ImageFile file = LoadImageFile(plan.input, MakeImage<CImgAutoLevel>);
    const std::string mosaic = DebayerIfMosaic(file, plan.mosaic);
    CImgAutoLevel& image = ImageAs<CImgAutoLevel>(file);
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    LibraryWindow window(plan.rect, width, height);
    const std::string measured = plan.rect ? ", measured in " + std::to_string(plan.rect->x0) + "," +
                                                 std::to_string(plan.rect->y0) + "," + std::to_string(plan.rect->x1) +
                                                 "," + std::to_string(plan.rect->y1)
                                           : std::string();

    std::string how;
    if (plan.stretch != CDisplayStretch::kLinear) {
        static const char* const kNames[] = {"linear", "MTF", "asinh", "log"};
        if (plan.levels) {
            for (int p = 0; p < image.GetPlanes(); ++p) {
                image.SetLevel(p, plan.levels->first, plan.levels->second);
            }
            how = std::string(kNames[plan.stretch]) + " stretch, levels given";
        } else {
            image.DoAutoStretch(plan.stretch, plan.unlinked ? 0 : 1, -2.8, 0.25, window.get());
            how = std::string("auto ") + kNames[plan.stretch] +
                  " stretch (black at the median - 2.8 sigma, white at "
                  "the greatest sample" +
                  (plan.stretchParam ? std::string() : ", median to 0.25") +
                  (image.GetPlanes() == 1 ? ""
                   : plan.unlinked        ? ", per plane"
                                          : ", planes linked") +
                  measured + ")";
        }
        if (plan.stretchParam) {
            CDisplayStretch stretch(plan.stretch, *plan.stretchParam);
            image.SetStretch(stretch);
        }
    } else if (plan.levels) {
        for (int p = 0; p < image.GetPlanes(); ++p) {
            image.SetLevel(p, plan.levels->first, plan.levels->second);
        }
        how = "levels given";
    } else {
        ApplyAutoLevel(image, plan.method, plan.low, plan.high, plan.perPlane, window.get());
        how = std::string("levels by ") + MethodName(plan.method) + " (low " + Number(plan.low) + ", high " +
              Number(plan.high) +
              (image.GetPlanes() == 1 ? ""
               : plan.perPlane        ? ", per plane"
                                      : ", planes linked") +
              measured + ")";
    }
    if (MendLevels(image)) {
        ctx.err << "orbimg: render: note: the levels measured were flat or not finite; a plane's window was widened\n";
    }
    const Levels levels = GetLevels(image);
    const int planes = image.GetPlanes();
    const std::string stretch = DescribeStretch(image.GetStretch(), std::min(planes, 3));
    // The frame goes once its picture is made, before the picture is written.
    WritePicture(plan.output, file.image, plan.depth, plan.bmp, plan.pngLevel);
    ctx.out << "wrote " << plan.output << " (" << width << " x " << height << ", " << plan.depth << " bits"
            << (plan.depth == 8 && planes > 1 ? ", adaptive palette" : "") << "), "
            << (mosaic.empty() ? std::string() : mosaic + "; ") << how << ": " << DescribeLevels(levels);
    if (plan.stretch != CDisplayStretch::kLinear) {
        ctx.out << "; " << stretch;
    }
    ctx.out << '\n';
    return levels;
}

}  // namespace orbimg::tool
