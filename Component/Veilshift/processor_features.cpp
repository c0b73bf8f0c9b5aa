#include "processor_features.h"

#include "platform/platform.h"

namespace veilshift {

CpuIdReport ReadCpuIdReport(const CpuIdSource& source) {
    CpuIdReport report;
    report.hasCpuId = source.hasCpuId();
    if (!report.hasCpuId) return report;
    uint32_t regs[4];
    source.cpuId(0, regs);
    report.highestLeaf = regs[0];
    if (report.highestLeaf < 1) return report;
    source.cpuId(1, regs);
    report.leaf1Ecx = regs[2];
    report.leaf1Edx = regs[3];
    // XGETBV faults unless the OS has enabled it, which OSXSAVE reports.
    if ((report.leaf1Ecx & kCpuIdOsxsaveBit) != 0) report.xcr0 = source.readXcr0();
    if (report.highestLeaf >= 7) {
        source.cpuId(7, regs);
        report.leaf7Ebx = regs[1];
    }
    return report;
}

CpuIdReport ReadCpuIdReport() {
    return ReadCpuIdReport(CpuIdSource{platform::HasCpuId, platform::CpuId, platform::ReadXcr0});
}

ProcessorFeatures DetectProcessorFeatures() { return DecodeProcessorFeatures(ReadCpuIdReport()); }
bool DetectMMX() { return DetectProcessorFeatures().mmx; }
bool DetectSSE() { return DetectProcessorFeatures().sse; }

}  // namespace veilshift
