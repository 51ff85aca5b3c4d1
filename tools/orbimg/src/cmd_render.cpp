// orbimg render: a picture of an image through automatic or given levels.
#include <string>
#include <tuple>

#include "commands.h"
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
        return {0.7, 3.5};     // standard deviations below and above the mean
    case AutoLevelMethod::Median:
        break;
    }
    return {0.5, 3.5};         // deviations below and above the median
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
        "  range   parameters inside 0..1 are percentiles of the window's values,\n"
        "          others fractions of the extreme range (0 the least value, 1 the\n"
        "          greatest); default -0.003 and 0.9972\n"
        "  mean    standard deviations below and above the window's mean\n"
        "          (default 0.7 and 3.5)\n"
        "  median  root-mean-square deviations from the window's median, below and\n"
        "          above it (default 0.5 and 3.5)\n"
        "The defaults give a dark grey sky with a faint grain of noise and white\n"
        "stars on a typical star field; the mean and deviations of a field depend on\n"
        "its bright stars, so a field with few of them may want a larger --high.\n"
        "A colour image is levelled by its luminance, the planes linked, unless\n"
        "--per-plane is given. --rect is the window measured (FITS pixels, corners\n"
        "included); the picture is always the whole image.",
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

Levels RunRender(const RenderPlan& plan, Context& ctx)
{
    ImageFile file = LoadImageFile(plan.input);
    CImgAutoLevel image(*file.image);
    file.image.reset();
    const int width = image.GetWidth();
    const int height = image.GetHeight();

    std::string how;
    if (plan.levels) {
        for (int p = 0; p < image.GetPlanes(); ++p) {
            image.SetLevel(p, plan.levels->first, plan.levels->second);
        }
        how = "levels given";
    } else {
        std::optional<CRect> window;
        if (plan.rect) {
            window = FitsRectToLibrary(*plan.rect, width, height);
        }
        ApplyAutoLevel(image, plan.method, plan.low, plan.high, plan.perPlane, window ? &*window : nullptr);
        how = std::string("levels by ") + MethodName(plan.method) + " (low " + Number(plan.low) + ", high " +
              Number(plan.high) + (image.GetPlanes() == 1 ? "" : plan.perPlane ? ", per plane" : ", planes linked") +
              (plan.rect ? ", measured in " + std::to_string(plan.rect->x0) + "," + std::to_string(plan.rect->y0) +
                               "," + std::to_string(plan.rect->x1) + "," + std::to_string(plan.rect->y1)
                         : std::string()) +
              ")";
    }
    if (MendLevels(image)) {
        ctx.err << "orbimg: render: note: the levels measured were flat or not finite; a plane's window was widened\n";
    }
    const Levels levels = GetLevels(image);
    WritePicture(plan.output, image, plan.depth, plan.bmp);
    ctx.out << "wrote " << plan.output << " (" << width << " x " << height << ", " << plan.depth << " bits"
            << (plan.depth == 8 && image.GetPlanes() > 1 ? ", adaptive palette" : "") << "), " << how << ": "
            << DescribeLevels(levels) << '\n';
    return levels;
}

}  // namespace orbimg::tool
