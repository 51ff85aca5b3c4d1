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
#include <cstdint>
#include <vector>

namespace orbimg::tool {

/// `data[0 .. n - 1]` as one dynamic deflate block of bytes alone, planned
/// from the bytes' counts: Bytes() is the exact room it takes, Write puts it
/// there (the bytes must stay in place between the two). `last` marks it the
/// final block and pads the stream to a byte; otherwise an empty stored block
/// follows (as zlib's sync flush writes), so that the stream ends on a byte
/// and another band's blocks can follow.
class LiteralBlock {
public:
    LiteralBlock(const unsigned char* data, std::size_t n, bool last);
    std::size_t Bytes() const { return m_bytes; }
    /// Writes the block from out on, which must have Bytes() + 8 bytes of
    /// room; returns the end of what was written (out + Bytes()).
    unsigned char* Write(unsigned char* out) const;

private:
    const unsigned char* m_data;
    std::size_t m_n;
    bool m_last;
    std::vector<int> m_lengths;  ///< the literal/length code
    std::vector<std::uint32_t> m_codes;
    std::vector<int> m_lengthLengths;  ///< the code-length code
    std::vector<std::uint32_t> m_lengthCodes;
    int m_hclen = 0;
    std::size_t m_bytes = 0;
};

/// Appends the block of `data[0 .. n - 1]` to `out` (see LiteralBlock).
void DeflateLiterals(const unsigned char* data, std::size_t n, bool last, std::vector<unsigned char>& out);

}  // namespace orbimg::tool
