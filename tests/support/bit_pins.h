// Shared by the render3d test files: helpers that pin pictures and floats to
// the bit. Their surfaces are the reference host's (host/test_surface.h),
// their call records call_recorder.h's.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "call_recorder.h"
#include "host/test_surface.h"

namespace veilshift::test {

// FNV-1a over bytes, to pin whole pictures in one number.
inline uint32_t Fnv1a(const void* data, size_t size, uint32_t hash = 2166136261u) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * 16777619u;
    return hash;
}

inline uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float BitsToFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace veilshift::test
