// CImgFlip: mirrors an image top to bottom or left to right.
//
// Conventions
//   - The object is the destination: a copy of the source (for example by
//     assignment), or empty, or smaller than the source: then it first takes
//     the source's record, size and standard points as a copy would, without
//     copying the samples (every sample is written), so the result is the
//     one after `op = *src`.
//   - Rows run in bands on every core (serially while the sample store is
//     partly swapped out), with the same bits either way.
//   - Samples are moved as they are (raw 32-bit values, NaN payloads
//     included); nothing is interpolated.
//   - Standard points and centre are left as they are.
//   - No lock is taken.
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgFlip : public CKelImage {
public:
    CImgFlip() = default;
    /// The nine arguments of CKelImage (width, height, planes, bits per
    /// pixel, bscale, bzero, signed, window, text): an image to fill and then
    /// operate on in place, without a copy of the frame.
    using CKelImage::CKelImage;
    CImgFlip(const CImgFlip& other) = default;
    CImgFlip& operator=(const CImgFlip& other) = default;
    using CKelImage::operator=;
    ~CImgFlip() override;

    /// Writes the mirror image of `src` into this object, over this object's
    /// width, height and planes: mode 0 flips top to bottom (row y takes
    /// source row height - 1 - y), mode 1 left to right (column x takes
    /// source column width - 1 - x). Any other mode changes nothing.
    /// An empty object, or one that holds floats and is smaller than `src`
    /// (in width, height or planes) and larger in none, first takes `src`'s
    /// record and size (see above). Otherwise a null `src`, or one that is
    /// smaller than this object, has fewer planes, or does not hold floats,
    /// changes nothing; a larger `src` is read at this object's size. `src`
    /// may be this object itself: the image is then flipped in place.
    /// `reserved` is not used.
    void Do(int mode, CKelImage* src, int reserved);
};
