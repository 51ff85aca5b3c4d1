// BMP and PNG files from packed DIBs.
#include "dibfile.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "safeoutput.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

[[noreturn]] void Unsupported(const std::string& reason)
{
    throw ToolError("unsupported bitmap: " + reason);
}

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

// ---- libpng writing (see rasterin.cpp for the setjmp discipline) ----

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[200] = {};
    ~PngWriter() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

extern "C" void PngWriteFail(png_structp png, png_const_charp text)
{
    auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
    std::snprintf(writer->message, sizeof writer->message, "%s", text);
    png_longjmp(png, 1);
}

extern "C" void PngWriteWarn(png_structp, png_const_charp) {}

bool PngWriteImage(PngWriter& w, std::FILE* file, const Raster& raster, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(w.png))) {
        return false;
    }
    png_init_io(w.png, file);
    // Level 3 writes a 6-megapixel picture several times faster than the
    // default level for a few per cent more bytes.
    png_set_compression_level(w.png, 3);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(raster.width), static_cast<png_uint_32>(raster.height), 8,
                 raster.channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    png_write_image(w.png, rows);
    png_write_end(w.png, nullptr);
    return true;
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
    bool grey = dib.bitCount == 8;
    std::vector<RGBQUAD> table(256, RGBQUAD{0, 0, 0, 0});
    if (dib.bitCount == 8) {
        std::memcpy(table.data(), dib.table, dib.colors * sizeof(RGBQUAD));
        for (std::size_t i = 0; i < dib.colors; ++i) {
            grey = grey && table[i].rgbRed == table[i].rgbGreen && table[i].rgbGreen == table[i].rgbBlue;
        }
    }
    raster.channels = grey ? 1 : 3;
    const std::size_t rowSamples = static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.channels);
    raster.samples.resize(rowSamples * static_cast<std::size_t>(raster.height));
    const int pixelBytes = dib.bitCount / 8;
    for (int y = 0; y < raster.height; ++y) {
        const unsigned char* in = dib.Row(y);
        unsigned char* out = raster.samples.data() + static_cast<std::size_t>(y) * rowSamples;
        if (grey) {
            for (int x = 0; x < raster.width; ++x) {
                out[x] = table[in[x]].rgbRed;
            }
        } else if (dib.bitCount == 8) {
            for (int x = 0; x < raster.width; ++x) {
                const RGBQUAD c = table[in[x]];
                out[3 * x] = c.rgbRed;
                out[3 * x + 1] = c.rgbGreen;
                out[3 * x + 2] = c.rgbBlue;
            }
        } else {
            for (int x = 0; x < raster.width; ++x) {
                const unsigned char* px = in + static_cast<std::size_t>(x) * pixelBytes;
                out[3 * x] = px[2];
                out[3 * x + 1] = px[1];
                out[3 * x + 2] = px[0];
            }
        }
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

void WritePngFile(const std::string& path, const void* dib, std::size_t size)
{
    WritePngFile(path, DibToRaster(ParseDib(dib, size)));
}

void WritePngFile(const std::string& path, const Raster& raster)
{
    if (raster.width < 1 || raster.height < 1 || (raster.channels != 1 && raster.channels != 3) ||
        raster.samples.size() != static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.height) *
                                     static_cast<std::size_t>(raster.channels)) {
        throw ToolError("cannot write '" + path + "': not a picture of 1 or 3 channels");
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(raster.height));
    const std::size_t rowSamples = static_cast<std::size_t>(raster.width) * static_cast<std::size_t>(raster.channels);
    for (int y = 0; y < raster.height; ++y) {
        rows[y] = const_cast<png_bytep>(raster.samples.data() + static_cast<std::size_t>(y) * rowSamples);
    }
    SafeOutput output(path);
    PngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer, PngWriteFail, PngWriteWarn);
    if (!writer.png || !(writer.info = png_create_info_struct(writer.png))) {
        throw std::bad_alloc();
    }
    if (!PngWriteImage(writer, output.Stream(), raster, rows.data())) {
        output.Fail(writer.message);
    }
    output.Commit();
}

}  // namespace orbimg::tool
