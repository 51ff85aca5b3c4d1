// The loaders' memory budget.
#include "membudget.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "imagefile.h"
#include "tool.h"

namespace orbimg::tool {
namespace {

std::optional<std::uint64_t> g_budget;

/// MemAvailable in bytes, or nothing.
std::optional<std::uint64_t> AvailableMemory()
{
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (file) {
        char line[256];
        while (std::fgets(line, sizeof line, file)) {
            unsigned long long kb = 0;
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                std::fclose(file);
                return static_cast<std::uint64_t>(kb) * 1024;
            }
        }
        std::fclose(file);
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && size > 0) {
        return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(size);
    }
    return std::nullopt;
}

}  // namespace

void SetMemoryBudget(std::optional<std::uint64_t> bytes) { g_budget = bytes; }

std::uint64_t ParseMemorySize(const std::string& text, const std::string& what)
{
    const auto bad = [&]() -> std::uint64_t {
        throw UsageError("bad value for " + what + ": '" + text +
                         "' (expected a size in bytes such as 512M or 4G: a whole number with K, M, G or T)");
    };
    std::size_t i = 0;
    std::uint64_t value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return bad();
        }
        value = value * 10 + digit;
        ++i;
    }
    if (i == 0) {
        return bad();
    }
    std::string unit;
    for (; i < text.size(); ++i) {
        unit += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
    int shift = 0;
    if (!unit.empty() && std::strchr("KMGT", unit[0])) {
        shift = unit[0] == 'K' ? 10 : unit[0] == 'M' ? 20 : unit[0] == 'G' ? 30 : 40;
        unit.erase(0, 1);
    }
    if (unit != "" && unit != "B" && (shift == 0 || unit != "IB")) {
        return bad();
    }
    if (value == 0 || value > (std::numeric_limits<std::uint64_t>::max() >> shift)) {
        return bad();
    }
    return value << shift;
}

std::uint64_t MemoryBudget()
{
    if (g_budget) {
        return *g_budget;
    }
    if (const char* env = std::getenv("ORBIMG_MAX_MEMORY"); env && *env) {
        return ParseMemorySize(env, "ORBIMG_MAX_MEMORY");
    }
    // Without a figure, half the address space of a 64-bit process is as
    // good as no limit.
    return AvailableMemory().value_or(std::uint64_t{1} << 46);
}

std::string DescribeBytes(std::uint64_t bytes)
{
    static const char* const kUnits[] = {"bytes", "kB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 6) {
        value /= 1024.0;
        ++unit;
    }
    char text[64];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, value < 10.0 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    }
    return text;
}

void CheckMemory(const std::string& path, std::uint64_t bytes, const std::string& what)
{
    const std::uint64_t budget = MemoryBudget();
    if (bytes > budget) {
        ReadFailure(path, what + " needs " + DescribeBytes(bytes) + ", more than the memory budget of " +
                              DescribeBytes(budget) + " (--max-memory or ORBIMG_MAX_MEMORY raise it)");
    }
}

}  // namespace orbimg::tool
