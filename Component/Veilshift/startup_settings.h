// Which crossfade forms the processor and the user allow, settled at connection.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace veilshift {

extern bool UseMMX;  // the crossfade may use its MMX form
extern bool UseSSE;  // the crossfade may use its SSE form; never without UseMMX

// Feature bits of CPUID leaf 1, EDX.
inline constexpr uint32_t kCpuIdMmxBit = 0x00800000;
inline constexpr uint32_t kCpuIdSseBit = 0x02000000;

// The decision from what the processor reported: no CPUID, or a highest leaf
// of 0, answers false; otherwise the feature bit decides.
constexpr bool DecodeFeature(bool hasCpuId, uint32_t highestLeaf, uint32_t leaf1Edx, uint32_t bit) {
    return hasCpuId && highestLeaf != 0 && (leaf1Edx & bit) != 0;
}

bool DetectMMX();
bool DetectSSE();

// Reads "MMX" and "SSE" from the open (or unopenable) start-up key and sets the flags.
void LoadStartupSettings(const platform::StartupKey& key);

}  // namespace veilshift
