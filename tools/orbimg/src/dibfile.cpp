// BMP and PNG files from packed DIBs.
#include "dibfile.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <utility>

#include "literaldeflate.h"
#include "pngrows.h"
#include "safeoutput.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

[[noreturn]] void Unsupported(const std::string& reason) { throw ToolError("unsupported bitmap: " + reason); }

void PutLE(unsigned char* out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

void WriteAll(SafeOutput& output, const void* data, std::size_t bytes)
{
    if (bytes && std::fwrite(data, 1, bytes, output.Stream()) != bytes) {
        output.Fail(std::strerror(errno));
    }
}

/// Picture row y of a DIB as 8-bit samples: grey through the table when
/// `grey`, else red, green, blue (through the table for 8 bits). An index
/// past the table reads as black (the table is padded with zeros).
void DibRow(const DibLayout& dib, const RGBQUAD* table, bool grey, int y, unsigned char* out)
{
    const unsigned char* in = dib.Row(y);
    if (grey) {
        for (int x = 0; x < dib.width; ++x) {
            out[x] = table[in[x]].rgbRed;
        }
    } else if (dib.bitCount == 8) {
        for (int x = 0; x < dib.width; ++x) {
            const RGBQUAD c = table[in[x]];
            out[3 * x] = c.rgbRed;
            out[3 * x + 1] = c.rgbGreen;
            out[3 * x + 2] = c.rgbBlue;
        }
    } else {
        const int pixelBytes = dib.bitCount / 8;
        for (int x = 0; x < dib.width; ++x) {
            const unsigned char* px = in + static_cast<std::size_t>(x) * pixelBytes;
            out[3 * x] = px[2];
            out[3 * x + 1] = px[1];
            out[3 * x + 2] = px[0];
        }
    }
}

/// Where the PNG writer takes its rows: width x channels 8-bit samples of
/// picture row y (0 = top) into `out`. Called from several threads at once.
struct PngRows {
    int width = 0;
    int height = 0;
    int channels = 1;
    std::function<void(int y, unsigned char* out)> row;
    /// The row filtered by Sub, where the source has a faster way to it
    /// than `row` and a pass of its own.
    std::function<void(int y, unsigned char* out)> subRow;
};

// ---- PNG writing ----
//
// The picture is filtered row by row (filter Sub: each byte less the one a
// pixel to its left, which compresses noisy sky as well as any other filter
// and costs one subtraction) and compressed in bands of rows on every core
// (by zlib, or at level 1 on a noisy band by literaldeflate.h): each band is
// raw deflate blocks ended by a sync flush's empty stored block (the last
// one by the final block), so the bands joined in order are one
// deflate stream, behind the zlib header and before the Adler-32 of the
// whole (joined from the bands' with adler32_combine). The bands are fixed
// by the rows alone, so the file has the same bytes on any number of cores.
// libpng compresses on one thread only, hence chunks written here.
//
// Each thread takes the next band, and whichever finishes the band next in
// the file writes it (and any finished ones after it) while the others go
// on compressing. A band's output waits in one of a few slots that are
// reused, and each thread filters into its own buffer, reused too: memory
// the kernel has to hand out (and zero) fresh is a large part of the time
// otherwise.

/// Bytes that are all written before they are read: resized without zeroing.
template <typename T>
struct NoInit : std::allocator<T> {
    NoInit() = default;
    template <typename U>
    NoInit(const NoInit<U>&) noexcept
    {
    }
    template <typename U>
    struct rebind {
        using other = NoInit<U>;
    };
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
};
using ByteBuffer = std::vector<unsigned char, NoInit<unsigned char>>;

void PutBE(unsigned char* out, std::uint32_t v)
{
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}

/// A chunk of the given type whose data is the pieces in order.
/// A piece of a chunk's data, with its CRC-32 when it is known already.
struct Piece {
    const unsigned char* data;
    std::size_t size;
    std::optional<uLong> crc = std::nullopt;
};

/// CRC-32 of n bytes, continuing crc.
uLong Crc32(uLong crc, const unsigned char* data, std::size_t n)
{
    for (std::size_t done = 0; done < n;) {
        const uInt part = static_cast<uInt>(std::min<std::size_t>(n - done, 1u << 30));
        crc = crc32(crc, data + done, part);
        done += part;
    }
    return crc;
}

void WriteChunk(SafeOutput& output, const char* type, std::initializer_list<Piece> pieces)
{
    std::size_t length = 0;
    for (const Piece& piece : pieces) {
        length += piece.size;
    }
    unsigned char head[8];
    PutBE(head, static_cast<std::uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    WriteAll(output, head, sizeof head);
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
    for (const Piece& piece : pieces) {
        WriteAll(output, piece.data, piece.size);
        crc = piece.crc ? crc32_combine(crc, *piece.crc, static_cast<z_off_t>(piece.size))
                        : Crc32(crc, piece.data, piece.size);
    }
    unsigned char tail[4];
    PutBE(tail, static_cast<std::uint32_t>(crc));
    WriteAll(output, tail, sizeof tail);
}

/// One band of rows, filtered and deflated.
struct PngBand {
    ByteBuffer bytes;          ///< raw deflate output
    uLong crc = 0;             ///< CRC-32 of bytes (worked out on the band's thread)
    uLong adler = 1;           ///< Adler-32 of the filtered rows
    std::size_t filtered = 0;  ///< filtered bytes (rows x (1 + row bytes))
    bool failed = false;
};

/// A thread's rooms, kept from one band to the next.
struct PngWorker {
    ByteBuffer row;       ///< a row as the picture has it
    ByteBuffer filtered;  ///< the band's rows filtered
};

/// True when a band of filtered rows is flat: at least a quarter of its
/// bytes repeat the two before them (plots, clipped sky). Level 1 matches its
/// runs (zlib's Z_RLE) then, and codes the bytes alone otherwise (noisy sky,
/// where matches gain nothing).
bool Flat(std::span<const unsigned char> bytes)
{
    // Counted in blocks whose count fits 16 bits, so that the loop runs in
    // vectors of 16-bit lanes.
    std::size_t repeats = 0;
    for (std::size_t start = 2; start < bytes.size(); start += 0xFFFF) {
        const std::size_t end = std::min(bytes.size(), start + 0xFFFF);
        std::uint16_t block = 0;
        for (std::size_t i = start; i < end; ++i) {
            const std::uint16_t same = static_cast<std::uint16_t>(bytes[i] == bytes[i - 1]);
            block = static_cast<std::uint16_t>(block + (same & static_cast<std::uint16_t>(bytes[i] == bytes[i - 2])));
        }
        repeats += block;
    }
    return repeats * 4 >= bytes.size();
}

/// Filters rows y0 .. y1 - 1 into the worker's buffer and deflates them
/// into the band; `last` ends the deflate stream.
void DeflateBand(const PngRows& rows, int level, int y0, int y1, bool last, PngWorker& worker, PngBand& band)
{
    const std::size_t rowBytes = static_cast<std::size_t>(rows.width) * static_cast<std::size_t>(rows.channels);
    const std::size_t bpp = std::min(static_cast<std::size_t>(rows.channels), rowBytes);
    worker.row.resize(rowBytes);
    const unsigned char* row = worker.row.data();
    band.filtered = (rowBytes + 1) * static_cast<std::size_t>(y1 - y0);
    band.adler = 1;
    band.failed = false;
    worker.filtered.resize(band.filtered);
    const std::span<const unsigned char> filtered(worker.filtered.data(), band.filtered);
    unsigned char* out = worker.filtered.data();
    for (int y = y0; y < y1; ++y, out += rowBytes + 1) {
        if (level == 0) {
            out[0] = 0;  // stored: no filter
            rows.row(y, out + 1);
            continue;
        }
        out[0] = 1;  // Sub
        if (rows.subRow) {
            rows.subRow(y, out + 1);
            continue;
        }
        rows.row(y, worker.row.data());
        std::memcpy(out + 1, row, bpp);
        for (std::size_t i = bpp; i < rowBytes; ++i) {
            out[1 + i] = static_cast<unsigned char>(row[i] - row[i - bpp]);
        }
    }
    band.adler = Adler32(static_cast<std::uint32_t>(band.adler), filtered.data(), filtered.size());
    const bool flat = level == 1 && Flat(filtered);
    if (level == 1 && !flat) {
        const LiteralBlock block(filtered.data(), filtered.size(), last);
        band.bytes.resize(block.Bytes() + 8);
        const std::size_t size = static_cast<std::size_t>(block.Write(band.bytes.data()) - band.bytes.data());
        band.failed = size != block.Bytes();
        band.bytes.resize(size);
        return;
    }

    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, flat ? Z_RLE : Z_DEFAULT_STRATEGY) != Z_OK) {
        band.failed = true;
        return;
    }
    band.bytes.resize(deflateBound(&z, static_cast<uLong>(band.filtered)) + 64);
    z.next_in = const_cast<unsigned char*>(filtered.data());
    z.next_out = band.bytes.data();
    // Fed and drained in pieces zlib's 32-bit counts can hold; a flush
    // ends with room left over (all output out), the finish with the end.
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    std::size_t in = filtered.size();
    for (;;) {
        const std::size_t room = band.bytes.size() - static_cast<std::size_t>(z.next_out - band.bytes.data());
        if (room == 0) {
            const std::size_t used = band.bytes.size();
            band.bytes.resize(used * 2);
            z.next_out = band.bytes.data() + used;
            continue;
        }
        z.avail_in = static_cast<uInt>(std::min<std::size_t>(in, 1u << 30));
        z.avail_out = static_cast<uInt>(std::min<std::size_t>(room, 1u << 30));
        const uInt given = z.avail_in;
        const int status = deflate(&z, in > given ? Z_NO_FLUSH : flush);
        in -= given - z.avail_in;
        if (status == Z_STREAM_ERROR) {
            band.failed = true;
            break;
        }
        if (in == 0 && (flush == Z_FINISH ? status == Z_STREAM_END : z.avail_out != 0)) {
            break;
        }
    }
    band.bytes.resize(static_cast<std::size_t>(z.next_out - band.bytes.data()));
    deflateEnd(&z);
}

