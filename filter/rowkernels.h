// Row kernels of the separable filters: weighted sums of whole rows.
//
// Conventions
//   - Every output value is the sum of its taps in tap order, in float,
//     from 0.0, with separate multiplies and adds: bit for bit what the plain
//     loop over taps gives, on every instruction set. The kernels vectorise
//     across columns (and output rows), never across taps.
//   - Internal to the library (namespace orbimg::detail).
#pragma once

namespace orbimg::detail {

/// out[i] = sum over t = 0 .. taps - 1 of k[t] x src[t][i], i = 0 .. count - 1.
/// Taps in the outer loop, columns in the inner one, a block of columns at a
/// time. `out` must not overlap any source row.
void CombineRows(float* out, int count, const float* k, int taps, const float* const* src);

/// Four output rows from one pass over the sources: out[o][i] = sum over
/// t = 0 .. size - 1 of k[t] x src[o + t][i] for o = 0 .. 3 (src holds
/// size + 3 rows), i = 0 .. count - 1; size >= 3.
void CombineFourRows(float* const* out, const float* const* src, const float* k, int size, int count);

}  // namespace orbimg::detail
