// Fuzz target: the tool's file loaders (FITS plain, tile-compressed and
// gzipped; PNG; JPEG) and what `info`, `render` and `stars --auto` do with
// what they load.
// Every input must end in status 0, or status 1 with exactly one line on
// the error stream and no output file; no lock, GDI object or global block
// may be left.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "membudget.h"
#include "orbimg.h"
#include "tool.h"

namespace {

std::string g_input;
std::string g_output;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_load: %s\n", what.c_str());
    std::abort();
}

void Check(const std::vector<std::string>& args, const std::string& output)
{
    std::ostringstream out;
    std::ostringstream err;
    orbimg::tool::Context ctx{out, err, false};
    const int status = orbimg::tool::Main(args, ctx);
    const std::string text = err.str();
    // A file that cannot be read is one line; other failures end with one.
    const bool unread = text.rfind("orbimg: cannot read", 0) == 0;
    if (status == 1 && (text.empty() || text.back() != '\n' || (unread && text.find('\n') != text.size() - 1))) {
        Fail(args[0] + ": status 1 without exactly one error line: '" + text + "'");
    }
    if (status != 0 && status != 1) {
        Fail(args[0] + ": status " + std::to_string(status) + " '" + text + "'");
    }
    if (!output.empty() && status != 0 && std::filesystem::exists(output)) {
        Fail(args[0] + ": failed but left its output");
    }
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Images of a few million samples at most: the fuzzer explores, it does
    // not wait.
    orbimg::tool::SetMemoryBudget(std::uint64_t{24} << 20);
    const std::string dir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    g_input = dir + "/orbimg-fuzz-load-" + std::to_string(getpid()) + ".img";
    g_output = dir + "/orbimg-fuzz-load-" + std::to_string(getpid()) + ".bmp";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(g_input.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        Fail("cannot write " + g_input);
    }
    Check({"info", g_input}, "");
    Check({"render", g_input, "-o", g_output, "--depth", size % 2 ? "8" : "24"}, g_output);
    if (size % 3 == 0) {  // star detection on a third of the inputs, to keep the pace
        Check({"stars", g_input, "--auto"}, "");
    }
    if (GdiLiveObjectCount() != 0 || GlobalLiveBlockCount() != 0) {
        Fail("a GDI object or global block was left");
    }
    return 0;
}
