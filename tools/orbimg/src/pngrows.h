// Rows of a 24- or 32-bit DIB as a PNG stores them, and their Adler-32, in
// vectors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orbimg::tool {

/// A row of `width` pixels of a DIB (blue, green, red, with an unused byte
/// when pixelBytes is 4) as red, green, blue filtered by Sub: each sample
/// less the one of the pixel to its left (the first pixel as it is). One
/// pass, in vectors.
void DibSubRow(const unsigned char* in, int width, int pixelBytes, unsigned char* out);

/// zlib's adler32 of n bytes continuing `adler` (1 to start), several times
/// faster.
std::uint32_t Adler32(std::uint32_t adler, const unsigned char* data, std::size_t n);

}  // namespace orbimg::tool
