// CStarField: stars detected above a background mesh and measured one by
// one: centroid, flux, peak, SNR, half-flux radius, and FWHM, ellipticity
// and angle from fitted Gaussian and Moffat profiles; a frame summary.
//
// Conventions
//   - The object refers to an image it does not own (as PSF does; a frame
//     is never copied, except that a colour frame's luminance is made once):
//     the image must outlive Detect and must not change during it. Results
//     are plain structs the object keeps until the next Detect.
//   - Signal: as CSkyBackground's (plane -1: plane 0 of a mono image, the raw
//     luminance of a colour one). Positions are library coordinates: x the
//     column, y the row (0-based, row 0 at the top), the centre of pixel
//     (i, j) at (i, j). Lengths are in pixels, angles in radians.
//   - Background: a CSkyBackground of the signal with `background` (its
//     saturation is this object's when not given). Values below are
//     "residuals": signal - sky level.
//   - Detection: a pixel belongs to an object when its residual exceeds
//     threshold x the local noise (strictly; NaN never does). Objects are
//     8-connected and keep at least minArea pixels.
//   - Deblending: the object's pixels are flooded from the brightest down;
//     where two branches meet (a saddle), each one whose flux above the
//     saddle is at least deblendContrast of the object's flux, whose height
//     above the saddle is at least deblendSigma x noise and that holds at
//     least minArea pixels above the saddle is kept as a star of its own; a
//     lesser branch joins the brighter one. Pixels below a saddle go to the
//     branch of their brightest neighbour (a watershed). Stars of a split
//     object are flagged kStarBlended, and each is measured with its
//     siblings' pixels left out.
//   - Flags: kStarSaturated when a pixel of the star (its object pixels and
//     the fit box) reaches the saturation level; kStarEdge when the star's
//     pixels touch the frame edge or its fit box or aperture is cut by it;
//     kStarBlank when the fit box or aperture holds a sample that is not
//     finite (it is left out of the sums); kStarElongated when the fitted
//     (else the isophotal) ellipticity exceeds maxEllipticity;
//     kStarBlended; kStarFitFailed when neither profile fit converged;
//     kStarNoHfr when the aperture's flux is not positive. A "good" star has
//     no flag.
//   - Measurement, in this order, for each star:
//       1. Isophotal: pixel count, peak residual and its pixel, barycentre
//          and second moments of the residuals of its pixels.
//       2. Fits: the pixels within h + 0.5 of the peak pixel, h = max(3,
//          ceil(3 s0) + 1) capped at 40 (s0 the Gaussian sigma of the area
//          above half the peak); the model is a constant plus an elliptical
//          Gaussian A exp(-Q/2), or Moffat A (1 + Q / beta)^-beta (beta
//          0.6 .. 30; the form keeps the fit well posed near a Gaussian),
//          Q = a dx^2 + 2 b dx dy + c dy^2, sampled at pixel centres and
//          fitted by Levenberg-Marquardt (unit weights; at most 50 rounds).
//          Samples of siblings, non-finite or saturated ones do not count.
//       3. FWHM of a profile along each principal axis, corrected for the
//          pixel's own width: a pixel integrates light over its 1 x 1 px
//          area, which widens a sampled star by a variance of 1/12 px^2 per
//          axis; the Gaussian's covariance is reduced by that and the
//          Moffat's half-maximum radius by its first-order change. A star's
//          FWHM is the geometric mean of the two axes' FWHM; ellipticity
//          1 - minor / major; the angle that of the major axis from +x
//          toward +y, in (-pi/2, pi/2]. The star's headline fwhm,
//          ellipticity and angle come from the profile with the smaller
//          residual sum of squares.
//       4. Windowed centroid (SExtractor's XWIN): from the fitted centre (the
//          barycentre when no fit converged), Gaussian weights of sigma
//          sw = FWHM / 2.3548 (at least 0.5) over pixels within 4 sw,
//          x += 2 sum(w r (x_i - x)) / sum(w r), at most 16 rounds or until
//          the shift falls below 1e-4 px.
//       5. Aperture of radius R about the centroid: hfrAperture when above
//          0, else max(3, 3 FWHM) capped at 60. Every pixel is cut into
//          5 x 5 sub-pixels that share its residual along its local slope
//          and curvature (v + g o + c (o^2 - m) / 2 per axis, o the
//          sub-pixel's offset, m the mean of o^2; g the five-point
//          derivative, else the central difference, else one-sided; c the
//          second difference, else 0), which keeps each pixel's flux and
//          follows the profile inside the pixel (a flat share would widen a
//          star of sigma 1 px by 4 %). flux = the residuals within R; the
//          HFR is the radius within which the sub-pixels hold half of that
//          flux (cumulated in bins of 1/32 px^2 of the squared radius, 1/64
//          px wide at 1 px, linearly interpolated in the squared radius).
//       6. peak = the largest residual of the star's pixels; snr = flux /
//          (noise sqrt(pi R^2)), the sky-limited signal-to-noise ratio of
//          the aperture; noise = the local noise at the star.
//   - Summary: over good stars, median HFR and FWHM with their robust
//     spread (1.4826 x median absolute deviation), the median ellipticity,
//     and the standard error of the median HFR, 1.2533 spread / sqrt(n).
//     Medians of an even count are the mean of the middle pair. NaN when
//     there is no good star.
//   - Stars are measured in parallel (Concurrency::parallel_for over stars,
//     background rows and detection row bands), or serially when
//     CVmManager::GetCurrentSwapSize() != 0; every star is measured alone
//     and the detection's row bands are joined in order, so both give the
//     same bits. Distinct objects may be used from distinct threads.
//   - Cleaning (SExtractor's CLEAN, with the fitted profiles): going down
//     the stars by decreasing flux, a star is dropped when its peak less the
//     light that the fitted profiles (without their constants) of the
//     brighter stars kept put on its peak pixel no longer exceeds threshold
//     x noise: an island of noise in a bright star's wings, not a star.
//     Stars within 30 major-axis FWHM of a kept star count its light.
//   - Stars are listed by decreasing flux (ties by position, row first).
#pragma once

