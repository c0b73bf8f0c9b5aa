// The user's start-up switches for the crossfade's grouped arithmetic and its
// SSE form, settled at connection (form_dispatch.cpp says what they choose).
//
// The rule is one pure function from the two start-up values ("MMX" and
// "SSE", each absent or a 32-bit value) and the processor's features to the
// form settings; the module applies it at connection, and the tools that tell
// which form the module runs apply the same function to the values they set.
#pragma once

#include <cstdint>

#include "form_rules.h"
#include "platform/platform.h"
#include "processor_features.h"

namespace veilshift {

// One start-up value as read: absent, or present with its 32-bit value.
struct StartupValue {
    bool present = false;
    uint32_t value = 0;
};

// "MMX" and "SSE"; a key that cannot be opened reads as both absent.
struct StartupValues {
    StartupValue mmx, sse;
};

// With neither value present MMX follows the processor and SSE stays off;
// only a value of exactly 1 switches a form on, and SSE only with MMX. A
// processor other than x86 has no CPUID to ask (cpuidAnswers false): the
// values then choose as on an x86 processor with MMX and SSE, so that the same
// values give the same bytes everywhere.
constexpr FormSettings DecideFormSettings(const StartupValues& values, const ProcessorFeatures& features,
                                          bool cpuidAnswers = kX86Forms) {
    const bool hasMmx = cpuidAnswers ? features.mmx : true;
    const bool hasSse = cpuidAnswers ? features.sse : true;
    FormSettings settings;
    settings.useMmx = (values.mmx.present && values.mmx.value != 1) ? false : hasMmx;
    settings.useSse = values.sse.present && values.sse.value == 1 && settings.useMmx && hasSse;
    settings.features = features;
    return settings;
}

// "MMX" and "SSE" as the open (or unopenable) start-up key holds them.
StartupValues ReadStartupValues(const platform::StartupKey& key);

}  // namespace veilshift
