#include "module_state.h"

#include <memory>
#include <type_traits>

namespace veilshift {

// Trivially destructible, so that nothing runs at exit either: the release
// at unload is ReleaseModuleStorage, called in the module's load order.
static_assert(std::is_trivially_destructible_v<ModuleState>);
constinit ModuleState moduleState;

void ReleaseModuleStorage() {
    moduleState.MulTable.Release();
    moduleState.depthBuffer.Free();
}

void ResetModuleState() {
    ReleaseModuleStorage();
    const FormHooks hooks = moduleState.hooks;
    std::destroy_at(&moduleState);
    std::construct_at(&moduleState);
    moduleState.hooks = hooks;
}

void RecordProcessorReport(const ProcessorReport& report) {
    moduleState.settled.features = report.features;
    moduleState.settled.caches = report.caches;
}

void ApplyStartupValues(const StartupValues& values, const ProcessorFeatures& features) {
    const FormSettings decided = DecideFormSettings(values, features);
    moduleState.settled.UseMMX = decided.useMmx;
    moduleState.settled.UseSSE = decided.useSse;
}

void LoadStartupSettings(const platform::StartupKey& key, const ProcessorFeatures& features) {
    ApplyStartupValues(ReadStartupValues(key), features);
}

bool BuildMulTable() { return moduleState.MulTable.Build(); }
void ReleaseMulTable() { moduleState.MulTable.Release(); }

FormSettings CurrentFormSettings() {
    const SettledForms& settled = moduleState.settled;
    const ProcessorFeatures& allowed = moduleState.hooks.allowed;
    FormSettings settings;
    settings.useMmx = settled.UseMMX;
    settings.useSse = settled.UseSSE;
    settings.features.mmx = settled.features.mmx && allowed.mmx;
    settings.features.sse = settled.features.sse && allowed.sse;
    settings.features.sse2 = settled.features.sse2 && allowed.sse2;
    settings.features.avx2 = settled.features.avx2 && allowed.avx2;
    settings.features.fastGather = settled.features.fastGather && allowed.fastGather;
    settings.caches = settled.caches;
    return settings;
}

FormState SaveFormState() { return {moduleState.settled, moduleState.hooks}; }

void RestoreFormState(const FormState& state) {
    moduleState.settled = state.settled;
    moduleState.hooks = state.hooks;
}

}  // namespace veilshift
