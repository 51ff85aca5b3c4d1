// Sky level and noise of a frame, measured tile by tile with
// CImgPixelInfo::CalcSky.
//
// Conventions
//   - The frame is cut into a grid of tiles of about `tile` pixels a side
//     (at least one tile; the tiles share the remainder so that they cover
//     the frame exactly). Every tile of every plane is measured with the
//     trimmed CalcSky: the finite samples sorted and trimmed about their
//     median to the middle 90 % (upper = lower = 0.9), which drops the stars,
//     hot pixels and the dark tail.
//   - A tile's sky is the median of its samples; its noise the standard
//     deviation of the kept samples divided by 0.78931, the spread of the
//     middle 90 % of a Gaussian, so that it estimates the Gaussian sigma of
//     the sky.
//   - The frame's sky level and noise per plane are the medians of its
//     tiles' figures. Measuring in tiles keeps a sky gradient (moonlight,
//     light pollution, vignetting) out of the noise: over the whole frame at
//     once a gradient of a few hundred units would count as noise.
//   - Tiles with fewer than half of their samples finite are left out; a
//     plane without any tile left has level and noise NaN.
//   - The sky map between tile centres is bilinear; beyond the outer tile
//     centres it is constant (the nearest centre's value); a left-out tile
//     takes the frame's level.
//   - Positions are library coordinates (0-based, row 0 at the top).
#pragma once

#include <functional>
#include <vector>

#include "orbimg.h"

namespace orbimg::tool {

class SkyMesh {
public:
    /// Spread of the middle 90 % of a unit Gaussian: the standard deviation
    /// of the samples between its 5th and 95th percentiles.
    static constexpr double kTrimmedSpread = 0.7893133;
    /// The trimming fractions given to CalcSky (upper and lower).
    static constexpr double kTrim = 0.9;

    /// Measures planes 0 .. min(planes, 3) - 1 of `image` (without a copy of
    /// the frame: a row of tiles at a time).
    static SkyMesh Measure(const CKelImage& image, int tile = 32);
    /// Measures a single plane of width x height samples, row-major.
    static SkyMesh Measure(const std::vector<float>& samples, int width, int height, int tile = 32);

    int Planes() const { return m_planes; }
    int TilesX() const { return m_nx; }
    int TilesY() const { return m_ny; }
    double Level(int plane) const { return m_level[static_cast<std::size_t>(plane)]; }
    double Noise(int plane) const { return m_noise[static_cast<std::size_t>(plane)]; }
    /// The sky of a plane at every pixel, width x height, row-major.
    std::vector<float> Map(int plane) const;

private:
    /// Measures `planes` planes of a width x height frame whose rows
    /// rowOf(plane, y) gives (read from several threads at once).
    static SkyMesh MeasureRows(int width, int height, int planes, int tile,
                               const std::function<const float*(int plane, int y)>& rowOf);

    int m_width = 0;
    int m_height = 0;
    int m_planes = 0;
    int m_nx = 0;
    int m_ny = 0;
    std::vector<int> m_edgeX;       ///< nx + 1 tile edges
    std::vector<int> m_edgeY;       ///< ny + 1
    std::vector<double> m_tileSky;  ///< per plane, ny x nx (NaN: left out)
    std::vector<double> m_level;
    std::vector<double> m_noise;
};

}  // namespace orbimg::tool
