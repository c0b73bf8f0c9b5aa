// The shatter's depth buffer: one grid of floats holding 1/z of the nearest
// surface drawn at each cell, 0.0 for nothing drawn (larger is nearer).
#pragma once

#include <cstdint>

namespace veilshift {

class DepthBuffer {
public:
    constexpr DepthBuffer() = default;
    DepthBuffer(const DepthBuffer&) = delete;
    DepthBuffer& operator=(const DepthBuffer&) = delete;

    // A new grid of rows x columns cells, left uninitialised (Clear fills it).
    // False for a non-positive size, leaving the grid as it was, or when memory
    // runs out, leaving no grid.
    bool Allocate(int32_t rows, int32_t columns);
    void Clear(float value);
    // Safe to call any number of times; the module calls it at unload.
    void Free();

    // True when the grid has at least `rows` rows of at least `columns` cells.
    bool Covers(int32_t rows, int32_t columns) const {
        return rowPointers != nullptr && rows <= rowCount && columns <= columnCount;
    }

    // All cells lie in one block; rowPointers[r] = block + r * columnCount.
    float** rowPointers = nullptr;
    int32_t columnCount = 0;
    int32_t rowCount = 0;
};

}  // namespace veilshift
