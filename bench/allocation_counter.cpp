#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> gNews{0};
std::atomic<long long> gMallocs{0};
}  // namespace

void* operator new(std::size_t size) {
    gNews.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Counts every malloc and hands it to glibc's.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) {
    gMallocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
constexpr bool kCountsMallocs = true;
#else
constexpr bool kCountsMallocs = false;
#endif

namespace zntr::bench {

long long NewCount() {
    return gNews.load(std::memory_order_relaxed);
}
long long MallocCount() {
    return gMallocs.load(std::memory_order_relaxed);
}
bool CountsMallocs() {
    return kCountsMallocs;
}

}  // namespace zntr::bench
