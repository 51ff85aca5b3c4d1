// Format dispatch, header cards, size checks and levels of loaded images.
#include "imagefile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fitsio.h>

#include "options.h"
#include "planestats.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

/// "NAXIS12" -> true for prefix "NAXIS": the prefix followed by digits only.
bool IsIndexed(const std::string& keyword, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    if (keyword.size() <= n || !StartsWith(keyword, prefix)) {
        return false;
    }
    for (std::size_t i = n; i < keyword.size(); ++i) {
        if (keyword[i] < '0' || keyword[i] > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

// ---- FitsHeader ----

std::string FitsHeader::Keyword(const std::string& card)
{
    std::string key = card.substr(0, 8);
    while (!key.empty() && key.back() == ' ') {
        key.pop_back();
    }
    return key;
}

bool FitsHeader::IsStructural(const std::string& keyword)
{
    static const char* const kExact[] = {"SIMPLE", "XTENSION", "BITPIX",  "NAXIS",   "EXTEND",
                                         "BSCALE", "BZERO",    "BLANK",   "PCOUNT",  "GCOUNT",
                                         "END",    "CHECKSUM", "DATASUM", "TFIELDS", "THEAP"};
    for (const char* exact : kExact) {
        if (keyword == exact) {
            return true;
        }
    }
    static const char* const kIndexed[] = {"NAXIS", "TTYPE", "TFORM", "TUNIT", "TSCAL",
                                           "TZERO", "TNULL", "TDIM",  "TDISP"};
    for (const char* prefix : kIndexed) {
        if (IsIndexed(keyword, prefix)) {
            return true;
        }
    }
    // Tile compression: ZIMAGE, ZBITPIX, ZNAXIS, ZNAXISn, ZTILEn, ZCMPTYPE,
    // ZNAMEn, ZVALn, ZQUANTIZ, ZDITHER0, ZSIMPLE, ZTENSION, ZEXTEND,
    // ZBLOCKED, ZPCOUNT, ZGCOUNT, ZHECKSUM, ZDATASUM, ZBLANK, ZSCALE, ZZERO,
    // ZMASKCMP.
    static const char* const kCompression[] = {"ZIMAGE",   "ZBITPIX",  "ZNAXIS",  "ZCMPTYPE", "ZQUANTIZ", "ZDITHER0",
                                               "ZSIMPLE",  "ZTENSION", "ZEXTEND", "ZBLOCKED", "ZPCOUNT",  "ZGCOUNT",
                                               "ZHECKSUM", "ZDATASUM", "ZBLANK",  "ZSCALE",   "ZZERO",    "ZMASKCMP"};
    for (const char* exact : kCompression) {
        if (keyword == exact) {
            return true;
        }
    }
    return IsIndexed(keyword, "ZNAXIS") || IsIndexed(keyword, "ZTILE") || IsIndexed(keyword, "ZNAME") ||
           IsIndexed(keyword, "ZVAL");
}

void FitsHeader::Add(const std::string& card)
{
    std::string text = card.substr(0, 80);
    text.resize(80, ' ');
    if (!IsStructural(Keyword(text))) {
        m_cards.push_back(std::move(text));
    }
}

void FitsHeader::Remove(const std::string& keyword)
{
    std::erase_if(m_cards, [&](const std::string& card) { return Keyword(card) == keyword; });
}

std::optional<std::string> FitsHeader::Value(const std::string& keyword) const
{
    for (const auto& card : m_cards) {
        if (Keyword(card) != keyword || card.compare(8, 2, "= ") != 0) {
            continue;
        }
        std::string value = card.substr(10);
        // The comment starts at the first '/' outside a quoted string.
        bool quoted = false;
        std::size_t end = value.size();
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\'') {
                quoted = !quoted;
            } else if (value[i] == '/' && !quoted) {
                end = i;
                break;
            }
        }
        value.resize(end);
        const auto first = value.find_first_not_of(' ');
        const auto last = value.find_last_not_of(' ');
        return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    }
    return std::nullopt;
}

std::string FitsCard(const std::string& keyword, const std::string& value, const std::string& comment)
{
    // cfitsio lays the card out (fits_make_key): numbers right-aligned to
    // column 30, a string too long for the card cut with its closing quote
    // kept, the comment cut at column 80. A card it refuses is left blank
    // rather than half written.
    char card[FLEN_CARD] = {};
    std::string text = value;
    int status = 0;
    fits_make_key(keyword.substr(0, 8).c_str(), text.data(), comment.c_str(), card, &status);
    std::string out = status == 0 ? std::string(card) : std::string();
    out.resize(80, ' ');
    return out;
}

std::string FitsString(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') {
            quoted += '\'';
        }
    }
    while (quoted.size() < 9) {
        quoted += ' ';
    }
    return quoted + "'";
}

