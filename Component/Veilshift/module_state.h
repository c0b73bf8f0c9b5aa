// Everything the module keeps from one call to the next outside its plug-in
// object, in one record: the engine's components as connection found them,
// the start-up switches and the processor's features and caches as connection
// settled them, the blend table, the shatter's depth buffer, and the test
// hooks. The record is constant-initialised (nothing runs at load); unloading
// gives back its storage (ReleaseModuleStorage), and ResetModuleState returns
// it to what a fresh load starts from. A writable global of the module outside this record
// fails the build's check of the module's data (tests/CMakeLists.txt).
#pragma once

#include <cstdint>

#include "depth_buffer.h"
#include "form_rules.h"
#include "host_interfaces.h"
#include "mul_table.h"
#include "platform/platform.h"
#include "processor_features.h"
#include "startup_settings.h"

namespace veilshift {

inline constexpr uint64_t kStreamingByCaches = ~uint64_t{0};

// Test hooks, in the manner of a CPU-flag mask. The shipped module never
// changes them and no host can reach them; a test's own copy of the module
// keeps them across its loads.
struct FormHooks {
    // Features cleared here are treated as absent, so that each form can be
    // run in turn on one machine. All set: nothing masked.
    ProcessorFeatures allowed{true, true, true, true, true};
    // From this many destination bytes on every transition begun streams,
    // whatever the caches say (0: every one); kStreamingByCaches leaves it to
    // DecideStreaming.
    uint64_t streamingBytes = kStreamingByCaches;
};

// The start-up switches and the processor's features and caches, settled at
// connection: all off and none before it.
struct SettledForms {
    bool UseMMX = false;  // the crossfade may use its grouped arithmetic
    bool UseSSE = false;  // the crossfade may use its SSE form; never without UseMMX
    ProcessorFeatures features;
    CacheSizes caches;
};

struct ModuleState {
    PlatewrightApi* platewright = nullptr;
    PixmillApi* pixmill = nullptr;
    SystemApi* system = nullptr;  // Corvane's answer, kept from its first asking
    SettledForms settled;
    MulTableStorage MulTable;  // built at connection
    DepthBuffer depthBuffer;   // the shatter's, sized at its Begin
    FormHooks hooks;
};

extern ModuleState moduleState;

// Gives back the storage the record holds: the blend table, then the depth buffer.
void ReleaseModuleStorage();
// The storage given back and every field but the test hooks at its initial value.
void ResetModuleState();

// Records what CPUID answered: the features and the caches.
void RecordProcessorReport(const ProcessorReport& report);

// Sets the two switches from the values and the processor's features by the
// module's rule (DecideFormSettings).
void ApplyStartupValues(const StartupValues& values, const ProcessorFeatures& features);

// Reads "MMX" and "SSE" from the open (or unopenable) start-up key and applies them.
void LoadStartupSettings(const platform::StartupKey& key, const ProcessorFeatures& features);

// The module's blend table built anew (false when storage ran out), and given back.
bool BuildMulTable();
void ReleaseMulTable();

// The settings the module's transitions choose their forms by now: those of
// connection less the features the test hook masks.
FormSettings CurrentFormSettings();

// What a scope that runs the module under chosen forms saves and puts back.
struct FormState {
    SettledForms settled;
    FormHooks hooks;
};
FormState SaveFormState();
void RestoreFormState(const FormState& state);

}  // namespace veilshift
