// Pixels as 32-bit words: a pixel's three bytes and the byte after them, at
// any alignment. Shared by the form files of the 2D kernels and the span
// filler, each with its own copy (internal linkage: see
// Component/Veilshift/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <cstring>

namespace veilshift {
namespace {

inline uint32_t LoadWord(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);  // rows need not be 4-byte aligned
    return word;
}

inline void StoreWord(uint8_t* p, uint32_t word) { std::memcpy(p, &word, sizeof word); }

}  // namespace
}  // namespace veilshift
