// Row bands: how the library's row loops run on every core (internal).
//
// Conventions
//   - A loop over rows hands ForRowBands a body that computes rows
//     begin .. end - 1; the rows are split into bands of consecutive rows,
//     one body call per band, each band run by one thread and the bands run
//     in parallel through Concurrency::parallel_for (oneTBB).
//   - While part of the sample store is swapped out
//     (CVmManager::GetCurrentSwapSize() != 0), or when there are too few rows
//     to share, the body runs once, over every row, on the calling thread:
//     the serial loop.
//   - A body writes only its own rows and gives every row the same bits
//     whichever band it lies in, so parallel and serial results are
//     identical. Buffers a body needs (gathered rows, caches) belong to the
//     body call, so they are allocated only by the bands that run.
#pragma once

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "imagecore/image.h"
#include "platform/ppl.h"

namespace orbimg::platform {

/// Bands per call: a few per processor, so a thread that finishes early
/// takes another band.
inline int MaxRowBands()
{
    static const int bands = 4 * static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return bands;
}

/// True when row loops run in parallel now (no part of the store swapped out).
inline bool RowBandsParallel() { return CVmManager::GetCurrentSwapSize() == 0; }

/// Runs body(begin, end) over rows first .. last - 1 in bands of at least
/// `minRows` rows, in parallel unless the store is partly swapped out (then
/// once over every row, on this thread). Nothing runs when last <= first.
/// An exception thrown by a body is passed on (see Concurrency::parallel_for).
template <typename Body>
void ForRowBands(int first, int last, const Body& body, int minRows = 8)
{
    if (last <= first) {
        return;
    }
    const long long rows = static_cast<long long>(last) - first;
    const int bands = static_cast<int>(std::min<long long>(MaxRowBands(), rows / std::max(minRows, 1)));
    if (bands < 2 || !RowBandsParallel()) {
        body(first, last);
        return;
    }
    Concurrency::parallel_for(0, bands, 1, [&](int band) {
        const int begin = first + static_cast<int>(rows * band / bands);
        const int end = first + static_cast<int>(rows * (band + 1) / bands);
        body(begin, end);
    });
}

/// One T per thread (CParallel::GetThreadNum()), made by the thread's first
/// Get and kept while this object lives: the buffers of a loop's bands are
/// allocated once per thread that runs, not once per band. Each T is its own
/// allocation, so threads never share a cache line of them.
template <class T>
class PerThread {
public:
    /// The calling thread's T, made by make() on its first call.
    template <class Make>
    T& Get(const Make& make)
    {
        std::unique_ptr<T>& slot = m_slots[static_cast<std::size_t>(CParallel::GetThreadNum())];
        if (!slot) {
            slot = std::make_unique<T>(make());
        }
        return *slot;
    }

private:
    std::vector<std::unique_ptr<T>> m_slots =
        std::vector<std::unique_ptr<T>>(static_cast<std::size_t>(CParallel::GetMaxThreads()));
};

}  // namespace orbimg::platform
