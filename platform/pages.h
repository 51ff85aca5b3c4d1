// Zeroed memory for large buffers (internal): samples, bitmap bits, global
// blocks.
//
// Buffers from 4 MB on are mapped straight from the system with huge-page
// advice: the pages arrive zeroed, a new 100 MB frame costs a few hundred
// page faults instead of tens of thousands, and the memory goes back to the
// system when freed. Smaller ones come from the C heap (calloc).
#pragma once

#include <cstddef>
#include <memory>

namespace orbimg::platform {

/// Releases a buffer from AllocateZeroed.
struct PageDeleter {
    PageDeleter() noexcept : mappedBytes(0) {}
    explicit PageDeleter(std::size_t bytes) noexcept : mappedBytes(bytes) {}
    void operator()(unsigned char* p) const noexcept;
    std::size_t mappedBytes;  ///< 0: from the C heap
};

using ZeroedBuffer = std::unique_ptr<unsigned char, PageDeleter>;

/// `bytes` zeroed bytes, or null when they cannot be allocated (or bytes is 0).
ZeroedBuffer AllocateZeroed(std::size_t bytes);

}  // namespace orbimg::platform
