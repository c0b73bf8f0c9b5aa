// The program's own copy of the module (the static veilshift_core that the
// tests, the benchmarks and the fuzzer link) under chosen processor forms for
// as long as a scope lives, connected or not: the processor's features
// recorded as connection records them, only the `allowed` vector features
// left unmasked (the module's test hook), so that each form runs in turn on
// one machine; with start-up values also those values where connection reads
// them (a StartupSwitches scope) and the switches decided from them now, by
// the module's own rule. At its end the scope puts back the module's forms
// state as it found it (veilshift::SaveFormState), whatever the scope's code
// set meanwhile: switches, features, caches, mask and streaming threshold.
//
// Header-only: only programs that link veilshift_core include it.
#pragma once

#include <optional>

#include "Veilshift/module_state.h"
#include "Veilshift/processor_features.h"
#include "Veilshift/startup_settings.h"
#include "host/startup_switches.h"

namespace refhost {

// Every vector feature the processor has may run: nothing masked.
inline constexpr veilshift::ProcessorFeatures kEveryFeature{true, true, true, true};

// Which of the forms with gathers and without a scope runs (the ripple's AVX2
// passes): as the processor decides (DecideFastGather), or the one or the
// other whatever the processor's gathers cost, so that both run on one machine.
enum class Gathers { AsDetected, Used, Avoided };

class ModuleForms {
public:
    // The switches and the start-up values left as they are.
    explicit ModuleForms(const veilshift::ProcessorFeatures& allowed, Gathers gathers = Gathers::AsDetected) {
        Record(nullptr, allowed, gathers);
    }
    // The values set where connection reads them (the user's key), and the
    // switches decided from them now.
    ModuleForms(const veilshift::StartupValues& values, const veilshift::ProcessorFeatures& allowed,
                Gathers gathers = Gathers::AsDetected)
        : values_(std::in_place, values) {
        Record(&values, allowed, gathers);
    }
    ~ModuleForms() { veilshift::RestoreFormState(saved_); }
    ModuleForms(const ModuleForms&) = delete;
    ModuleForms& operator=(const ModuleForms&) = delete;

    // False when the values could not be set where connection reads them.
    bool InForce() const { return !values_ || values_->InForce(); }

private:
    void Record(const veilshift::StartupValues* values, const veilshift::ProcessorFeatures& allowed,
                Gathers gathers) {
        veilshift::ProcessorFeatures present = veilshift::DetectProcessorFeatures();
        if (values != nullptr) veilshift::ApplyStartupValues(*values, present);
        veilshift::ProcessorFeatures mask = allowed;
        if (gathers == Gathers::Used) present.fastGather = true;
        if (gathers == Gathers::Avoided) mask.fastGather = false;
        veilshift::moduleState.settled.features = present;
        veilshift::moduleState.hooks.allowed = mask;
    }

    veilshift::FormState saved_ = veilshift::SaveFormState();
    std::optional<StartupSwitches> values_;
};

}  // namespace refhost
