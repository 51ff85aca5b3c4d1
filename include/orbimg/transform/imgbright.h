// CImgBright: brightness and contrast of a rectangle of an image.
//
// Conventions
//   - The object is the destination and holds an image of the source's size
//     and planes; Do rewrites a window of it from the source's samples at the
//     same coordinates. Samples outside the window are left as they are. An
//     empty object, or one smaller than the source, first becomes a copy of
//     the source (see Do) without a copy of the whole frame.
//   - The change is computed in single precision on the display scale given by
//     the destination's plane-0 levels (m = level minimum, r = level range),
//     for every plane alike, and mapped back to the raw scale:
//       t = (v - m) x (255 / r)
//       result = (((t - pivot) x contrast / 256 + brightness) + t) x (r / 255) + m
//     brightness is in display units (0..255 scale); the distance from `pivot`
//     is scaled by 1 + contrast / 256. Results are not clamped. NaN samples
//     stay NaN.
//   - A plane-0 window without a usable scale (range 0, or one so small or
//     large that 255 / r or r / 255 is 0 or not finite) would turn every
//     sample into NaN or infinity: nothing is changed then.
//   - Standard points and centre are left as they are; no lock is taken.
//   - Rows run in bands on every core (serially while the sample store is
//     partly swapped out), with the same result either way.
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgBright : public CKelImage {
public:
    CImgBright() = default;
    /// The nine arguments of CKelImage (width, height, planes, bits per
    /// pixel, bscale, bzero, signed, window, text): an image to fill and then
    /// operate on in place, without a copy of the frame.
    using CKelImage::CKelImage;
    CImgBright(const CImgBright& other) = default;
    CImgBright& operator=(const CImgBright& other) = default;
    using CKelImage::operator=;
    ~CImgBright() override;

    /// Changes brightness and contrast of the window `rect` (null: the whole
    /// image; clipped to the image, each coordinate raised to 0 then lowered
    /// to the width or height, not reordered, so an inverted window is empty)
    /// from `src`. The three parameters are rounded to float.
    ///
    /// An empty object, or one that holds floats and is smaller than `src`
    /// (in width, height or planes) and larger in none, first becomes what a
    /// copy of `src` would be (record, levels, standard points, and `src`'s
    /// samples outside the window), without a copy of the whole frame: the
    /// result is the one after `*this = *src`. Otherwise a null `src`, or one
    /// smaller than this object, with fewer planes, or not holding floats,
    /// changes nothing. `src` may be this object itself. The last argument is
    /// not used.
    void Do(double brightness, double contrast, double pivot, CKelImage* src, CRect* rect, int);

protected:
    /// The change over columns left <= x < right and rows top <= y < bottom
    /// of every plane (bounds clipped to the image; `src` checked, and taken
    /// as a copy when this object is empty or smaller, as in Do).
    void DoBright(float brightness, float contrast, float pivot, CKelImage* src, int left, int right, int top,
                  int bottom);

private:
    /// Takes `src`'s record and size when Do would; true when it did.
    bool TakeSourceSize(CKelImage* src);
    /// DoBright after that step; `fresh` when this object has just taken
    /// `src`'s size (the samples outside the window are then copied).
    void Bright(float brightness, float contrast, float pivot, CKelImage* src, int left, int right, int top, int bottom,
                bool fresh);
};
