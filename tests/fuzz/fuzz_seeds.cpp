// Writes the seed corpora of the fuzz targets: small valid files of every
// kind the loaders read, a few API inputs and some command lines.
//   fuzz_seeds DIR   ->  DIR/load, DIR/api, DIR/options
#include <fitsio.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

/// A FITS file written by cfitsio: a ramp of values (-50 .. 149, 0 .. 199
/// for bytes and PLIO) with blanks at every fifth sample when asked (BLANK
/// -32768 or NaN), tile-compressed when asked, gzipped when the name ends
/// in .gz, after an empty primary HDU for an extension.
bool Fits(const std::string& path, int bitpix, std::vector<long> axes, int compression = 0, long tileRows = 0,
          bool blanks = false, bool extension = false)
{
    std::filesystem::remove(path);
    int status = 0;
    fitsfile* f = nullptr;
    fits_create_file(&f, path.c_str(), &status);
    if (compression) {
        fits_set_compression_type(f, compression, &status);
        long tile[2] = {axes[0], tileRows};
        if (tileRows > 0) {
            fits_set_tile_dim(f, 2, tile, &status);
        }
    }
    if (extension) {
        fits_create_img(f, SHORT_IMG, 0, nullptr, &status);
    }
    fits_create_img(f, bitpix, static_cast<int>(axes.size()), axes.data(), &status);
    if (blanks && bitpix > 0) {
        fits_write_key_lng(f, "BLANK", -32768, "", &status);
    }
    fits_write_key_str(f, "OBJECT", "seed", "", &status);
    std::vector<double> v(static_cast<std::size_t>(axes[0] * axes[1] * (axes.size() > 2 ? axes[2] : 1)));
    const int offset = bitpix == BYTE_IMG || compression == PLIO_1 ? 0 : -50;
    for (std::size_t i = 0; i < v.size(); ++i) {
        v[i] = blanks && i % 5 == 2 ? (bitpix > 0 ? -32768.0 : NAN) : static_cast<double>((i * 37) % 200) + offset;
    }
    std::vector<long> first(axes.size(), 1);
    const auto write = [&](int type, auto sample) {  // cfitsio compresses short images from shorts only
        std::vector<decltype(sample)> w(v.begin(), v.end());
        fits_write_pix(f, type, first.data(), static_cast<LONGLONG>(w.size()), w.data(), &status);
    };
    bitpix == SHORT_IMG ? write(TSHORT, short{}) : bitpix > 0 ? write(TINT, 0) : write(TDOUBLE, 0.0);
    fits_close_file(f, &status);
    if (status != 0) {
        std::fprintf(stderr, "fuzz_seeds: cfitsio status %d writing %s\n", status, path.c_str());
    }
    return status == 0;
}

void Png(const std::string& path, int width, int height, int colorType, int depth, bool interlace, bool trns)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);  // an error aborts
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, depth, colorType, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[4] = {{0, 0, 0}, {200, 100, 50}, {1, 2, 3}, {255, 255, 255}};
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette, 4);
    }
    png_byte alpha[1] = {0};
    if (trns) {
        png_set_tRNS(png, info, alpha, 1, nullptr);
    }
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>("seed");
    png_set_text(png, info, &text, 1);
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * channels * depth + 7) / 8;
    std::vector<png_byte> row(rowBytes);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            for (std::size_t i = 0; i < rowBytes; ++i) {
                row[i] = static_cast<png_byte>((i * 13 + y * 7) & (colorType == PNG_COLOR_TYPE_PALETTE ? 0x33 : 0xFF));
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

void Jpeg(const std::string& path, int width, int height, int channels, bool progressive)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = channels;
    cinfo.in_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 60, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * channels);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = static_cast<JSAMPLE>(i * 5 + cinfo.next_scanline * 9);
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

