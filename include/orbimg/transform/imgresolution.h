// CImgResolution: resamples an image to a new width and height, bilinearly
// or bicubically.
//
// Conventions
//   - The object is the destination. It may hold anything: when it differs
//     from the source (width, height, planes or sample format; an empty
//     object included) it first takes the source's record (format, planes,
//     levels, header) as a copy of the source would, without copying the
//     samples, so the result is the one after `op = *src`. An object that
//     is already a same-size copy keeps its own record (levels included).
//     The object is then re-dimensioned and filled.
//   - Destination pixel (x, y) samples the source at (x W / width,
//     y H / height): top-left corners coincide, no half-pixel offset, so an
//     enlargement's last pixels lie past the last source pixel.
//   - Standard points and centre are reset (Init) once the arguments are
//     accepted.
//   - Each destination row is fetched locked and its lock is released as soon
//     as the row is written: no lock is left after a call.
//   - Argument checks (before anything changes, result 0): `src` must not be
//     null and must have at least one sample of 4 bytes (float). `src` may
//     be this object itself: it is then copied first.
//   - Destination rows run in bands on every core (serially while the
//     sample store is partly swapped out), with the same bits either way.
//   - NaN samples are carried into every destination sample whose
//     interpolation reads them with a weight that is not 0.
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgResolution : public CKelImage {
public:
    CImgResolution() = default;
    CImgResolution(const CImgResolution& other) = default;
    CImgResolution& operator=(const CImgResolution& other) = default;
    using CKelImage::operator=;
    ~CImgResolution() override;

    /// Bilinear(src, width, height, reserved).
    int Do(CKelImage* src, int width, int height, int reserved);

    /// Bilinear resampling to `width` x `height`, in 32-bit float. Past the
    /// last source row or column the last two are extrapolated linearly (a
    /// row 10, 20, 30, 40 doubled ends 40, 45); a one-row or one-column source
    /// interpolates along the other axis only. Returns 1; 0 when the
    /// arguments are refused (see above) or the object cannot be resized
    /// (`width` or `height` below 1, or no memory; the standard points are
    /// reset by then). `reserved` is not used.
    int Bilinear(CKelImage* src, int width, int height, int reserved);

    /// Bicubic resampling to `width` x `height`: the cubic convolution kernel
    /// with a = -0.1 over the 4 x 4 neighbourhood, weights and sums in double,
    /// each result the weighted mean (accumulator / weight sum, divided in
    /// float). Indices past an edge are mirrored about the edge sample
    /// (-1 reads 1, H reads H - 2); on a source below 3 pixels along an axis
    /// a mirrored index that is still outside is clamped to the nearest edge.
    /// At the same size bilinear copies every sample exactly; bicubic adds
    /// each neighbour with a weight of about -2.8e-17, which vanishes in the
    /// float result unless a neighbour is some 1e8 times larger than the
    /// sample (a NaN or infinite neighbour spreads to the sample). Results,
    /// failure and `reserved` as Bilinear.
    int Bicubic(CKelImage* src, int width, int height, int reserved);

private:
    /// The bilinear loop from `src` (srcWidth x srcHeight, also given as
    /// floats for the scales) into this object, already `width` x `height`.
    void DoBilinear(CKelImage* src, int width, int height, float srcWidth, float srcHeight);
    /// The bicubic loop, likewise.
    void DoBicubic(CKelImage* src, int width, int height);
    /// The common frame: checks the arguments, copies `src` when it is this
    /// object, resets the standard points, re-dimensions (taking `src`'s
    /// record when this object differs from it) and runs the
    /// bilinear (`bicubic` false) or bicubic loop.
    int Resample(CKelImage* src, int width, int height, bool bicubic);
};
