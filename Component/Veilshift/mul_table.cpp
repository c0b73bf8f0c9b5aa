#include "mul_table.h"

#include "memory.h"

namespace veilshift {

void MulTableStorage::Release() {
    FreeBytes(block);
    FreeBytes(rows);
    block = nullptr;
    rows = nullptr;
}

bool MulTableStorage::Build() {
    Release();
    uint8_t** newRows = AllocateArray<uint8_t*>(256);
    uint8_t* newBlock = AllocateArray<uint8_t>(256 * 256);
    if (newRows == nullptr || newBlock == nullptr) {
        FreeBytes(newRows);
        FreeBytes(newBlock);
        return false;
    }
    for (int32_t a = 0; a < 256; ++a) {
        newRows[a] = newBlock + 256 * a;
        // (2ab + 1) / 510 is floor(ab / 255) for every pair of bytes.
        for (int32_t b = 0; b < 256; ++b) newRows[a][b] = static_cast<uint8_t>((2 * a * b + 1) / 510);
    }
    rows = newRows;
    block = newBlock;
    return true;
}

}  // namespace veilshift
