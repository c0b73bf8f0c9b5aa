#include "memory.h"

#include <cstdlib>

namespace veilshift {
namespace {
int64_t allocationCount = 0;
int64_t failFrom = 0;  // 0: never fail
int64_t outstanding = 0;
}  // namespace

void* AllocateBytes(size_t size) {
    ++allocationCount;
    if (failFrom > 0 && allocationCount >= failFrom) return nullptr;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) ++outstanding;
    return block;
}

void FreeBytes(void* block) {
    if (block == nullptr) return;
    --outstanding;
    std::free(block);
}

void FailAllocationsFrom(int64_t n) {
    allocationCount = 0;
    failFrom = n;
}

int64_t AllocationCount() { return allocationCount; }
int64_t OutstandingAllocations() { return outstanding; }

}  // namespace veilshift
