#include "memory.h"

#include <cstdlib>

namespace veilshift {
namespace {
int64_t allocationCount = 0;
int64_t failFrom = 0;  // 0: never fail
}  // namespace

void* AllocateBytes(size_t size) {
    ++allocationCount;
    if (failFrom > 0 && allocationCount >= failFrom) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void FreeBytes(void* block) { std::free(block); }

void FailAllocationsFrom(int64_t n) {
    allocationCount = 0;
    failFrom = n;
}

int64_t AllocationCount() { return allocationCount; }

}  // namespace veilshift
