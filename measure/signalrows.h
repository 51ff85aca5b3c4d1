// The signal a star or sky measure reads: one plane of an image as row
// pointers, or the luminance of a colour image made once.
#pragma once

#include <vector>

#include "image/kelimage.h"

namespace orbimg::detail {
/// The signal of a plane (-1: plane 0 of a mono image, the raw luminance of
/// a colour one) as row pointers: either into the image, or into `store`
/// (filled with the luminance). Empty when the plane does not exist.
std::vector<const float*> SignalRows(const CKelImage& image, int plane, std::vector<float>& store);
}  // namespace orbimg::detail
