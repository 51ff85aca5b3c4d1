// Deflate blocks that code bytes alone: one Huffman code of the bytes, no
// matches (the PNG writer's level 1).
//
// zlib codes bytes alone too (Z_HUFFMAN_ONLY), at about 110 MB/s a core on
// filtered sky; this coder writes the same kind of block several times
// faster (a table lookup and a 64-bit bit buffer a byte). The blocks follow
// RFC 1951: a dynamic block whose literal/length code holds the 256 bytes
// and the end of block (lengths at most 15 bits), one distance code of one
// bit that is never used, the code lengths coded by a code of at most 7 bits.
#pragma once

#include <cstddef>
#include <vector>

namespace orbimg::tool {

/// Appends `data[0 .. n - 1]` to `out` as one dynamic deflate block of bytes
/// alone. `last` marks it the final block and pads the stream to a byte;
/// otherwise an empty stored block follows (as zlib's sync flush writes), so
/// that the stream ends on a byte and another band's blocks can follow.
void DeflateLiterals(const unsigned char* data, std::size_t n, bool last, std::vector<unsigned char>& out);

}  // namespace orbimg::tool
