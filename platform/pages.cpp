// Zeroed buffers: mapped pages with huge-page advice for large ones, the C
// heap for small ones.
#include "platform/pages.h"

#include <cstdlib>

#include <sys/mman.h>

namespace orbimg::platform {

namespace {

constexpr std::size_t kMapThreshold = std::size_t{4} << 20;

}  // namespace

void PageDeleter::operator()(unsigned char* p) const noexcept
{
    if (mappedBytes) {
        munmap(p, mappedBytes);
    } else {
        std::free(p);
    }
}

ZeroedBuffer AllocateZeroed(std::size_t bytes)
{
    if (bytes == 0) {
        return ZeroedBuffer(nullptr, PageDeleter());
    }
    if (bytes >= kMapThreshold) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            madvise(p, bytes, MADV_HUGEPAGE);  // advice only: ignored where unsupported
            return ZeroedBuffer(static_cast<unsigned char*>(p), PageDeleter(bytes));
        }
    }
    return ZeroedBuffer(static_cast<unsigned char*>(std::calloc(bytes, 1)), PageDeleter());
}

}  // namespace orbimg::platform
