// CSkyBackground: the sky level and its noise at every pixel of one plane,
// from a mesh of sigma-clipped tiles.
//
// Conventions
//   - The object refers to an image it does not own (as PSF does): the
//     image must outlive it and must not change while it is used. It keeps
//     only the mesh (a few thousand numbers), never a copy of the frame; a
//     row of the maps is interpolated when asked for.
//   - Signal: one plane of the image, or with plane -1 the plane of a mono
//     image and the raw luminance (0.587 G + 0.299 R) + 0.114 B of a colour
//     one (in double, rounded to float). CStarField hands its signal over
//     so that a luminance is made only once.
//   - Tiles: nx = max(1, round(width / tile)) columns and ny likewise rows of
//     tiles cover the frame exactly; tile i spans columns
//     trunc(i width / nx) .. trunc((i + 1) width / nx) - 1 (rows likewise).
//   - Per tile: the usable samples are the finite ones below the saturation
//     level (a NaN saturation keeps every finite sample). Starting from
//     their mean and standard deviation, samples further than clip x
//     sigma from the centre are dropped and the centre (the mean of the kept
//     samples) and sigma (their standard deviation / 0.98657, the spread a
//     Gaussian keeps within +-3 sigma) are measured again, at most 10 times
//     or until no sample is dropped. With the median of the kept samples
//     (from a 512-bin histogram of their range, interpolated within the bin
//     of the middle one), the sky is then 2.5 median - 1.5 mean of the kept
//     samples when (mean - median) / sigma < 0.3 (a crowded tile skews the
//     clipped distribution), else the median; the noise is sigma. A tile
//     with fewer than a quarter of its samples usable, or fewer than 16,
//     has no value and takes the mean of its nearest tiles with one.
//   - The mesh of levels and that of noises are then each smoothed by a
//     median over filter x filter tiles (odd; 1 turns it off); a tile beyond
//     the mesh counts as the reflection of its mirror tile through the
//     centre tile (2 centre - mirror), so that a sky gradient is not bent at
//     the mesh's edges. Lone bright tiles (a large star, a satellite trail)
//     are so replaced by their surroundings.
//   - Maps: bilinear between tile centres. Beyond the outermost centres the
//     level is extrapolated along the edge slope (a sky gradient is kept to
//     the frame edge) and the noise is held constant.
//   - A plane with no usable sample at all gives level and noise NaN
//     everywhere.
//   - Tile rows are measured in parallel (Concurrency::parallel_for), or
//     serially when CVmManager::GetCurrentSwapSize() != 0; every tile is
//     measured alone, so both give the same bits. Distinct objects may be
//     used from distinct threads; Get... may be called concurrently.
//   - Positions are library coordinates (x the column from the left, y the
//     row from the top, 0-based).
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

#include "image/kelimage.h"
#include "platform/export.h"

/// Settings of a background mesh (SEP's defaults are bw = bh = 64, fw = fh = 3).
struct SkyBackgroundParams {
    int tile = 64;      ///< tile side in pixels (at least 8)
    int filter = 3;     ///< median filter over the mesh, in tiles (odd, >= 1)
    double clip = 3.0;  ///< clipping half-width in sigma
    double saturation = std::numeric_limits<double>::quiet_NaN();  ///< samples at or above it are not sky
};

class ORBIMG_API CSkyBackground {
public:
    /// Measures `plane` of `image` (-1: see Conventions). Invalid settings
    /// (a tile below 8, an even or non-positive filter, a clip not above 0)
    /// are raised to their nearest valid value. A plane the image does not
    /// have gives an empty background (IsValid() false).
    CSkyBackground(const CKelImage& image, int plane = -1, const SkyBackgroundParams& params = {});
    /// Measures a signal given as `height` row pointers of `width` floats
    /// each (read during the constructor only).
    CSkyBackground(const float* const* rows, int width, int height, const SkyBackgroundParams& params = {});

    /// True when there was a plane to measure and at least one tile had a value.
    bool IsValid() const { return m_valid; }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetTilesX() const { return m_nx; }
    int GetTilesY() const { return m_ny; }
    /// Median of the smoothed tile levels and noises (NaN when not valid).
    double GetGlobalLevel() const { return m_globalLevel; }
    double GetGlobalNoise() const { return m_globalNoise; }
    /// Level and noise at a pixel (any position; outside the frame the maps
    /// continue as at their edges). NaN when not valid.
    double GetLevel(double x, double y) const;
    double GetNoise(double x, double y) const;
    /// The maps on row y, columns x0 .. x0 + count - 1, as floats; either
    /// output may be null.
    void GetRow(int y, int x0, int count, float* level, float* noise) const;
    /// Smoothed tile values, ny x nx row-major.
    const std::vector<double>& GetMeshLevels() const { return m_level; }
    const std::vector<double>& GetMeshNoises() const { return m_noise; }

private:
    void Measure(const float* const* rows, const SkyBackgroundParams& params);
    /// Weights of the tile centres about a coordinate along one axis.
    void Axis(double t, const std::vector<double>& centres, bool extrapolate, int& i0, double& w1) const;
    // Bilinear read of a ny x nx mesh grid at (x, y); NaN before Estimate.
    double Interpolate(const std::vector<double>& grid, double x, double y, bool extrapolate) const;

    bool m_valid = false;
    int m_width = 0;
    int m_height = 0;
    int m_nx = 0;
    int m_ny = 0;
    std::vector<double> m_centreX;  ///< nx tile centres
    std::vector<double> m_centreY;  ///< ny
    std::vector<double> m_level;    ///< ny x nx
    std::vector<double> m_noise;
    double m_globalLevel = std::numeric_limits<double>::quiet_NaN();
    double m_globalNoise = std::numeric_limits<double>::quiet_NaN();
};
