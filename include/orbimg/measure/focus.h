// CImgEvaluateFocus: a focus figure, the mean square of a difference of
// Gaussians, for comparing successive frames while the focus is adjusted.
//
// Conventions
//   - The operation object is the image evaluated; it adds no data.
//   - Settings, read at every call: "Eval" / "Min" (int, default 1), the
//     standard deviation in pixels of the narrow Gaussian, and "Eval" /
//     "Max" (int, default 10), that of the wide Gaussian and the border left
//     out on every side. A Gaussian of standard deviation s has radius
//     trunc(max(1.0, s x 2.8 + 1.0)): 3 for 1, 29 for 10, 9 for 3.
//   - The Gaussians live in the image's extended filter slots 0 (narrow) and
//     1 (wide), one processor per plane, built on the first call from the
//     image's own samples and reused by later calls until ClearFilterProc:
//     a changed "Min" or "Max" changes the filters only then, while the
//     border always follows the current "Max".
//   - Planes 3 and above (never in a mono or colour frame) are evaluated with
//     the processors of plane 0.
//   - Single-threaded per object: a call writes the object's filter slots.
//     Within a call the rows are filtered over row bands on every core
//     (serial while the store is partly swapped out); the sum keeps pixel
//     order, bit for bit.
#pragma once

#include "image/kelimage.h"
#include "platform/export.h"

class ORBIMG_API CImgEvaluateFocus : public CKelImage {
public:
    CImgEvaluateFocus() = default;
    /// Copies the image (its filter slots start empty).
    CImgEvaluateFocus(const CImgEvaluateFocus& other) = default;
    using CKelImage::operator=;
    ~CImgEvaluateFocus() override = default;

    /// Do(nullptr, reserved): the whole image.
    double Do(int reserved);
    /// Focus figure of the pixels at least b = "Max" pixels inside both
    /// `rect` (right and bottom exclusive; null is the whole image) and the
    /// image: columns max(left + b, b) .. min(right - b, W - b) - 1, rows
    /// likewise. For every plane, row (top to bottom) and column (left to
    /// right): d = |n - w| in float, n and w the narrow and wide filtered
    /// values (0.0 where a filter cannot be built); the figure is the sum of
    /// d^2 in double, in that order, over the count of pixels. 0.0 when the
    /// window is empty. A negative "Max" counts as border 0 (the window never
    /// leaves the image) while still giving the wide Gaussian's sigma.
    /// `reserved` is not used.
    double Do(CRect* rect, int reserved);

private:
    /// The figure of the window at (left, top), columns x height (both at
    /// least 1) over row bands on every core, with the serial loop's bits.
    double EvaluateBands(int left, int top, int columns, int height);
};
