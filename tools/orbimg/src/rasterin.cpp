// PNG (libpng) and JPEG (libjpeg) input.
//
// Both libraries report errors by longjmp. Each setjmp sits in a small
// function whose frame holds no C++ object with a destructor, and nothing
// but C library frames lies between it and the longjmp; buffers are made by
// the caller between the header and the pixel stage.
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "imagefile.h"
#include "membudget.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle OpenForReading(const std::string& path)
{
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        ReadFailure(path, std::strerror(errno));
    }
    return file;
}

/// Size of an open file in bytes.
std::uint64_t FileBytes(std::FILE* file)
{
    struct stat st {};
    return fstat(fileno(file), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

/// Deflate writes at least 2 bits per 258 bytes: no stream inflates more
/// than 1032-fold.
constexpr std::uint64_t kMostInflation = 1032;

/// Bytes of a float image.
std::uint64_t FloatBytes(std::uint64_t width, std::uint64_t height, std::uint64_t planes)
{
    return width * height * planes * sizeof(float);
}

/// A new float image of the decoded size, with the file's description.
ImageFile MakeRasterImage(const std::string& path, const char* format, int width, int height, int planes, int depth,
                          ImageMaker make)
{
    CheckImageSize(path, width, height, planes);
    ImageFile result;
    result.path = path;
    result.format = format;
    result.bitDepth = depth;
    result.hdu = 0;
    result.image = make(width, height, planes);
    if (result.image->GetWidth() != width || result.image->GetHeight() != height ||
        result.image->GetPlanes() != planes) {
        throw std::bad_alloc();
    }
    SetOrigin(*result.image, path, format, depth);
    return result;
}

/// Spreads one interleaved row (channels samples per pixel) into the planes.
template <typename Sample>
void StoreRow(CKelImage& image, int y, const Sample* in, int channels)
{
    const int width = image.GetWidth();
    for (int p = 0; p < channels; ++p) {
        float* out = image.GetImageAdr(0, y, p, 0, nullptr);
        for (int x = 0; x < width; ++x) {
            out[x] = static_cast<float>(in[x * channels + p]);
        }
    }
}

// ---- PNG ----

/// Stores a decoded PNG row; 16-bit samples go through `wide` (aligned).
void StorePngRow(CKelImage& image, int y, const unsigned char* row, unsigned char* wide, int depth, int channels)
{
    if (depth == 16) {
        const std::size_t bytes = static_cast<std::size_t>(image.GetWidth()) * channels * 2;
        std::memcpy(wide, row, bytes);
        StoreRow(image, y, reinterpret_cast<const png_uint_16*>(wide), channels);
    } else {
        StoreRow(image, y, row, channels);
    }
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[200] = {};
    ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

extern "C" void PngFail(png_structp png, png_const_charp text)
{
    auto* reader = static_cast<PngReader*>(png_get_error_ptr(png));
    std::snprintf(reader->message, sizeof reader->message, "%s", text);
    png_longjmp(png, 1);
}

extern "C" void PngWarn(png_structp, png_const_charp) {}

struct PngShape {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int channels = 0;  ///< after the transformations: 1 grey or 3 RGB
    int depth = 0;     ///< 8 or 16
    bool interlaced = false;
    std::uint64_t streamBytes = 0;  ///< the filtered rows the compressed stream inflates to, at least
};

/// Largest PNG or JPEG side accepted (libpng's own default).
constexpr png_uint_32 kMaxSide = 1000000;
/// Largest ancillary chunk libpng may allocate (text, ICC profile, ...).
constexpr png_alloc_size_t kMaxChunk = png_alloc_size_t{8} << 20;

/// Reads the header and sets the transformations to 8/16-bit grey or RGB
/// without alpha, 16-bit samples in host order.
bool PngReadHeader(PngReader& r, std::FILE* file, PngShape& shape)
{
    if (setjmp(png_jmpbuf(r.png))) {
        return false;
    }
    png_init_io(r.png, file);
    png_set_user_limits(r.png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(r.png, kMaxChunk);
    png_set_chunk_cache_max(r.png, 1000);
    // Ancillary chunks say nothing the tool keeps: skipped unread. libpng
    // 1.6.39 only warns about a text chunk past the limit above, then
    // allocates and zeroes its claimed length (2 GB for 2^31 - 1).
    static const png_byte kIgnored[] =
        "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0"
        "sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
    png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_NEVER, kIgnored, static_cast<int>(sizeof kIgnored / 5));
    png_read_info(r.png, r.info);
    const int colorType = png_get_color_type(r.png, r.info);
    const int depth = png_get_bit_depth(r.png, r.info);
    // Each row inflates to a filter byte and its packed samples.
    const std::uint64_t rawRow = (static_cast<std::uint64_t>(png_get_image_width(r.png, r.info)) *
                                      png_get_channels(r.png, r.info) * static_cast<std::uint64_t>(depth) +
                                  7) /
                                 8;
    shape.streamBytes = static_cast<std::uint64_t>(png_get_image_height(r.png, r.info)) * (rawRow + 1);
    shape.interlaced = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(r.png);
    }
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(r.png);
    }
    // A palette's or grey level's transparency chunk would become an alpha
    // channel: dropped as alpha is.
    if ((colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(r.png, r.info, PNG_INFO_tRNS)) {
        png_set_strip_alpha(r.png);
    }
    if (depth == 16) {
        png_set_swap(r.png);
    }
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    shape.width = png_get_image_width(r.png, r.info);
    shape.height = png_get_image_height(r.png, r.info);
    shape.channels = png_get_channels(r.png, r.info);
    shape.depth = png_get_bit_depth(r.png, r.info);
    return true;
}

/// Reads the rows into the image: one row at a time, or for an interlaced
/// file all of them into `rows` (height row pointers) first.
bool PngReadRows(PngReader& r, const PngShape& shape, png_bytepp rows, unsigned char* wide, CKelImage* image)
{
    if (setjmp(png_jmpbuf(r.png))) {
        return false;
    }
    if (shape.interlaced) {
        png_read_image(r.png, rows);
        for (png_uint_32 y = 0; y < shape.height; ++y) {
            StorePngRow(*image, static_cast<int>(y), rows[y], wide, shape.depth, shape.channels);
        }
    } else {
        for (png_uint_32 y = 0; y < shape.height; ++y) {
            png_read_row(r.png, rows[0], nullptr);
            StorePngRow(*image, static_cast<int>(y), rows[0], wide, shape.depth, shape.channels);
        }
    }
    png_read_end(r.png, nullptr);
    return true;
}

/// libpng's "Read Error" is a file that ends inside a chunk.
[[noreturn]] void PngFailure(const std::string& path, const PngReader& r)
{
    if (std::strcmp(r.message, "Read Error") == 0) {
        ReadFailure(path, "truncated PNG file: the file ends inside a chunk");
    }
    ReadFailure(path, std::string("damaged PNG file: ") + r.message);
}

// ---- JPEG ----

struct JpegReader {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
    bool created = false;
    bool endedEarly = false;
    ~JpegReader()
    {
        if (created) {
            jpeg_destroy_decompress(&cinfo);
        }
    }
};

extern "C" void JpegFail(j_common_ptr cinfo)
{
    auto* reader = static_cast<JpegReader*>(cinfo->client_data);
    (*cinfo->err->format_message)(cinfo, reader->message);
    std::longjmp(reader->jump, 1);
}

/// Warnings are silent, except that data ending early makes the read fail
/// (libjpeg would fill the rest of the picture with grey).
extern "C" void JpegMessage(j_common_ptr cinfo, int level)
{
    auto* reader = static_cast<JpegReader*>(cinfo->client_data);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        reader->endedEarly = true;
    }
}

/// Scans a progressive file may have before it is taken for a hostile one
/// (each scan walks every block of the image).
constexpr int kMaxScans = 500;

extern "C" void JpegProgress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) {
            auto* reader = static_cast<JpegReader*>(cinfo->client_data);
            std::snprintf(reader->message, sizeof reader->message, "more than %d scans", kMaxScans);
            std::longjmp(reader->jump, 1);
        }
    }
}

