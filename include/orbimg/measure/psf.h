// PSF: star size (FWHM) measured on stars picked by a point near each one.
//
// Conventions
//   - Positions are whole pixels: x the column (0 at the left), y the row
//     (0 at the top). A star's value at a pixel is the mean of its samples
//     over all the image's planes, in double.
//   - For every star kept the object stores one "PSF" value,
//     psf = sqrt(fwhm) x 0.4246609; the FWHM comes back as
//     (psf x 2.354820045829508)^2 (within a few units in the last place of
//     the measured FWHM).
//   - The limit is the setting "Psf" / "Max" (double, default 20.0), read
//     once by the constructor: a star whose FWHM is not below it is refused,
//     and a mean or median PSF value not below it is not returned.
//   - Blank samples: a star whose profile reads a sample that is not finite
//     (NaN or infinite) anywhere on its walks (climb, descents, background
//     samples, half-maximum walks) is refused.
//   - Nothing is read outside the image: every walk stops at the edges.
//   - Results are 1 for success, 0 for failure; a refused star changes
//     nothing.
#pragma once

#include <cstdlib>
#include <memory>

#include "image/kelimage.h"
#include "platform/afx.h"
#include "platform/export.h"

namespace orbimg::detail {
struct PsfAccess;  // white-box access for the tests

/// Releases a block of the C heap.
struct FreeDeleter {
    void operator()(double* p) const noexcept { std::free(p); }
};
}  // namespace orbimg::detail

class ORBIMG_API PSF : public CObject {
public:
    /// Measures stars of `image` (not owned; must outlive this object).
    /// Reads "Psf" / "Max" (default 20.0) into the limit.
    explicit PSF(CKelImage* image);
    PSF(const PSF&) = delete;
    PSF& operator=(const PSF&) = delete;
    ~PSF() override;

    /// Measures the star at or near `pt`: climbs to its brightest pixel,
    /// takes the sky as the median of up to 48 samples beyond the four
    /// descents along the peak's row and column, and the FWHM as the mean of
    /// the row's and the column's widths at half height (linear
    /// interpolation). Keeps the star's PSF value and returns 1; returns 0 and
    /// changes nothing when `pt` lies outside the image (or there is no
    /// image), when a walk reads a sample that is not finite, when no sky
    /// sample can be gathered, when the sky is not below the peak, when a
    /// half-height walk reaches the edge, when the FWHM is negative or not
    /// below the limit, or when the array cannot grow.
    int Add(CPoint pt);
    /// Number of stars kept.
    int GetCount() { return m_count; }

    /// Mean of the kept PSF values (summed in the order kept). 1 and *psf
    /// written when there is a value and the mean lies above 1e-6 and below
    /// the limit; otherwise 0 and *psf untouched.
    int GetMeanPSF(double* psf);
    /// Median of the kept values: sorts them ascending in place and takes
    /// index count / 2 (the upper middle one for an even count). The same
    /// test and outputs as GetMeanPSF.
    int GetMedianPSF(double* psf);
    /// The mean PSF value as a FWHM in pixels; *fwhm is always written, 0.0
    /// when GetMeanPSF fails (result 0).
    int GetMeanFWHM(double* fwhm);
    /// The median PSF value as a FWHM in pixels (sorts the kept values);
    /// *fwhm is always written, 0.0 on failure (result 0).
    int GetMedianFWHM(double* fwhm);

private:
    friend struct orbimg::detail::PsfAccess;

    /// Mean over the planes of the samples at pt (planes whose address is
    /// null are left out); 0.0 when no plane gives one.
    double GetPixelValue(CPoint pt);
    /// Steepest ascent over the 3 x 3 neighbourhood (columns outer, rows
    /// inner; strictly greater values only, so ties keep the first point met
    /// and the value rises at every step: the climb always ends). `pt` must
    /// lie inside the image. Returns (-1, -1) when a value read is not
    /// finite.
    CPoint ClimbToPeak(CPoint pt);
    /// Sky level about `peak`: the median (index n / 2) of the samples
    /// gathered beyond the four descents. Returns 0 when none is gathered or
    /// a value read is not finite.
    int GetBase(CPoint peak, double* base);
    /// FWHM of the star at `peak` over `base`: mean of the horizontal and the
    /// vertical full widths at half height. Returns 0 (and leaves *fwhm)
    /// when a walk reaches the edge or reads a value that is not finite.
    int GetFWHM(CPoint peak, double base, double* fwhm);
    /// sqrt(fwhm) x 0.4246609.
    double FwhmToPsf(double fwhm) const;
    /// (psf x 2.354820045829508)^2.
    double PsfToFwhm(double psf) const;

    CKelImage* m_image;
    std::unique_ptr<double[], orbimg::detail::FreeDeleter> m_values;
    int m_count;
    double m_limit;
};