void WritePng(const std::string& path, const PngRows& rows, int level, std::size_t bandBytes)
{
    if (level < 0 || level > 9) {
        throw ToolError("cannot write '" + path + "': PNG compression level " + std::to_string(level) + " (0 to 9)");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(rows.width) * static_cast<std::size_t>(rows.channels);
    const int bandRows = static_cast<int>(
        std::max<std::size_t>(1, std::min<std::size_t>(bandBytes / (rowBytes + 1), std::numeric_limits<int>::max())));
    const int bands = (rows.height + bandRows - 1) / bandRows;

    SafeOutput output(path);
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    WriteAll(output, kSignature, sizeof kSignature);
    unsigned char ihdr[13];
    PutBE(ihdr, static_cast<std::uint32_t>(rows.width));
    PutBE(ihdr + 4, static_cast<std::uint32_t>(rows.height));
    ihdr[8] = 8;                           // bits per sample
    ihdr[9] = rows.channels == 1 ? 0 : 2;  // grey or RGB
    ihdr[10] = 0;                          // deflate
    ihdr[11] = 0;                          // adaptive filtering (a filter byte per row)
    ihdr[12] = 0;                          // not interlaced
    WriteChunk(output, "IHDR", {{ihdr, sizeof ihdr}});

    // zlib header: deflate with a 32 KB window, no dictionary, the level's
    // class in FLEVEL, and the check bits that make it a multiple of 31.
    const unsigned flevel = level <= 1 ? 0 : level <= 5 ? 1 : level == 6 ? 2 : 3;
    unsigned char zhead[2] = {0x78, static_cast<unsigned char>(flevel << 6)};
    zhead[1] = static_cast<unsigned char>(zhead[1] + (31 - (0x78 * 256 + zhead[1]) % 31) % 31);
    uLong adler = 1;
    auto writeBand = [&](int index, const PngBand& band) {
        if (band.failed) {
            output.Fail("the compression failed");
        }
        adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.filtered));
        unsigned char trailer[4];
        PutBE(trailer, static_cast<std::uint32_t>(adler));
        WriteChunk(output, "IDAT",
                   {{zhead, index == 0 ? sizeof zhead : 0},
                    {band.bytes.data(), band.bytes.size(), band.crc},
                    {trailer, index + 1 == bands ? sizeof trailer : 0}});
    };

    // Bands are taken in order; band b waits for slot b % slots to be
    // written. The first band not finished never waits, so neither does the
    // writing: one thread alone compresses and writes every band in turn.
    const int workers = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, bands);
    const int slots = std::min(bands, workers + 2);
    std::vector<PngWorker> rooms(static_cast<std::size_t>(workers));
    std::vector<PngBand> slot(static_cast<std::size_t>(slots));
    std::vector<char> finished(static_cast<std::size_t>(slots), 0);
    std::mutex mutex;
    std::condition_variable freed;
    int taken = 0;
    int written = 0;
    bool writing = false;
    bool stop = false;
    Concurrency::parallel_for(0, workers, [&](int w) {
        std::unique_lock<std::mutex> lock(mutex);
        try {
            while (!stop && taken < bands) {
                const int b = taken++;
                freed.wait(lock, [&] { return stop || b < written + slots; });
                if (stop) {
                    break;
                }
                lock.unlock();
                PngBand& band = slot[static_cast<std::size_t>(b % slots)];
                DeflateBand(rows, level, b * bandRows, std::min(rows.height, (b + 1) * bandRows), b + 1 == bands,
                            rooms[static_cast<std::size_t>(w)], band);
                band.crc = Crc32(0L, band.bytes.data(), band.bytes.size());
                lock.lock();
                finished[static_cast<std::size_t>(b % slots)] = 1;
                if (writing) {
                    continue;  // the writing thread finds it
                }
                writing = true;
                while (written < bands && finished[static_cast<std::size_t>(written % slots)]) {
                    lock.unlock();
                    writeBand(written, slot[static_cast<std::size_t>(written % slots)]);
                    lock.lock();
                    finished[static_cast<std::size_t>(written % slots)] = 0;
                    ++written;
                    freed.notify_all();
                }
                writing = false;
            }
        } catch (...) {
            if (!lock.owns_lock()) {
                lock.lock();
            }
            stop = true;
            freed.notify_all();
            throw;
        }
    });
    WriteChunk(output, "IEND", {});
    output.Commit();
}

}  // namespace

