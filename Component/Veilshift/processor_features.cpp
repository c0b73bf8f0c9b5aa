#include "processor_features.h"

#include "platform/platform.h"

namespace veilshift {

namespace {

// Sub-leaves of a deterministic cache leaf until one reports no cache.
void ReadCacheLeaves(const CpuIdSource& source, uint32_t leaf, CacheLeaf (&caches)[kCacheLeafCount]) {
    uint32_t regs[4];
    for (uint32_t i = 0; i < kCacheLeafCount; ++i) {
        source.cpuId(leaf, regs, i);
        caches[i] = {regs[0], regs[1], regs[2]};
        if ((regs[0] & 0x1F) == 0) return;
    }
}

}  // namespace

CpuIdReport ReadCpuIdReport(const CpuIdSource& source) {
    CpuIdReport report;
    report.hasCpuId = source.hasCpuId();
    if (!report.hasCpuId) return report;
    uint32_t regs[4];
    source.cpuId(0, regs, 0);
    report.highestLeaf = regs[0];
    report.vendor[0] = regs[1], report.vendor[1] = regs[3], report.vendor[2] = regs[2];
    if (report.highestLeaf < 1) return report;
    source.cpuId(1, regs, 0);
    report.leaf1Eax = regs[0];
    report.leaf1Ecx = regs[2];
    report.leaf1Edx = regs[3];
    // XGETBV faults unless the OS has enabled it, which OSXSAVE reports.
    if ((report.leaf1Ecx & kCpuIdOsxsaveBit) != 0) report.xcr0 = source.readXcr0();
    if (report.highestLeaf >= 7) {
        source.cpuId(7, regs, 0);
        report.leaf7Ebx = regs[1];
        report.leaf7Edx = regs[3];
    }
    // Processors before the extended leaves answer leaf 0x80000000 with
    // whatever their highest basic leaf holds, below 0x80000000.
    source.cpuId(0x80000000, regs, 0);
    if (regs[0] >= 0x80000000 && regs[0] <= 0x8FFFFFFF) report.highestExtendedLeaf = regs[0];
    if (report.highestExtendedLeaf >= 0x80000001) {
        source.cpuId(0x80000001, regs, 0);
        report.extended1Ecx = regs[2];
    }
    if (report.highestExtendedLeaf >= 0x80000006) {
        source.cpuId(0x80000006, regs, 0);
        report.extended6Ecx = regs[2];
        report.extended6Edx = regs[3];
    }
    const ProcessorIdentity identity = DecodeProcessorIdentity(report);
    if (identity.vendor == CpuVendor::Intel && report.highestLeaf >= 4) {
        ReadCacheLeaves(source, 4, report.caches);
    } else if ((identity.vendor == CpuVendor::Amd || identity.vendor == CpuVendor::Hygon) &&
               report.highestExtendedLeaf >= 0x8000001D && (report.extended1Ecx & kCpuIdTopologyExtensionsBit) != 0) {
        ReadCacheLeaves(source, 0x8000001D, report.caches);
    }
    return report;
}

CpuIdReport ReadCpuIdReport() {
    return ReadCpuIdReport(CpuIdSource{platform::HasCpuId, platform::CpuId, platform::ReadXcr0});
}

ProcessorFeatures DetectProcessorFeatures() { return DecodeProcessorFeatures(ReadCpuIdReport()); }
ProcessorReport DetectProcessorReport() { return DecodeProcessorReport(ReadCpuIdReport()); }
bool DetectMMX() { return DetectProcessorFeatures().mmx; }
bool DetectSSE() { return DetectProcessorFeatures().sse; }

}  // namespace veilshift
