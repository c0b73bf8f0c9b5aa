// Module storage. Every allocation of the module goes through AllocateBytes, which
// answers null instead of throwing, so each caller tests its result and fails
// cleanly (Begin false, or a frame left undrawn). Tests can make the n-th
// allocation fail to walk every failure path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace veilshift {

void* AllocateBytes(size_t size);
void FreeBytes(void* block);

// Makes the allocation numbered `n` from now (1 = the next one) and every later
// one fail until reset; 0 turns failures off. Returns nothing; AllocationCount()
// tells how many allocations were asked for since the last reset.
void FailAllocationsFrom(int64_t n);
int64_t AllocationCount();
// Blocks obtained and not yet freed, over the module's whole life (never reset):
// zero again once everything the module acquired has been given back.
int64_t OutstandingAllocations();

// Array of `count` elements of T, or null; the byte count is checked for overflow.
template <typename T>
T* AllocateArray(size_t count) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (count > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(AllocateBytes(count * sizeof(T)));
}

// A growable list of plain records, for the renderer and the shatter pieces.
// Append reports allocation failure instead of throwing.
template <typename T>
class GrowableArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    GrowableArray() = default;
    GrowableArray(const GrowableArray&) = delete;
    GrowableArray& operator=(const GrowableArray&) = delete;
    ~GrowableArray() { Release(); }

    bool Append(const T& item) {
        if (size_ == capacity_ && !Reserve(capacity_ < 8 ? 8 : capacity_ * 2)) return false;
        items_[size_++] = item;
        return true;
    }
    bool Reserve(size_t capacity) {
        if (capacity <= capacity_) return true;
        T* grown = AllocateArray<T>(capacity);
        if (grown == nullptr) return false;
        if (size_ > 0) std::memcpy(static_cast<void*>(grown), items_, size_ * sizeof(T));
        FreeBytes(items_);
        items_ = grown;
        capacity_ = capacity;
        return true;
    }
    void Clear() { size_ = 0; }          // keeps the storage
    void Release() {                     // gives the storage back
        FreeBytes(items_);
        items_ = nullptr;
        size_ = capacity_ = 0;
    }

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    T& operator[](size_t i) { return items_[i]; }
    const T& operator[](size_t i) const { return items_[i]; }
    T* begin() { return items_; }
    T* end() { return items_ + size_; }
    const T* begin() const { return items_; }
    const T* end() const { return items_ + size_; }

private:
    T* items_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace veilshift
