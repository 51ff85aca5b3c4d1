// One-shot-colour mosaics: how a FITS header describes the colour filter,
// the --bayer and --debayer options, and the debayering of a loaded file.
//
// Conventions
//   - A FITS file is a mosaic when it has one plane and a BAYERPAT (or
//     COLORTYP) keyword naming RGGB, BGGR, GRBG or GBRG (any letter case);
//     XBAYROFF and YBAYROFF (or BAYOFFX and BAYOFFY) give the cell offsets,
//     0 when absent.
//   - ROWORDER and BAYERPAT, as capture programs write them (most write
//     'TOP-DOWN' with the sensor's pattern) and as Siril's demosaicing reads
//     them: the pattern names the 2 x 2 cell at the top-left of the picture,
//     rows taken in the order the camera delivered them, top row first. With
//     ROWORDER = 'TOP-DOWN' (and when the keyword is absent) the file's
//     first row (FITS row 1) is that top row; with 'BOTTOM-UP' the file's
//     last row (FITS row NAXIS2) is. So the letter of FITS pixel (i, k)
//     (1-based) is
//         TOP-DOWN:  BAYERPAT[2 ((k - 1 + YBAYROFF) mod 2) + (i - 1 + XBAYROFF) mod 2]
//         BOTTOM-UP: BAYERPAT[2 ((NAXIS2 - k + YBAYROFF) mod 2) + (i - 1 + XBAYROFF) mod 2]
//     For an even NAXIS2 the two readings differ by the cell's rows (RGGB
//     read bottom-up is GBRG read top-down). The picture itself is shown as
//     everywhere in the tool (FITS row 1 at the bottom); ROWORDER only says
//     where the cell starts.
//   - --bayer PATTERN makes any one-plane image a mosaic of that pattern
//     (offsets and row order from the header when it has them; PNG and JPEG
//     rows are read top-down); --bayer none treats a mosaic as a plain mono
//     image. --debayer bilinear|rcd|superpixel picks the method, RCD by
//     default.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "imagefile.h"
#include "options.h"

namespace orbimg::tool {

/// The colour filter of a file, as found.
struct MosaicInfo {
    bool present = false;  ///< a mosaic to debayer
    int pattern = -1;      ///< CImgDebayer::Pattern as named (BAYERPAT)
    int xOffset = 0;       ///< XBAYROFF
    int yOffset = 0;       ///< YBAYROFF
    std::string rowOrder;  ///< "TOP-DOWN", "BOTTOM-UP" or "" (absent)
    std::string source;    ///< "BAYERPAT", "COLORTYP" or "--bayer"
    bool ignored = false;  ///< a pattern keyword on an image of three planes
};

/// The mosaic keywords of a loaded file.
MosaicInfo DetectMosaic(const ImageFile& file);

/// The pattern and offsets for CImgDebayer in library coordinates (row 0 at
/// the top of the picture as shown): the library's y offset is YBAYROFF for
/// a bottom-up file, NAXIS2 - 1 + YBAYROFF otherwise.
struct LibraryMosaic {
    int pattern = 0;
    int xOffset = 0;
    int yOffset = 0;
};
LibraryMosaic ToLibrary(const MosaicInfo& info, int height, bool fits);

/// "RGGB (BAYERPAT), offsets 0, 0, ROWORDER TOP-DOWN: the cell starts at
/// FITS pixel (1, 1), read upwards".
std::string DescribeMosaic(const MosaicInfo& info, int height, bool fits);

/// The --bayer and --debayer choices of a command.
struct MosaicOptions {
    std::string bayer;  ///< "" (from the keywords), "none" or a pattern name
    int method = 1;     ///< CImgDebayer::Method, RCD by default
};
/// The two options, for a command's option list.
std::vector<OptionSpec> MosaicOptionSpecs();
MosaicOptions ParseMosaicOptions(const ParsedArgs& args);
/// "bilinear", "RCD" or "super-pixel".
const char* DebayerMethodName(int method);

/// Debayers a loaded mosaic in place (file.image becomes three planes; the
/// header keeps its cards); returns a note such as "mosaic RGGB (BAYERPAT,
/// ROWORDER TOP-DOWN) debayered by RCD", or "" when the file is not a
/// mosaic. Throws ToolError when it cannot be debayered.
std::string DebayerIfMosaic(ImageFile& file, const MosaicOptions& options);

}  // namespace orbimg::tool
