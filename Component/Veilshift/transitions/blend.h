// The per-byte arithmetic of the crossfade forms, shared by every form and by the tests.
#pragma once

#include <cstdint>

namespace veilshift {
// Internal linkage, as in every header the form files share (why:
// Component/Veilshift/CMakeLists.txt, where the form files get their flags).
namespace {

// Scalar form and every tail byte: a + floor(alpha * (b - a) / 256).
// >> floors: a falling byte moves at the smallest weights, a rising one does not.
inline uint8_t BlendByte(int32_t a, int32_t b, int32_t alpha) {
    return static_cast<uint8_t>(a + ((alpha * (b - a)) >> 8));
}

// One 16-bit lane of the MMX and SSE forms, instruction by instruction:
// psubsw, pmullw (low 16 bits), psraw 7, paddsw, packuswb.
inline uint8_t BlendByteGrouped(int32_t a, int32_t b, int32_t halfAlpha) {
    auto saturate16 = [](int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); };
    const int32_t diff = saturate16(b - a);
    const int32_t product = static_cast<int16_t>(static_cast<uint16_t>(diff * halfAlpha));
    const int32_t sum = saturate16((product >> 7) + a);
    return static_cast<uint8_t>(sum < 0 ? 0 : (sum > 255 ? 255 : sum));
}

}  // namespace
}  // namespace veilshift
