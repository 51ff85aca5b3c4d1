// FITS <-> library rectangles.
#include "coords.h"

#include <algorithm>
#include <string>

#include "tool.h"

namespace orbimg::tool {

CRect FitsRectToLibrary(const FitsRect& rect, int width, int height)
{
    const int xlo = std::min(rect.x0, rect.x1);
    const int xhi = std::max(rect.x0, rect.x1);
    const int ylo = std::min(rect.y0, rect.y1);
    const int yhi = std::max(rect.y0, rect.y1);
    if (xlo < 1 || ylo < 1 || xhi > width || yhi > height) {
        throw UsageError("rectangle " + std::to_string(rect.x0) + "," + std::to_string(rect.y0) + "," +
                         std::to_string(rect.x1) + "," + std::to_string(rect.y1) + " does not lie within the " +
                         std::to_string(width) + " x " + std::to_string(height) + " image (pixels 1.." +
                         std::to_string(width) + ", 1.." + std::to_string(height) + ")");
    }
    // FITS rows yhi..ylo are library rows height - yhi .. height - ylo.
    return CRect(xlo - 1, height - yhi, xhi, height - ylo + 1);
}

FitsRect LibraryRectToFits(const CRect& rect, int height)
{
    return FitsRect{rect.left + 1, height - (rect.bottom - 1), rect.right, height - rect.top};
}

}  // namespace orbimg::tool
