#include "depth_buffer.h"

#include <cstring>
#include <type_traits>

#include "memory.h"

namespace veilshift {

static_assert(std::is_trivially_destructible_v<DepthBuffer>);

bool DepthBuffer::Allocate(int32_t rows, int32_t columns) {
    if (columns <= 0 || rows <= 0) return false;
    Free();
    // rows * columns can pass the 32-bit size range of the shipped build.
    const uint64_t cells = static_cast<uint64_t>(rows) * static_cast<uint64_t>(columns);
    if (cells > SIZE_MAX) return false;
    float** pointers = AllocateArray<float*>(static_cast<size_t>(rows));
    if (pointers == nullptr) return false;
    float* block = AllocateArray<float>(static_cast<size_t>(cells));
    if (block == nullptr) {
        FreeBytes(pointers);
        return false;
    }
    for (int32_t r = 0; r < rows; ++r) pointers[r] = block + static_cast<size_t>(r) * static_cast<size_t>(columns);
    rowPointers = pointers;
    columnCount = columns;
    rowCount = rows;
    return true;
}

void DepthBuffer::Clear(float value) {
    if (rowPointers == nullptr) return;
    // The rows follow one another in the block: one fill covers them all.
    float* const block = rowPointers[0];
    const size_t cells = static_cast<size_t>(rowCount) * static_cast<size_t>(columnCount);
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (bits == 0) {  // +0.0, every frame's value
        std::memset(block, 0, cells * sizeof(float));
        return;
    }
    // By its bits, so the x87 unit never touches the value on the way.
    for (size_t i = 0; i < cells; ++i) std::memcpy(block + i, &bits, sizeof bits);
}

void DepthBuffer::Free() {
    if (rowPointers == nullptr) return;
    FreeBytes(rowPointers[0]);
    FreeBytes(rowPointers);
    rowPointers = nullptr;
    columnCount = 0;
    rowCount = 0;
}

}  // namespace veilshift
