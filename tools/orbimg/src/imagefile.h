// Image files in and out: FITS (cfitsio), PNG (libpng) and JPEG (libjpeg)
// in, 32-bit float FITS out.
//
// Conventions
//   - A loaded image is a CKelImage of 32-bit floats (bits per pixel -32,
//     bscale 1, bzero 0): one plane (mono) or three (red, green, blue).
//     Physical values: FITS samples with BSCALE and BZERO applied; PNG and
//     JPEG samples as stored (0..255 or 0..65535).
//   - Blank samples are NaN: NaN in float FITS data and integer samples equal
//     to BLANK. Nothing else is changed.
//   - Row order is converted here and only here: FITS row k (1-based, from
//     the bottom) is library row height - k; PNG and JPEG rows are already top
//     first. Saving reverses the FITS mapping, so load -> save -> load keeps
//     every sample in place.
//   - Display levels after loading: per plane the least and greatest finite
//     sample; 0..1 when a plane has no finite sample; min..min + 1 when all
//     finite samples are equal (a range of 0 would divide by zero), or
//     min..the next double above min where min + 1 rounds back to min
//     (|min| of 2^53 and more).
//   - Size limits: width and height from 1, at most 2^30 - 1 samples in all
//     (the image record counts samples in an int and bytes in 32 bits), and
//     no more memory than the budget (membudget.h).
//   - Damaged and hostile files are refused before anything large is
//     allocated: a size the file cannot hold (an uncompressed image's bytes,
//     the most a compressed stream of the file's size can inflate to), tile
//     shapes and compressed streams cfitsio would misread (fitsscan.h), PNG
//     chunks past 8 MB, JPEG sizes the stream cannot describe.
//   - Every failure is a ToolError "cannot read '<path>': <reason>" or
//     "cannot write '<path>': <reason>"; an output file is never left half
//     written (safeoutput.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orbimg.h"

namespace orbimg::tool {

/// Header cards of a FITS image kept for writing: every card of the image's
/// header except the structural ones (see IsStructural), in file order, each
/// exactly 80 characters.
class FitsHeader {
public:
    const std::vector<std::string>& Cards() const { return m_cards; }
    /// Appends a card (padded or cut to 80 characters) unless its keyword is
    /// structural.
    void Add(const std::string& card);
    /// Removes every card with this keyword.
    void Remove(const std::string& keyword);
    /// The value field of the first card with this keyword, trimmed, quotes
    /// of a string kept; nothing when absent.
    std::optional<std::string> Value(const std::string& keyword) const;