DibLayout ParseDib(const void* dib, std::size_t size)
{
    if (!dib || size < sizeof(BITMAPINFOHEADER)) {
        Unsupported("the block is shorter than a BITMAPINFOHEADER");
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof header);
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > size) {
        Unsupported("header size " + std::to_string(header.biSize));
    }
    if (header.biCompression != BI_RGB) {
        Unsupported("compressed bitmaps are not supported");
    }
    if (header.biBitCount != 8 && header.biBitCount != 24 && header.biBitCount != 32) {
        Unsupported(std::to_string(header.biBitCount) + " bits per pixel");
    }
    if (header.biWidth < 1 || header.biHeight == 0 || header.biHeight == INT32_MIN) {
        Unsupported("size " + std::to_string(header.biWidth) + " x " + std::to_string(header.biHeight));
    }
    DibLayout d;
    d.width = header.biWidth;
    d.height = header.biHeight > 0 ? header.biHeight : -header.biHeight;
    d.bottomUp = header.biHeight > 0;
    d.bitCount = header.biBitCount;
    d.headerBytes = header.biSize;
    if (d.bitCount == 8) {
        d.colors = header.biClrUsed == 0 ? 256 : header.biClrUsed;
        if (d.colors > 256) {
            Unsupported("a colour table of " + std::to_string(d.colors) + " entries");
        }
    }
    const std::size_t rowBytes = static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.bitCount / 8);
    d.stride = (rowBytes + 3) / 4 * 4;
    const std::size_t tableBytes = d.colors * sizeof(RGBQUAD);
    const std::size_t pixelBytes = d.stride * static_cast<std::size_t>(d.height);
    d.bytes = d.headerBytes + tableBytes + pixelBytes;
    if (pixelBytes / d.stride != static_cast<std::size_t>(d.height) || d.bytes > size) {
        Unsupported("the block (" + std::to_string(size) + " bytes) is shorter than its header says");
    }
    const auto* base = static_cast<const unsigned char*>(dib);
    d.table = reinterpret_cast<const RGBQUAD*>(base + d.headerBytes);
    d.bits = base + d.headerBytes + tableBytes;
    return d;
}

