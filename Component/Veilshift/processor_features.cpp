#include "processor_features.h"

#include "platform/platform.h"

namespace veilshift {

namespace {

// Sub-leaves of a deterministic cache leaf until one reports no cache.
void ReadCacheLeaves(uint32_t leaf, CacheLeaf (&caches)[kCacheLeafCount]) {
    uint32_t regs[4];
    for (uint32_t i = 0; i < kCacheLeafCount; ++i) {
        platform::CpuId(leaf, regs, i);
        caches[i] = {regs[0], regs[1], regs[2]};
        if ((regs[0] & 0x1F) == 0) return;
    }
}

}  // namespace

CpuIdReport ReadCpuIdReport() {
    CpuIdReport report;
    report.hasCpuId = platform::HasCpuId();
    if (!report.hasCpuId) return report;
    uint32_t regs[4];
    platform::CpuId(0, regs);
    report.highestLeaf = regs[0];
    report.vendor[0] = regs[1], report.vendor[1] = regs[3], report.vendor[2] = regs[2];
    if (report.highestLeaf >= 1) {
        platform::CpuId(1, regs);
        report.leaf1Eax = regs[0];
        report.leaf1Ecx = regs[2];
        report.leaf1Edx = regs[3];
        // XGETBV faults unless the OS has enabled it, which OSXSAVE reports.
        if ((report.leaf1Ecx & kCpuIdOsxsaveBit) != 0) report.xcr0 = platform::ReadXcr0();
    }
    if (report.highestLeaf >= 7) {
        platform::CpuId(7, regs);
        report.leaf7Ebx = regs[1];
        report.leaf7Edx = regs[3];
    }
    // Processors before the extended leaves answer leaf 0x80000000 with
    // whatever their highest basic leaf holds, below 0x80000000.
    platform::CpuId(0x80000000, regs);
    if (regs[0] >= 0x80000000 && regs[0] <= 0x8FFFFFFF) report.highestExtendedLeaf = regs[0];
    if (report.highestExtendedLeaf >= 0x80000001) {
        platform::CpuId(0x80000001, regs);
        report.extended1Ecx = regs[2];
    }
    if (report.highestExtendedLeaf >= 0x80000006) {
        platform::CpuId(0x80000006, regs);
        report.extended6Ecx = regs[2];
        report.extended6Edx = regs[3];
    }
    const ProcessorIdentity identity = DecodeProcessorIdentity(report);
    if (identity.vendor == CpuVendor::Intel && report.highestLeaf >= 4) {
        ReadCacheLeaves(4, report.caches);
    } else if ((identity.vendor == CpuVendor::Amd || identity.vendor == CpuVendor::Hygon) &&
               report.highestExtendedLeaf >= 0x8000001D && (report.extended1Ecx & kCpuIdTopologyExtensionsBit) != 0) {
        ReadCacheLeaves(0x8000001D, report.caches);
    }
    return report;
}

ProcessorFeatures DetectProcessorFeatures() { return DecodeProcessorFeatures(ReadCpuIdReport()); }
ProcessorReport DetectProcessorReport() { return DecodeProcessorReport(ReadCpuIdReport()); }
bool DetectMMX() { return DetectProcessorFeatures().mmx; }
bool DetectSSE() { return DetectProcessorFeatures().sse; }

}  // namespace veilshift