#include <limits>
#include <memory>
#include <vector>

#include "image/kelimage.h"
#include "measure/skybackground.h"
#include "platform/export.h"

enum StarFlag : unsigned {
    kStarSaturated = 1u << 0,
    kStarEdge = 1u << 1,
    kStarBlank = 1u << 2,
    kStarElongated = 1u << 3,
    kStarBlended = 1u << 4,
    kStarFitFailed = 1u << 5,
    kStarNoHfr = 1u << 6,
};

/// Settings of a detection (defaults for autofocus; SEP's thresh, minarea,
/// deblend_cont).
struct StarParams {
    int plane = -1;                                                ///< -1: mono plane 0, colour luminance
    double threshold = 5.0;                                        ///< k: residual > k x noise
    int minArea = 3;                                               ///< pixels, at least 1
    double deblendContrast = 0.005;                                ///< of the object's flux
    double deblendSigma = 3.0;                                     ///< height above the saddle, in noise
    double saturation = std::numeric_limits<double>::quiet_NaN();  ///< NaN: none
    double maxEllipticity = 0.5;                                   ///< flag above it
    double hfrAperture = 0.0;                                      ///< radius in pixels; 0: 3 FWHM, at least 3
    bool fit = true;                 ///< fit the profiles (else FWHM = 2 HFR, exact for a Gaussian)
    bool clean = true;               ///< drop pieces of brighter stars' wings
    SkyBackgroundParams background;  ///< the mesh
};

/// One fitted profile.
struct StarProfile {
    bool ok = false;                                      ///< converged to a proper profile
    double x = std::numeric_limits<double>::quiet_NaN();  ///< fitted centre
    double y = std::numeric_limits<double>::quiet_NaN();
    double amplitude = std::numeric_limits<double>::quiet_NaN();
    double fwhm = std::numeric_limits<double>::quiet_NaN();  ///< geometric mean of the axes
    double fwhmMajor = std::numeric_limits<double>::quiet_NaN();
    double fwhmMinor = std::numeric_limits<double>::quiet_NaN();
    double ellipticity = std::numeric_limits<double>::quiet_NaN();
    double angle = std::numeric_limits<double>::quiet_NaN();
    double beta = std::numeric_limits<double>::quiet_NaN();  ///< Moffat only
    double rss = std::numeric_limits<double>::quiet_NaN();   ///< residual sum of squares
};

struct StarInfo {
    double x = 0.0;  ///< windowed centroid
    double y = 0.0;
    double flux = 0.0;        ///< residuals within the aperture
    double peak = 0.0;        ///< largest residual of the star's pixels
    double background = 0.0;  ///< sky level at the centroid
    double noise = 0.0;       ///< sky noise at the centroid
    double snr = 0.0;         ///< flux / (noise sqrt(pi R^2))
    double hfr = std::numeric_limits<double>::quiet_NaN();
    double aperture = 0.0;                                   ///< R
    double fwhm = std::numeric_limits<double>::quiet_NaN();  ///< of the better profile
    double ellipticity = std::numeric_limits<double>::quiet_NaN();
    double angle = std::numeric_limits<double>::quiet_NaN();
    int area = 0;   ///< pixels above the threshold
    int peakX = 0;  ///< pixel of the peak
    int peakY = 0;
    unsigned flags = 0;  ///< StarFlag bits
    StarProfile gaussian;
    StarProfile moffat;
};

struct StarSummary {
    int detected = 0;                                             ///< every star listed
    int good = 0;                                                 ///< stars without a flag
    double hfr = std::numeric_limits<double>::quiet_NaN();        ///< median over good stars
    double hfrSpread = std::numeric_limits<double>::quiet_NaN();  ///< 1.4826 MAD
    double hfrError = std::numeric_limits<double>::quiet_NaN();   ///< standard error of the median
    double fwhm = std::numeric_limits<double>::quiet_NaN();
    double fwhmSpread = std::numeric_limits<double>::quiet_NaN();
    double ellipticity = std::numeric_limits<double>::quiet_NaN();
    double skyLevel = std::numeric_limits<double>::quiet_NaN();  ///< the mesh's global figures
    double skyNoise = std::numeric_limits<double>::quiet_NaN();
};

class ORBIMG_API CStarField {
public:
    /// Stars of `image` (not owned; must outlive the object).
    explicit CStarField(const CKelImage* image);
    CStarField(const CStarField&) = delete;
    CStarField& operator=(const CStarField&) = delete;
    ~CStarField();

    /// Measures the background, detects and measures the stars. Returns the
    /// number of stars (0 also when there is no image, the plane does not
    /// exist or the background has no value; GetStars is then empty).
    int Detect(const StarParams& params = {});
    const std::vector<StarInfo>& GetStars() const { return m_stars; }
    /// The summary of the last Detect.
    StarSummary GetSummary() const;
    /// The background of the last Detect (null before one).
    const CSkyBackground* GetBackground() const { return m_background.get(); }

private:
    const CKelImage* m_image;
    std::unique_ptr<CSkyBackground> m_background;
    std::vector<StarInfo> m_stars;
};
