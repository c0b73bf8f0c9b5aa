// The processor's features as CPUID (and XGETBV) report them, decoded from
// answers recorded on real processors and made-up ones, the detection on this
// machine, and the forms the dispatch decides on from features and switches.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Veilshift/form_rules.h"
#include "Veilshift/startup_settings.h"
#include "processor_forms.h"

namespace veilshift {
namespace {

TEST(ProcessorFeatures, DecodedFromCpuIdAnswers) {
    EXPECT_FALSE(DecodeFeature(false, 1, 0xFFFFFFFF, kCpuIdMmxBit));  // no CPUID instruction
    EXPECT_FALSE(DecodeFeature(true, 0, 0xFFFFFFFF, kCpuIdMmxBit));   // leaf 1 not offered
    EXPECT_TRUE(DecodeFeature(true, 1, kCpuIdMmxBit, kCpuIdMmxBit));
    EXPECT_FALSE(DecodeFeature(true, 1, kCpuIdMmxBit, kCpuIdSseBit));
    // Recorded leaf-1 EDX of a Pentium MMX (MMX, no SSE) and a Pentium III (both).
    EXPECT_TRUE(DecodeFeature(true, 1, 0x008001BF, kCpuIdMmxBit));
    EXPECT_FALSE(DecodeFeature(true, 1, 0x008001BF, kCpuIdSseBit));
    EXPECT_TRUE(DecodeFeature(true, 2, 0x0387FBFF, kCpuIdSseBit));
#if defined(__x86_64__)
    EXPECT_TRUE(DetectMMX());  // every x86-64 processor has both
    EXPECT_TRUE(DetectSSE());
#endif
}

// Recorded and made-up CPUID answers: AVX2 needs the leaf-7 bit, the AVX bit,
// OSXSAVE and an operating system that saves the YMM registers.
TEST(ProcessorFeatures, DecodedFromCpuIdAndXcr0) {
    auto decode = [](bool hasCpuId, uint32_t highestLeaf, uint32_t ecx1, uint32_t edx1, uint32_t ebx7, uint64_t xcr0) {
        CpuIdReport r;
        r.hasCpuId = hasCpuId, r.highestLeaf = highestLeaf, r.leaf1Ecx = ecx1, r.leaf1Edx = edx1;
        r.leaf7Ebx = ebx7, r.xcr0 = xcr0;
        const ProcessorFeatures f = DecodeProcessorFeatures(r);
        return std::string(f.mmx ? "mmx" : "-") + (f.sse ? " sse" : " -") + (f.sse2 ? " sse2" : " -") +
               (f.avx2 ? " avx2" : " -");
    };
    // A Zen 3 server processor as a guest, and a Haswell desktop.
    EXPECT_EQ(decode(true, 0x10, 0xFED83203, 0x178BFBFF, 0x219C97A9, 0x207), "mmx sse sse2 avx2");
    EXPECT_EQ(decode(true, 0xD, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x7), "mmx sse sse2 avx2");
    // Sandy Bridge: AVX without AVX2.
    EXPECT_EQ(decode(true, 0xD, 0x1FBAE3FF, 0xBFEBFBFF, 0x00000000, 0x7), "mmx sse sse2 -");
    // An operating system that saves only the XMM registers, or has not enabled XGETBV.
    EXPECT_EQ(decode(true, 0xD, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x3), "mmx sse sse2 -");
    EXPECT_EQ(decode(true, 0xD, 0x77FAFBFF, 0xBFEBFBFF, 0x000027AB, 0x7), "mmx sse sse2 -");
    // Leaf 7 not offered: its register counts for nothing. Offered as the highest: it counts.
    EXPECT_EQ(decode(true, 0x6, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x7), "mmx sse sse2 -");
    EXPECT_EQ(decode(true, 0x7, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x7), "mmx sse sse2 avx2");
    // A Pentium III: MMX and SSE; a Pentium MMX; a 486 (FPU and VME only); no
    // CPUID; a highest leaf of 0.
    EXPECT_EQ(decode(true, 0x2, 0x00000000, 0x0387FBFF, 0, 0), "mmx sse - -");
    EXPECT_EQ(decode(true, 0x1, 0x00000000, 0x008001BF, 0, 0), "mmx - - -");
    EXPECT_EQ(decode(true, 0x1, 0x00000000, 0x00000003, 0, 0), "- - - -");
    EXPECT_EQ(decode(false, 0xD, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ~uint64_t{0}), "- - - -");
    EXPECT_EQ(decode(true, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ~uint64_t{0}), "- - - -");
}

// CPUID answers recorded leaf by leaf. A leaf above the highest answers what
// the highest does, as Intel's processors do: reading one would find an AVX2
// bit that is not there.
struct RecordedCpu {
    bool hasCpuId = true;
    uint32_t highestLeaf = 0;
    uint32_t leaf1Ecx = 0, leaf1Edx = 0, leaf7Ebx = 0, highestLeafEbx = 0;
    uint64_t xcr0 = 0;
    std::string asked{};  // "0 1 x 7 ": the leaves asked for, x for XGETBV
};
RecordedCpu* recorded = nullptr;

CpuIdReport ReadRecorded(RecordedCpu& cpu) {
    recorded = &cpu;
    const CpuIdSource source{
        [] { return recorded->hasCpuId; },
        [](uint32_t leaf, uint32_t regs[4], uint32_t) {
            if (leaf < 0x80000000u) recorded->asked += std::to_string(leaf) + " ";  // the basic leaves
            regs[0] = regs[1] = regs[2] = regs[3] = 0;
            if (leaf == 0) regs[0] = recorded->highestLeaf;
            if (leaf == 1) regs[2] = recorded->leaf1Ecx, regs[3] = recorded->leaf1Edx;
            if (leaf == 7 && recorded->highestLeaf >= 7) regs[1] = recorded->leaf7Ebx;
            if (leaf > recorded->highestLeaf) regs[1] = recorded->highestLeafEbx;
        },
        [] {
            recorded->asked += "x ";
            return recorded->xcr0;
        }};
    const CpuIdReport report = ReadCpuIdReport(source);
    recorded = nullptr;
    return report;
}

// Which leaves are read, and AVX2 decided from what was read: a processor (or
// a hypervisor's view of one) whose highest leaf is exactly 7, one whose is 6,
// one without OSXSAVE (XGETBV would fault), one without leaf 1, none at all.
TEST(ProcessorFeatures, ReadsTheLeavesOfferedAndNoOthers) {
    RecordedCpu leaf7{true, 7, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0, 0x7};
    CpuIdReport r = ReadRecorded(leaf7);
    EXPECT_EQ(leaf7.asked, "0 1 x 7 ");
    EXPECT_EQ(r.highestLeaf, 7u);
    EXPECT_EQ(r.leaf7Ebx, 0x000027ABu);
    EXPECT_EQ(r.xcr0, 0x7u);
    EXPECT_TRUE(DecodeProcessorFeatures(r).avx2);

    RecordedCpu leaf6{true, 6, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x000027AB, 0x7};
    r = ReadRecorded(leaf6);
    EXPECT_EQ(leaf6.asked, "0 1 x ");
    EXPECT_EQ(r.leaf7Ebx, 0u);
    EXPECT_FALSE(DecodeProcessorFeatures(r).avx2);
    EXPECT_TRUE(DecodeProcessorFeatures(r).sse2);

    RecordedCpu noOsxsave{true, 0xD, 0x77FAFBFF, 0xBFEBFBFF, 0x000027AB, 0, 0x7};
    r = ReadRecorded(noOsxsave);
    EXPECT_EQ(noOsxsave.asked, "0 1 7 ");
    EXPECT_EQ(r.xcr0, 0u);
    EXPECT_FALSE(DecodeProcessorFeatures(r).avx2);

    RecordedCpu leaf0{true, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ~uint64_t{0}};
    r = ReadRecorded(leaf0);
    EXPECT_EQ(leaf0.asked, "0 ");
    EXPECT_EQ(r.leaf1Edx, 0u);
    EXPECT_FALSE(DecodeProcessorFeatures(r).mmx);

    RecordedCpu none{false, 0xD, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ~uint64_t{0}};
    r = ReadRecorded(none);
    EXPECT_EQ(none.asked, "");
    EXPECT_FALSE(r.hasCpuId);
    EXPECT_EQ(r.highestLeaf, 0u);
}

#if VEILSHIFT_WIDE_FORMS
// The compiler's run-time checks read CPUID and XCR0 their own way; in the
// DLL's suite too, whose detection decides the forms a user's game runs.
TEST(ProcessorFeatures, DetectionAgreesWithTheCompilersRuntime) {
    const ProcessorFeatures detected = DetectProcessorFeatures();
    EXPECT_EQ(detected.mmx, __builtin_cpu_supports("mmx") != 0);
    EXPECT_EQ(detected.sse, __builtin_cpu_supports("sse") != 0);
    EXPECT_EQ(detected.sse2, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ(detected.avx2, __builtin_cpu_supports("avx2") != 0);
}
#endif

std::string Decided(int32_t width, bool useMmx, bool useSse, bool sse2, bool avx2) {
    FormSettings settings;
    settings.useMmx = useMmx, settings.useSse = useSse;
    settings.features = {true, true, sse2, avx2};
    const CrossfadeChoice c = DecideCrossfade(width, settings);
    return std::string(c.arithmetic == CrossfadeArithmetic::Exact ? "exact " : "grouped ") +
           InstructionSetName(c.set) + ", others " + InstructionSetName(DecideVectorSet(settings.features));
}

// The crossfade's arithmetic follows the switches and the width alone; the
// instruction set, and every other kernel's, follows the processor alone.
TEST(FormDispatch, SwitchesChooseTheArithmeticAndFeaturesTheInstructions) {
#if VEILSHIFT_WIDE_FORMS
    EXPECT_EQ(Decided(640, true, false, true, true), "grouped avx2, others avx2");
    EXPECT_EQ(Decided(640, true, true, true, false), "grouped sse2, others sse2");
    EXPECT_EQ(Decided(640, false, false, true, true), "exact avx2, others avx2");  // "MMX" = 0
    EXPECT_EQ(Decided(640, false, false, true, false), "exact sse2, others sse2");
    EXPECT_EQ(Decided(3, true, true, true, true), "exact avx2, others avx2");  // no whole group
    EXPECT_EQ(Decided(640, true, false, false, false), "grouped mmx, others scalar");
    EXPECT_EQ(Decided(640, true, true, false, false), "grouped sse, others scalar");
#else
    // Without x86 forms the portable code serves the grouped arithmetic.
    EXPECT_EQ(Decided(640, true, false, false, false), "grouped scalar, others scalar");
    EXPECT_EQ(Decided(640, true, true, true, true), "grouped scalar, others scalar");
#endif
    EXPECT_EQ(Decided(640, false, false, false, false), "exact scalar, others scalar");
    EXPECT_EQ(Decided(3, true, true, false, false), "exact scalar, others scalar");
}

// The start-up switches from the key and what the processor has: "MMX" and
// "SSE" switch a form off unless exactly 1, and never on where the processor
// lacks it.
TEST(FormDispatch, StartupSwitchesNeedTheProcessorsFeature) {
    if (!kX86Forms) GTEST_SKIP() << "a processor other than x86 counts as having both (StartupRuleFromValuesAndProcessor)";
    const refhost::StartupSwitches saved{refhost::kEveryFeature};
    {
        const refhost::StartupSwitches none(StartupValues{});
        LoadStartupSettings(platform::StartupKey(), ProcessorFeatures{false, false, true, true});
        EXPECT_FALSE(UseMMX);
        EXPECT_FALSE(UseSSE);
    }
    const refhost::StartupSwitches sseOnly(StartupValues{{}, {true, 1}});
    LoadStartupSettings(platform::StartupKey(), ProcessorFeatures{true, true, false, false});
    EXPECT_TRUE(UseMMX);
    EXPECT_TRUE(UseSSE);
    LoadStartupSettings(platform::StartupKey(), ProcessorFeatures{true, false, false, false});
    EXPECT_TRUE(UseMMX);
    EXPECT_FALSE(UseSSE);
}

// The start-up rule as a table: the values (absent, or their number) and the
// processor's MMX and SSE bits to the two switches. A processor that cannot
// be asked (another kind than x86) counts as having both, so the values choose
// the same arithmetic there.
TEST(FormDispatch, StartupRuleFromValuesAndProcessor) {
    constexpr StartupValue kAbsent{}, kZero{true, 0}, kOne{true, 1}, kTwo{true, 2};
    struct Row {
        StartupValue mmx, sse;
        bool cpuMmx, cpuSse, asked;
        bool useMmx, useSse;
    };
    for (const Row& r : {Row{kAbsent, kAbsent, true, true, true, true, false},
                         Row{kAbsent, kOne, true, true, true, true, true},
                         Row{kOne, kOne, true, false, true, true, false},  // no SSE on the processor
                         Row{kOne, kAbsent, false, true, true, false, false},
                         Row{kZero, kOne, true, true, true, false, false},  // "MMX" = 0 wins over "SSE" = 1
                         Row{kTwo, kAbsent, true, true, true, false, false},
                         Row{kOne, kTwo, true, true, true, true, false},  // only exactly 1 counts
                         Row{kAbsent, kAbsent, false, false, false, true, false},
                         Row{kAbsent, kOne, false, false, false, true, true},
                         Row{kZero, kAbsent, false, false, false, false, false}}) {
        const FormSettings s =
            DecideFormSettings({r.mmx, r.sse}, ProcessorFeatures{r.cpuMmx, r.cpuSse, true, false}, r.asked);
        EXPECT_EQ(s.useMmx, r.useMmx) << r.mmx.value << ' ' << r.sse.value << ' ' << r.asked;
        EXPECT_EQ(s.useSse, r.useSse) << r.mmx.value << ' ' << r.sse.value << ' ' << r.asked;
    }
}

// One name for the form each effect runs: the crossfade's effects by
// arithmetic and instruction set, the others by instruction set.
TEST(FormDispatch, EffectFormNames) {
    FormSettings grouped;
    grouped.useMmx = true;
    grouped.features = {true, true, false, false};
    const bool x86 = kX86Forms;
    EXPECT_STREQ(EffectFormName(1, 640, grouped), x86 ? "grouped-mmx" : "grouped-scalar");
    EXPECT_STREQ(EffectFormName(41, 3, grouped), "exact-scalar");
    EXPECT_STREQ(EffectFormName(6, 640, grouped), "scalar");
    grouped.features.sse2 = true;
    EXPECT_STREQ(EffectFormName(40, 640, grouped), x86 ? "grouped-sse2" : "grouped-scalar");
    EXPECT_STREQ(EffectFormName(34, 640, grouped), x86 ? "sse2" : "scalar");
}

// The test hook masks features the processor has; it never adds one.
TEST(FormDispatch, MaskOnlyRemovesFeatures) {
    const refhost::StartupSwitches saved{refhost::kEveryFeature};
    RecordProcessorFeatures({true, true, true, false});
    MaskProcessorFeatures({true, true, true, true});
    EXPECT_FALSE(CurrentFormSettings().features.avx2);
    EXPECT_TRUE(CurrentFormSettings().features.sse2);
    MaskProcessorFeatures({true, true, false, true});
    EXPECT_FALSE(CurrentFormSettings().features.sse2);
}

}  // namespace
}  // namespace veilshift
