// PNG (libpng) and JPEG (libjpeg) input.
//
// Both libraries report errors by longjmp. Each setjmp sits in a small
// function whose frame holds no C++ object with a destructor, and nothing
// but C library frames lies between it and the longjmp; buffers are made by
// the caller between the header and the pixel stage.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <jerror.h>

#include "imagefile.h"
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

/// A new float image of the decoded size, with the file's description.
ImageFile MakeRasterImage(const std::string& path, const char* format, int width, int height, int planes,
                          int depth)
{
    CheckImageSize(path, width, height, planes);
    ImageFile result;
    result.path = path;
    result.format = format;
    result.bitDepth = depth;
    result.hdu = 0;
    result.image = std::make_unique<CKelImage>(width, height, planes, -32, 1.0, 0.0, 1);
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
};

/// Reads the header and sets the transformations to 8/16-bit grey or RGB
/// without alpha, 16-bit samples in host order.
bool PngReadHeader(PngReader& r, std::FILE* file, PngShape& shape)
{
    if (setjmp(png_jmpbuf(r.png))) {
        return false;
    }
    png_init_io(r.png, file);
    png_read_info(r.png, r.info);
    const int colorType = png_get_color_type(r.png, r.info);
    const int depth = png_get_bit_depth(r.png, r.info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(r.png);
    }
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) {
        png_set_expand_gray_1_2_4_to_8(r.png);
    }
    if (colorType & PNG_COLOR_MASK_ALPHA) {
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

bool PngReadRows(PngReader& r, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(r.png))) {
        return false;
    }
    png_read_image(r.png, rows);
    png_read_end(r.png, nullptr);
    return true;
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
    jpeg_start_decompress(&r.cinfo);
    return true;
}

bool JpegReadRows(JpegReader& r, JSAMPROW* rows)
{
    if (setjmp(r.jump)) {
        return false;
    }
    while (r.cinfo.output_scanline < r.cinfo.output_height && !r.endedEarly) {
        jpeg_read_scanlines(&r.cinfo, rows + r.cinfo.output_scanline, r.cinfo.output_height - r.cinfo.output_scanline);
    }
    if (!r.endedEarly) {
        jpeg_finish_decompress(&r.cinfo);
    }
    return !r.endedEarly;
}

}  // namespace

ImageFile ReadPngFile(const std::string& path)
{
    FileHandle file = OpenForReading(path);
    PngReader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, PngFail, PngWarn);
    if (!reader.png || !(reader.info = png_create_info_struct(reader.png))) {
        throw std::bad_alloc();
    }
    PngShape shape;
    if (!PngReadHeader(reader, file.get(), shape)) {
        ReadFailure(path, std::string("damaged PNG file: ") + reader.message);
    }
    if (shape.channels != 1 && shape.channels != 3) {
        ReadFailure(path, "unexpected PNG layout (" + std::to_string(shape.channels) + " channels)");
    }
    ImageFile result = MakeRasterImage(path, "PNG", static_cast<int>(shape.width), static_cast<int>(shape.height),
                                       shape.channels, shape.depth);
    const std::size_t rowBytes = png_get_rowbytes(reader.png, reader.info);
    std::vector<unsigned char> pixels(rowBytes * shape.height);
    std::vector<png_bytep> rows(shape.height);
    for (png_uint_32 y = 0; y < shape.height; ++y) {
        rows[y] = pixels.data() + y * rowBytes;
    }
    if (!PngReadRows(reader, rows.data())) {
        ReadFailure(path, std::string("damaged PNG file: ") + reader.message);
    }
    CKelImage& image = *result.image;
    std::vector<png_uint_16> wide(shape.depth == 16 ? rowBytes / 2 : 0);
    for (png_uint_32 y = 0; y < shape.height; ++y) {
        if (shape.depth == 16) {
            std::memcpy(wide.data(), rows[y], rowBytes);
            StoreRow(image, static_cast<int>(y), wide.data(), shape.channels);
        } else {
            StoreRow(image, static_cast<int>(y), rows[y], shape.channels);
        }
    }
    SetLevelsToData(image);
    return result;
}

ImageFile ReadJpegFile(const std::string& path)
{
    FileHandle file = OpenForReading(path);
    JpegReader reader;
    reader.cinfo.err = jpeg_std_error(&reader.errors);
    reader.errors.error_exit = JpegFail;
    reader.errors.emit_message = JpegMessage;
    reader.cinfo.client_data = &reader;
    if (!JpegReadHeader(reader, file.get())) {
        ReadFailure(path, std::string("damaged JPEG file: ") + reader.message);
    }
    const int width = static_cast<int>(reader.cinfo.output_width);
    const int height = static_cast<int>(reader.cinfo.output_height);
    const int channels = reader.cinfo.output_components;
    ImageFile result = MakeRasterImage(path, "JPEG", width, height, channels, 8);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    std::vector<JSAMPLE> pixels(rowBytes * static_cast<std::size_t>(height));
    std::vector<JSAMPROW> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        rows[y] = pixels.data() + static_cast<std::size_t>(y) * rowBytes;
    }
    if (!JpegReadRows(reader, rows.data())) {
        ReadFailure(path, reader.endedEarly ? std::string("truncated JPEG file")
                                            : std::string("damaged JPEG file: ") + reader.message);
    }
    for (int y = 0; y < height; ++y) {
        StoreRow(*result.image, y, rows[y], channels);
    }
    SetLevelsToData(*result.image);
    return result;
}

}  // namespace orbimg::tool
