// orbimg info: what a file holds, and the figures of each plane.
#include <cmath>
#include <cstdio>

#include "commands.h"
#include "imagefile.h"
#include "planestats.h"
#include "skymesh.h"
#include "text.h"

namespace orbimg::tool {
namespace {

/// "FITS, primary HDU, BITPIX 16, BZERO 32768" and the like.
std::string Describe(const ImageFile& file)
{
    if (file.format != "FITS") {
        return file.format + ", " + std::to_string(file.bitDepth) + " bits per sample";
    }
    std::string text = "FITS, ";
    text += file.hdu == 1 ? std::string("primary HDU") : "HDU " + std::to_string(file.hdu) + " (image extension)";
    if (file.compressed) {
        text += ", tile-compressed";
    }
    text += ", BITPIX " + std::to_string(file.bitDepth);
    if (file.bscale != 1.0) {
        text += ", BSCALE " + Format("%.10g", file.bscale);
    }
    if (file.bzero != 0.0) {
        text += ", BZERO " + Format("%.10g", file.bzero);
    }
    return text;
}

void PrintInfo(ImageFile& file, std::ostream& out)
{
    CImgAutoLevel& image = ImageAs<CImgAutoLevel>(file);
    const int planes = image.GetPlanes();
    out << file.path << '\n';
    out << "  format  " << Describe(file) << '\n';
    if (!file.headerNote.empty()) {
        out << "  header  " << file.headerNote << '\n';
    }
    out << "  size    " << image.GetWidth() << " x " << image.GetHeight() << ", " << planes
        << (planes == 1 ? " plane (mono)" : " planes (colour)") << '\n';
    const MosaicInfo mosaic = DetectMosaic(file);
    if (mosaic.pattern >= 0) {
        out << "  mosaic  " << DescribeMosaic(mosaic, image.GetHeight(), file.format == "FITS")
            << (mosaic.ignored ? " (not used: the image already has three planes)" : "") << '\n';
    }
    char line[200];
    std::snprintf(line, sizeof line, "  %-6s %14s %14s %14s %14s %14s %10s\n", "plane", "min", "max", "mean", "std dev",
                  "median", "blank");
    out << line;
    static const char* const kColourNames[] = {"red", "green", "blue"};
    for (int p = 0; p < planes; ++p) {
        const PlaneStats s = MeasurePlane(image, p);
        std::snprintf(line, sizeof line, "  %-6s %14s %14s %14s %14s %14s %10lld\n",
                      planes == 1 ? "mono" : kColourNames[p], Format("%.7g", s.min).c_str(),
                      Format("%.7g", s.max).c_str(), Format("%.7g", s.mean).c_str(), Format("%.7g", s.stddev).c_str(),
                      Format("%.7g", s.median).c_str(), s.blank);
        out << line;
    }

    const SkyMesh sky = SkyMesh::Measure(image);
    out << "  sky     CalcSky trimmed to the middle 90 %, medians of " << sky.TilesX() << " x " << sky.TilesY()
        << " tiles\n";
    for (int p = 0; p < sky.Planes(); ++p) {
        std::snprintf(line, sizeof line, "  %-6s level %14s  noise %12s\n", planes == 1 ? "mono" : kColourNames[p],
                      Format("%.7g", sky.Level(p)).c_str(), Format("%.5g", sky.Noise(p)).c_str());
        out << line;
    }

    out << "  levels  set by each auto-level method with render's defaults"
        << (planes == 1 ? "" : " (planes linked by luminance)") << '\n';
    const Levels loaded = GetLevels(image);
    for (const AutoLevelMethod method : {AutoLevelMethod::Range, AutoLevelMethod::Mean, AutoLevelMethod::Median}) {
        const auto [low, high] = DefaultLevelParameters(method);
        PutLevels(image, loaded);
        ApplyAutoLevel(image, method, low, high, false, nullptr);
        std::snprintf(line, sizeof line, "  %-6s %-17s  ", MethodName(method),
                      (Number(low) + ", " + Number(high)).c_str());
        out << line << DescribeLevels(GetLevels(image)) << '\n';
    }
    PutLevels(image, loaded);
}

}  // namespace

CommandSpec InfoCommand()
{
    return CommandSpec{
        "info",
        "size, planes, BITPIX and per-plane statistics of images",
        "orbimg info FILE...",
        "Prints for each FITS, PNG or JPEG file what it holds (format, HDU, BITPIX,\n"
        "size, planes) and, per plane, the least and greatest sample, the mean, the\n"
        "standard deviation (population) and the median of the finite samples, and\n"
        "the count of blank (NaN or infinite) samples. A one-shot-colour mosaic\n"
        "(BAYERPAT) is reported with its offsets and row order (ROWORDER).\n"
        "Then the sky: CalcSky, trimmed about the median to the middle 90 % of the\n"
        "values, in tiles of about 32 x 32 pixels over the whole frame. The level is\n"
        "the median of the tiles' medians; the noise the median of the tiles'\n"
        "spreads, scaled to a Gaussian sigma (a gradient across the frame does not\n"
        "count as noise). Last, the levels each auto-level method of 'orbimg render'\n"
        "sets with its default parameters.\n"
        "A file that cannot be read is reported and the others are still shown; the\n"
        "exit status is then 1.",
        {},
        RunInfo,
    };
}

int RunInfo(const ParsedArgs& args, Context& ctx)
{
    RequirePositional(args, "info", 1, -1, "FILE");
    int status = 0;
    bool first = true;
    for (const auto& path : args.positional) {
        try {
            ImageFile file = LoadImageFile(path, MakeImage<CImgAutoLevel>);
            if (!first) {
                ctx.out << '\n';
            }
            first = false;
            PrintInfo(file, ctx.out);
        } catch (const ToolError& e) {
            ctx.err << "orbimg: " << e.what() << '\n';
            status = 1;
        }
    }
    return status;
}

}  // namespace orbimg::tool
