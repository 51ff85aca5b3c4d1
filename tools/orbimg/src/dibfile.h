// Packed DIBs (as CKelImage::GetDib returns them) written as BMP and PNG.
//
// Conventions
//   - A packed DIB is a BITMAPINFOHEADER (biSize 40 or a larger header of
//     the BITMAPV4/V5 family), the colour table if any, then the rows:
//     bottom-up for a positive biHeight, top-down for a negative one, each
//     padded to a multiple of 4 bytes. Accepted: BI_RGB with 8 bits and a
//     colour table (biClrUsed entries, 256 when 0), 24 bits (blue, green,
//     red) or 32 bits (blue, green, red, unused).
//   - The BMP file is the DIB unchanged behind a BITMAPFILEHEADER, so its
//     pixels are exactly the DIB's.
//   - The PNG holds the same pixels, top row first, 8 bits per sample: an
//     8-bit DIB whose colour table is all grey (red = green = blue in every
//     entry) becomes a grey PNG of the table's grey values, any other 8-bit
//     DIB an RGB PNG through its table; 24- and 32-bit DIBs become RGB. An
//     index past the colour table reads as black.
//   - A block that is too short for what its header says, or any other
//     layout, is a ToolError; nothing is written then.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "orbimg.h"

namespace orbimg::tool {

/// Where the parts of a packed DIB lie, checked against the block's size.
struct DibLayout {
    int width = 0;
    int height = 0;        ///< rows (|biHeight|)
    bool bottomUp = true;  ///< biHeight > 0
    int bitCount = 0;      ///< 8, 24 or 32
    std::size_t headerBytes = 0;
    std::size_t colors = 0;  ///< colour table entries (8-bit only)
    std::size_t stride = 0;  ///< bytes per stored row, a multiple of 4
    std::size_t bytes = 0;   ///< header + table + rows: what the BMP file carries
    const RGBQUAD* table = nullptr;
    const unsigned char* bits = nullptr;

    /// Pixels of picture row y (0 = top).
    const unsigned char* Row(int y) const
    {
        const int stored = bottomUp ? height - 1 - y : y;
        return bits + static_cast<std::size_t>(stored) * stride;
    }
};

/// Checks a packed DIB of `size` bytes and locates its parts. Throws
/// ToolError "unsupported bitmap: <reason>".
DibLayout ParseDib(const void* dib, std::size_t size);

/// The picture of a DIB as 8-bit samples, top row first, rows without
/// padding: grey (channels 1) or red, green, blue (channels 3), as the PNG
/// writer stores it.
struct Raster {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<unsigned char> samples;
};
Raster DibToRaster(const DibLayout& dib);

/// Writes the DIB as a BMP file.
void WriteBmpFile(const std::string& path, const void* dib, std::size_t size);
/// zlib compression levels of the PNG writer: 0 stores the rows as they are
/// (no filter), 1 .. 9 compress rows filtered by Sub (each byte less the one
/// a pixel to its left), 1 the fastest coding (per band: the bytes coded
/// alone by one Huffman code, literaldeflate.h, or runs matched by zlib's
/// Z_RLE where the band is flat; on noisy frames as small as zlib's level 2
/// or 3), 2 .. 9 zlib's levels.
constexpr int kMinPngLevel = 0;
constexpr int kMaxPngLevel = 9;
/// The default: fast, for pictures of 100 megapixels.
constexpr int kDefaultPngLevel = 1;
/// Bytes of rows compressed as one band (one task, one IDAT chunk): small,
/// so that a thread's filtered rows stay in its cache and the output waiting
/// to be written takes little memory.
constexpr std::size_t kPngBandBytes = std::size_t{1} << 20;

/// Writes the DIB's pixels as an 8-bit grey or RGB PNG file, compressed at
/// `level` (kMinPngLevel .. kMaxPngLevel; another level is a ToolError) in
/// bands of rows on every core; the bytes do not depend on the number of
/// cores.
void WritePngFile(const std::string& path, const void* dib, std::size_t size, int level = kDefaultPngLevel);
/// Writes a raster (1 or 3 channels, 8 bits) as a PNG file, as above, in
/// bands of whole rows of about `bandBytes` (at least one row).
void WritePngFile(const std::string& path, const Raster& raster, int level = kDefaultPngLevel,
                  std::size_t bandBytes = kPngBandBytes);

}  // namespace orbimg::tool
