// Helpers of the tool's tests: a scratch directory per test, FITS files made
// with cfitsio, and the tool run in-process or as a program.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "imagefile.h"
#include "tool.h"

namespace orbimg::tool::test {

/// A fresh directory for one test, removed afterwards.
class ScratchDir {
public:
    ScratchDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        m_path = std::filesystem::temp_directory_path() / ("orbimg-tool-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir() { std::filesystem::remove_all(m_path); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string operator/(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }
    /// Names of the files in the directory, sorted.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path m_path;
};

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

/// Replaces every occurrence of `from` in `text`.
inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

/// A line of a file of cases in ORBIMG_TOOL_GOLDEN_DIR, and its number.
struct GoldenLine {
    int number = 0;
    std::string text;
};

/// The lines of a file of cases, blank lines and comments (#) left out.
inline std::vector<GoldenLine> GoldenLines(const std::string& name)
{
    std::vector<GoldenLine> lines;
    std::ifstream in(std::string(ORBIMG_TOOL_GOLDEN_DIR) + "/" + name);
    int number = 0;
    for (std::string text; std::getline(in, text);) {
        if (++number, !text.empty() && text[0] != '#') {
            lines.push_back({number, text});
        }
    }
    EXPECT_FALSE(lines.empty()) << name;
    return lines;
}

inline void PrintTo(const GoldenLine& line, std::ostream* out) { *out << line.text; }

/// Names the cases of a test over GoldenLines by their line numbers.
inline std::string LineName(const ::testing::TestParamInfo<GoldenLine>& info)
{
    return "line" + std::to_string(info.param.number);
}

/// The parts of `text` between the separators.
inline std::vector<std::string> Split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t next; (next = text.find(separator, at)) != std::string::npos; at = next + separator.size()) {
        parts.push_back(text.substr(at, next - at));
    }
    parts.push_back(text.substr(at));
    return parts;
}

/// Result of running the tool.
struct RunResult {
    int status = 0;
    std::string out;
    std::string err;
};

/// Runs `orbimg args...` in-process.
inline RunResult RunTool(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    Context ctx{out, err, false};
    const int status = Main(args, ctx);
    return {status, out.str(), err.str()};
}

/// Runs the built program (ORBIMG_TOOL_COMMAND: the program, under the
/// emulator in a cross build); stdout and stderr are captured.
inline RunResult RunProgram(const std::vector<std::string>& args, const ScratchDir& dir)
{
    const std::string outFile = dir / ".program-out";
    const std::string errFile = dir / ".program-err";
    std::string command = ORBIMG_TOOL_COMMAND;
    for (const auto& arg : args) {
        command += " '" + arg + "'";
    }
    const int raw = std::system((command + " >'" + outFile + "' 2>'" + errFile + "'").c_str());
    RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(outFile), ReadText(errFile)};
    std::filesystem::remove(outFile);
    std::filesystem::remove(errFile);
    return result;
}

/// Sample (x, y) of a plane of a loaded image.
inline float At(const ImageFile& file, int x, int y, int plane = 0)
{
    return *file.image->GetImageAdr(x, y, plane, 1, nullptr);
}

/// Every sample of a loaded image: plane after plane, row 0 (the top) first.
inline std::vector<float> Samples(const ImageFile& file)
{
    std::vector<float> samples;
    for (int p = 0; p < file.image->GetPlanes(); ++p) {
        for (int y = 0; y < file.image->GetHeight(); ++y) {
            for (int x = 0; x < file.image->GetWidth(); ++x) {
                samples.push_back(At(file, x, y, p));
            }
        }
    }
    return samples;
}

/// Writes v big-endian at bytes[at..at + 3].
inline void PutBigEndian(std::string& bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(v >> (24 - 8 * i));
    }
}

/// Appends a PNG chunk whose length field says `length`.
inline void PngChunk(std::string& png, const char* type, const std::string& data, std::uint32_t length)
{
    std::string chunk(4, '\0');
    PutBigEndian(chunk, 0, length);
    chunk += std::string(type, 4) + data + std::string(4, '\0');
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4), static_cast<uInt>(chunk.size() - 8));
    PutBigEndian(chunk, chunk.size() - 4, static_cast<std::uint32_t>(crc));
    png += chunk;
}

/// A PNG of `samples` (interleaved, top row first, 8 or 16 bits each), with
/// `chunks` (e.g. PLTE) before the pixels.
inline std::string MakePng(int width, int height, int depth, int colorType, const std::vector<unsigned>& samples,
                           const std::string& chunks = "")
{
    std::string raw;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        raw += i % (samples.size() / height) == 0 ? std::string(1, '\0') : "";  // filter: none
        raw += depth == 16 ? std::string(1, static_cast<char>(samples[i] >> 8)) : "";
        raw += static_cast<char>(samples[i] & 0xFF);
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size());
    std::string ihdr(13, '\0');
    PutBigEndian(ihdr, 0, static_cast<std::uint32_t>(width));
    PutBigEndian(ihdr, 4, static_cast<std::uint32_t>(height));
    ihdr[8] = static_cast<char>(depth);
    ihdr[9] = static_cast<char>(colorType);
    std::string png = "\x89PNG\r\n\x1a\n";
    PngChunk(png, "IHDR", ihdr, 13);
    png += chunks;
    PngChunk(png, "IDAT", packed.substr(0, size), static_cast<std::uint32_t>(size));
    PngChunk(png, "IEND", "", 0);
    return png;
}

