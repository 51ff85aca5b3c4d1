// orbimg info: what a file holds, and the figures of each plane.
#include <cmath>
#include <cstdio>

#include "commands.h"
#include "imagefile.h"
#include "planestats.h"

namespace orbimg::tool {
namespace {

std::string Format(const char* format, double v)
{
    if (std::isnan(v)) {
        return "-";
    }
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

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

void PrintInfo(const ImageFile& file, std::ostream& out)
{
    const CKelImage& image = *file.image;
    const int planes = image.GetPlanes();
    out << file.path << '\n';
    out << "  format  " << Describe(file) << '\n';
    out << "  size    " << image.GetWidth() << " x " << image.GetHeight() << ", " << planes
        << (planes == 1 ? " plane (mono)" : " planes (colour)") << '\n';
    char line[200];
    std::snprintf(line, sizeof line, "  %-6s %14s %14s %14s %14s %14s %10s\n", "plane", "min", "max", "mean",
                  "std dev", "median", "blank");
    out << line;
    static const char* const kColourNames[] = {"red", "green", "blue"};
    for (int p = 0; p < planes; ++p) {
        const PlaneStats s = MeasurePlane(image, p);
        std::snprintf(line, sizeof line, "  %-6s %14s %14s %14s %14s %14s %10lld\n",
                      planes == 1 ? "mono" : kColourNames[p], Format("%.7g", s.min).c_str(),
                      Format("%.7g", s.max).c_str(), Format("%.7g", s.mean).c_str(),
                      Format("%.7g", s.stddev).c_str(), Format("%.7g", s.median).c_str(), s.blank);
        out << line;
    }
    // The sky level and noise of the whole frame (CImgPixelInfo::CalcSky) and
    // the levels each auto-level method would set (CImgAutoLevel: range, mean,
    // median, with the render command's defaults) are printed here, one line
    // each, once the measurement and auto-level modules are built in.
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
        "the count of blank (NaN or infinite) samples. A file that cannot be read is\n"
        "reported and the others are still shown; the exit status is then 1.",
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
            const ImageFile file = LoadImageFile(path);
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
