// The blend table, table[a][b] = floor(a * b / 255): the per-byte weighting of
// the mosaic and ripple crossfades, one look-up instead of a multiplication
// and a division. The module keeps one (ModuleState::mulTable).
#pragma once

#include <cstdint>

namespace veilshift {

struct MulTableStorage {
    uint8_t** rows = nullptr;   // 256 row pointers into block
    uint8_t* block = nullptr;   // 65,536 bytes, row a at 256 * a

    // Frees any earlier table and builds it anew; false when storage ran out
    // (the table is then empty).
    bool Build();
    // Gives the storage back; harmless when empty.
    void Release();
};

}  // namespace veilshift
