// Who made the processor, which core it is, its caches and whether its gathers
// are fast, decoded from CPUID answers recorded on real processors (raw
// register values below, each with where it was recorded), and where the
// kernels store around the cache on each of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Veilshift/form_rules.h"
#include "Veilshift/module_state.h"
#include "Veilshift/processor_features.h"
#include "Veilshift/transition_forms.h"

namespace veilshift {
namespace {

constexpr uint64_t KiB = 1024, MiB = 1024 * 1024;

// The answers of one processor, register by register.
struct Answers {
    uint32_t leaf0[4];  // eax, ebx, ecx, edx
    uint32_t leaf1[4];
    uint32_t leaf7[4];
    uint64_t xcr0;
    uint32_t extended0Eax, extended1Ecx, extended6Ecx, extended6Edx;
    std::vector<CacheLeaf> caches;  // leaf 4 (Intel) or 0x8000001D (AMD), sub-leaves 0 on
};

CpuIdReport ReportOf(const Answers& a) {
    CpuIdReport r;
    r.hasCpuId = true;
    r.highestLeaf = a.leaf0[0];
    r.vendor[0] = a.leaf0[1], r.vendor[1] = a.leaf0[3], r.vendor[2] = a.leaf0[2];
    r.leaf1Eax = a.leaf1[0], r.leaf1Ecx = a.leaf1[2], r.leaf1Edx = a.leaf1[3];
    r.leaf7Ebx = a.leaf7[1], r.leaf7Edx = a.leaf7[3];
    r.xcr0 = a.xcr0;
    r.highestExtendedLeaf = a.extended0Eax;
    r.extended1Ecx = a.extended1Ecx, r.extended6Ecx = a.extended6Ecx, r.extended6Edx = a.extended6Edx;
    int i = 0;
    for (const CacheLeaf& c : a.caches) r.caches[i++] = c;
    return r;
}

// "Intel 6/3f/2, L1d 32 KiB, L2 256 KiB, L3 30720 KiB, avx2 slow gathers"
std::string Described(const CpuIdReport& r) {
    const ProcessorReport p = DecodeProcessorReport(r);
    char text[160];
    std::snprintf(text, sizeof text, "%s %x/%x/%x, L1d %llu KiB, L2 %llu KiB, L3 %llu KiB, %s %s gathers",
                  VendorName(p.identity.vendor), p.identity.family, p.identity.model, p.identity.stepping,
                  static_cast<unsigned long long>(p.caches.l1Data / KiB),
                  static_cast<unsigned long long>(p.caches.l2 / KiB),
                  static_cast<unsigned long long>(p.caches.l3 / KiB), p.features.avx2 ? "avx2" : "no-avx2",
                  p.features.fastGather ? "fast" : "slow");
    return text;
}

constexpr uint32_t kIntel[3] = {0x756E6547, 0x6C65746E, 0x49656E69};  // ebx, ecx, edx: "GenuineIntel"
constexpr uint32_t kAmd[3] = {0x68747541, 0x444D4163, 0x69746E65};    // "AuthenticAMD"

// Amazon's t2 instances: a Haswell server core, Xeon E5-2676 v3, as a guest.
const Answers kHaswellServer{{0x0D, kIntel[0], kIntel[1], kIntel[2]},
                             {0x000306F2, 0x00010800, 0xFFFA3203, 0x178BFBFF},
                             {0, 0x000007A9, 0, 0},
                             0x7,
                             0x80000008, 0x00000021, 0x01006040, 0,
                             {{0x00004121, 0x01C0003F, 0x3F}, {0x00004122, 0x01C0003F, 0x3F},
                              {0x00004143, 0x01C0003F, 0x1FF}, {0x0007C163, 0x04C0003F, 0x5FFF}}};

// An Ice Lake server core, Xeon Platinum 8370C, as a guest (leaf 0xD: XCR0 0xE7).
const Answers kIceLakeServer{{0x15, kIntel[0], kIntel[1], kIntel[2]},
                             {0x000606A6, 0x00400800, 0xFEDA3223, 0x1F8BFBFF},
                             {0, 0xD09F2FB9, 0, 0x00000400},
                             0xE7,
                             0x80000008, 0x00000121, 0x01006040, 0,
                             {{0x7C004121, 0x02C0003F, 0x3F}, {0x7C004122, 0x01C0003F, 0x3F},
                              {0x7C004143, 0x04C0003F, 0x3FF}, {0x7C0FC163, 0x02C0003F, 0xFFFF}}};

// A Sapphire Rapids server core as a guest: leaf 1 and the first cache
// sub-leaf as recorded; leaf 7's AVX2 bit, the L2 (2 MiB, 16 ways) and the
// L3 (105 MiB, 15 ways) in the same layout from the data sheet.
const Answers kSapphireRapids{{0x20, kIntel[0], kIntel[1], kIntel[2]},
                              {0x000806F8, 0x465A0800, 0xFFFABA1F, 0x3FA9FBFF},
                              {0, 0x00000020, 0, 0},
                              0xE7,
                              0x80000008, 0x00000121, 0x08007040, 0,
                              {{0xFC004121, 0x02C0003F, 0x3F}, {0xFC004122, 0x01C0003F, 0x3F},
                               {0xFC004143, 0x03C0003F, 0x7FF}, {0xFC1FC163, 0x0380003F, 0x1BFFF}}};

// Alder Lake, cores of two kinds (leaf 7 EDX bit 15): the cache sub-leaves as
// recorded on one of its efficient cores; its signature, and the other
// feature registers as a Coffee Lake guest answered them, with the hybrid bit.
const Answers kAlderLake{{0x20, kIntel[0], kIntel[1], kIntel[2]},
                         {0x00090672, 0x03000800, 0xFFFA3223, 0x0F8BFBFF},
                         {0, 0x009C4FBB, 0x00000004, 0x84008000},
                         0x7,
                         0x80000008, 0x00000121, 0x08007040, 0,
                         {{0xFC004121, 0x01C0003F, 0x3F}, {0xFC004122, 0x01C0003F, 0x7F},
                          {0xFC01C143, 0x03C0003F, 0x7FF}, {0xFC1FC163, 0x0240003F, 0x9FFF}}};

// Zen 3, EPYC 7713P (Milan), as a guest; leaf 0x80000006 describes the L3 of
// the whole chip (256 MiB), leaf 0x8000001D that of one core complex.
const Answers kZen3{{0x0D, kAmd[0], kAmd[1], kAmd[2]},
                    {0x00A00F11, 0x00000800, 0xFED83203, 0x078BFBFF},
                    {0, 0x219803A9, 0x00000600, 0x00000010},
                    0x7,
                    0x80000021, 0x444001F1, 0x02006140, 0x08009140,
                    {{0x00000121, 0x01C0003F, 0x3F}, {0x00000122, 0x01C0003F, 0x3F},
                     {0x00000143, 0x01C0003F, 0x3FF}, {0x00000163, 0x03C0003F, 0x7FFF}}};

// Zen 4, EPYC 9004 (Genoa): its signature, in the Milan record's other
// answers; its L2 (1 MiB) as Milan's with the sets doubled.
Answers Zen4() {
    Answers a = kZen3;
    a.leaf1[0] = 0x00A10F11;
    a.caches[2].ecx = 0x7FF;
    return a;
}

// Zen 5, AMD EPYC (Turin), as a guest: the machine this was written on.
const Answers kZen5{{0x1C, kAmd[0], kAmd[1], kAmd[2]},
                    {0x00B00F21, 0x00020800, 0xFFFA3203, 0x178BFBFF},
                    {0x1, 0xF1BF07AB, 0x00405FC6, 0x00000110},
                    0xE7,
                    0x80000021, 0x004003F3, 0x04008140, 0x0C009140,
                    {{0x00000121, 0x02C0003F, 0x3F}, {0x00000122, 0x01C0003F, 0x3F},
                     {0x00000143, 0x03C0003F, 0x3FF}, {0x00004163, 0x03C0003F, 0x7FFF}}};

TEST(ProcessorReport, DecodedFromRecordedAnswers) {
    EXPECT_EQ(Described(ReportOf(kHaswellServer)),
              "Intel 6/3f/2, L1d 32 KiB, L2 256 KiB, L3 30720 KiB, avx2 slow gathers");
    EXPECT_EQ(Described(ReportOf(kIceLakeServer)),
              "Intel 6/6a/6, L1d 48 KiB, L2 1280 KiB, L3 49152 KiB, avx2 slow gathers");
    EXPECT_EQ(Described(ReportOf(kSapphireRapids)),
              "Intel 6/8f/8, L1d 48 KiB, L2 2048 KiB, L3 107520 KiB, avx2 fast gathers");
    EXPECT_EQ(Described(ReportOf(kAlderLake)),
              "Intel 6/97/2, L1d 32 KiB, L2 2048 KiB, L3 25600 KiB, avx2 slow gathers");
    EXPECT_EQ(Described(ReportOf(kZen3)), "AMD 19/1/1, L1d 32 KiB, L2 512 KiB, L3 32768 KiB, avx2 slow gathers");
    EXPECT_EQ(Described(ReportOf(Zen4())), "AMD 19/11/1, L1d 32 KiB, L2 1024 KiB, L3 32768 KiB, avx2 slow gathers");
    EXPECT_EQ(Described(ReportOf(kZen5)), "AMD 1a/2/1, L1d 48 KiB, L2 1024 KiB, L3 32768 KiB, avx2 slow gathers");
}

// The signature's fields: the extended family counts where the family field
// is 15; the extended model where it is 15, and on Intel's also where it is 6.
TEST(ProcessorReport, ExtendedFamilyAndModel) {
    auto identity = [](const uint32_t (&vendor)[3], uint32_t eax) {
        CpuIdReport r;
        r.hasCpuId = true, r.highestLeaf = 1;
        r.vendor[0] = vendor[0], r.vendor[1] = vendor[2], r.vendor[2] = vendor[1];
        r.leaf1Eax = eax;
        const ProcessorIdentity id = DecodeProcessorIdentity(r);
        char text[32];
        std::snprintf(text, sizeof text, "%x/%x/%x", id.family, id.model, id.stepping);
        return std::string(text);
    };
    EXPECT_EQ(identity(kIntel, 0x0000068A), "6/8/a");     // Pentium III: no extended model
    EXPECT_EQ(identity(kIntel, 0x000906EA), "6/9e/a");    // Coffee Lake
    EXPECT_EQ(identity(kIntel, 0x00000F29), "f/2/9");     // Pentium 4
    EXPECT_EQ(identity(kIntel, 0x00020F41), "f/24/1");    // extended model with family 15
    EXPECT_EQ(identity(kAmd, 0x00020F12), "f/21/2");      // Athlon 64 X2
    EXPECT_EQ(identity(kAmd, 0x00800F11), "17/1/1");      // Zen
    EXPECT_EQ(identity(kAmd, 0x00010662), "6/6/2");       // family 6 on AMD: no extended model
    // No CPUID, or leaf 1 not offered: nothing known.
    CpuIdReport none;
    EXPECT_EQ(DecodeProcessorIdentity(none).vendor, CpuVendor::Other);
    none.hasCpuId = true;
    none.vendor[0] = kIntel[0], none.vendor[1] = kIntel[2], none.vendor[2] = kIntel[1];
    none.leaf1Eax = 0x000906EA;
    EXPECT_EQ(DecodeProcessorIdentity(none).vendor, CpuVendor::Intel);
    EXPECT_EQ(DecodeProcessorIdentity(none).family, 0u);
}

// Without topology extensions (or their leaf) AMD's caches come from leaf
// 0x80000006: the L3 of the whole chip. Cache sub-leaves past the first
// of type 0 count for nothing; the largest fields saturate.
TEST(ProcessorReport, CachesWithoutTheCacheLeaf) {
    Answers milanWithout = kZen3;
    milanWithout.caches = {};
    const CacheSizes c = DecodeCacheSizes(ReportOf(milanWithout));
    EXPECT_EQ(c.l1Data, 0u);
    EXPECT_EQ(c.l2, 512 * KiB);
    EXPECT_EQ(c.l3, 256 * MiB);
    Answers ended = kZen3;
    ended.caches = {{0x00000121, 0x01C0003F, 0x3F}, {0, 0, 0}, {0x00000163, 0xFFFFFFFF, 0xFFFFFFFF}};
    EXPECT_EQ(DecodeCacheSizes(ReportOf(ended)).l3, 0u);
    EXPECT_EQ(CacheLeafBytes({0x163, 0xFFFFFFFF, 0xFFFFFFFF}), ~uint64_t{0});
    EXPECT_EQ(CacheLeafBytes({0x163, 0xFFFFFFFF, 0xFFFFFFFE}), uint64_t{0xFFFFFFFF} << 32);
}

// Where gathers are slow, and nowhere else: Intel's cores from Skylake on
// that no gather data sampling fence slows, of one kind only.
TEST(ProcessorReport, SlowGatherRule) {
    auto fast = [](CpuVendor vendor, uint32_t family, uint32_t model, bool hybrid = false) {
        return DecideFastGather({vendor, family, model, 0}, hybrid);
    };
    EXPECT_TRUE(fast(CpuVendor::Intel, 6, 0x8F));   // Sapphire Rapids
    EXPECT_TRUE(fast(CpuVendor::Intel, 6, 0xCF));   // Emerald Rapids
    EXPECT_TRUE(fast(CpuVendor::Intel, 6, 0xAD));   // Granite Rapids
    EXPECT_TRUE(fast(CpuVendor::Intel, 0x13, 0x1));  // a later family
    EXPECT_FALSE(fast(CpuVendor::Intel, 6, 0x8F, true));
    for (uint32_t model : {0x3C, 0x3F, 0x4F, 0x55, 0x9E, 0xA5, 0x6A, 0x7E, 0x8C, 0xA7, 0xBE, 0xAF})
        EXPECT_FALSE(fast(CpuVendor::Intel, 6, model)) << std::hex << model;
    for (uint32_t family : {0x15, 0x17, 0x18, 0x19, 0x1A}) {
        EXPECT_FALSE(fast(CpuVendor::Amd, family, 0x01)) << std::hex << family;
        EXPECT_FALSE(fast(CpuVendor::Hygon, family, 0x01)) << std::hex << family;
    }
    EXPECT_FALSE(fast(CpuVendor::Other, 7, 0x3B));
    // Decoded with the rest: the hybrid bit counts only where leaf 7 is offered.
    Answers sevenMissing = kAlderLake;
    sevenMissing.leaf0[0] = 6;
    EXPECT_TRUE(DecodeProcessorFeatures(ReportOf(sevenMissing)).fastGather);
    EXPECT_FALSE(DecodeProcessorFeatures(ReportOf(sevenMissing)).avx2);
}

// Where the kernels store around the cache on each processor: from a quarter
// of the near cache on, a destination the host reads at once only when it is
// larger than the near cache.
TEST(ProcessorReport, StreamingFromTheCaches) {
    constexpr uint64_t k640 = 640 * 480 * 3, k1080 = 1920 * 1080 * 3, k2160 = 3840 * 2160 * 3;
    auto streams = [&](const Answers& a, DestinationUse use) {
        const CacheSizes caches = DecodeCacheSizes(ReportOf(a));
        std::string sizes;
        for (uint64_t bytes : {k640, k1080, k2160}) sizes += DecideStreaming(bytes, caches, use) ? "s" : "-";
        return sizes;
    };
    // 32 MiB of L3 (Zen 3 to 5): from 8 MiB on; Haswell's 30 MiB alike.
    const Answers zen4 = Zen4();
    for (const Answers* a : {&kZen3, &zen4, &kZen5, &kHaswellServer})
        EXPECT_EQ(streams(*a, DestinationUse::Later), "--s");
    // A server's whole L3 counts for 64 MiB at most; Ice Lake's 48 MiB.
    EXPECT_EQ(streams(kSapphireRapids, DestinationUse::Later), "--s");
    EXPECT_EQ(streams(kIceLakeServer, DestinationUse::Later), "--s");
    // Read at once: through the cache wherever the frame fits it.
    for (const Answers* a : {&kZen3, &kSapphireRapids, &kAlderLake})
        EXPECT_EQ(streams(*a, DestinationUse::AtOnce), "---");
    CacheSizes small;
    small.l2 = 2 * MiB;  // an L2 as the last level
    EXPECT_TRUE(DecideStreaming(k1080, small, DestinationUse::AtOnce));
    EXPECT_TRUE(DecideStreaming(k640, small, DestinationUse::Later));
    // No caches reported: 16 MiB assumed, streaming from 4 MiB.
    EXPECT_FALSE(DecideStreaming(4 * MiB - 1, CacheSizes{}, DestinationUse::Later));
    EXPECT_TRUE(DecideStreaming(4 * MiB, CacheSizes{}, DestinationUse::Later));
    EXPECT_EQ(NearCacheBytes(CacheSizes{0, 0, 480 * MiB}), kNearCacheLimit);
}

// A transition's forms carry the decision: the work surface of effects 40
// and 41 is read at once; the mosaic streams as the crossfade does, in its
// vector forms only; the test hook overrides the caches.
TEST(ProcessorReport, TransitionsStreamByTheirCachesAndEffect) {
    FormSettings settings;
    settings.features = {true, true, true, true};
    settings.caches = DecodeCacheSizes(ReportOf(kZen3));
    auto streams = [&](int32_t effect, int32_t width, int32_t height) {
        const TransitionForms forms = ChooseTransitionForms(settings, effect, width, height);
        EXPECT_EQ(forms.mosaic.stream, forms.crossfade.stream && kX86Forms);
        return forms.crossfade.stream;
    };
    EXPECT_FALSE(streams(1, 1920, 1080));
    EXPECT_TRUE(streams(1, 3840, 2160));
    EXPECT_TRUE(streams(6, 3840, 2160));
    EXPECT_FALSE(streams(40, 3840, 2160));
    EXPECT_FALSE(streams(41, 3840, 2160));
    EXPECT_TRUE(streams(41, 4096, 3072));  // 36 MiB: larger than the L3
    moduleState.hooks.streamingBytes = 0;
    EXPECT_TRUE(streams(40, 2, 2));
    moduleState.hooks.streamingBytes = kStreamingByCaches;
}

#if VEILSHIFT_WIDE_FORMS
// This processor's answers decode to what the compiler's run-time checks and
// the rest of the report say.
TEST(ProcessorReport, ThisProcessor) {
    const ProcessorReport p = DetectProcessorReport();
    const ProcessorFeatures f = DetectProcessorFeatures();
    EXPECT_EQ(p.features.avx2, f.avx2);
    EXPECT_EQ(p.features.fastGather, f.fastGather);
    EXPECT_GE(p.identity.family, 6u);
}
#endif

}  // namespace
}  // namespace veilshift
