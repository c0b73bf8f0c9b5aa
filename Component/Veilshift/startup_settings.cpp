#include "startup_settings.h"

namespace veilshift {

bool UseMMX = false;
bool UseSSE = false;

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

// With neither value present MMX follows the processor and SSE stays off; only
// a value of exactly 1 switches a form on.
void LoadStartupSettings(const platform::StartupKey& key) {
    if (!key.IsOpen()) {
        UseMMX = DetectMMX();
        UseSSE = false;
        return;
    }
    uint32_t mmx = 0;
    const bool mmxPresent = key.ReadValue("MMX", mmx);
    UseMMX = (mmxPresent && mmx != 1) ? false : DetectMMX();
    uint32_t sse = 0;
    const bool ssePresent = key.ReadValue("SSE", sse);
    UseSSE = (ssePresent && sse == 1 && UseMMX) ? DetectSSE() : false;
}

}  // namespace veilshift
