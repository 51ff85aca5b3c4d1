// Helpers of the tool's tests: a scratch directory per test, FITS files made
// with cfitsio, and the tool run in-process or as a program.
#pragma once

#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
        std::string name = std::string(info ? info->test_suite_name() : "tool") + "-" + (info ? info->name() : "x");
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        m_path = std::filesystem::temp_directory_path() /
                 ("orbimg-tool-" + std::to_string(::getpid()) + "-" + name);
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
    RunResult result;
    result.status = Main(args, ctx);
    result.out = out.str();
    result.err = err.str();
    return result;
}

/// Runs the built program with a shell command line (arguments already
/// quoted); stdout and stderr are captured.
inline RunResult RunProgram(const std::string& arguments, const ScratchDir& dir)
{
    const std::string outFile = dir / ".program-out";
    const std::string errFile = dir / ".program-err";
    const std::string command =
        std::string("'") + ORBIMG_TOOL_EXE + "' " + arguments + " >'" + outFile + "' 2>'" + errFile + "'";
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream o(outFile), e(errFile);
    std::stringstream os, es;
    os << o.rdbuf();
    es << e.rdbuf();
    result.out = os.str();
    result.err = es.str();
    std::filesystem::remove(outFile);
    std::filesystem::remove(errFile);
    return result;
}

/// Sample (x, y) of a plane of a loaded image.
inline float At(const ImageFile& file, int x, int y, int plane = 0)
{
    return *file.image->GetImageAdr(x, y, plane, 1, nullptr);
}

/// The message of the ToolError that loading `path` throws ("" when none).
inline std::string ReadError(const std::string& path)
{
    try {
        LoadImageFile(path);
    } catch (const ToolError& e) {
        return e.what();
    }
    return "";
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
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
        fits_write_pix(f, TDOUBLE, first.data(), static_cast<LONGLONG>(copy.size()), copy.data(), status);
    });
}

}  // namespace orbimg::tool::test
