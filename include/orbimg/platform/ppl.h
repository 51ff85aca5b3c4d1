// Parallel loops on oneTBB's task scheduler, under the names the library's
// code uses (Concurrency::parallel_for).
//
// Conventions
//   - body(i) runs once for every i = first, first + step, ... below last,
//     on any thread of the scheduler (the calling thread included), with the
//     scheduler's automatic partitioning.
//   - The call returns when every body has run. An exception thrown by a
//     body is passed on to the caller (the first one; the rest of the loop is
//     cancelled).
//   - step below 1, or last <= first, runs nothing.
#pragma once

#include <functional>
#include <type_traits>

#include "platform/export.h"

namespace orbimg::platform {
/// Runs body(i) for i in [first, last) with the given step, in parallel.
ORBIMG_API void ParallelFor(long long first, long long last, long long step,
                            const std::function<void(long long)>& body);
}  // namespace orbimg::platform

namespace Concurrency {

template <typename Index, typename Function>
void parallel_for(Index first, Index last, Index step, const Function& body)
{
    static_assert(std::is_integral_v<Index>, "parallel_for takes an integral index");
    orbimg::platform::ParallelFor(static_cast<long long>(first), static_cast<long long>(last),
                                  static_cast<long long>(step), [&body](long long i) { body(static_cast<Index>(i)); });
}

template <typename Index, typename Function>
void parallel_for(Index first, Index last, const Function& body)
{
    parallel_for(first, last, Index(1), body);
}

}  // namespace Concurrency
