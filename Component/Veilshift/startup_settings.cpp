#include "startup_settings.h"

namespace veilshift {

StartupValues ReadStartupValues(const platform::StartupKey& key) {
    StartupValues values;
    if (key.IsOpen()) {
        values.mmx.present = key.ReadValue("MMX", values.mmx.value);
        values.sse.present = key.ReadValue("SSE", values.sse.value);
    }
    return values;
}

}  // namespace veilshift
