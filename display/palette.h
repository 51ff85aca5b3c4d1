// The adaptive 256-colour palette of the 8-bit colour export: a reduction
// of a 15-bit colour histogram. Internal to the library.
//
// Conventions
//   - Colour c = (r5 << 10) | (g5 << 5) | b5, the top five bits of the red,
//     green and blue display values; its bucket centre is r5 x 8 + 4,
//     g5 x 8 + 4, b5 x 8 + 4 and its lightness L = (largest + smallest
//     centre) / 2, integer division (4..252).
//   - Of the 256 slots, 240 are shared among eight lightness bands
//     (band (255 - L) / 32, 0 the lightest) by weight and by the square root
//     of each band's pixel count, filled with each band's most frequent
//     colours; the last 16 take the colours farthest from those chosen.
#pragma once

#include "platform/wintypes.h"

namespace orbimg::detail {

constexpr int kColorCodes = 32768;
constexpr int kPaletteSize = 256;

/// Builds the palette from `table` (kColorCodes pixel counts, each 0..32000,
/// at least one positive) and turns the table into the colour-to-index
/// lookup: afterwards table[c] is the palette index (0..255) of colour c.
/// `palette` receives kPaletteSize entries (blue, green, red, reserved 0).
void MakePalette(int* table, RGBQUAD* palette);

}  // namespace orbimg::detail
