// CImgAutoLevel: automatic display levels of the image itself, by range and
// percentiles, by mean and standard deviation, or by median, and the
// position medians of undeveloped Bayer and honeycomb mosaics.
//
// Conventions
//   - The object is the image: every operation measures its own samples and
//     the setters (Do*) change only its own levels, through
//     CKelImage::SetLevel. Nothing else of the image changes.
//   - Window: rect (never modified, may be null for the whole image) clipped
//     as NormalizeRect does; rows top .. bottom - 1, each from left to
//     right - 1, in that order; N = pixels of the window.
//   - Luminance mode: a setter with perPlane == 0 on a colour image measures
//     the display luminance and installs the levels linked (SetLevel(-1, ..));
//     otherwise it works plane by plane. A mono image always sets plane 0
//     (range method) or all planes linked (mean and median methods). The
//     getters measure the luminance of a colour image or plane 0 of a mono
//     image and describe the levels of plane 0.
//   - Display luminance: GetPixelBright256f of the pixel (0..255 scale of
//     each plane, rounded to float, then (0.587 G + 0.299 R) + 0.114 B,
//     rounded to float), brought to the raw scale with plane 0's levels as
//     Y / 255 x range(0) + min(0).
//   - The passes run over row bands on every core (serially while
//     CVmManager::GetCurrentSwapSize() != 0) with the serial loop's bits:
//     sums are taken in window order, one rounding per term, however the
//     work is shared out.
//   - Computed levels are installed as they are (not clamped or ordered).
//   - Medians: the element at index count / 2 of the ascending values (the
//     upper middle one for an even count, never an average).
//   - NaN samples are skipped by the extremes, the sums and the medians; N
//     and the counts are then the counts of samples that are not NaN. A block
//     of the block medians that contains a NaN is dropped. Infinite samples
//     are ordinary values.
//   - Empty window (after clipping, or with no sample that is not NaN, or no
//     block left for the median): the setters change no level; the getters
//     write the neutral parameters low = 0.0, high = 1.0. Flat window (range,
//     sigma or deviation 0): the setters install what the formulas give (both
//     ends equal); the getters write 0.0 and 1.0.
//   - Serial, on the calling thread; the only allocations are the 5000-bin
//     histogram, the block values of the medians and a row buffer, all
//     freed before return (an allocation failure throws std::bad_alloc
//     before any level changes in that pass).
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgAutoLevel : public CKelImage {
public:
    CImgAutoLevel() = default;
    /// The nine arguments of CKelImage (width, height, planes, bits per
    /// pixel, bscale, bzero, signed, window, text).
    using CKelImage::CKelImage;
    /// A copy of any image (samples, levels, record), to set levels on.
    explicit CImgAutoLevel(const CKelImage& image) : CKelImage(image) {}
    CImgAutoLevel(const CImgAutoLevel& other) = default;
    CImgAutoLevel& operator=(const CImgAutoLevel& other) = default;
    ~CImgAutoLevel() override = default;

    // ---- range and percentiles ----
    /// Levels from the extremes of the window. low (high) outside 0 < x < 1
    /// is a fraction of the extreme range: level = x x range + min, so 0 gives
    /// min and 1 gives max. Inside, a percentile: the 5000-bin histogram of
    /// the window (over min .. max, through GetHistogram) is walked with
    /// every bin counting one more than its entry (total = N + 5000); low is
    /// the share below the low level, high the share below the high level
    /// (the upper walk counts trunc((1 - high) x total) from the top).
    /// Extremes: the window's display luminance (luminance mode), else each
    /// plane's extremes over the whole image (CImage::GetMinMax); N is the
    /// window's count of values that are not NaN. A NaN parameter is taken
    /// as a fraction (its level is NaN).
    void DoByNormal(double low, double high, int perPlane, CRect* rect);
    /// The parameters that DoByNormal would turn into plane 0's current
    /// levels: a level at or beyond an extreme of the window gives the
    /// fraction (level - min) / range, a level inside gives the percentile
    /// read from the cumulative bin counts beside it.
    void GetByNormal(double& low, double& high, CRect* rect);

    // ---- mean ----
    /// Levels mean - sigma x low and sigma x high + mean of the window's
    /// samples (population sigma, two passes, double sums in window order).
    void DoByMean(double low, double high, int perPlane, CRect* rect);
    /// low = (mean - level min(0)) / sigma, high = (level max(0) - mean) /
    /// sigma, over the same samples DoByMean measures in luminance mode.
    void GetByMean(double& low, double& high, CRect* rect);

    // ---- median ----
    /// Median of the window into *median. blockSampling != 0 with N > 50000
    /// uses sums of s x s blocks, s = trunc(sqrt(N / 50000) + 0.5) (integer
    /// division first), summed in float; the median block sum, rounded to
    /// float, is divided by s x s in float. Pixels past the last whole block
    /// are not used; s is at most the window's shorter side, so a window
    /// that is not empty always has a block. Values: a mono image's plane 0
    /// (plane and luminance ignored); on a colour image the raw luminance
    /// 0.587 G + 0.299 R + 0.114 B (double, rounded to float; no levels) when
    /// luminance != 0, else plane `plane`. Writes 0.0 when the window has no
    /// value (empty, all NaN, or a plane that does not exist).
    void GetMedian(float* median, int blockSampling, int luminance, int plane, CRect* rect);
    /// Levels m - d x low and d x high + m, m the block-sampled median, d
    /// the root-mean-square deviation of every sample of the window from m.
    void DoByMedian(double low, double high, int perPlane, CRect* rect);
    /// low = (m - level min(0)) / d, high = (level max(0) - m) / d.
    void GetByMedian(double& low, double& high, CRect* rect);

    // ---- display stretch ----
    /// Levels and a display transfer function (CDisplayStretch kind) from
    /// the window's statistics, installed on this image (SetLevel of every
    /// plane, SetStretch). Per plane, over its finite samples: the median m
    /// (the element at index count / 2, as for GetMedian), the MAD (the same
    /// median of |v - m|, in double) and sigma = 1.4826 MAD. Shadows (the
    /// level minimum) = m + shadows x sigma, held to the plane's least ..
    /// greatest sample (the least sample when sigma is 0); highlights (the
    /// level maximum) = the greatest sample. The parameter brings the
    /// median's position t = (m - min) / (max - min) to the display value
    /// `target` (CDisplayStretch::ParamFor); where that cannot be (t or
    /// target outside 0 < x < 1) kMTF takes 1/2 and kAsinh, kLog strength
    /// 1e-3. kLinear installs the levels alone.
    /// linked != 0 on a colour image: one set for the three planes: shadows
    /// the mean of the planes' shadows, highlights the greatest of theirs,
    /// the parameter from the mean of their medians. Otherwise each plane
    /// its own. Defaults as the common screen stretch: shadows -2.8,
    /// target 0.25. A mono image sets plane 0. Nothing changes for an empty
    /// window, a plane without a finite sample, or a NaN shadows or target.
    /// The statistics are exact; the passes run on the task scheduler.
    void DoAutoStretch(int kind, int linked, double shadows = -2.8, double target = 0.25, CRect* rect = nullptr);

    // ---- dispatchers ----
    /// method 1: DoByMean, 2: DoByMedian, any other: DoByNormal.
    void Do(double low, double high, int method, int perPlane, CRect* rect);
    /// method 1: GetByMean, 2: GetByMedian, any other: GetByNormal.
    void Get(double& low, double& high, int method, CRect* rect);

    // ---- mosaics (plane 0, whole image, raw samples) ----
    /// Medians of the four positions of the 2 x 2 Bayer cell: index 0 =
    /// (0, 0), 1 = (1, 0), 2 = (0, 1), 3 = (1, 1) as (x, y) offsets. With
    /// blockSampling != 0 and more than 50000 pixels, values are double sums
    /// of s x s same-position samples, s = trunc(k / 2) with k =
    /// trunc(sqrt(pixels / 50000) + 0.5), and at least 1; the median sum is
    /// divided by s x s (double, rounded to float). A last odd row or column
    /// is not used. A position with no whole block writes 0.0.
    void GetMedianBayer(float* medians, int blockSampling);
    /// Gains of the eight photosites of the 4 x 4 honeycomb cell, in the
    /// order (1,0) (0,1) (1,2) (0,3) (3,0) (2,1) (3,2) (2,3): the largest
    /// position median divided by each position's median. A camera model
    /// containing "finepixs2pro" in any letter case measures the image less
    /// 48 columns and 30 rows at each side. Block sums as in GetMedianBayer,
    /// with s = trunc(sqrt(a / 50000) + 0.5) when a = measured pixels / 16
    /// exceeds 50000. A position with no whole block writes 0.0 (and takes
    /// no part in the largest median); a position whose median is 0 gets
    /// gain 1.0.
    void GetMedianHoneyComb(double* gains, int blockSampling);
};
