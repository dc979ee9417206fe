#pragma once
// While one lives, every operator new of at least `bytes` throws std::bad_alloc, as on a PC
// that has run out of memory. The test binary replaces the global operator new for this.
#include <cstddef>

class alloc_limit {
public:
    explicit alloc_limit(size_t bytes);
    ~alloc_limit();
    alloc_limit(const alloc_limit&) = delete;
    alloc_limit& operator=(const alloc_limit&) = delete;
};
