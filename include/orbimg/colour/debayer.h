// CImgDebayer: a one-shot-colour mosaic (one plane behind a Bayer colour
// filter array) made into a colour image of three planes.
//
// Conventions
//   - The object is the destination: Do takes the mosaic as its source and
//     writes the colour image into this object (0 = red, 1 = green, 2 =
//     blue), re-dimensioning it as needed. The source is plane 0 of any image
//     of 32-bit floats; it is never changed. The source may be this object
//     itself (it is then copied first).
//   - Pattern: the colours of the 2 x 2 cell whose top-left sample is image
//     pixel (xOffset, yOffset), row by row: kRGGB means red at (xOffset,
//     yOffset), green right of it and below it, blue diagonally below. So
//     pixel (x, y) has the colour of letter 2 ((y + yOffset) mod 2) +
//     ((x + xOffset) mod 2) of the pattern: an odd xOffset turns RGGB into
//     GRBG, an odd yOffset into GBRG. Offsets may be any integer; only their
//     parity counts. Image coordinates as everywhere in the library: row 0
//     is the top row of the image.
//   - Methods:
//       kBilinear    every missing colour is the mean of the neighbours of
//                    that colour in the 3 x 3 window (4 for green at a red or
//                    blue site, 2 for red or blue at a green site, 4 on the
//                    diagonals for red at blue and blue at red); the mean is
//                    summed in float, neighbours in row order, then divided
//                    by their count. Full size.
//       kRCD         Ratio Corrected Demosaicing (L. Sanz Rodriguez, 2017:
//                    the author's description, "RCD-Demosaicing", v2.3):
//                    directional discrimination by squared 1-D high-pass
//                    statistics (horizontal / vertical and the two
//                    diagonals), green by ratio-corrected estimates in the
//                    low-pass domain of the mosaic, red and blue by
//                    gradient-weighted colour differences. It works on the
//                    samples scaled to 0..1 by lo = min(0, least sample) and
//                    hi = greatest sample (finite samples). Its estimates
//                    are held to the least .. greatest finite sample of the
//                    mosaic (next to a saturated star the ratios overshoot;
//                    no estimate passes the saturation level). Pixels closer
//                    than 5 to an edge take the bilinear result. Full size.
//       kSuperPixel  each whole 2 x 2 cell of the image (cells start at
//                    pixel (0, 0)) becomes one pixel: its red and blue site,
//                    and the mean of its two green sites ((top + bottom) x
//                    0.5 in float). Width / 2 x height / 2, rounded down; a
//                    last odd row or column is dropped.
//   - Own colours are exact: at a red site the red plane holds the source
//     sample, bit for bit (green and blue likewise).
//   - Edges: nothing outside the image is read. Bilinear means take the
//     neighbours that exist; RCD falls back to bilinear near the edges.
//   - NaN samples: a NaN site stays NaN in its own colour and no other value
//     becomes NaN through it: bilinear means skip NaN neighbours (a missing
//     colour with no finite neighbour at all is NaN), RCD falls back to the
//     bilinear value wherever its estimate meets a NaN, super-pixel green
//     takes the finite one of the two sites. Infinite samples are ordinary
//     values.
//   - Levels: every plane gets the source's plane-0 levels. Standard points
//     and centre are reset (Init). Other fields of the record stay.
//   - Rows are computed in bands on the task scheduler (serially while part
//     of the sample store is swapped out, CVmManager::GetCurrentSwapSize()
//     != 0); every output sample is computed from the source alone, so the
//     result does not depend on the banding: parallel and serial runs give
//     the same bits.
//   - No lock is left after a call.
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgDebayer : public CKelImage {
public:
    /// Colour filter patterns: the cell's colours row by row.
    enum Pattern { kRGGB = 0, kBGGR = 1, kGRBG = 2, kGBRG = 3 };
    /// Demosaicing methods (see the conventions above).
    enum Method { kBilinear = 0, kRCD = 1, kSuperPixel = 2 };

    CImgDebayer() = default;
    CImgDebayer(const CImgDebayer& other) = default;
    CImgDebayer& operator=(const CImgDebayer& other) = default;
    using CKelImage::operator=;
    ~CImgDebayer() override;

    /// Demosaics plane 0 of `src` through `pattern` (a Pattern) with the
    /// cell offsets into this object, by `method` (a Method): three planes of
    /// 32-bit floats, the source's size (super-pixel: half of it, rounded
    /// down). Returns 1; 0 with nothing changed for a null or empty source,
    /// one that does not hold 4-byte floats, a pattern or method out of
    /// range, or a super-pixel source narrower or lower than 2; 0 when the
    /// samples cannot be allocated (the object is then unchanged but for its
    /// standard points).
    int Do(CKelImage* src, int pattern, int xOffset, int yOffset, int method);

    /// The pattern named "RGGB", "BGGR", "GRBG" or "GBRG" (any letter case,
    /// trailing blanks ignored), or -1.
    static int PatternFromName(const char* name);
    /// "RGGB", "BGGR", "GRBG" or "GBRG"; "" for a value out of range.
    static const char* PatternName(int pattern);
};
