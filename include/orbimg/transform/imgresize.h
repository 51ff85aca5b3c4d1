// CImgResize: changes an image's canvas size around an anchor.
//
// Conventions
//   - The object is the destination: the caller makes it a copy of the source
//     (for example by assignment) and calls Do with the source and the new
//     size. The object keeps its planes, sample format and levels.
//   - The whole new canvas is painted with a fill value per plane (display
//     scale, converted with plane 0's levels), then the source is placed at
//     one of nine anchors, cropped where it does not fit. Samples are copied
//     as they are; nothing is interpolated.
//   - Standard points and centre are reset (Init) on every call that gets
//     past the argument checks.
//   - No lock is taken. Rows run in bands on every core (serially while the
//     sample store is partly swapped out), with the same bits either way.
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgResize : public CKelImage {
public:
    CImgResize() = default;
    CImgResize(const CImgResize& other) = default;
    CImgResize& operator=(const CImgResize& other) = default;
    using CKelImage::operator=;
    ~CImgResize() override;

    /// Gives this object a `width` x `height` canvas filled per plane with
    /// `fill[p]` (a display value 0..255, converted to raw with plane 0's
    /// levels for every plane: fill / 255 x range + min in double, stored as
    /// float), and copies `src` onto it at `anchor`: 0 top left, 1 top
    /// centre, 2 top right, 3 middle left, 4 centre, 5 middle right, 6 bottom
    /// left, 7 bottom centre, 8 bottom right; any other anchor acts as 0.
    /// Centring offsets are (new - old) / 2 truncated toward zero, so growing
    /// 7 to 10 puts the source at column 1 and shrinking 10 to 7 keeps source
    /// columns 1..7.
    ///
    /// `fill` points to one value per plane of this object; null fills with
    /// display value 0 (plane 0's level minimum). `progress` non-zero passes
    /// an empty text to ChangeSize, zero a null one.
    ///
    /// Only the planes that both images have are copied; extra planes of this
    /// object keep the fill. Returns 1 on success; 0 when the canvas could not
    /// be resized (`width` or `height` below 1, or no memory; the standard
    /// points are reset by then). A null `src`, or one whose samples are not
    /// 4-byte floats (or this object's are not), returns 0 and changes
    /// nothing. `src` may be this object itself: it is then copied first.
    int Do(int width, int height, int anchor, float* const fill, CImage* src, int progress);
};
