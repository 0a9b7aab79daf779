#pragma once
// Makes Array growth fail on demand, for the tests of what arrays and link
// groups do when memory runs out.

#include <cstdlib>

#include "framework/Array.h"

namespace frameworktest {

// Replaces ArrayReallocate while it lives; the first `allowed` calls succeed.
class FailingAllocator {
public:
    explicit FailingAllocator(int allowedCalls) {
        allowed = allowedCalls;
        ArrayReallocate = Reallocate;
    }
    ~FailingAllocator() { ArrayReallocate = std::realloc; }

private:
    static void* Reallocate(void* block, std::size_t bytes) {
        if (allowed-- <= 0) return nullptr;
        return std::realloc(block, bytes);
    }
    static inline int allowed = 0;
};

}  // namespace frameworktest
