// The user's start-up switches for the crossfade's MMX and SSE forms, settled
// at connection (form_dispatch.cpp says what they choose).
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "processor_features.h"

namespace veilshift {

extern bool UseMMX;  // the crossfade may use its grouped arithmetic (the MMX form and its wider forms)
extern bool UseSSE;  // the crossfade may use its SSE form; never without UseMMX

// Reads "MMX" and "SSE" from the open (or unopenable) start-up key and sets the
// two switches from them and the processor's features.
void LoadStartupSettings(const platform::StartupKey& key, const ProcessorFeatures& features);

}  // namespace veilshift
