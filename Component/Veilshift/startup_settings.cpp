#include "startup_settings.h"

namespace veilshift {

bool UseMMX = false;
bool UseSSE = false;
bool UseSSE2 = false;
bool UseAVX2 = false;
bool ScalarUsesAVX2 = false;

namespace {
bool DetectFeature(uint32_t bit) {
    if (!platform::HasCpuId()) return false;
    uint32_t regs[4];
    platform::CpuId(0, regs);
    const uint32_t highestLeaf = regs[0];
    if (highestLeaf == 0) return false;
    platform::CpuId(1, regs);
    return DecodeFeature(true, highestLeaf, regs[3], bit);
}
}  // namespace

bool DetectMMX() { return DetectFeature(kCpuIdMmxBit); }
bool DetectSSE() { return DetectFeature(kCpuIdSseBit); }

CpuIdReport ReadCpuIdReport() {
    CpuIdReport report;
    report.hasCpuId = platform::HasCpuId();
    if (!report.hasCpuId) return report;
    uint32_t regs[4];
    platform::CpuId(0, regs);
    report.highestLeaf = regs[0];
    if (report.highestLeaf < 1) return report;
    platform::CpuId(1, regs);
    report.leaf1Ecx = regs[2];
    report.leaf1Edx = regs[3];
    // XGETBV faults unless the OS has enabled it, which OSXSAVE reports.
    if ((report.leaf1Ecx & kCpuIdOsxsaveBit) != 0) report.xcr0 = platform::ReadXcr0();
    if (report.highestLeaf >= 7) {
        platform::CpuId(7, regs);
        report.leaf7Ebx = regs[1];
    }
    return report;
}

WideFeatures DetectWideFeatures() { return DecodeWideFeatures(ReadCpuIdReport()); }

namespace {
// Only the x86-64 build has the wider forms; they follow UseMMX.
void DecideWideForms() {
#if VEILSHIFT_WIDE_FORMS
    const WideFeatures present = DetectWideFeatures();
    UseSSE2 = UseMMX && present.sse2;
    UseAVX2 = UseMMX && present.avx2;
    ScalarUsesAVX2 = present.avx2;
#else
    UseSSE2 = false;
    UseAVX2 = false;
    ScalarUsesAVX2 = false;
#endif
}
}  // namespace

// With neither value present MMX follows the processor and SSE stays off; only
// a value of exactly 1 switches a form on.
void LoadStartupSettings(const platform::StartupKey& key) {
    if (!key.IsOpen()) {
        UseMMX = DetectMMX();
        UseSSE = false;
    } else {
        uint32_t mmx = 0;
        const bool mmxPresent = key.ReadValue("MMX", mmx);
        UseMMX = (mmxPresent && mmx != 1) ? false : DetectMMX();
        uint32_t sse = 0;
        const bool ssePresent = key.ReadValue("SSE", sse);
        UseSSE = (ssePresent && sse == 1 && UseMMX) ? DetectSSE() : false;
    }
    DecideWideForms();
}

}  // namespace veilshift
