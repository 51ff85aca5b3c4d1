// Mosaic keywords, the --bayer and --debayer options, and debayering.
#include "mosaic.h"

#include <cctype>
#include <cstdlib>

#include "tool.h"

namespace orbimg::tool {
namespace {

/// A header string value without its quotes and trailing blanks.
std::string Unquoted(const std::string& value)
{
    std::string text = value;
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
        text = text.substr(1, text.size() - 2);
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

/// An integer keyword (the first of `keys` present), 0 when absent or not a number.
int IntKey(const FitsHeader& header, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        if (const auto value = header.Value(key)) {
            char* end = nullptr;
            const double v = std::strtod(value->c_str(), &end);
            if (end != value->c_str() && std::abs(v) < 1e9) {
                return static_cast<int>(v);
            }
        }
    }
    return 0;
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

MosaicInfo DetectMosaic(const ImageFile& file)
{
    MosaicInfo info;
    for (const char* key : {"BAYERPAT", "COLORTYP"}) {
        if (const auto value = file.header.Value(key)) {
            const int pattern = CImgDebayer::PatternFromName(Unquoted(*value).c_str());
            if (pattern >= 0) {
                info.pattern = pattern;
                info.source = key;
                break;
            }
        }
    }
    info.xOffset = IntKey(file.header, {"XBAYROFF", "BAYOFFX"});
    info.yOffset = IntKey(file.header, {"YBAYROFF", "BAYOFFY"});
    if (const auto order = file.header.Value("ROWORDER")) {
        info.rowOrder = Upper(Unquoted(*order));
    }
    if (info.pattern < 0) {
        return info;
    }
    info.ignored = file.image && file.image->GetPlanes() != 1;
    info.present = !info.ignored;
    return info;
}

LibraryMosaic ToLibrary(const MosaicInfo& info, int height, bool fits)
{
    LibraryMosaic m;
    m.pattern = info.pattern;
    m.xOffset = info.xOffset & 1;
    // Library row y is FITS row height - y: its row counted from the top
    // as captured is height - 1 - y for a top-down file, y for a bottom-up
    // one (and for PNG and JPEG, whose rows the library keeps as they are).
    const bool bottomUp = !fits || info.rowOrder == "BOTTOM-UP";
    m.yOffset = bottomUp ? (info.yOffset & 1) : ((height - 1 + info.yOffset) & 1);
    return m;
}

std::string DescribeMosaic(const MosaicInfo& info, int height, bool fits)
{
    std::string text = std::string(CImgDebayer::PatternName(info.pattern)) + " (" + info.source + ")";
    text += ", offsets " + std::to_string(info.xOffset) + ", " + std::to_string(info.yOffset);
    if (!fits) {
        return text + ": the cell starts at the top-left pixel, rows read downwards";
    }
    const bool bottomUp = info.rowOrder == "BOTTOM-UP";
    text += ", ROWORDER " + (info.rowOrder.empty() ? std::string("absent (read as TOP-DOWN)") : info.rowOrder);
    const int column = 1 + (info.xOffset & 1);
    const int row = bottomUp ? height - (info.yOffset & 1) : 1 + (info.yOffset & 1);
    text += ": the cell starts at FITS pixel (" + std::to_string(column) + ", " + std::to_string(row) + "), read " +
            (bottomUp ? "downwards" : "upwards");
    return text;
}

std::vector<OptionSpec> MosaicOptionSpecs()
{
    return {
        {"--bayer", "", OptionValue::Required, "PATTERN",
         "RGGB, BGGR, GRBG or GBRG: debayer a one-plane image; none: never (default: BAYERPAT)"},
        {"--debayer", "", OptionValue::Required, "METHOD", "bilinear, rcd or superpixel (default rcd)"},
    };
}

MosaicOptions ParseMosaicOptions(const ParsedArgs& args)
{
    MosaicOptions options;
    if (const auto bayer = args.Value("--bayer")) {
        options.bayer = ParseChoice(*bayer, "--bayer", {"RGGB", "BGGR", "GRBG", "GBRG", "none"});
    }
    if (const auto method = args.Value("--debayer")) {
        const std::string name = ParseChoice(*method, "--debayer", {"bilinear", "rcd", "superpixel"});
        options.method = name == "bilinear" ? CImgDebayer::kBilinear
                         : name == "rcd"    ? CImgDebayer::kRCD
                                            : CImgDebayer::kSuperPixel;
    }
    return options;
}

const char* DebayerMethodName(int method)
{
    switch (method) {
    case CImgDebayer::kBilinear:
        return "bilinear";
    case CImgDebayer::kSuperPixel:
        return "super-pixel";
    default:
        return "RCD";
    }
}

std::string DebayerIfMosaic(ImageFile& file, const MosaicOptions& options)
{
    MosaicInfo info = DetectMosaic(file);
    if (options.bayer == "none") {
        return "";
    }
    if (!options.bayer.empty()) {
        if (file.image->GetPlanes() != 1) {
            throw UsageError("--bayer " + options.bayer + ": '" + file.path + "' is already a colour image");
        }
        info.pattern = CImgDebayer::PatternFromName(options.bayer.c_str());
        info.source = "--bayer";
        info.present = true;
    }
    if (!info.present) {
        return "";
    }
    const bool fits = file.format == "FITS";
    const int height = file.image->GetHeight();
    const LibraryMosaic m = ToLibrary(info, height, fits);
    auto rgb = std::make_unique<CImgDebayer>();
    if (!rgb->Do(file.image.get(), m.pattern, m.xOffset, m.yOffset, options.method)) {
        throw ToolError("cannot debayer '" + file.path + "' (" + std::to_string(file.image->GetWidth()) + " x " +
                        std::to_string(height) + ")");
    }
    file.image = std::move(rgb);
    std::string note = std::string("mosaic ") + CImgDebayer::PatternName(info.pattern) + " (" + info.source;
    if (fits) {
        note += ", ROWORDER " + (info.rowOrder.empty() ? std::string("absent") : info.rowOrder);
    }
    return note + ") debayered by " + DebayerMethodName(options.method);
}

}  // namespace orbimg::tool
