// Thread indices (CParallel): each thread that asks gets the lowest index no
// live thread holds, and gives it back when it ends.
#include <array>
#include <mutex>
#include <stdexcept>

#include "imagecore/image.h"
#include "platform/nodestructor.h"

namespace {

constexpr int kMaxThreads = 256;

class ThreadIndexPool {
public:
    int Acquire()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < kMaxThreads; ++i) {
            if (!m_used[static_cast<std::size_t>(i)]) {
                m_used[static_cast<std::size_t>(i)] = true;
                return i;
            }
        }
        throw std::runtime_error("CParallel: more threads alive than GetMaxThreads()");
    }
    void Release(int index)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_used[static_cast<std::size_t>(index)] = false;
    }

private:
    std::mutex m_mutex;
    std::array<bool, kMaxThreads> m_used{};
};

// Threads may end after the library's statics are gone (pool threads at
// exit): the pool is never destroyed.
ThreadIndexPool& Pool()
{
    static orbimg::platform::NoDestructor<ThreadIndexPool> pool;
    return *pool;
}

struct ThreadIndex {
    int index = -1;
    ~ThreadIndex()
    {
        if (index >= 0) {
            Pool().Release(index);
        }
    }
};

}  // namespace

int CParallel::GetMaxThreads() { return kMaxThreads; }

int CParallel::GetThreadNum()
{
    thread_local ThreadIndex slot;
    if (slot.index < 0) {
        slot.index = Pool().Acquire();
    }
    return slot.index;
}
