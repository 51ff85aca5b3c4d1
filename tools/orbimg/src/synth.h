// A synthetic colour star field for the demo and the tests.
//
// Conventions
//   - Deterministic: the same parameters give the same samples, bit for bit,
//     whatever the number of threads (every row draws its noise from its own
//     generator, seeded from the seed, the plane and the row).
//   - Stars are circular Gaussians of the given FWHM sampled at pixel centres
//     (not integrated over the pixel), so a star's measured FWHM is the FWHM
//     given. Star centres have fractional positions.
//   - Sky: per plane a level that rises linearly toward the bottom of the
//     picture (toward the horizon) and a little toward the right, plus
//     Gaussian noise. Star colours vary from reddish to bluish.
//   - Samples never exceed the saturation level: saturated stars are clipped
//     flat at their cores.
//   - Blank pixels are NaN in every plane, each at least 12 pixels from every
//     star centre.
//   - Positions in the star and blank lists are FITS coordinates of the image
//     as it is written to a file (1-based, y up).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "coords.h"
#include "orbimg.h"

namespace orbimg::tool {

struct FieldParams {
    int width = 3000;
    int height = 2000;
    int stars = 1500;        ///< stars below saturation
    int saturatedStars = 6;  ///< stars clipped at the saturation level
    int blanks = 12;         ///< NaN pixels
    double fwhm = 3.0;       ///< of every star, in pixels
    double skyNoise = 10.0;  ///< noise sigma of the green plane (red 1.1x, blue 1.25x)
    double saturation = 65535.0;
    std::uint64_t seed = 1;
};

struct SynthStar {
    FitsPoint position;
    double peak = 0.0;  ///< green peak above the sky, before any clipping
    bool saturated = false;
};

struct SynthField {
    std::unique_ptr<CKelImage> image;  ///< 3 planes, levels at the finite extremes
    std::vector<SynthStar> stars;      ///< in the order drawn
    std::vector<FitsPoint> blanks;
};

/// Draws the field. Throws ToolError for a size below 32 x 32.
SynthField SynthesizeField(const FieldParams& params);

}  // namespace orbimg::tool
