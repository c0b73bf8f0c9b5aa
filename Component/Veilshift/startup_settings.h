// Which processor forms of the kernels the processor and the user allow,
// settled at connection: UseMMX and UseSSE pick the crossfade's forms, UseSSE2
// and UseAVX2 the x86-64 build's vector forms of every kernel.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace veilshift {

extern bool UseMMX;  // the crossfade may use its MMX form; UseSSE2 and UseAVX2 follow it
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

// The x86-64 build's vector forms, decided at connection from the processor,
// and only while UseMMX is set: the user's "MMX" switch governs them too.
// Always false in the 32-bit build. They pick the form of every kernel: the
// crossfade's SSE2 and AVX2 stand-ins for its MMX and SSE forms (their bytes),
// the mosaic's row mix, pattern and copies, the ripple's pixel pass (AVX2) and
// the shatter's span fill; each gives the bytes of the form it stands in for.
extern bool UseSSE2;
extern bool UseAVX2;
// Whether the x86-64 build's scalar crossfade computes its bytes (BlendByte's,
// whatever the switches) with AVX2: decided at connection from the processor
// alone. Always false in the 32-bit build.
extern bool ScalarUsesAVX2;

inline constexpr uint32_t kCpuIdSse2Bit = 0x04000000;     // leaf 1, EDX bit 26
inline constexpr uint32_t kCpuIdOsxsaveBit = 0x08000000;  // leaf 1, ECX bit 27: XGETBV usable
inline constexpr uint32_t kCpuIdAvxBit = 0x10000000;      // leaf 1, ECX bit 28
inline constexpr uint32_t kCpuIdAvx2Bit = 0x00000020;     // leaf 7 sub-leaf 0, EBX bit 5
inline constexpr uint64_t kXcr0XmmYmmState = 0x6;         // XCR0 bits 1 and 2: the OS saves XMM and YMM

// What CPUID (and XGETBV) answered; leaves the processor does not have read as 0.
struct CpuIdReport {
    bool hasCpuId = false;
    uint32_t highestLeaf = 0;
    uint32_t leaf1Ecx = 0;
    uint32_t leaf1Edx = 0;
    uint32_t leaf7Ebx = 0;  // 0 unless highestLeaf >= 7
    uint64_t xcr0 = 0;      // 0 unless OSXSAVE is set
};

struct WideFeatures {
    bool sse2 = false;
    bool avx2 = false;
};

// AVX2 needs the processor's bit and an operating system that saves the YMM
// registers, which only XCR0 tells; the AVX bit alone is not enough.
constexpr WideFeatures DecodeWideFeatures(const CpuIdReport& r) {
    const bool leaf1 = r.hasCpuId && r.highestLeaf >= 1;
    const uint32_t avxAndXgetbv = kCpuIdOsxsaveBit | kCpuIdAvxBit;
    const bool ymmUsable = leaf1 && (r.leaf1Ecx & avxAndXgetbv) == avxAndXgetbv &&
                           (r.xcr0 & kXcr0XmmYmmState) == kXcr0XmmYmmState;
    WideFeatures features;
    features.sse2 = leaf1 && (r.leaf1Edx & kCpuIdSse2Bit) != 0;
    features.avx2 = ymmUsable && r.highestLeaf >= 7 && (r.leaf7Ebx & kCpuIdAvx2Bit) != 0;
    return features;
}

CpuIdReport ReadCpuIdReport();
WideFeatures DetectWideFeatures();

// Reads "MMX" and "SSE" from the open (or unopenable) start-up key and sets the
// flags, the wider forms' included.
void LoadStartupSettings(const platform::StartupKey& key);

}  // namespace veilshift
