// orbimg stars: star sizes (PSF and FWHM) at given positions or found automatically.
#include <cmath>

#include "commands.h"
#include "imagefile.h"
#include "safeoutput.h"
#include "starfinder.h"
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

/// Flag letters: S saturated, E edge, B blank, L elongated, D deblended,
/// F fit failed, H no HFR; "-" for none.
std::string FlagLetters(unsigned flags)
{
    static const char kLetters[] = "SEBLDFH";
    std::string text;
    for (int bit = 0; bit < 7; ++bit) {
        if (flags & (1u << bit)) {
            text += kLetters[bit];
        }
    }
    return text.empty() ? "-" : text;
}

std::string Cell(double v, int decimals) { return std::isnan(v) ? std::string("") : Fixed(v, decimals); }

void WriteDetectedCsv(const std::string& path, const StarReport& report, int count, int height)
{
    WriteFileSafely(path, [&](std::FILE* out) {
        std::fprintf(out, "star,x,y,flux,peak,snr,hfr,fwhm,ellipticity,flags\n");
        for (int n = 0; n < count; ++n) {
            const StarInfo& s = report.detected[static_cast<std::size_t>(n)];
            const FitsPoint p = LibraryToFits(s.x, s.y, height);
            std::fprintf(out, "%d,%.3f,%.3f,%.1f,%.1f,%.1f,%s,%s,%s,%s\n", n + 1, p.x, p.y, s.flux, s.peak, s.snr,
                         Cell(s.hfr, 3).c_str(), Cell(s.fwhm, 3).c_str(), Cell(s.ellipticity, 3).c_str(),
                         FlagLetters(s.flags).c_str());
        }
    });
}

/// stars --auto: the library's detector over the whole frame (a colour
/// frame's red plane is overwritten by the luminance it reads).
StarReport RunDetector(const StarsPlan& plan, ImageFile& file, double saturation, Context& ctx)
{
    CKelImage& image = *file.image;
    const int height = image.GetHeight();
    // The detector reads the luminance only: made in place of the red plane,
    // so the colour frame and a luminance are never held side by side.
    LuminanceIntoPlane0(image);
    CStarField field(&image);
    StarParams params;
    params.plane = 0;
    params.saturation = std::isfinite(saturation) ? saturation : std::nan("");
    field.Detect(params);
    StarReport report;
    report.detected = field.GetStars();
    report.summary = field.GetSummary();
    report.skyLevel = report.summary.skyLevel;
    report.skyNoise = report.summary.skyNoise;
    report.measured = report.summary.good;
    report.medianFwhm = report.summary.fwhm;
    const int shown = std::min<int>(*plan.autoCount, static_cast<int>(report.detected.size()));
    for (int n = 0; n < shown; ++n) {
        const StarInfo& s = report.detected[static_cast<std::size_t>(n)];
        MeasuredStar star;
        star.position = LibraryToFits(s.x, s.y, height);
        star.peak = CPoint(s.peakX, s.peakY);
        star.height = s.peak;
        star.fwhm = s.fwhm;
        report.stars.push_back(star);
    }
    ctx.out << plan.input << ": " << image.GetWidth() << " x " << height << ", sky " << Fixed(report.skyLevel, 2)
            << ", noise " << Fixed(report.skyNoise, 3) << (image.GetPlanes() > 1 ? " (luminance)" : "") << '\n';
    ctx.out << "detected " << report.detected.size() << " stars more than 5 sigma above the sky; the " << shown
            << " brightest:\n";
    if (shown > 0) {
        ctx.out << "  star          x          y         flux      peak     SNR     HFR    FWHM  ellip  flags\n";
    }
    for (int n = 0; n < shown; ++n) {
        const StarInfo& s = report.detected[static_cast<std::size_t>(n)];
        const FitsPoint p = LibraryToFits(s.x, s.y, height);
        char line[160];
        std::snprintf(line, sizeof line, "%6d %10.2f %10.2f %12.1f %9.1f %7.1f %7s %7s %6s  %s\n", n + 1, p.x, p.y,
                      s.flux, s.peak, s.snr, Cell(s.hfr, 3).c_str(), Cell(s.fwhm, 3).c_str(),
                      Cell(s.ellipticity, 3).c_str(), FlagLetters(s.flags).c_str());
        ctx.out << line;
    }
    const StarSummary& sum = report.summary;
    ctx.out << sum.good << " of " << sum.detected << " stars good (no flag: S saturated, E edge, B blank, "
            << "L elongated, D deblended, F fit failed, H no HFR)\n";
    if (sum.good == 0) {
        throw ToolError("stars: no good star in '" + plan.input + "'");
    }
    ctx.out << "median HFR " << Fixed(sum.hfr, 3) << " px (spread " << Fixed(sum.hfrSpread, 3) << "), median FWHM "
            << Fixed(sum.fwhm, 3) << " px (spread " << Fixed(sum.fwhmSpread, 3) << "), median ellipticity "
            << Fixed(sum.ellipticity, 3) << '\n';
    if (plan.csv) {
        WriteDetectedCsv(*plan.csv, report, shown, height);
        ctx.out << "wrote " << *plan.csv << '\n';
    }
    return report;
}

}  // namespace

CommandSpec StarsCommand()
{
    return CommandSpec{
        "stars",
        "PSF and FWHM of stars, given by position or found automatically",
        "orbimg stars FILE (--at X,Y ... | --auto [N]) [--csv OUT.csv]",
        "With --auto, detects every star more than 5 sigma above a background mesh\n"
        "(touching stars split), measures each (windowed centroid, flux, peak, SNR,\n"
        "half-flux radius, FWHM and ellipticity of fitted Gaussian and Moffat\n"
        "profiles) and lists the N brightest (default 50): position (FITS pixels),\n"
        "flux, peak, SNR, HFR, FWHM, ellipticity and flags (S saturated, E edge,\n"
        "B blank, L elongated, D deblended, F fit failed, H no HFR). The summary\n"
        "gives the median HFR and FWHM of the stars without a flag. With --at,\n"
        "measures the stars at the positions given (each moved to the nearest\n"
        "peak) with the PSF: position and FWHM, and the mean and median FWHM and\n"
        "PSF. The saturation level is the SATURATE keyword, else the greatest\n"
        "sample when more than one pixel reaches it. A one-shot-colour mosaic\n"
        "(BAYERPAT, or --bayer) is debayered at full size first (--debayer bilinear\n"
        "or rcd, RCD by default) and its stars measured on the luminance.",
        {
            {"--at", "", OptionValue::Points, "X,Y", "stars near these positions"},
            {"--auto", "", OptionValue::OptionalCount, "N", "find the N brightest stars (default 50)"},
            {"--csv", "", OptionValue::Required, "OUT.csv", "write the table as CSV"},
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
    if (plan.autoCount) {
        return RunDetector(plan, file, SaturationLevel(image, saturate), ctx);
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
    ctx.out << "FWHM  mean " << Fixed(report.meanFwhm, 3) << " px, median " << Fixed(report.medianFwhm, 3) << " px\n";
    ctx.out << "PSF   mean " << Fixed(report.meanPsf, 5) << ", median " << Fixed(report.medianPsf, 5) << '\n';
    if (plan.csv) {
        WriteCsv(*plan.csv, report);
        ctx.out << "wrote " << *plan.csv << '\n';
    }
    return report;
}

}  // namespace orbimg::tool
