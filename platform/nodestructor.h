// A function-local static that is never destroyed. Internal to the library.
//
// The library's process-wide state (the thread-index pool, the GDI object
// tables, the settings store) must stay usable while a host's own static
// objects are destroyed at exit, in whatever order they are: a bitmap held in
// a host's global is deleted after every static of this library may already
// have gone. NoDestructor<T> builds T in static storage on first use and never
// runs its destructor; what T owns stays reachable, so leak checkers see no
// leak.
#pragma once

#include <new>
#include <utility>

namespace orbimg::platform {

template <typename T>
class NoDestructor {
public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args)
    {
        new (m_storage) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& operator*() { return *std::launder(reinterpret_cast<T*>(m_storage)); }
    T* operator->() { return &**this; }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

}  // namespace orbimg::platform
