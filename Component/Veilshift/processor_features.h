// What the processor offers the kernels' forms, read once from CPUID: its
// feature bits, who made it and which core it is, its caches, and what those
// decide (whether its gathers are fast, form_dispatch.cpp's essay). Reading
// CPUID (ReadCpuIdReport) is apart from decoding its answers, which is pure,
// so that answers recorded on other processors can be decoded in tests.
#pragma once

#include <cstdint>

namespace veilshift {

// Feature bits of CPUID leaf 1 (EDX, ECX) and leaf 7 (EBX, EDX), and of XCR0.
inline constexpr uint32_t kCpuIdMmxBit = 0x00800000;      // leaf 1, EDX bit 23
inline constexpr uint32_t kCpuIdSseBit = 0x02000000;      // leaf 1, EDX bit 25
inline constexpr uint32_t kCpuIdSse2Bit = 0x04000000;     // leaf 1, EDX bit 26
inline constexpr uint32_t kCpuIdOsxsaveBit = 0x08000000;  // leaf 1, ECX bit 27: XGETBV usable
inline constexpr uint32_t kCpuIdAvxBit = 0x10000000;      // leaf 1, ECX bit 28
inline constexpr uint32_t kCpuIdAvx2Bit = 0x00000020;     // leaf 7 sub-leaf 0, EBX bit 5
inline constexpr uint32_t kCpuIdHybridBit = 0x00008000;   // leaf 7 sub-leaf 0, EDX bit 15: cores of two kinds
inline constexpr uint32_t kCpuIdTopologyExtensionsBit = 0x00400000;  // leaf 0x80000001, ECX bit 22 (AMD): leaf 0x8000001D
inline constexpr uint64_t kXcr0XmmYmmState = 0x6;         // XCR0 bits 1 and 2: the OS saves XMM and YMM

// The cache leaves' sub-leaves read, one per cache, until one reports no cache
// (type 0); processors describe 4 or 5.
inline constexpr int kCacheLeafCount = 8;

// One sub-leaf of the deterministic cache leaf (Intel's leaf 4, AMD's
// 0x8000001D, which share the layout of EAX, EBX and ECX).
struct CacheLeaf {
    uint32_t eax = 0, ebx = 0, ecx = 0;
};

// What CPUID (and XGETBV) answered; leaves the processor does not have read as 0.
struct CpuIdReport {
    bool hasCpuId = false;
    uint32_t highestLeaf = 0;
    uint32_t vendor[3] = {};  // leaf 0 EBX, EDX, ECX: the maker's twelve characters in that order
    uint32_t leaf1Eax = 0;    // the signature: stepping, model, family
    uint32_t leaf1Ecx = 0;
    uint32_t leaf1Edx = 0;
    uint32_t leaf7Ebx = 0;  // 0 unless highestLeaf >= 7
    uint32_t leaf7Edx = 0;
    uint64_t xcr0 = 0;                  // 0 unless OSXSAVE is set
    uint32_t highestExtendedLeaf = 0;   // leaf 0x80000000 EAX; 0 where it answers below 0x80000000
    uint32_t extended1Ecx = 0;          // leaf 0x80000001 ECX
    uint32_t extended6Ecx = 0;          // leaf 0x80000006 ECX: the L2 (AMD)
    uint32_t extended6Edx = 0;          // leaf 0x80000006 EDX: the L3 (AMD)
    // Leaf 4 (Intel) or 0x8000001D (AMD and Hygon, with topology extensions),
    // sub-leaves 0 on: the first with type 0 ends them.
    CacheLeaf caches[kCacheLeafCount];
};

struct ProcessorFeatures {
    bool mmx = false;
    bool sse = false;
    bool sse2 = false;
    bool avx2 = false;
    // AVX2's gathers run about as fast as the loads they stand for: false on
    // the processors that run them slowly (DecideFastGather). Counts only with
    // avx2. True unless decoded otherwise, so that a set of features written
    // without it (and the test hook's mask) leaves the gather forms chosen.
    bool fastGather = true;
};

enum class CpuVendor : uint8_t { Other, Intel, Amd, Hygon };

// Who made the processor and which core it is: the family and model with
// their extended fields folded in. The extended family counts where the
// family field is 15; the extended model where it is 15, and on Intel's (and
// other makers') processors also where it is 6.
struct ProcessorIdentity {
    CpuVendor vendor = CpuVendor::Other;
    uint32_t family = 0, model = 0, stepping = 0;
};

// The caches one processor thread sees, in bytes (0: not reported), each the
// size of one instance: the L3 of AMD's processors is that of the core complex
// the thread runs in, not the whole chip's.
struct CacheSizes {
    uint64_t l1Data = 0, l2 = 0, l3 = 0;
};

struct ProcessorReport {
    ProcessorIdentity identity;
    ProcessorFeatures features;
    CacheSizes caches;
};

// One leaf-1 EDX feature: no CPUID, or a highest leaf of 0, answers false;
// otherwise the feature bit decides.
constexpr bool DecodeFeature(bool hasCpuId, uint32_t highestLeaf, uint32_t leaf1Edx, uint32_t bit) {
    return hasCpuId && highestLeaf != 0 && (leaf1Edx & bit) != 0;
}

// The twelve characters of leaf 0, four to a register, low byte first.
constexpr bool VendorIs(const CpuIdReport& r, const char (&name)[13]) {
    for (int i = 0; i < 12; ++i)
        if (((r.vendor[i / 4] >> (8 * (i % 4))) & 0xFF) != static_cast<unsigned char>(name[i])) return false;
    return true;
}

constexpr ProcessorIdentity DecodeProcessorIdentity(const CpuIdReport& r) {
    ProcessorIdentity id;
    if (!r.hasCpuId) return id;
    if (VendorIs(r, "GenuineIntel")) id.vendor = CpuVendor::Intel;
    if (VendorIs(r, "AuthenticAMD")) id.vendor = CpuVendor::Amd;
    if (VendorIs(r, "HygonGenuine")) id.vendor = CpuVendor::Hygon;
    if (r.highestLeaf < 1) return id;
    const uint32_t family = (r.leaf1Eax >> 8) & 0xF;
    const uint32_t model = (r.leaf1Eax >> 4) & 0xF;
    id.stepping = r.leaf1Eax & 0xF;
    const bool amdRule = id.vendor == CpuVendor::Amd || id.vendor == CpuVendor::Hygon;
    id.family = family == 0xF ? family + ((r.leaf1Eax >> 20) & 0xFF) : family;
    id.model = family == 0xF || (family == 0x6 && !amdRule) ? model + ((r.leaf1Eax >> 12) & 0xF0) : model;
    return id;
}

// The bytes of the cache a deterministic cache sub-leaf describes: ways x
// partitions x line size x sets, each field stored less one; saturated where
// the largest fields would make it 2^64.
constexpr uint64_t CacheLeafBytes(const CacheLeaf& c) {
    const uint64_t ways = ((c.ebx >> 22) & 0x3FF) + 1;
    const uint64_t partitions = ((c.ebx >> 12) & 0x3FF) + 1;
    const uint64_t line = (c.ebx & 0xFFF) + 1;
    const uint64_t perSet = ways * partitions * line;  // at most 2^32
    const uint64_t sets = uint64_t{c.ecx} + 1;         // at most 2^32
    return sets > ~uint64_t{0} / perSet ? ~uint64_t{0} : perSet * sets;
}

// The caches from the deterministic cache leaf (its data and unified caches
// by level), or on AMD processors without it from leaves 0x80000005 and
// 0x80000006 (the L2 in KiB, the L3 in units of 512 KiB).
constexpr CacheSizes DecodeCacheSizes(const CpuIdReport& r) {
    CacheSizes sizes;
    if (!r.hasCpuId) return sizes;
    bool described = false;
    for (const CacheLeaf& c : r.caches) {
        const uint32_t type = c.eax & 0x1F;  // 1 data, 2 instruction, 3 unified; 0 ends the list
        if (type == 0) break;
        described = true;
        if (type == 2) continue;
        const uint64_t bytes = CacheLeafBytes(c);
        switch ((c.eax >> 5) & 0x7) {
            case 1: sizes.l1Data = bytes; break;
            case 2: sizes.l2 = bytes; break;
            case 3: sizes.l3 = bytes; break;
            default: break;
        }
    }
    if (described || r.highestExtendedLeaf < 0x80000006) return sizes;
    sizes.l2 = uint64_t{r.extended6Ecx >> 16} << 10;
    sizes.l3 = uint64_t{r.extended6Edx >> 18} << 19;
    return sizes;
}

// Whether the processor runs AVX2's 32-bit eight-lane gather (vpgatherdd)
// about as fast as the eight loads it stands for. The rule and the costs it
// rests on: form_dispatch.cpp's essay. `hybrid` is leaf 7's EDX bit 15.
constexpr bool DecideFastGather(const ProcessorIdentity& id, bool hybrid) {
    switch (id.vendor) {
        case CpuVendor::Intel:
            if (hybrid) return false;  // a thread may run on the efficient cores
            if (id.family != 6) return true;
            switch (id.model) {
                case 0x3C: case 0x3F: case 0x45: case 0x46:  // Haswell
                case 0x3D: case 0x47: case 0x4F: case 0x56:  // Broadwell
                // Skylake to Rocket Lake, whose microcode fences every gather
                // against gather data sampling.
                case 0x4E: case 0x5E: case 0x55:  // Skylake, Skylake and Cascade Lake server
                case 0x8E: case 0x9E:             // Kaby Lake, Coffee Lake, Whiskey Lake, Amber Lake
                case 0xA5: case 0xA6:             // Comet Lake
                case 0x66:                        // Cannon Lake
                case 0x6A: case 0x6C:             // Ice Lake server
                case 0x7D: case 0x7E:             // Ice Lake
                case 0x8C: case 0x8D:             // Tiger Lake
                case 0xA7:                        // Rocket Lake
                // Cores of the efficient kind only.
                case 0xBE: case 0xAF: case 0xB6: case 0xDD:  // Alder Lake N, Sierra Forest, Grand Ridge, Clearwater Forest
                    return false;
                default: return true;
            }
        case CpuVendor::Amd:
        case CpuVendor::Hygon:
        case CpuVendor::Other:
            break;
    }
    return false;  // every AMD core measured or published so far; makers not known here
}

// AVX2 needs the processor's bit and an operating system that saves the YMM
// registers, which only XCR0 tells; the AVX bit alone is not enough.
constexpr ProcessorFeatures DecodeProcessorFeatures(const CpuIdReport& r) {
    const bool leaf1 = r.hasCpuId && r.highestLeaf >= 1;
    const uint32_t avxAndXgetbv = kCpuIdOsxsaveBit | kCpuIdAvxBit;
    const bool ymmUsable = leaf1 && (r.leaf1Ecx & avxAndXgetbv) == avxAndXgetbv &&
                           (r.xcr0 & kXcr0XmmYmmState) == kXcr0XmmYmmState;
    const bool leaf7 = r.highestLeaf >= 7;
    ProcessorFeatures features;
    features.mmx = DecodeFeature(r.hasCpuId, r.highestLeaf, r.leaf1Edx, kCpuIdMmxBit);
    features.sse = DecodeFeature(r.hasCpuId, r.highestLeaf, r.leaf1Edx, kCpuIdSseBit);
    features.sse2 = leaf1 && (r.leaf1Edx & kCpuIdSse2Bit) != 0;
    features.avx2 = ymmUsable && leaf7 && (r.leaf7Ebx & kCpuIdAvx2Bit) != 0;
    features.fastGather =
        DecideFastGather(DecodeProcessorIdentity(r), leaf7 && (r.leaf7Edx & kCpuIdHybridBit) != 0);
    return features;
}

constexpr ProcessorReport DecodeProcessorReport(const CpuIdReport& r) {
    return {DecodeProcessorIdentity(r), DecodeProcessorFeatures(r), DecodeCacheSizes(r)};
}

constexpr const char* VendorName(CpuVendor vendor) {
    switch (vendor) {
        case CpuVendor::Intel: return "Intel";
        case CpuVendor::Amd: return "AMD";
        case CpuVendor::Hygon: return "Hygon";
        case CpuVendor::Other: break;
    }
    return "other";
}

// Where CPUID's answers come from: the processor (ReadCpuIdReport()), or
// answers recorded from one. Leaves above the highest one offered, and XCR0
// without OSXSAVE, are never asked for.
struct CpuIdSource {
    bool (*hasCpuId)();
    void (*cpuId)(uint32_t leaf, uint32_t regs[4], uint32_t subleaf);  // eax, ebx, ecx, edx
    uint64_t (*readXcr0)();
};
CpuIdReport ReadCpuIdReport(const CpuIdSource& source);
CpuIdReport ReadCpuIdReport();
ProcessorFeatures DetectProcessorFeatures();
ProcessorReport DetectProcessorReport();
bool DetectMMX();
bool DetectSSE();

}  // namespace veilshift
