// The scenario target of the fuzzer and the robustness tests: the test
// process's own module (static core) against the reference components.
//
// One host serves every scenario that wants the same components (SharedHost).
// The module itself is loaded and unloaded for every scenario, so each starts
// unconnected. Its module-wide settings (the vector forms allowed, the streaming
// thresholds) are the scenario's from Tune until Unload: a start-up switches'
// scope holds them, and puts back what it found.
#pragma once

#include <optional>

#include "fuzz/scenario.h"
#include "host/in_process_module.h"
#include "host/module_forms.h"
#include "host/startup_switches.h"

namespace robustness {

class InProcessTarget final : public ModuleUnderTest {
public:
    // `quiet`: the module's message box line (standard error natively) is
    // dropped, so that a fuzzing run's log stays readable.
    explicit InProcessTarget(bool quiet = false) : quiet_(quiet) {}
    ~InProcessTarget() override;

    refhost::Host& PrepareHost(bool corvane, bool platewright, bool pixmill) override;
    void Tune(const Tuning& tuning) override;
    void Load() override { module_.emplace(); }
    veilshift::PluginInterface* Plugin() override { return &module_->Plugin(); }
    bool Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB, int32_t bx,
               int32_t by, int32_t width, int32_t height, int32_t effect) override;
    void Draw(int32_t progress, int32_t total) override { module_->Plugin().Draw(progress, total); }
    void End() override { module_->Plugin().End(); }
    void Unload() override;
    int64_t Outstanding() const override { return outstanding_; }
    bool StoredRect(int32_t rect[8]) const override;

    // Drops the shared host (the components are unloaded).
    void Reset();

private:
    bool quiet_;
    SharedHost host_;
    std::optional<refhost::ModuleForms> switches_;  // from Tune until Unload
    std::optional<refhost::InProcessModule> module_;
    int64_t outstanding_ = -1;
};

}  // namespace robustness
