// Candidate stars for automatic measurement: the brightest isolated local
// maxima of a frame.
//
// Conventions
//   - Signal searched: the chosen plane, or with plane -1 the raw luminance
//     (0.587 G + 0.299 R) + 0.114 B of a colour image, in double rounded to
//     float (plane 0 of a mono image).
//   - A local maximum is a sample above the threshold that is greater than
//     its neighbours before it in row order (left, upper left, up, upper
//     right) and not less than those after it, so a flat top, such as a
//     clipped core, yields one maximum: its first pixel in row order. A NaN
//     sample is never a maximum, and a NaN before a sample stops it being one.
//   - Isolated: no other local maximum above the threshold lies within
//     `isolation` pixels in x and in y, the square of that half-width around
//     it lies inside the image, and holds no NaN sample.
//   - Saturated: a maximum where any plane's sample is at or above
//     `saturation` is left out (a clipped star has no meaningful size).
//   - Positions are library coordinates (0-based, row 0 at the top).
#pragma once

#include <limits>
#include <vector>

#include "orbimg.h"

namespace orbimg::tool {

struct StarCandidate {
    int x = 0;
    int y = 0;
    float value = 0.0f;  ///< the signal at the maximum (less the background when one is given)
};

struct StarSearch {
    double threshold = 0.0;  ///< maxima must exceed it (sky + 5 sigma, say); with a background, exceed background + it
    /// Optional sky of the searched signal at every pixel (width x height,
    /// row-major): a maximum must then exceed its pixel's background plus
    /// the threshold, so a sky gradient does not swamp the search.
    const std::vector<float>* background = nullptr;
    int count = 50;      ///< at most this many, brightest first
    int isolation = 10;  ///< half-width of the square kept free of other maxima
    double saturation = std::numeric_limits<double>::infinity();
    int plane = -1;  ///< -1: luminance of a colour image, plane 0 of a mono one
};

/// The signal searched: width x height floats, row-major.
std::vector<float> StarSignal(const CKelImage& image, int plane);
/// Replaces plane 0 of a colour image by its luminance, StarSignal(image, -1)
/// to the bit, row by row in place (rows in parallel), so that no second
/// frame is made; planes 1 and 2 are left as they were. A mono image is
/// left unchanged.
void LuminanceIntoPlane0(CKelImage& image);

/// The `count` brightest isolated, unsaturated local maxima above the
/// threshold, brightest first (equal values in row order). Brightness is the
/// height above the background when one is given, else the signal itself.
std::vector<StarCandidate> FindStarCandidates(const CKelImage& image, const StarSearch& search);
/// The same search in a signal already made by StarSignal(image, search.plane).
std::vector<StarCandidate> FindStarCandidates(const CKelImage& image, const std::vector<float>& signal,
                                              const StarSearch& search);

}  // namespace orbimg::tool
