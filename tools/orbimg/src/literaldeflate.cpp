// Deflate blocks of bytes alone (see literaldeflate.h).
#include "literaldeflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <queue>
#include <utility>

namespace orbimg::tool {
namespace {

constexpr int kEndOfBlock = 256;
constexpr int kLiteralCodes = 257;  // the bytes and the end of block (HLIT 0)
constexpr int kLengthCodes = 19;    // the code-length alphabet
constexpr int kMaxBits = 15;
constexpr int kMaxLengthBits = 7;
// The order the code-length code's lengths are sent in.
constexpr std::array<int, kLengthCodes> kLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

/// Huffman code lengths of at most `limit` bits for the symbols of nonzero
/// frequency (0 for the others). Where the optimal code is deeper, the
/// frequencies are halved (each kept above 0) until it fits: all equal, the
/// code is balanced. At least two symbols must have a frequency.
std::vector<int> CodeLengths(std::vector<std::uint64_t> freq, int limit)
{
    const int n = static_cast<int>(freq.size());
    std::vector<int> lengths(freq.size(), 0);
    for (;;) {
        // Nodes 0 .. n - 1 are the symbols, later ones the merged pairs.
        std::vector<int> parent(2 * freq.size(), -1);
        using Node = std::pair<std::uint64_t, int>;
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
        for (int s = 0; s < n; ++s) {
            if (freq[static_cast<std::size_t>(s)] > 0) {
                heap.push({freq[static_cast<std::size_t>(s)], s});
            }
        }
        int next = n;
        while (heap.size() > 1) {
            const Node a = heap.top();
            heap.pop();
            const Node b = heap.top();
            heap.pop();
            parent[static_cast<std::size_t>(a.second)] = next;
            parent[static_cast<std::size_t>(b.second)] = next;
            heap.push({a.first + b.first, next++});
        }
        // Depths from the root down: a merged node comes after its children.
        std::vector<int> depth(static_cast<std::size_t>(next), 0);
        for (int node = next - 2; node >= 0; --node) {
            const int up = parent[static_cast<std::size_t>(node)];
            depth[static_cast<std::size_t>(node)] = up < 0 ? 0 : depth[static_cast<std::size_t>(up)] + 1;
        }
        int deepest = 0;
        for (int s = 0; s < n; ++s) {
            lengths[static_cast<std::size_t>(s)] =
                freq[static_cast<std::size_t>(s)] > 0 ? depth[static_cast<std::size_t>(s)] : 0;
            deepest = std::max(deepest, lengths[static_cast<std::size_t>(s)]);
        }
        if (deepest <= limit) {
            return lengths;
        }
        for (auto& f : freq) {
            f = f > 0 ? (f >> 1) | 1 : 0;
        }
    }
}

/// Canonical codes for the lengths, bit-reversed as deflate sends them.
std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lengths)
{
    std::array<int, kMaxBits + 2> count{};
    for (const int l : lengths) {
        ++count[static_cast<std::size_t>(l)];
    }
    count[0] = 0;
    std::array<std::uint32_t, kMaxBits + 2> next{};
    std::uint32_t code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + static_cast<std::uint32_t>(count[static_cast<std::size_t>(bits - 1)])) << 1;
        next[static_cast<std::size_t>(bits)] = code;
    }
    std::vector<std::uint32_t> codes(lengths.size(), 0);
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        const int l = lengths[s];
        if (l == 0) {
            continue;
        }
        const std::uint32_t c = next[static_cast<std::size_t>(l)]++;
        std::uint32_t reversed = 0;
        for (int i = 0; i < l; ++i) {
            reversed |= ((c >> i) & 1u) << (l - 1 - i);
        }
        codes[s] = reversed;
    }
    return codes;
}

/// A deflate bit stream, least significant bit first, written through a
/// pointer into room reserved beforehand.
class BitWriter {
public:
    /// Writes from out on, which must have 8 bytes of room past the last
    /// byte written.
    explicit BitWriter(unsigned char* out) : m_out(out) {}

    /// Appends the low `n` bits of `bits` (n at most 56). The whole bytes go
    /// out at once without a branch: 8 bytes are stored every time and the
    /// end moves past the whole ones.
    void Put(std::uint64_t bits, int n)
    {
        m_bits |= bits << m_count;
        m_count += n;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(m_out, &m_bits, 8);
        } else {
            for (int k = 0; k < 8; ++k) {
                m_out[k] = static_cast<unsigned char>(m_bits >> (8 * k));
            }
        }
        const int whole = m_count >> 3;  // at most 7
        m_out += whole;
        m_bits >>= 8 * whole;
        m_count &= 7;
    }
    /// Pads with zero bits to a whole byte and writes out what is held.
    void Align()
    {
        if (m_count > 0) {
            *m_out++ = static_cast<unsigned char>(m_bits);
        }
        m_bits = 0;
        m_count = 0;
    }
    unsigned char* End() const { return m_out; }

private:
    unsigned char* m_out;
    std::uint64_t m_bits = 0;
    int m_count = 0;  // bits held, at most 7 between calls
};

}  // namespace