bool JpegReadHeader(JpegReader& r, std::FILE* file)
{
    if (setjmp(r.jump)) {
        return false;
    }
    jpeg_create_decompress(&r.cinfo);
    r.created = true;
    jpeg_stdio_src(&r.cinfo, file);
    jpeg_read_header(&r.cinfo, TRUE);
    if (r.cinfo.jpeg_color_space == JCS_CMYK || r.cinfo.jpeg_color_space == JCS_YCCK) {
        std::snprintf(r.message, sizeof r.message, "CMYK JPEG files are not supported");
        return false;
    }
    r.cinfo.out_color_space = r.cinfo.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    return true;
}

/// Starts decoding: a progressive file is read whole here, into buffers of
/// its coefficients (checked against the budget before).
bool JpegStart(JpegReader& r)
{
    if (setjmp(r.jump)) {
        return false;
    }
    jpeg_start_decompress(&r.cinfo);
    return !r.endedEarly;
}

/// Reads the rows one at a time through `row` into the image.
bool JpegReadRows(JpegReader& r, JSAMPROW row, CKelImage* image)
{
    if (setjmp(r.jump)) {
        return false;
    }
    while (r.cinfo.output_scanline < r.cinfo.output_height && !r.endedEarly) {
        const int y = static_cast<int>(r.cinfo.output_scanline);
        if (jpeg_read_scanlines(&r.cinfo, &row, 1) == 1) {
            StoreRow(*image, y, row, r.cinfo.output_components);
        }
    }
    if (!r.endedEarly) {
        jpeg_finish_decompress(&r.cinfo);
    }
    return !r.endedEarly;
}

}  // namespace