    /// Keyword of a card: its first 8 characters without trailing blanks.
    static std::string Keyword(const std::string& card);
    /// Keywords that describe the data layout or its checksums and so never
    /// hold for rewritten data: SIMPLE, XTENSION, BITPIX, NAXIS, NAXISn,
    /// EXTEND, BSCALE, BZERO, BLANK, PCOUNT, GCOUNT, END, CHECKSUM, DATASUM,
    /// the tile-compression keywords (ZIMAGE, ZNAXIS, ZTILEn, ...) and binary-table column keywords
    /// left by compression (TFIELDS, TTYPEn, TFORMn, ...).
    static bool IsStructural(const std::string& keyword);

private:
    std::vector<std::string> m_cards;
};

/// A header card "KEYWORD = value / comment", laid out by cfitsio: numbers
/// and T/F right-aligned to column 30 as the fixed format has them, quoted
/// strings (FitsString) from column 11, a string too long for the card cut
/// with its closing quote kept. 80 characters.
std::string FitsCard(const std::string& keyword, const std::string& value, const std::string& comment);
/// A FITS string value: quoted, inner quotes doubled, padded to 8 characters.
std::string FitsString(const std::string& text);

/// Makes the image a loader fills: `width` x `height` samples in `planes`
/// planes of 32-bit floats, as the class the command operates with (an
/// operation object is its own destination), so that the frame is read
/// straight into it and never copied. May return an image that failed to
/// allocate (size 0); the loader then throws std::bad_alloc.
using ImageMaker = std::unique_ptr<CKelImage> (*)(int width, int height, int planes);

/// The ImageMaker of class T (CKelImage or an operation class derived from it).
template <class T>
std::unique_ptr<CKelImage> MakeImage(int width, int height, int planes)
{
    return std::make_unique<T>(width, height, planes, -32, 1.0, 0.0, 1);
}

/// An image read from a file, with what is known about the file.
struct ImageFile {
    std::unique_ptr<CKelImage> image;
    std::string path;
    std::string format;       ///< "FITS", "PNG" or "JPEG"
    int bitDepth = -32;       ///< FITS BITPIX; 8 or 16 for PNG, 8 for JPEG
    int hdu = 1;              ///< FITS: number (1 = primary) of the HDU read
    bool compressed = false;  ///< FITS: a tile-compressed image
    double bscale = 1.0;      ///< FITS BSCALE as applied
    double bzero = 0.0;       ///< FITS BZERO as applied
    FitsHeader header;        ///< FITS: the kept cards; empty for PNG and JPEG
    std::string headerNote;   ///< FITS: how the cards were read when cfitsio could not convert them; else ""
};

/// Reads a FITS, PNG or JPEG file, recognised by its first bytes (a gzip
/// file is handed to cfitsio as FITS), into an image made by `make`.
ImageFile LoadImageFile(const std::string& path, ImageMaker make = MakeImage<CKelImage>);

/// The loaded image as class T: the image itself when it was made as a T
/// (LoadImageFile with MakeImage<T>), else a copy of it as a T that replaces
/// it (a debayered mosaic), so only one frame is held either way.
template <class T>
T& ImageAs(ImageFile& file)
{
    if (auto* same = dynamic_cast<T*>(file.image.get())) {
        return *same;
    }
    auto copy = std::make_unique<T>();
    static_cast<CKelImage&>(*copy) = *file.image;
    file.image.reset();
    T& result = *copy;
    file.image = std::move(copy);
    return result;
}

/// Reads the first HDU of a FITS file that holds an image: the primary array
/// or an image extension, tile-compressed or not. BITPIX 8, 16, 32, 64, -32
/// and -64; NAXIS 2 (mono) or 3 with NAXIS3 = 3 (colour) or 1 (mono). HDUs
/// without data (NAXIS 0 or an axis of length 0) are passed over; when no
/// other HDU holds an image, an empty one is reported as a zero-size image.
ImageFile ReadFitsFile(const std::string& path, ImageMaker make = MakeImage<CKelImage>);
/// Reads a PNG: grey or RGB, 1 to 16 bits, palette images as RGB; an alpha
/// channel or a transparency chunk is dropped (not composited).
ImageFile ReadPngFile(const std::string& path, ImageMaker make = MakeImage<CKelImage>);
/// Reads a JPEG: grey or colour (YCbCr or RGB), 8 bits. A file that ends
/// early is an error; CMYK files are not supported.
ImageFile ReadJpegFile(const std::string& path, ImageMaker make = MakeImage<CKelImage>);

/// Writes `image` as 32-bit float FITS (NAXIS 2, or 3 for a colour image)
/// with the cards of `header` that are not structural, after the cards
/// cfitsio writes itself (a card identical to one of those is not repeated).
/// NaN samples are written as NaN. Throws ToolError for an empty image.
void WriteFitsFile(const std::string& path, const CKelImage& image, const FitsHeader& header);

/// Records in the image where it came from: file name, format ("FITS",
/// "PNG", "JPEG"), bits per sample (BITPIX for FITS), planes and size.
void SetOrigin(CKelImage& image, const std::string& path, const std::string& format, int bits);

/// Sets each plane's display levels to its finite extremes (see above).
void SetLevelsToData(CKelImage& image);
/// Sets a plane's display levels to finite extremes found while loading
/// (FiniteExtremes of the plane: least and greatest, or none), as above.
void SetLevelsToExtremes(CKelImage& image, int plane, const std::optional<std::pair<float, float>>& extremes);

/// Throws ToolError "cannot read '<path>': image too large" (or "zero-size
/// image") unless width x height x planes is a size a CKelImage can hold.
void CheckImageSize(const std::string& path, long long width, long long height, int planes);

/// "cannot read '<path>': <reason>".
[[noreturn]] void ReadFailure(const std::string& path, const std::string& reason);

}  // namespace orbimg::tool
