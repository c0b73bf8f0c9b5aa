#include "mul_table.h"

#include "memory.h"

namespace veilshift {

MulTableStorage MulTable;

void ReleaseMulTable() {
    FreeBytes(MulTable.block);
    FreeBytes(MulTable.rows);
    MulTable.block = nullptr;
    MulTable.rows = nullptr;
}

bool BuildMulTable() {
    ReleaseMulTable();
    uint8_t** rows = AllocateArray<uint8_t*>(256);
    uint8_t* block = AllocateArray<uint8_t>(256 * 256);
    if (rows == nullptr || block == nullptr) {
        FreeBytes(rows);
        FreeBytes(block);
        return false;
    }
    for (int32_t a = 0; a < 256; ++a) {
        rows[a] = block + 256 * a;
        // (2ab + 1) / 510 is floor(ab / 255) for every pair of bytes.
        for (int32_t b = 0; b < 256; ++b) rows[a][b] = static_cast<uint8_t>((2 * a * b + 1) / 510);
    }
    MulTable.rows = rows;
    MulTable.block = block;
    return true;
}

}  // namespace veilshift
