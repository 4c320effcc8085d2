#pragma once
// Counts every operator new made on one watched thread, for the tests that
// prove a real-time path never touches the heap. Include it in one source
// of a test program only: it replaces the program's operator new (and, with
// the program's symbols exported, a plugin's it loads).

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>

inline std::atomic<long> watchedThreadAllocations{0};
inline std::atomic<pthread_t> watchedThread{};

// The replacements below pair malloc with free; the compiler cannot see
// that they replace the standard pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    if (pthread_equal(pthread_self(), watchedThread.load()))
        ++watchedThreadAllocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