LiteralBlock::LiteralBlock(const unsigned char* data, std::size_t n, bool last) : m_data(data), m_n(n), m_last(last)
{
    // The literal/length code: every byte met, and the end of block.
    std::vector<std::uint64_t> freq(kLiteralCodes, 0);
    std::array<std::uint64_t, 4 * 256> lanes{};  // four counts a byte, so that runs do not wait
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        for (int k = 0; k < 4; ++k) {
            ++lanes[static_cast<std::size_t>(k * 256 + data[i + k])];
        }
    }
    for (; i < n; ++i) {
        ++lanes[data[i]];
    }
    for (int b = 0; b < 256; ++b) {
        freq[static_cast<std::size_t>(b)] =
            lanes[static_cast<std::size_t>(b)] + lanes[static_cast<std::size_t>(256 + b)] +
            lanes[static_cast<std::size_t>(512 + b)] + lanes[static_cast<std::size_t>(768 + b)];
    }
    const std::vector<std::uint64_t> counts(freq.begin(), freq.begin() + 256);
    freq[kEndOfBlock] = 1;
    if (n == 0) {
        freq[0] = 1;  // two symbols at least: a code of one would not be complete
    }
    m_lengths = CodeLengths(freq, kMaxBits);
    m_codes = CanonicalCodes(m_lengths);

    // The code lengths as sent: the 257 literal/length ones and the one
    // distance code's 1, each a symbol of the code-length alphabet.
    std::vector<std::uint64_t> lengthFreq(kLengthCodes, 0);
    for (const int l : m_lengths) {
        ++lengthFreq[static_cast<std::size_t>(l)];
    }
    ++lengthFreq[1];
    if (std::count_if(lengthFreq.begin(), lengthFreq.end(), [](std::uint64_t f) { return f > 0; }) < 2) {
        ++lengthFreq[lengthFreq[0] > 0 ? 1 : 0];
    }
    m_lengthLengths = CodeLengths(lengthFreq, kMaxLengthBits);
    m_lengthCodes = CanonicalCodes(m_lengthLengths);
    m_hclen = kLengthCodes;
    while (m_hclen > 4 &&
           m_lengthLengths[static_cast<std::size_t>(kLengthOrder[static_cast<std::size_t>(m_hclen - 1)])] == 0) {
        --m_hclen;
    }

    // The size: the header, the bytes' codes, the end of block, and the
    // stored block that ends a band on a byte.
    std::uint64_t bits = 3 + 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(m_hclen);
    for (const int l : m_lengths) {
        bits += static_cast<std::uint64_t>(m_lengthLengths[static_cast<std::size_t>(l)]);
    }
    bits += static_cast<std::uint64_t>(m_lengthLengths[1]);
    for (int b = 0; b < 256; ++b) {
        bits +=
            counts[static_cast<std::size_t>(b)] * static_cast<std::uint64_t>(m_lengths[static_cast<std::size_t>(b)]);
    }
    bits += static_cast<std::uint64_t>(m_lengths[kEndOfBlock]);
    m_bytes = last ? (bits + 7) / 8 : (bits + 3 + 7) / 8 + 4;
}

unsigned char* LiteralBlock::Write(unsigned char* out) const
{
    BitWriter bits(out);
    bits.Put(m_last ? 1 : 0, 1);  // BFINAL
    bits.Put(2, 2);               // BTYPE: dynamic Huffman codes
    bits.Put(kLiteralCodes - 257, 5);
    bits.Put(0, 5);  // HDIST: one distance code
    bits.Put(static_cast<std::uint64_t>(m_hclen - 4), 4);
    for (int k = 0; k < m_hclen; ++k) {
        bits.Put(static_cast<std::uint64_t>(
                     m_lengthLengths[static_cast<std::size_t>(kLengthOrder[static_cast<std::size_t>(k)])]),
                 3);
    }
    auto putLength = [&](int l) {
        bits.Put(m_lengthCodes[static_cast<std::size_t>(l)], m_lengthLengths[static_cast<std::size_t>(l)]);
    };
    for (const int l : m_lengths) {
        putLength(l);
    }
    putLength(1);  // the distance code
    // The bytes: code and length of each from one table.
    std::array<std::uint32_t, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[static_cast<std::size_t>(b)] = m_codes[static_cast<std::size_t>(b)] |
                                             static_cast<std::uint32_t>(m_lengths[static_cast<std::size_t>(b)]) << 16;
    }
    const unsigned char* data = m_data;
    const std::size_t n = m_n;
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        // Three codes of at most 15 bits go in one put.
        const std::uint32_t a = table[data[i]];
        const std::uint32_t b = table[data[i + 1]];
        const std::uint32_t c = table[data[i + 2]];
        const int la = static_cast<int>(a >> 16);
        const int lab = la + static_cast<int>(b >> 16);
        bits.Put(static_cast<std::uint64_t>(a & 0xFFFFu) | static_cast<std::uint64_t>(b & 0xFFFFu) << la |
                     static_cast<std::uint64_t>(c & 0xFFFFu) << lab,
                 lab + static_cast<int>(c >> 16));
    }
    for (; i < n; ++i) {
        const std::uint32_t a = table[data[i]];
        bits.Put(a & 0xFFFFu, static_cast<int>(a >> 16));
    }
    bits.Put(m_codes[kEndOfBlock], m_lengths[kEndOfBlock]);
    if (!m_last) {
        bits.Put(0, 3);  // an empty stored block: BFINAL 0, BTYPE 00
        bits.Align();
        bits.Put(0xFFFF0000u, 32);  // LEN 0, NLEN
    }
    bits.Align();
    return bits.End();
}

void DeflateLiterals(const unsigned char* data, std::size_t n, bool last, std::vector<unsigned char>& out)
{
    const LiteralBlock block(data, n, last);
    const std::size_t used = out.size();
    out.resize(used + block.Bytes() + 8);
    out.resize(static_cast<std::size_t>(block.Write(out.data() + used) - out.data()));
}

}  // namespace orbimg::tool
