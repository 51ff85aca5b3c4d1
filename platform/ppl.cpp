// Parallel loops over oneTBB.
//
// Under ThreadSanitizer the loops run on plain std::threads instead: the
// Debian oneTBB is not built for it, so the tool would not see the task
// scheduler's synchronisation (the join at the end of a loop included) and
// would report races that do not exist. The split and the results are the
// same; only the threads differ.
#include "platform/ppl.h"

#if defined(__SANITIZE_THREAD__)
#define ORBIMG_PPL_STD_THREADS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORBIMG_PPL_STD_THREADS 1
#endif
#endif

#ifdef ORBIMG_PPL_STD_THREADS
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>
#else
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#endif

namespace orbimg::platform {

void ParallelFor(long long first, long long last, long long step, const std::function<void(long long)>& body)
{
    if (step < 1 || last <= first) {
        return;
    }
    const long long count = (last - first + step - 1) / step;
#ifdef ORBIMG_PPL_STD_THREADS
    const long long threads = std::min<long long>(count, std::max(2u, std::thread::hardware_concurrency()));
    std::atomic<long long> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorMutex;
    auto worker = [&] {
        for (long long k = next.fetch_add(1); k < count && !failed.load(); k = next.fetch_add(1)) {
            try {
                body(first + k * step);
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error) {
                    error = std::current_exception();
                }
                failed.store(true);
            }
        }
    };
    std::vector<std::thread> pool;
    for (long long t = 1; t < threads; ++t) {
        pool.emplace_back(worker);
    }
    worker();
    for (std::thread& t : pool) {
        t.join();
    }
    if (error) {
        std::rethrow_exception(error);
    }
#else
    tbb::parallel_for(tbb::blocked_range<long long>(0, count), [&](const tbb::blocked_range<long long>& r) {
        for (long long k = r.begin(); k != r.end(); ++k) {
            body(first + k * step);
        }
    });
#endif
}

}  // namespace orbimg::platform
