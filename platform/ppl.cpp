// Parallel loops over oneTBB.
#include "platform/ppl.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace orbimg::platform {

void ParallelFor(long long first, long long last, long long step, const std::function<void(long long)>& body)
{
    if (step < 1 || last <= first) {
        return;
    }
    const long long count = (last - first + step - 1) / step;
    tbb::parallel_for(tbb::blocked_range<long long>(0, count), [&](const tbb::blocked_range<long long>& r) {
        for (long long k = r.begin(); k != r.end(); ++k) {
            body(first + k * step);
        }
    });
}

}  // namespace orbimg::platform
