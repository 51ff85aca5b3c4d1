// Pixel coordinates as the user sees them, and as the library counts them.
//
// Conventions
//   - FITS coordinates (everything the tool reads from or prints to the user):
//     1-based, y up. (1, 1) is the centre of the bottom-left pixel of the
//     picture, (width, height) the centre of the top-right one: FITS row 1 is
//     the bottom row, as DS9 and Siril show a frame.
//   - Library coordinates: 0-based, y down. (0, 0) is the centre of the
//     top-left pixel; library row 0 is FITS row `height`.
//   - Pixel centres sit on whole numbers in both systems, so the conversions
//     are exact for fractional positions too: FITS row k is library row
//     height - k, and y_fits + y_library = height.
//   - Rectangles in FITS coordinates name pixels inclusively, corners in any
//     order; library rectangles are CRect with right and bottom exclusive.
#pragma once

#include <optional>

#include "orbimg.h"

namespace orbimg::tool {

/// A position in FITS coordinates.
struct FitsPoint {
    double x = 0.0;
    double y = 0.0;
};

/// A rectangle of whole pixels in FITS coordinates, both corners inclusive,
/// in any order (as typed: X0,Y0,X1,Y1).
struct FitsRect {
    int x0 = 1;
    int y0 = 1;
    int x1 = 1;
    int y1 = 1;
};

/// FITS position -> library position in an image `height` rows high.
inline CfPoint FitsToLibrary(FitsPoint p, int height) { return CfPoint(p.x - 1.0, static_cast<double>(height) - p.y); }

/// Library position -> FITS position in an image `height` rows high.
inline FitsPoint LibraryToFits(double x, double y, int height)
{
    return FitsPoint{x + 1.0, static_cast<double>(height) - y};
}

/// FITS row (1..height) -> library row (height - 1..0).
inline int FitsRowToLibrary(int fitsRow, int height) { return height - fitsRow; }

/// The library window (right and bottom exclusive) covering the pixels of a
/// FITS rectangle. Throws ToolError unless every pixel lies in a
/// width x height image.
CRect FitsRectToLibrary(const FitsRect& rect, int width, int height);

/// The FITS rectangle (x0 <= x1, y0 <= y1) of the pixels of a non-empty
/// library window.
FitsRect LibraryRectToFits(const CRect& rect, int height);

/// The window of an optional FITS rectangle (--rect) in a width x height
/// image, as the library takes it: a pointer, null for the whole image.
class LibraryWindow {
public:
    LibraryWindow(const std::optional<FitsRect>& rect, int width, int height)
    {
        if (rect) {
            m_rect = FitsRectToLibrary(*rect, width, height);
        }
    }
    CRect* get() { return m_rect ? &*m_rect : nullptr; }

private:
    std::optional<CRect> m_rect;
};

}  // namespace orbimg::tool
