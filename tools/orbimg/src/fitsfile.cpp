// FITS files through cfitsio: the first image HDU in, 32-bit float out.
#include <fitsio.h>

#include <array>
#include <cmath>
#include <limits>
#include <set>

#include "coords.h"
#include "imagefile.h"
#include "safeoutput.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

struct FitsCloser {
    void operator()(fitsfile* file) const
    {
        int status = 0;
        fits_close_file(file, &status);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FitsCloser>;

/// cfitsio's short text for a status code, with the code.
std::string FitsStatusText(int status)
{
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    fits_clear_errmsg();
    return std::string(text) + " (cfitsio status " + std::to_string(status) + ")";
}

/// What a failed read of the data means to the user.
std::string DataFailure(int status)
{
    if (status == END_OF_FILE || status == READ_ERROR) {
        return "truncated FITS file: the data ends before the image does";
    }
    return "damaged FITS data: " + FitsStatusText(status);
}

/// Value a double sample takes as a float: NaN stays NaN, values beyond the
/// float range become infinities (a plain conversion would be undefined).
inline float ToFloat(double v)
{
    constexpr double kMax = std::numeric_limits<float>::max();
    if (v > kMax) {
        return std::numeric_limits<float>::infinity();
    }
    if (v < -kMax) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(v);
}

struct ImageHdu {
    int number = 0;
    int bitpix = 0;
    int naxis = 0;
    std::array<LONGLONG, 9> naxes{};
};

/// Moves to the first HDU holding image data. Returns nothing when there is
/// none; `emptySeen` tells whether an image HDU without data was passed.
std::optional<ImageHdu> FindImageHdu(fitsfile* file, const std::string& path, bool& emptySeen)
{
    emptySeen = false;
    for (int number = 1;; ++number) {
        int status = 0;
        int type = 0;
        if (fits_movabs_hdu(file, number, &type, &status) != 0) {
            if (status == END_OF_FILE && number > 1) {
                return std::nullopt;
            }
            ReadFailure(path, "damaged FITS header: " + FitsStatusText(status));
        }
        if (type != IMAGE_HDU) {  // a tile-compressed image also reports IMAGE_HDU
            continue;
        }
        ImageHdu hdu;
        hdu.number = number;
        if (fits_get_img_paramll(file, static_cast<int>(hdu.naxes.size()), &hdu.bitpix, &hdu.naxis,
                                 hdu.naxes.data(), &status) != 0) {
            ReadFailure(path, "damaged FITS header: " + FitsStatusText(status));
        }
        if (hdu.naxis == 0) {
            continue;
        }
        bool empty = false;
        for (int axis = 0; axis < std::min<int>(hdu.naxis, static_cast<int>(hdu.naxes.size())); ++axis) {
            empty = empty || hdu.naxes[axis] == 0;
        }
        if (empty) {
            emptySeen = true;
            continue;
        }
        return hdu;
    }
}

/// Planes of an image HDU, or a ToolError for a layout that is not an image.
int PlanesOf(const ImageHdu& hdu, const std::string& path)
{
    if (hdu.naxis == 2) {
        return 1;
    }
    if (hdu.naxis == 3 && (hdu.naxes[2] == 1 || hdu.naxes[2] == 3)) {
        return static_cast<int>(hdu.naxes[2]);
    }
    if (hdu.naxis == 3) {
        ReadFailure(path, "a cube of " + std::to_string(hdu.naxes[2]) +
                              " planes (NAXIS3 = " + std::to_string(hdu.naxes[2]) +
                              "); only 1 (mono) or 3 (colour) planes are images");
    }
    ReadFailure(path, "NAXIS = " + std::to_string(hdu.naxis) +
                          "; only 2 axes (mono) or 3 axes with 3 colour planes are images");
}

void ReadHeaderCards(fitsfile* file, const std::string& path, FitsHeader& header)
{
    int status = 0;
    char* cards = nullptr;
    int count = 0;
    // Converts the header of a tile-compressed image to the image's own.
    if (fits_convert_hdr2str(file, 0, nullptr, 0, &cards, &count, &status) != 0) {
        ReadFailure(path, "damaged FITS header: " + FitsStatusText(status));
    }
    for (int k = 0; k < count; ++k) {
        header.Add(std::string(cards + 80 * k, 80));
    }
    fits_free_memory(cards, &status);
    // An EXTNAME that only named the compressed container says nothing about the image.
    if (auto name = header.Value("EXTNAME"); name && *name == "'COMPRESSED_IMAGE'") {
        header.Remove("EXTNAME");
    }
}

double ReadDoubleKey(fitsfile* file, const char* key, double fallback)
{
    int status = 0;
    double value = fallback;
    if (fits_read_key(file, TDOUBLE, key, &value, nullptr, &status) != 0) {
        fits_clear_errmsg();
        return fallback;
    }
    return value;
}

}  // namespace

ImageFile ReadFitsFile(const std::string& path)
{
    int status = 0;
    fitsfile* raw = nullptr;
    // The disk-file entry takes the name literally: no cfitsio filename syntax.
    if (fits_open_diskfile(&raw, path.c_str(), READONLY, &status) != 0) {
        if (raw) {
            int ignored = 0;
            fits_close_file(raw, &ignored);
        }
        ReadFailure(path, "truncated or damaged FITS header: " + FitsStatusText(status));
    }
    FitsHandle file(raw);

    bool emptySeen = false;
    const auto hdu = FindImageHdu(file.get(), path, emptySeen);
    if (!hdu) {
        ReadFailure(path, emptySeen ? "zero-size image (an axis of length 0)" : "no image in the file");
    }
    if (hdu->naxis == 1) {
        ReadFailure(path, "NAXIS = 1: a one-dimensional array is not an image");
    }
    const int planes = PlanesOf(*hdu, path);
    CheckImageSize(path, hdu->naxes[0], hdu->naxes[1], planes);
    const int width = static_cast<int>(hdu->naxes[0]);
    const int height = static_cast<int>(hdu->naxes[1]);

    ImageFile result;
    result.path = path;
    result.format = "FITS";
    result.hdu = hdu->number;
    result.bitDepth = hdu->bitpix;
    result.compressed = fits_is_compressed_image(file.get(), &status) != 0;
    status = 0;
    result.bscale = ReadDoubleKey(file.get(), "BSCALE", 1.0);
    result.bzero = ReadDoubleKey(file.get(), "BZERO", 0.0);
    ReadHeaderCards(file.get(), path, result.header);

    result.image = std::make_unique<CKelImage>(width, height, planes, -32, 1.0, 0.0, 1);
    CKelImage& image = *result.image;
    std::vector<double> row(static_cast<std::size_t>(width));
    std::vector<char> blank(static_cast<std::size_t>(width));
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    for (int p = 0; p < planes; ++p) {
        for (int k = 1; k <= height; ++k) {
            LONGLONG first[3] = {1, k, p + 1};
            int anyBlank = 0;
            // Scaled by BSCALE and BZERO; blank flags for NaN and BLANK values.
            if (fits_read_pixnullll(file.get(), TDOUBLE, first, width, row.data(), blank.data(), &anyBlank,
                                    &status) != 0) {
                ReadFailure(path, DataFailure(status));
            }
            float* out = image.GetImageAdr(0, FitsRowToLibrary(k, height), p, 0, nullptr);
            for (int x = 0; x < width; ++x) {
                out[x] = blank[x] ? kNaN : ToFloat(row[x]);
            }
        }
    }
    SetOrigin(image, path, "FITS", hdu->bitpix);
    SetLevelsToData(image);
    return result;
}

void WriteFitsFile(const std::string& path, const CKelImage& image, const FitsHeader& header)
{
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int planes = image.GetPlanes();
    if (width < 1 || height < 1 || planes < 1) {
        throw ToolError("cannot write '" + path + "': the image is empty");
    }
    SafeOutput output(path);
    output.HandOver();
    int status = 0;
    fitsfile* raw = nullptr;
    if (fits_create_diskfile(&raw, output.TempPath().c_str(), &status) != 0) {
        output.Fail(FitsStatusText(status));
    }
    FitsHandle file(raw);
    long naxes[3] = {width, height, planes};
    fits_create_img(file.get(), FLOAT_IMG, planes > 1 ? 3 : 2, naxes, &status);

    // Cards cfitsio wrote itself (the standard's COMMENT lines among them)
    // are not repeated from the input.
    std::set<std::string> present;
    int existing = 0;
    fits_get_hdrspace(file.get(), &existing, nullptr, &status);
    for (int k = 1; k <= existing && status == 0; ++k) {
        char card[FLEN_CARD] = {};
        fits_read_record(file.get(), k, card, &status);
        std::string text(card);
        text.resize(80, ' ');
        present.insert(text);
    }
    for (const auto& card : header.Cards()) {
        if (status == 0 && !FitsHeader::IsStructural(FitsHeader::Keyword(card)) && !present.count(card)) {
            fits_write_record(file.get(), card.c_str(), &status);
        }
    }
    if (status != 0) {
        output.Fail("cannot write the header: " + FitsStatusText(status));
    }

    // Library row height - k is FITS row k. cfitsio may byte-swap what it is
    // given in place, so each row goes through a buffer of our own.
    std::vector<float> row(static_cast<std::size_t>(width));
    for (int p = 0; p < planes && status == 0; ++p) {
        for (int k = 1; k <= height && status == 0; ++k) {
            const float* in = image.GetImageAdr(0, FitsRowToLibrary(k, height), p, 1, nullptr);
            std::copy(in, in + width, row.begin());
            long first[3] = {1, k, p + 1};
            fits_write_pix(file.get(), TFLOAT, first, width, row.data(), &status);
        }
    }
    fits_close_file(file.release(), &status);
    if (status != 0) {
        output.Fail(FitsStatusText(status));
    }
    output.Commit();
}

}  // namespace orbimg::tool
