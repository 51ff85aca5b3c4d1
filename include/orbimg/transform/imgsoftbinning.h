// CImgSoftBinning: software pixel binning.
//
// Conventions
//   - The object is the destination. It may hold anything: when it differs
//     from the source (width, height, planes or sample format; an empty
//     object included) it first takes the source's record (format, planes,
//     levels, header) as a copy of the source would, without copying the
//     samples, so the result is the one after `op = *src`. An object that
//     is already a same-size copy keeps its own record (levels included).
//   - Destination rows run in bands on every core (serially while the
//     sample store is partly swapped out), with the same bits either way.
//   - Each destination sample is the sum of its binX x binY block of source
//     samples, added in 32-bit float from 0.0, row by row from the top and,
//     within a row, left to right. NaN samples make their block's sum NaN.
//   - Standard points and centre are reset (Init) once the arguments are
//     accepted.
//   - Each destination row is fetched locked and its lock is released as soon
//     as the row is complete: no lock is left after a call.
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgSoftBinning : public CKelImage {
public:
    CImgSoftBinning() = default;
    CImgSoftBinning(const CImgSoftBinning& other) = default;
    CImgSoftBinning& operator=(const CImgSoftBinning& other) = default;
    using CKelImage::operator=;
    ~CImgSoftBinning() override;

    /// Bins `src` by blocks of `binX` x `binY` pixels into this object. The
    /// new size is W / binX by H / binY (W x H the size of `src`), rounded up
    /// when `roundUp` is non-zero (a partial block at the right or bottom
    /// edge sums the samples it has) and down otherwise (the columns and rows
    /// past the last whole block are dropped). `scaleLevels` non-zero
    /// multiplies every plane's level minimum and maximum (this object's, or
    /// the source's when the object took its record) by binX x binY.
    ///
    /// Returns 1; 0 when the object cannot be resized (a bin larger than the
    /// image without `roundUp`, or no memory; the standard points are reset
    /// by then). Refused with 0 before anything changes: `binX` or `binY`
    /// below 1, a null `src`, or one that is empty or does not hold 4-byte
    /// floats. `src` may be this object itself: it is then copied first.
    /// `reserved` is not used.
    int Do(int binX, int binY, int roundUp, int scaleLevels, CKelImage* src, int reserved);
};
