// CImgPixelInfo: statistics of a point's box, a rectangle, the sky and a
// star, and the FWHM of the star nearest a point.
//
// Conventions
//   - The object is itself the image measured (it derives from CKelImage and
//     adds no data).
//   - Outputs are caller-owned arrays of double, one entry per plane, in the
//     order maximum, minimum, mean, standard deviation (population form,
//     sqrt(sum((v - mean)^2) / count)), median. Each array holds at least 3
//     entries: every call first sets entries 0, 1 and 2 to 0.0, then writes
//     planes 0 .. min(planes, 3) - 1; planes past 2 are never measured.
//     A null output is left alone (the median is then not computed either).
//   - Samples are floats, converted to double; sums and deviations are
//     accumulated in double. Where values are sorted, they are sorted
//     ascending and the median of k values is the one at index k / 2 (the
//     upper middle one for an even k); the kept values are summed in
//     ascending order.
//   - Rectangles have right and bottom exclusive and are clamped to the
//     image side by side (each of left and right to 0 .. width, each of top
//     and bottom to 0 .. height; not reordered). A circle of radius r about
//     (x, y) holds the pixels with (column - x)^2 + (row - y)^2 < r^2.
//   - Blank samples: samples that are not finite (NaN or infinite) are
//     skipped: counts, sums, extremes, sorting and medians cover the finite
//     samples only.
//   - Empty regions (a rectangle clamped to nothing, a radius below 1, a
//     centre outside the image, no finite sample in the region, a single
//     sample outside the image) leave the cleared outputs at 0.0 and read
//     nothing outside the image.
//   - Trimming about the median, for n sorted values and fractions upper and
//     lower: lo = trunc(n x (1 - lower) x 0.5), raised to 0, lowered to
//     n / 2; hi = trunc(n x (upper + 1) x 0.5), raised to n / 2 + 1, lowered
//     to n - 1; the values lo .. hi (inclusive) are kept. trunc saturates,
//     and a NaN fraction gives 0. upper = lower = 1 keeps everything, 0.5 the
//     middle half, 0 the values at n / 2 and n / 2 + 1.
#pragma once

#include "image/kelimage.h"
#include "platform/afx.h"
#include "platform/export.h"

class ORBIMG_API CImgPixelInfo : public CKelImage {
public:
    CImgPixelInfo() = default;
    CImgPixelInfo(const CImgPixelInfo& other) : CKelImage(other) {}
    CImgPixelInfo& operator=(const CKelImage& other)
    {
        CKelImage::operator=(other);
        return *this;
    }
    CImgPixelInfo& operator=(const CImgPixelInfo& other)
    {
        CKelImage::operator=(other);
        return *this;
    }
    ~CImgPixelInfo() override = default;

    /// Statistics of the box around `pt`: with h = size / 2 (truncated), the
    /// rectangle (x - h, y - h, x + 1 + h, y + 1 + h), measured as
    /// Calc(CRect). Odd sizes give a size x size box, even sizes the box of
    /// side size + 1, sizes 0 and 1 the point alone. Negative sizes give a
    /// reversed rectangle (-2 and -3: the one pixel at x + 1, y + 1; below:
    /// nothing). Coordinates past the int range saturate.
    void Calc(CPoint pt, int size, double* max, double* min, double* mean, double* stddev, double* median);

    /// Statistics of the pixels of the clamped rectangle. When the rectangle
    /// as given has an area of exactly 1 ((right - left) x (bottom - top),
    /// computed without overflow), the one sample at (left, top) gives
    /// maximum, minimum, mean and median, and 0.0 as standard deviation.
    /// Extremes and sums run in row order; the median is a selection.
    void Calc(CRect rect, double* max, double* min, double* mean, double* stddev, double* median);

    /// Sky as the darker half of the clamped rectangle: the N values sorted,
    /// the first N / 2 kept (median = the kept value at index N / 4, a
    /// quarter of the way up the whole set). The single-sample case of
    /// Calc(CRect) applies; fewer than 2 finite samples otherwise leave 0.0.
    void CalcSky(CRect rect, double* max, double* min, double* mean, double* stddev, double* median);

    /// Sky in the circle of `radius` about (x, y), trimmed about its median
    /// with `upper` and `lower` (see Conventions).
    void CalcSky(int x, int y, int radius, double upper, double lower, double* max, double* min, double* mean,
                 double* stddev, double* median);

    /// Sky in the clamped rectangle, trimmed about its median. No
    /// single-sample case.
    void CalcSky(CRect rect, double upper, double lower, double* max, double* min, double* mean, double* stddev,
                 double* median);

    /// The circular CalcSky, plus the star's equivalent diameter per plane:
    /// threshold = (median + peak) x 0.5 with peak the largest sample of the
    /// circle, count = samples of the circle above threshold (strictly),
    /// diameter = 2 x sqrt(count / pi). `sixth` is only cleared. The median
    /// is computed even when its output is null.
    void CalcStar(int x, int y, int radius, double upper, double lower, double* max, double* min, double* mean,
                  double* stddev, double* median, double* sixth, double* diameter);

    /// FWHM in pixels of the star whose peak is the brightest pixel of plane
    /// 0 in (x - 10, y - 10, x + 10, y + 10), measured by a PSF over this
    /// image. 0.0 when that box has no pixel above its top-left one, when the
    /// star is refused, or when its PSF value fails the getters' test.
    void CalcFWHM(int x, int y, double* fwhm);
};
