// The memory budget of the loaders: how many bytes an image and its decoding
// may take before a file is refused.
//
// Conventions
//   - The budget is, first found: the value given with SetMemoryBudget (the
//     tool's --max-memory option), the environment variable
//     ORBIMG_MAX_MEMORY, or the memory the machine has available now
//     (MemAvailable of /proc/meminfo; the free physical pages where that
//     cannot be read).
//   - Sizes are written as a whole number of bytes with an optional suffix
//     K, M, G or T (powers of 1024, an optional trailing "B" or "iB"; case
//     does not matter): "512M", "4G", "1500000000".
//   - A loader checks what it is about to allocate (the float image and its
//     decoding buffers) before allocating it; see CheckMemory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orbimg::tool {

/// Sets the budget in bytes for this process; nothing restores the
/// environment's or the machine's figure.
void SetMemoryBudget(std::optional<std::uint64_t> bytes);
/// The budget in force (see Conventions). Throws UsageError when
/// ORBIMG_MAX_MEMORY is set to something that is not a size.
std::uint64_t MemoryBudget();
/// Parses a size such as "512M" (see Conventions); throws UsageError naming
/// `what` for anything else, or for 0.
std::uint64_t ParseMemorySize(const std::string& text, const std::string& what);
/// "1.5 GB", "300 MB", "12 kB": a byte count for messages (powers of 1024).
std::string DescribeBytes(std::uint64_t bytes);
/// Throws ToolError "cannot read '<path>': <what> needs <n>, more than the
/// memory budget of <m> (...)" when `bytes` exceeds the budget.
void CheckMemory(const std::string& path, std::uint64_t bytes, const std::string& what);

}  // namespace orbimg::tool
