#include "startup_settings.h"

namespace veilshift {

bool UseMMX = false;
bool UseSSE = false;

void ApplyStartupValues(const StartupValues& values, const ProcessorFeatures& features) {
    const FormSettings settings = DecideFormSettings(values, features);
    UseMMX = settings.useMmx;
    UseSSE = settings.useSse;
}

void LoadStartupSettings(const platform::StartupKey& key, const ProcessorFeatures& features) {
    StartupValues values;
    if (key.IsOpen()) {
        values.mmx.present = key.ReadValue("MMX", values.mmx.value);
        values.sse.present = key.ReadValue("SSE", values.sse.value);
    }
    ApplyStartupValues(values, features);
}

}  // namespace veilshift