void Text(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (const char* sub : {"load", "api", "options"}) {
        std::filesystem::create_directories(dir + "/" + sub);
    }
    const std::string load = dir + "/load/";
    bool ok = true;
    for (int bitpix : {BYTE_IMG, SHORT_IMG, LONG_IMG, LONGLONG_IMG, FLOAT_IMG, DOUBLE_IMG}) {
        ok = ok && Fits(load + "plain" + std::to_string(bitpix + 100) + ".fits", bitpix, {9, 7});
    }
    ok = ok && Fits(load + "colour.fits", FLOAT_IMG, {5, 4, 3}, 0, 0, true);
    ok = ok && Fits(load + "extension.fits", SHORT_IMG, {6, 5}, 0, 0, true, true);
    ok = ok && Fits(load + "rice.fits", SHORT_IMG, {12, 9}, RICE_1, 4, true);
    ok = ok && Fits(load + "rice32.fits", LONG_IMG, {12, 9}, RICE_1, 3);
    ok = ok && Fits(load + "ricefloat.fits", FLOAT_IMG, {12, 9}, RICE_1, 2, true);
    ok = ok && Fits(load + "gzip.fits", SHORT_IMG, {12, 9}, GZIP_1, 4);
    ok = ok && Fits(load + "gzip2.fits", FLOAT_IMG, {12, 9}, GZIP_2, 4);
    ok = ok && Fits(load + "hcompress.fits", SHORT_IMG, {16, 12}, HCOMPRESS_1, 0, true);
    ok = ok && Fits(load + "hcompress32.fits", LONG_IMG, {12, 9}, HCOMPRESS_1, 0);
    ok = ok && Fits(load + "plio.fits", SHORT_IMG, {12, 9}, PLIO_1, 4);
    ok = ok && Fits(load + "plain.fits.gz", SHORT_IMG, {9, 7});
    ok = ok && Fits(load + "rice.fits.gz", SHORT_IMG, {12, 9}, RICE_1, 4, true);
    Png(load + "grey8.png", 7, 5, PNG_COLOR_TYPE_GRAY, 8, false, false);
    Png(load + "grey16.png", 7, 5, PNG_COLOR_TYPE_GRAY, 16, true, false);
    Png(load + "grey2.png", 7, 5, PNG_COLOR_TYPE_GRAY, 2, false, true);
    Png(load + "rgb.png", 7, 5, PNG_COLOR_TYPE_RGB, 8, false, false);
    Png(load + "rgba16.png", 7, 5, PNG_COLOR_TYPE_RGB_ALPHA, 16, true, false);
    Png(load + "palette.png", 7, 5, PNG_COLOR_TYPE_PALETTE, 4, false, true);
    Jpeg(load + "grey.jpg", 17, 9, 1, false);
    Jpeg(load + "colour.jpg", 17, 9, 3, false);
    Jpeg(load + "progressive.jpg", 17, 9, 3, true);

    for (int k = 0; k < 4; ++k) {
        std::string bytes;
        for (int i = 0; i < 64 << k; ++i) {
            bytes += static_cast<char>((i * 73 + k * 11) & 0xFF);
        }
        Text(dir + "/api/seed" + std::to_string(k), bytes);
    }
    // A command number (info 0, render 1, histogram 2, stars 3, focus 4,
    // transform 5) as a byte, then the words after the command, NUL-separated.
    const std::string lines[] = {
        "1 x.fits -o y.png --levels 1,2 --depth 8",
        "1 x.fits -o y.bmp --method mean --rect 1,1,5,5 --per-plane",
        "2 x.fits --bins 64 --range -5,5e3 --plane G --log",
        "3 x.fits --auto 10 --at 1.5,2 3,4 --csv s.csv",
        "4 a.fits b.fits --rect 1,1,9,9 --max-memory 512M",
        "5 x.fits -o y.fits --bin 2x2 --resample 30x20 --bicubic --canvas 40x40 --anchor 4 --fill 3 --flip h "
        "--bright 1 --contrast 2 --pivot 9",
    };
    for (std::size_t k = 0; k < std::size(lines); ++k) {
        std::string bytes = std::string(1, static_cast<char>(lines[k][0] - '0')) + lines[k].substr(2);
        std::replace(bytes.begin(), bytes.end(), ' ', '\0');
        Text(dir + "/options/line" + std::to_string(k), bytes);
    }
    return ok ? 0 : 1;
}
