#include "processor_features.h"

#include "platform/platform.h"

namespace veilshift {

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

ProcessorFeatures DetectProcessorFeatures() { return DecodeProcessorFeatures(ReadCpuIdReport()); }
bool DetectMMX() { return DetectProcessorFeatures().mmx; }
bool DetectSSE() { return DetectProcessorFeatures().sse; }

}  // namespace veilshift
