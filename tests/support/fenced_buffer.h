// Memory for tests of code that must stay inside a block: the block lies
// between two inaccessible pages, flush against the one after it (or the one
// before it), so that a load or store one byte outside faults where it happens
// rather than passing unseen. A block of whole pages touches both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace veilshift::test {

enum class Fence {
    kNone,    // a plain heap block of the exact size (ASan's redzones watch it)
    kAfter,   // the block's last byte is followed by an inaccessible page
    kBefore,  // the block's first byte follows an inaccessible page
};

class FencedBuffer {
public:
    static size_t PageSize();

    // Falls back to a heap block if the pages cannot be had; Fenced() tells.
    explicit FencedBuffer(size_t size, Fence fence = Fence::kAfter);
    ~FencedBuffer();
    FencedBuffer(const FencedBuffer&) = delete;
    FencedBuffer& operator=(const FencedBuffer&) = delete;

    bool Fenced() const { return map_ != nullptr; }
    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    uint8_t* begin() { return data_; }
    uint8_t* end() { return data_ + size_; }
    uint8_t& operator[](size_t i) { return data_[i]; }
    uint8_t operator[](size_t i) const { return data_[i]; }

private:
    size_t size_;
    uint8_t* data_ = nullptr;
    std::unique_ptr<uint8_t[]> heap_;
    void* map_ = nullptr;
    size_t mapSize_ = 0;
};

// Rows of `cols` 24-bit pixels `pitch` bytes apart in one fenced block of
// random bytes, sized so that the last byte of the last row in memory is the
// block's last byte; a negative pitch stores the rows bottom-up.
struct FencedRows {
    FencedRows(int32_t cols, int32_t rows, int32_t pitch, Fence fence, std::mt19937& random);

    uint8_t* Pixel(int32_t x, int32_t y) { return origin + static_cast<ptrdiff_t>(y) * pitch + x * 3; }
    // Every byte of the block, padding included.
    std::vector<uint8_t> Bytes() const { return {memory.data(), memory.data() + memory.size()}; }

    int32_t cols, rows, pitch;
    FencedBuffer memory;
    uint8_t* origin;
};

}  // namespace veilshift::test