Raster DibToRaster(const DibLayout& dib)
{
    Raster raster;
    raster.width = dib.width;
    raster.height = dib.height;
    std::array<RGBQUAD, 256> table{};
    bool grey = dib.bitCount == 8;
    if (dib.bitCount == 8) {
        std::memcpy(table.data(), dib.table, dib.colors * sizeof(RGBQUAD));
        for (std::size_t i = 0; i < dib.colors; ++i) {
            grey = grey && table[i].rgbRed == table[i].rgbGreen && table[i].rgbGreen == table[i].rgbBlue;
        }
    }
    raster.channels = grey ? 1 : 3;
    const std::size_t rowSamples = static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.channels);
    raster.samples.resize(rowSamples * static_cast<std::size_t>(raster.height));
    for (int y = 0; y < raster.height; ++y) {
        DibRow(dib, table.data(), grey, y, raster.samples.data() + static_cast<std::size_t>(y) * rowSamples);
    }
    return raster;
}

void WriteBmpFile(const std::string& path, const void* dib, std::size_t size)
{
    const DibLayout layout = ParseDib(dib, size);
    constexpr std::size_t kFileHeader = sizeof(BITMAPFILEHEADER);
    const std::size_t fileSize = kFileHeader + layout.bytes;
    if (fileSize > 0xFFFFFFFFu) {
        Unsupported("too large for a BMP file");
    }
    // BITMAPFILEHEADER, little-endian: "BM", file size, two reserved words,
    // offset of the pixels.
    unsigned char head[kFileHeader];
    head[0] = 'B';
    head[1] = 'M';
    PutLE(head + 2, static_cast<std::uint32_t>(fileSize), 4);
    PutLE(head + 6, 0, 4);
    PutLE(head + 10, static_cast<std::uint32_t>(kFileHeader + (layout.bits - static_cast<const unsigned char*>(dib))),
          4);
    SafeOutput output(path);
    WriteAll(output, head, sizeof head);
    WriteAll(output, dib, layout.bytes);
    output.Commit();
}