ImageFile ReadPngFile(const std::string& path, ImageMaker make)
{
    FileHandle file = OpenForReading(path);
    const std::uint64_t fileBytes = FileBytes(file.get());
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, PngFail, PngWarn);
    if (!reader.png || !(reader.info = png_create_info_struct(reader.png))) {
        throw std::bad_alloc();
    }
    PngShape shape;
    if (!PngReadHeader(reader, file.get(), shape)) {
        PngFailure(path, reader);
    }
    if (shape.channels != 1 && shape.channels != 3) {
        ReadFailure(path, "unexpected PNG layout (" + std::to_string(shape.channels) + " channels)");
    }
    CheckImageSize(path, shape.width, shape.height, shape.channels);
    if (shape.streamBytes > fileBytes * kMostInflation) {
        ReadFailure(path, "truncated PNG file: " + std::to_string(shape.width) + " x " + std::to_string(shape.height) +
                              " pixels cannot be held in " + std::to_string(fileBytes) + " bytes");
    }
    const std::size_t rowBytes = png_get_rowbytes(reader.png, reader.info);
    const std::uint64_t buffers = shape.interlaced ? static_cast<std::uint64_t>(rowBytes) * shape.height : rowBytes;
    CheckMemory(path, FloatBytes(shape.width, shape.height, shape.channels) + buffers, "the image");
    ImageFile result = MakeRasterImage(path, "PNG", static_cast<int>(shape.width), static_cast<int>(shape.height),
                                       shape.channels, shape.depth, make);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(buffers));
    std::vector<png_bytep> rows(shape.interlaced ? shape.height : 1);
    for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] = pixels.data() + y * rowBytes;
    }
    std::vector<unsigned char> wide(shape.depth == 16 ? rowBytes : 0);
    if (!PngReadRows(reader, shape, rows.data(), wide.data(), result.image.get())) {
        PngFailure(path, reader);
    }
    SetLevelsToData(*result.image);
    return result;
}

ImageFile ReadJpegFile(const std::string& path, ImageMaker make)
{
    FileHandle file = OpenForReading(path);
    const std::uint64_t fileBytes = FileBytes(file.get());
    JpegReader reader;
    reader.cinfo.err = jpeg_std_error(&reader.errors);
    reader.errors.error_exit = JpegFail;
    reader.errors.emit_message = JpegMessage;
    reader.cinfo.client_data = &reader;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = JpegProgress;
    reader.cinfo.progress = &progress;
    if (!JpegReadHeader(reader, file.get())) {
        ReadFailure(path, std::string("damaged JPEG file: ") + reader.message);
    }
    // The size the header claims, checked before any buffer is made.
    const jpeg_decompress_struct& c = reader.cinfo;
    if (c.image_width > kMaxSide || c.image_height > kMaxSide) {
        ReadFailure(path, "image too large (" + std::to_string(c.image_width) + " x " + std::to_string(c.image_height) +
                              " pixels; at most " + std::to_string(kMaxSide) + " a side)");
    }
    const int channels = c.num_components == 1 ? 1 : 3;
    CheckImageSize(path, c.image_width, c.image_height, channels);
    // Huffman coding spends at least one bit on each block of a component
    // (its DC difference), and every component's first scan covers all its
    // blocks: a file shorter than that is cut short. Arithmetic coding has
    // no such floor.
    std::uint64_t fewestBlocks = ~std::uint64_t{0};
    std::uint64_t allBlocks = 0;
    for (int k = 0; k < c.num_components; ++k) {
        const std::uint64_t blocks =
            static_cast<std::uint64_t>(c.comp_info[k].width_in_blocks) * c.comp_info[k].height_in_blocks;
        fewestBlocks = std::min(fewestBlocks, blocks);
        allBlocks += blocks;
    }
    if (!c.arith_code && fewestBlocks / 8 > fileBytes) {
        ReadFailure(path, "truncated JPEG file: " + std::to_string(c.image_width) + " x " +
                              std::to_string(c.image_height) + " pixels cannot be held in " +
                              std::to_string(fileBytes) + " bytes");
    }
    const std::uint64_t imageBytes = FloatBytes(c.image_width, c.image_height, static_cast<std::uint64_t>(channels));
    // A progressive file keeps every coefficient: 64 of 2 bytes a block.
    const std::uint64_t coefficients = c.progressive_mode || c.buffered_image ? allBlocks * 128 : 0;
    CheckMemory(path, imageBytes + coefficients, "the image");
    reader.cinfo.mem->max_memory_to_use =
        static_cast<long>(std::min<std::uint64_t>(MemoryBudget() - std::min(MemoryBudget(), imageBytes),
                                                  static_cast<std::uint64_t>(std::numeric_limits<long>::max())));
    if (!JpegStart(reader)) {
        ReadFailure(path, reader.endedEarly ? std::string("truncated JPEG file")
                                            : std::string("damaged JPEG file: ") + reader.message);
    }
    const int width = static_cast<int>(reader.cinfo.output_width);
    const int height = static_cast<int>(reader.cinfo.output_height);
    ImageFile result = MakeRasterImage(path, "JPEG", width, height, reader.cinfo.output_components, 8, make);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) *
                             static_cast<std::size_t>(reader.cinfo.output_components));
    if (!JpegReadRows(reader, row.data(), result.image.get())) {
        ReadFailure(path, reader.endedEarly ? std::string("truncated JPEG file")
                                            : std::string("damaged JPEG file: ") + reader.message);
    }
    SetLevelsToData(*result.image);
    return result;
}

}  // namespace orbimg::tool
