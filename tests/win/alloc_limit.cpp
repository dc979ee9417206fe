#include "tests/win/alloc_limit.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_limit{0};
} // namespace

alloc_limit::alloc_limit(size_t bytes) {
    g_limit = bytes;
}

alloc_limit::~alloc_limit() {
    g_limit = 0;
}

void* operator new(size_t size) {
    const size_t limit = g_limit.load();
    if (limit != 0 && size >= limit)
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