void WritePngFile(const std::string& path, const void* dib, std::size_t size, int level)
{
    const DibLayout layout = ParseDib(dib, size);
    // The colour table as the picture shows it, and whether it is all grey.
    std::array<RGBQUAD, 256> table{};
    bool grey = layout.bitCount == 8;
    if (layout.bitCount == 8) {
        std::memcpy(table.data(), layout.table, layout.colors * sizeof(RGBQUAD));
        for (std::size_t i = 0; i < layout.colors; ++i) {
            grey = grey && table[i].rgbRed == table[i].rgbGreen && table[i].rgbGreen == table[i].rgbBlue;
        }
    }
    PngRows rows;
    rows.width = layout.width;
    rows.height = layout.height;
    rows.channels = grey ? 1 : 3;
    rows.row = [&](int y, unsigned char* out) { DibRow(layout, table.data(), grey, y, out); };
    if (layout.bitCount > 8) {
        rows.subRow = [&](int y, unsigned char* out) {
            DibSubRow(layout.Row(y), layout.width, layout.bitCount / 8, out);
        };
    }
    WritePng(path, rows, level, kPngBandBytes);
}

void WritePngFile(const std::string& path, const Raster& raster, int level, std::size_t bandBytes)
{
    if (raster.width < 1 || raster.height < 1 || (raster.channels != 1 && raster.channels != 3) ||
        raster.samples.size() != static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.height) *
                                     static_cast<std::size_t>(raster.channels)) {
        throw ToolError("cannot write '" + path + "': not a picture of 1 or 3 channels");
    }
    const std::size_t rowSamples = static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.channels);
    PngRows rows;
    rows.width = raster.width;
    rows.height = raster.height;
    rows.channels = raster.channels;
    rows.row = [&](int y, unsigned char* out) {
        std::memcpy(out, raster.samples.data() + static_cast<std::size_t>(y) * rowSamples, rowSamples);
    };
    WritePng(path, rows, level, bandBytes);
}

}  // namespace orbimg::tool
