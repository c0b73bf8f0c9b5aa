#include "startup_settings.h"

namespace veilshift {

bool UseMMX = false;
bool UseSSE = false;

// With neither value present MMX follows the processor and SSE stays off; only
// a value of exactly 1 switches a form on.
void LoadStartupSettings(const platform::StartupKey& key, const ProcessorFeatures& features) {
    if (!key.IsOpen()) {
        UseMMX = features.mmx;
        UseSSE = false;
    } else {
        uint32_t mmx = 0;
        const bool mmxPresent = key.ReadValue("MMX", mmx);
        UseMMX = (mmxPresent && mmx != 1) ? false : features.mmx;
        uint32_t sse = 0;
        const bool ssePresent = key.ReadValue("SSE", sse);
        UseSSE = (ssePresent && sse == 1 && UseMMX) ? features.sse : false;
    }
}

}  // namespace veilshift
