// The test process's own copy of the module (the static veilshift_core), loaded
// and unloaded in place: what a fresh load of the shared module gives, without
// the loader. Its EffectPlugin finds the engine's components exactly as the
// shipped module does (by name, among the modules already loaded), so it runs
// against a Host built with `loadModule = false`.
//
// Header-only: only programs that link veilshift_core include it. The state is
// the test process's module-wide state, so one InProcessModule at a time.
#pragma once

#include <cstring>
#include <new>

#include "Veilshift/effect_plugin.h"
#include "Veilshift/memory.h"
#include "Veilshift/module_state.h"

namespace refhost {

class InProcessModule {
public:
    InProcessModule() { Load(); }
    ~InProcessModule() { Unload(); }
    InProcessModule(const InProcessModule&) = delete;
    InProcessModule& operator=(const InProcessModule&) = delete;

    // Module load: the module's state as a fresh load has it (the test hooks
    // kept), then the plug-in object constructed. Blocks the module holds from
    // before (none after a clean unload) become the baseline of Outstanding().
    void Load() {
        if (plugin_ != nullptr) return;
        veilshift::ResetModuleState();
        veilshift::FailAllocationsFrom(0);
        baseline_ = veilshift::OutstandingAllocations();
        std::memset(storage_, 0, sizeof storage_);
        plugin_ = new (storage_) veilshift::EffectPlugin();
    }

    // Module unload, in the shipped module's order: the plug-in object, then
    // the state's storage (the blend table, then the depth buffer). What else
    // the state holds stays until the next Load, as the program's own copy
    // keeps running.
    void Unload() {
        if (plugin_ == nullptr) return;
        plugin_->~EffectPlugin();
        plugin_ = nullptr;
        veilshift::ReleaseModuleStorage();
        veilshift::FailAllocationsFrom(0);
    }

    bool Loaded() const { return plugin_ != nullptr; }
    veilshift::EffectPlugin& Plugin() { return *plugin_; }
    const veilshift::EffectPlugin& Plugin() const { return *plugin_; }
    // Blocks acquired since Load and not given back; 0 after a clean Unload.
    int64_t Outstanding() const { return veilshift::OutstandingAllocations() - baseline_; }

private:
    alignas(veilshift::EffectPlugin) unsigned char storage_[sizeof(veilshift::EffectPlugin)];
    veilshift::EffectPlugin* plugin_ = nullptr;
    int64_t baseline_ = 0;
};

}  // namespace refhost
