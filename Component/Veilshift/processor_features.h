// What the processor offers the kernels' forms, read once from CPUID.
#pragma once

#include <cstdint>

namespace veilshift {

// Feature bits of CPUID leaf 1 (EDX, ECX) and leaf 7 (EBX), and of XCR0.
inline constexpr uint32_t kCpuIdMmxBit = 0x00800000;      // leaf 1, EDX bit 23
inline constexpr uint32_t kCpuIdSseBit = 0x02000000;      // leaf 1, EDX bit 25
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

struct ProcessorFeatures {
    bool mmx = false;
    bool sse = false;
    bool sse2 = false;
    bool avx2 = false;
};

// One leaf-1 EDX feature: no CPUID, or a highest leaf of 0, answers false;
// otherwise the feature bit decides.
constexpr bool DecodeFeature(bool hasCpuId, uint32_t highestLeaf, uint32_t leaf1Edx, uint32_t bit) {
    return hasCpuId && highestLeaf != 0 && (leaf1Edx & bit) != 0;
}

// AVX2 needs the processor's bit and an operating system that saves the YMM
// registers, which only XCR0 tells; the AVX bit alone is not enough.
constexpr ProcessorFeatures DecodeProcessorFeatures(const CpuIdReport& r) {
    const bool leaf1 = r.hasCpuId && r.highestLeaf >= 1;
    const uint32_t avxAndXgetbv = kCpuIdOsxsaveBit | kCpuIdAvxBit;
    const bool ymmUsable = leaf1 && (r.leaf1Ecx & avxAndXgetbv) == avxAndXgetbv &&
                           (r.xcr0 & kXcr0XmmYmmState) == kXcr0XmmYmmState;
    ProcessorFeatures features;
    features.mmx = DecodeFeature(r.hasCpuId, r.highestLeaf, r.leaf1Edx, kCpuIdMmxBit);
    features.sse = DecodeFeature(r.hasCpuId, r.highestLeaf, r.leaf1Edx, kCpuIdSseBit);
    features.sse2 = leaf1 && (r.leaf1Edx & kCpuIdSse2Bit) != 0;
    features.avx2 = ymmUsable && r.highestLeaf >= 7 && (r.leaf7Ebx & kCpuIdAvx2Bit) != 0;
    return features;
}

// Where CPUID's answers come from: the processor (ReadCpuIdReport()), or
// answers recorded from one. Leaves above the highest one offered, and XCR0
// without OSXSAVE, are never asked for.
struct CpuIdSource {
    bool (*hasCpuId)();
    void (*cpuId)(uint32_t leaf, uint32_t regs[4]);  // eax, ebx, ecx, edx
    uint64_t (*readXcr0)();
};
CpuIdReport ReadCpuIdReport(const CpuIdSource& source);
CpuIdReport ReadCpuIdReport();
ProcessorFeatures DetectProcessorFeatures();
bool DetectMMX();
bool DetectSSE();

}  // namespace veilshift
