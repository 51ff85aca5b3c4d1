// orbimg stars: star sizes (PSF and FWHM) at given positions or found automatically.
#include <cmath>

#include "commands.h"
#include "imagefile.h"
#include "safeoutput.h"
#include "text.h"

namespace orbimg::tool {
namespace {

/// The library pixel nearest a FITS position; UsageError outside the image.
CPoint NearestPixel(FitsPoint at, int width, int height)
{
    const CfPoint p = FitsToLibrary(at, height);
    const double x = std::floor(p.x + 0.5);
    const double y = std::floor(p.y + 0.5);
    if (!(x >= 0.0 && y >= 0.0 && x < width && y < height)) {
        throw UsageError("stars: --at " + Format("%g", at.x) + "," + Format("%g", at.y) + " lies outside the " +
                         std::to_string(width) + " x " + std::to_string(height) + " image (FITS pixels 0.5 .. " +
                         Format("%g", width + 0.5) + ", 0.5 .. " + Format("%g", height + 0.5) + ")");
    }
    return CPoint(static_cast<int>(x), static_cast<int>(y));
}

void WriteCsv(const std::string& path, const StarReport& report)
{
    WriteFileSafely(path, [&](std::FILE* out) {
        std::fprintf(out, "star,x,y,fwhm\n");
        int n = 0;
        for (const auto& star : report.stars) {
            std::fprintf(out, "%d,%.3f,%.3f,%s\n", ++n, star.position.x, star.position.y,
                         std::isnan(star.fwhm) ? "" : Fixed(star.fwhm, 3).c_str());
        }
    });
}

}  // namespace

CommandSpec StarsCommand()
{
    return CommandSpec{
        "stars",
        "PSF and FWHM of stars, given by position or found automatically",
        "orbimg stars FILE (--at X,Y ... | --auto [N]) [--csv OUT.csv]",
        "Measures the stars at the positions given (FITS pixels; each is moved to the\n"
        "nearest peak) or, with --auto, the N brightest isolated local maxima that\n"
        "rise more than 5 sigma above the local sky (default 50; saturated stars\n"
        "and stars within 10 pixels of another or of the edge are passed over).\n"
        "Prints each star's position (centroid, FITS pixels) and FWHM, and the mean\n"
        "and median FWHM and PSF. Stars are measured on the mean of the planes;\n"
        "a star whose profile meets a blank or the edge, or whose FWHM reaches 20\n"
        "pixels, is listed without a FWHM. The saturation level is the SATURATE\n"
        "keyword, else the greatest sample when more than one pixel reaches it.\n"
        "A one-shot-colour mosaic (BAYERPAT, or --bayer) is debayered at full size\n"
        "first (--debayer bilinear or rcd, RCD by default) and its stars measured\n"
        "on the luminance.",
        {
            {"--at", "", OptionValue::Points, "X,Y", "stars near these positions"},
            {"--auto", "", OptionValue::OptionalCount, "N", "find the N brightest stars (default 50)"},
            {"--csv", "", OptionValue::Required, "OUT.csv", "write each star's position and FWHM"},
            MosaicOptionSpecs()[0],
            {"--debayer", "", OptionValue::Required, "METHOD", "bilinear or rcd (default rcd)"},
        },
        [](const ParsedArgs& args, Context& ctx) {
            RunStars(ParseStars(args), ctx);
            return 0;
        },
    };
}

StarsPlan ParseStars(const ParsedArgs& args)
{
    RequirePositional(args, "stars", 1, 1, "FILE");
    StarsPlan plan;
    plan.input = args.positional[0];
    for (const auto& value : args.Values("--at")) {
        plan.at.push_back(ParsePoint(value, "--at"));
    }
    if (args.Has("--auto")) {
        const auto count = args.Value("--auto");
        plan.autoCount = count ? ParseInt(*count, "--auto", 1, 100000) : 50;
    }
    if (plan.at.empty() == !plan.autoCount.has_value()) {
        throw UsageError("stars: give either --at X,Y ... or --auto [N]");
    }
    plan.csv = args.Value("--csv");
    plan.mosaic = ParseMosaicOptions(args);
    if (plan.mosaic.method == CImgDebayer::kSuperPixel) {
        throw UsageError("stars: --debayer superpixel halves the frame; use bilinear or rcd");
    }
    return plan;
}

StarReport RunStars(const StarsPlan& plan, Context& ctx)
{
    ImageFile file = LoadImageFile(plan.input);
    const std::string mosaic = DebayerIfMosaic(file, plan.mosaic);
    if (!mosaic.empty()) {
        ctx.out << plan.input << ": " << mosaic << "; stars measured on the luminance\n";
    }
    CKelImage& image = *file.image;
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    std::vector<CPoint> points;
    for (const auto& at : plan.at) {
        points.push_back(NearestPixel(at, width, height));
    }
    std::optional<double> saturate;
    if (const auto value = file.header.Value("SATURATE")) {
        char* end = nullptr;
        const double v = std::strtod(value->c_str(), &end);
        if (end != value->c_str()) {
            saturate = v;
        }
    }
    const StarMeasurer measurer(image, SaturationLevel(image, saturate));
    double threshold = 0.0;
    const std::vector<CPoint> peaks =
        plan.autoCount ? measurer.FindStars(*plan.autoCount, threshold) : measurer.PeaksNear(points);
    StarReport report = measurer.Measure(peaks);
    report.threshold = threshold;

    ctx.out << plan.input << ": " << width << " x " << height << ", sky " << Fixed(report.skyLevel, 2) << ", noise "
            << Fixed(report.skyNoise, 3) << (image.GetPlanes() > 1 ? " (luminance)" : "") << '\n';
    if (plan.autoCount) {
        ctx.out << "found " << peaks.size() << " of the " << *plan.autoCount
                << " stars asked for: isolated peaks more than " << Fixed(threshold, 2)
                << " (5 sigma) above the local sky\n";
    }
    if (!report.stars.empty()) {
        ctx.out << "  star          x          y     FWHM\n";
    }
    int n = 0;
    for (const auto& star : report.stars) {
        char line[96];
        std::snprintf(line, sizeof line, "%6d %10.2f %10.2f %8s\n", ++n, star.position.x, star.position.y,
                      std::isnan(star.fwhm) ? "refused" : Fixed(star.fwhm, 3).c_str());
        ctx.out << line;
    }
    if (report.measured == 0) {
        throw ToolError("stars: no star could be measured in '" + plan.input + "'");
    }
    ctx.out << report.measured << " of " << report.stars.size() << " stars measured\n";
    ctx.out << "FWHM  mean " << Fixed(report.meanFwhm, 3) << " px, median " << Fixed(report.medianFwhm, 3)
            << " px\n";
    ctx.out << "PSF   mean " << Fixed(report.meanPsf, 5) << ", median " << Fixed(report.medianPsf, 5) << '\n';
    if (plan.csv) {
        WriteCsv(*plan.csv, report);
        ctx.out << "wrote " << *plan.csv << '\n';
    }
    return report;
}

}  // namespace orbimg::tool
