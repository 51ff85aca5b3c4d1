// A FITS file walked before cfitsio reads it.
//
// cfitsio trusts what a header claims: sizes, tile shapes, compressed
// lengths and heap offsets. A damaged or forged file can make it divide by
// zero, read past its buffers or ask for gigabytes before reading a byte.
// The scan reads every header up to the first HDU holding an image with a
// parser of its own, checks each claimed size against the file and the
// memory budget, and for a tile-compressed image checks the compression
// keywords, every tile's descriptor and the start of every tile's
// compressed stream (a Rice stream is walked to its end) against what the
// decoders will assume. Only a file that passes is handed to cfitsio.
//
// Conventions
//   - Every refusal is a ToolError "cannot read '<path>': <reason>" naming
//     the keyword or tile at fault.
//   - Sizes are checked without overflow: a product past 2^63 is a claim no
//     file can hold.
//   - Header cards are kept as read (80 characters each), so a header that
//     cfitsio cannot convert can still be kept.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orbimg::tool {

/// The bytes of a FITS file: a disk file, or a gzip file inflated as far as
/// it is read.
class FitsBytes {
public:
    virtual ~FitsBytes() = default;
    /// Copies `n` bytes at `offset` into `out`; false when the file ends before.
    virtual bool Read(std::uint64_t offset, void* out, std::size_t n) = 0;
    /// True when the file holds at least `end` bytes (a gzip file is
    /// inflated that far).
    virtual bool Holds(std::uint64_t end) = 0;
    /// The most bytes the file may hold: its size, or the most a gzip stream
    /// of its size can inflate to.
    virtual std::uint64_t MostBytes() const = 0;
    /// True when the bytes are held in memory (an inflated gzip file).
    virtual bool InMemory() const { return false; }
};

/// A disk file read with pread. Throws ToolError when it cannot be opened.
std::unique_ptr<FitsBytes> OpenFitsBytes(const std::string& path);

/// A gzip file inflated on demand into memory, at most `limit` bytes
/// (reading past the limit throws ToolError naming the memory budget).
class GzipFitsBytes : public FitsBytes {
public:
    GzipFitsBytes(const std::string& path, std::uint64_t limit);
    ~GzipFitsBytes() override;
    bool Read(std::uint64_t offset, void* out, std::size_t n) override;
    bool Holds(std::uint64_t end) override;
    std::uint64_t MostBytes() const override;
    bool InMemory() const override { return true; }
    /// The bytes inflated so far.
    std::vector<unsigned char>& Data() { return m_data; }

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    std::string m_path;
    std::vector<unsigned char> m_data;
    std::uint64_t m_limit = 0;
    std::uint64_t m_compressedSize = 0;
    bool m_ended = false;
};

/// A tile-compressed image as its table describes it.
struct FitsTiles {
    std::string type;                 ///< ZCMPTYPE as written: RICE_1, GZIP_1, GZIP_2, HCOMPRESS_1, PLIO_1, NOCOMPRESS
    std::array<long long, 9> tile{};  ///< ZTILEn (1 past ZNAXIS)
    long long count = 0;              ///< tiles (table rows)
    long long largestTile = 0;        ///< samples of the largest tile
};

/// What the scan found: the HDU to read and its shape.
struct FitsScan {
    int hdu = 0;             ///< 1-based number of the first HDU holding an image; 0 when none
    bool emptySeen = false;  ///< an image HDU with an axis of length 0 was passed over
    bool compressed = false;
    int bitpix = 0;  ///< BITPIX, or ZBITPIX of a compressed image
    int naxis = 0;   ///< NAXIS, or ZNAXIS
    std::array<long long, 9> naxes{};
    std::uint64_t dataStart = 0;     ///< offset of the HDU's data
    std::uint64_t dataEnd = 0;       ///< end of its data (heap included), unpadded
    FitsTiles tiles;                 ///< compressed images only
    std::vector<std::string> cards;  ///< the HDU's header cards as stored, END excluded
};

/// Walks the headers of `bytes` up to the first HDU holding an image (see the
/// file comment). Throws ToolError for a damaged or truncated file, a claim
/// past the memory budget, or a tile-compressed image cfitsio could not
/// decode safely.
FitsScan ScanFits(FitsBytes& bytes, const std::string& path);

}  // namespace orbimg::tool
