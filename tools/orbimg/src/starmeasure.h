// Star sizes: PSF and FWHM of stars given by position or found in a frame.
//
// Conventions
//   - The signal searched and centroided is StarSignal's (the raw luminance
//     of a colour image, the plane of a mono one); its sky is a SkyMesh of
//     that signal. The FWHM is the library's PSF, which reads the mean of
//     the planes and takes its own sky beside each star.
//   - A star's position is the intensity-weighted centroid of the signal
//     above the local sky in the (2h + 1)-pixel box about its peak, h = 3
//     (only samples above the sky weigh); the peak itself when nothing lies
//     above the sky. Positions are reported in FITS coordinates.
//   - Each star's FWHM comes from a PSF of that star alone; the mean and
//     median FWHM and PSF values from one PSF holding every star measured
//     (PSF::GetMean... and GetMedian...). A star the PSF refuses (a blank
//     or an edge on its profile, a FWHM at or above the "Psf"/"Max" limit of
//     20 pixels) is listed without a FWHM and takes no part in the figures.
//   - Automatic search: the brightest isolated local maxima that rise more
//     than 5 sigma of the sky noise above the local sky (FindStarCandidates
//     with the sky map as background, isolation 10 pixels); stars at or
//     above the saturation level in any plane are passed over.
#pragma once

#include <limits>
#include <optional>
#include <vector>

#include "coords.h"
#include "orbimg.h"
#include "skymesh.h"

namespace orbimg::tool {

struct MeasuredStar {
    FitsPoint position;                                      ///< centroid, FITS coordinates
    CPoint peak;                                             ///< brightest pixel of the signal, library coordinates
    double height = 0.0;                                     ///< signal at the peak above the local sky
    double fwhm = std::numeric_limits<double>::quiet_NaN();  ///< NaN: refused by the PSF
};

struct StarReport {
    std::vector<MeasuredStar> stars;
    std::vector<StarInfo> detected;  ///< --auto: the library's stars, brightest first (all of them)
    StarSummary summary;             ///< --auto: over every star detected
    int measured = 0;                ///< stars with a FWHM
    double skyLevel = 0.0;           ///< of the signal, whole frame
    double skyNoise = 0.0;
    double threshold = 0.0;  ///< automatic search: height above the local sky a star must exceed
    double meanFwhm = std::numeric_limits<double>::quiet_NaN();
    double medianFwhm = std::numeric_limits<double>::quiet_NaN();
    double meanPsf = std::numeric_limits<double>::quiet_NaN();
    double medianPsf = std::numeric_limits<double>::quiet_NaN();
};

/// The sky, signal and measurement of one frame.
class StarMeasurer {
public:
    /// `image` must outlive the measurer. `saturation` as in StarSearch.
    StarMeasurer(CKelImage& image, double saturation);

    double SkyLevel() const { return m_mesh.Level(0); }
    double SkyNoise() const { return m_mesh.Noise(0); }

    /// The peaks reached by climbing the signal from each point (library
    /// pixels inside the image); a point on a blank stays where it is.
    std::vector<CPoint> PeaksNear(const std::vector<CPoint>& points) const;
    /// The `count` brightest isolated maxima above the local sky + 5 sigma.
    std::vector<CPoint> FindStars(int count, double& threshold) const;
    /// Measures the stars at these peaks.
    StarReport Measure(const std::vector<CPoint>& peaks) const;

private:
    FitsPoint Centroid(CPoint peak) const;

    CKelImage& m_image;
    double m_saturation;
    std::vector<float> m_signal;
    SkyMesh m_mesh;
    std::vector<float> m_sky;
};

/// The saturation level to pass over: the SATURATE value when given, else
/// the least of the planes' greatest samples that two or more pixels reach
/// (a clipped core), else infinity.
double SaturationLevel(const CKelImage& image, std::optional<double> saturate);

}  // namespace orbimg::tool