// ---- loading ----

void ReadFailure(const std::string& path, const std::string& reason)
{
    throw ToolError("cannot read '" + path + "': " + reason);
}

void CheckImageSize(const std::string& path, long long width, long long height, int planes)
{
    if (width < 1 || height < 1 || planes < 1) {
        ReadFailure(path, "zero-size image");
    }
    constexpr long long kMaxSamples = (1LL << 30) - 1;
    if (width > kMaxSamples || height > kMaxSamples || width * height > kMaxSamples / planes) {
        ReadFailure(path, "image too large (" + std::to_string(width) + " x " + std::to_string(height) + " x " +
                              std::to_string(planes) + " samples)");
    }
}

ImageFile LoadImageFile(const std::string& path, ImageMaker make)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        ReadFailure(path, "it is a directory");
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ReadFailure(path, std::strerror(errno));
    }
    unsigned char magic[9] = {};
    const std::size_t got = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);

    if (got >= 9 && std::memcmp(magic, "SIMPLE  =", 9) == 0) {
        return ReadFitsFile(path, make);
    }
    if (got >= 2 && magic[0] == 0x1F && magic[1] == 0x8B) {
        return ReadFitsFile(path, make);  // gzip: cfitsio reads compressed FITS files
    }
    if (got >= 8 && std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) == 0) {
        return ReadPngFile(path, make);
    }
    if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) {
        return ReadJpegFile(path, make);
    }
    const std::string ext = LowerExtension(path);
    if (got == 0) {
        ReadFailure(path, "the file is empty");
    }
    if (ext == ".fits" || ext == ".fit" || ext == ".fts") {
        ReadFailure(path, "not a FITS file");
    }
    if (ext == ".png") {
        ReadFailure(path, "not a PNG file");
    }
    if (ext == ".jpg" || ext == ".jpeg") {
        ReadFailure(path, "not a JPEG file");
    }
    ReadFailure(path, "not a FITS, PNG or JPEG file");
}

void SetOrigin(CKelImage& image, const std::string& path, const std::string& format, int bits)
{
    image.SetOrgFileName(std::wstring(path.begin(), path.end()).c_str());
    image.SetOrgFileFormat(std::wstring(format.begin(), format.end()).c_str());
    image.SetOrgBitsPixel(bits);
    image.SetOrgPlanes(image.GetPlanes());
    image.SetOrgWidth(image.GetWidth());
    image.SetOrgHeight(image.GetHeight());
}

void SetLevelsToData(CKelImage& image)
{
    for (int p = 0; p < image.GetPlanes(); ++p) {
        SetLevelsToExtremes(image, p, FiniteExtremes(image, p));
    }
}

void SetLevelsToExtremes(CKelImage& image, int plane, const std::optional<std::pair<float, float>>& extremes)
{
    if (!extremes) {
        image.SetLevel(plane, 0.0, 1.0);
    } else if (extremes->first == extremes->second) {
        image.SetLevel(plane, extremes->first, LevelAbove(extremes->first));
    } else {
        image.SetLevel(plane, extremes->first, extremes->second);
    }
}

}  // namespace orbimg::tool
