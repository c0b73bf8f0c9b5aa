// The processor's features as CPUID (and XGETBV) report them: which crossfade
// forms a processor allows, decoded from answers recorded on real processors
// and made-up ones, and the detection on this machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

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
TEST(WideFeatures, DecodedFromCpuIdAndXcr0) {
    auto decode = [](bool hasCpuId, uint32_t highestLeaf, uint32_t ecx1, uint32_t edx1, uint32_t ebx7, uint64_t xcr0) {
        CpuIdReport r;
        r.hasCpuId = hasCpuId, r.highestLeaf = highestLeaf, r.leaf1Ecx = ecx1, r.leaf1Edx = edx1;
        r.leaf7Ebx = ebx7, r.xcr0 = xcr0;
        const WideFeatures f = DecodeWideFeatures(r);
        return std::string(f.sse2 ? "sse2" : "-") + (f.avx2 ? " avx2" : " -");
    };
    // A Zen 3 server processor as a guest, and a Haswell desktop.
    EXPECT_EQ(decode(true, 0x10, 0xFED83203, 0x178BFBFF, 0x219C97A9, 0x207), "sse2 avx2");
    EXPECT_EQ(decode(true, 0xD, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x7), "sse2 avx2");
    // Sandy Bridge: AVX without AVX2.
    EXPECT_EQ(decode(true, 0xD, 0x1FBAE3FF, 0xBFEBFBFF, 0x00000000, 0x7), "sse2 -");
    // An operating system that saves only the XMM registers, or has not enabled XGETBV.
    EXPECT_EQ(decode(true, 0xD, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x3), "sse2 -");
    EXPECT_EQ(decode(true, 0xD, 0x77FAFBFF, 0xBFEBFBFF, 0x000027AB, 0x7), "sse2 -");
    // Leaf 7 not offered: its register counts for nothing.
    EXPECT_EQ(decode(true, 0x6, 0x7FFAFBFF, 0xBFEBFBFF, 0x000027AB, 0x7), "sse2 -");
    // A Pentium III: SSE only; no CPUID; a highest leaf of 0.
    EXPECT_EQ(decode(true, 0x2, 0x00000000, 0x0387FBFF, 0, 0), "- -");
    EXPECT_EQ(decode(false, 0xD, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ~uint64_t{0}), "- -");
    EXPECT_EQ(decode(true, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ~uint64_t{0}), "- -");
}

#if VEILSHIFT_WIDE_FORMS && !defined(_WIN32)
// The compiler's run-time checks read CPUID and XCR0 their own way.
TEST(WideFeatures, DetectionAgreesWithTheCompilersRuntime) {
    const WideFeatures detected = DetectWideFeatures();
    EXPECT_EQ(detected.sse2, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ(detected.avx2, __builtin_cpu_supports("avx2") != 0);
}

// Natively the start-up values come from the environment. The wider forms
// follow the processor while "MMX" allows the MMX form, and never without it.
TEST(WideFeatures, FollowTheMmxSwitch) {
    const test::FormScope saved;
    const WideFeatures detected = DetectWideFeatures();
    struct Case { const char* mmx; const char* sse; bool wide; };
    for (const Case& c : {Case{nullptr, nullptr, true}, Case{"1", "1", true}, Case{nullptr, "1", true},
                          Case{"0", nullptr, false}, Case{"0", "1", false}, Case{"2", nullptr, false}}) {
        SCOPED_TRACE(testing::Message() << "MMX " << (c.mmx ? c.mmx : "absent") << " SSE "
                                        << (c.sse ? c.sse : "absent"));
        c.mmx ? setenv("TESSARY_STARTUP_MMX", c.mmx, 1) : unsetenv("TESSARY_STARTUP_MMX");
        c.sse ? setenv("TESSARY_STARTUP_SSE", c.sse, 1) : unsetenv("TESSARY_STARTUP_SSE");
        LoadStartupSettings(platform::StartupKey());
        EXPECT_EQ(UseSSE2, c.wide && detected.sse2);
        EXPECT_EQ(UseAVX2, c.wide && detected.avx2);
    }
    unsetenv("TESSARY_STARTUP_MMX");
    unsetenv("TESSARY_STARTUP_SSE");
}
#endif

}  // namespace
}  // namespace veilshift