/// Makes a FITS file with cfitsio: `build` gets the open file and a status.
inline void MakeFits(const std::string& path, const std::function<void(fitsfile*, int*)>& build)
{
    std::filesystem::remove(path);
    int status = 0;
    fitsfile* file = nullptr;
    fits_create_diskfile(&file, path.c_str(), &status);
    ASSERT_EQ(status, 0) << path;
    build(file, &status);
    ASSERT_EQ(status, 0) << "building " << path;
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
}

/// A primary image of the given BITPIX with the samples as doubles in FITS
/// order (row 1, the bottom row, first), written with cfitsio's own scaling.
inline void MakeImageFits(const std::string& path, int bitpix, std::vector<long> axes,
                          const std::vector<double>& samples,
                          const std::function<void(fitsfile*, int*)>& keywords = nullptr)
{
    MakeFits(path, [&](fitsfile* f, int* status) {
        fits_create_img(f, bitpix, static_cast<int>(axes.size()), axes.data(), status);
        if (keywords) {
            keywords(f, status);
        }
        std::vector<long> first(axes.size(), 1);
        std::vector<double> copy(samples);
        if (!copy.empty()) {
            fits_write_pix(f, TDOUBLE, first.data(), static_cast<LONGLONG>(copy.size()), copy.data(), status);
        }
    });
}

/// A FITS image read back with cfitsio as stored: the samples in FITS order
/// (row 1, the bottom row, first; plane after plane) and the axes.
struct FitsData {
    std::vector<long> axes;
    std::vector<double> samples;
    /// Sample at FITS pixel (x, y), 1-based, of a plane (1-based).
    double At(long x, long y, long plane = 1) const
    {
        return samples[static_cast<std::size_t>(((plane - 1) * axes[1] + (y - 1)) * axes[0] + (x - 1))];
    }
};

inline FitsData ReadFitsData(const std::string& path)
{
    FitsData data;
    int status = 0;
    int naxis = 0;
    fitsfile* f = nullptr;
    fits_open_diskfile(&f, path.c_str(), READONLY, &status);
    fits_get_img_dim(f, &naxis, &status);
    data.axes.assign(static_cast<std::size_t>(std::max(naxis, 0)), 0);
    fits_get_img_size(f, naxis, data.axes.data(), &status);
    long long count = 1;
    for (const long a : data.axes) {
        count *= a;
    }
    data.samples.assign(static_cast<std::size_t>(count), 0.0);
    std::vector<long> first(data.axes.size(), 1);
    fits_read_pix(f, TDOUBLE, first.data(), count, nullptr, data.samples.data(), nullptr, &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0) << path;
    return data;
}

/// A star for StarFrame: FITS position, peak above the sky, FWHM in pixels.
struct TestStar {
    double x, y, peak, fwhm;
};

/// A mono frame in FITS order (row 1 first): sky + Gaussian noise + circular
/// Gaussian stars sampled at pixel centres, clipped at `clip`.
inline std::vector<double> StarFrame(int width, int height, double sky, double noise,
                                     const std::vector<TestStar>& stars, unsigned long long seed = 1,
                                     double clip = 1e30)
{
    std::mt19937_64 random(seed);
    std::normal_distribution<double> gauss;
    std::vector<double> samples;
    for (int y = 1; y <= height; ++y) {
        for (int x = 1; x <= width; ++x) {
            double v = sky + noise * gauss(random);
            for (const auto& s : stars) {
                const double sigma = s.fwhm / 2.3548200450309493;
                v += s.peak * std::exp(-((x - s.x) * (x - s.x) + (y - s.y) * (y - s.y)) / (2.0 * sigma * sigma));
            }
            samples.push_back(std::min(v, clip));
        }
    }
    return samples;
}

/// 160 x 120 with two stars of FWHM 3 and a clipped one, sky 200, noise 2.
inline void MakeStarField(const std::string& path)
{
    const std::vector<TestStar> stars = {{20.0, 40.0, 1000, 3}, {55.3, 15.6, 600, 3}, {62, 45, 9000, 3}};
    MakeImageFits(path, FLOAT_IMG, {160, 120}, StarFrame(160, 120, 200, 2, stars, 5, 1500.0));
}

/// A 96 x 96 field of nine stars of the given FWHM.
inline void MakeFocusFrame(const std::string& path, double fwhm, bool blank = false)
{
    std::vector<TestStar> stars;
    for (int i = 0; i < 9; ++i) {
        stars.push_back({25.0 + 22.0 * (i % 3) + 0.3 * i, 25.0 + 22.0 * (i / 3), 800.0 * 9.0 / (fwhm * fwhm), fwhm});
    }
    std::vector<double> values = StarFrame(96, 96, 300, 3, stars, 11);
    if (blank) {
        values[5000] = std::numeric_limits<double>::quiet_NaN();
    }
    MakeImageFits(path, FLOAT_IMG, {96, 96}, values);
}

/// The numbers in `text`, read by strtod (nan and hex floats too).
inline std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> numbers;
    char* end = nullptr;
    for (const char* p = text.c_str();; p = end) {
        const double v = std::strtod(p, &end);
        if (end == p) {
            return numbers;
        }
        numbers.push_back(v);
    }
}

/// The numbers right after `key` in `text` ("a .. b" read as two), e.g.
/// NumbersAfter("levels: 1 .. 2 px", ": ") gives {1, 2}.
inline std::vector<double> NumbersAfter(const std::string& text, const std::string& key)
{
    const auto at = text.find(key);
    return at == std::string::npos ? std::vector<double>{}
                                   : Numbers(ReplaceAll(text.substr(at + key.size()), " .. ", " "));
}

}  // namespace orbimg::tool::test
