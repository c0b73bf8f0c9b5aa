// The module's start-up switches for as long as a scope lives: the one way the
// tests, the benchmarks, the fuzzer, the preview tool and the soak runner run
// the module under chosen switches. The switches come from the start-up values
// "MMX" and "SSE" (veilshift::StartupValues: each absent or a 32-bit number),
// by the module's own rule (veilshift::DecideFormSettings).
//
// The module reads them in two places, and a scope sets them in both where
// it needs to:
//   - At connection (the first Begin that finds the engine's components), from
//     the start-up key: on Windows the registry values under
//     HKEY_CURRENT_USER\Software\Quillmoor\Tessary\Startup, elsewhere the
//     environment variables TESSARY_STARTUP_MMX and TESSARY_STARTUP_SSE. Every
//     scope given values sets them there, for a module loaded from its file
//     and for the program's own copy alike.
//   - Once connected, the program's own copy of the module (the static
//     veilshift_core that the tests, the benchmarks and the fuzzer link) holds
//     the switches it decided and the processor's features it recorded. A scope
//     that names the vector features `allowed` is for that copy: it sets the
//     switches through the module's rule (ApplyStartupValues), records the
//     processor's features as connection would, and masks the vector features
//     not allowed (MaskProcessorFeatures), so that each form runs in turn on
//     one machine. Only programs that link veilshift_core use these
//     constructors; the others need nothing of it.
// At its end the scope puts back everything it found: each value as it was (or
// absent), and for the program's own copy its switches, recorded features,
// mask and streaming threshold, whatever the scope's code set meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "Veilshift/form_rules.h"
#include "Veilshift/processor_features.h"
#include "Veilshift/startup_settings.h"

namespace refhost {

// Where a scope puts the values on Windows. Natively both mean this process's
// environment.
enum class SwitchStore {
    // The user's own key, shared by every program on the machine: set under a
    // named mutex that every program of ours holds while it sets the key, so
    // that concurrent tests and benchmarks do not mix their values.
    UserKey,
    // For this process only, HKEY_CURRENT_USER stands for a private key of ours
    // (RegOverridePredefKey) holding the values: the user's own key is neither
    // read nor touched. The private key is deleted at the scope's end.
    PrivateKey,
};

// Every vector feature the processor has may run: nothing masked.
inline constexpr veilshift::ProcessorFeatures kEveryFeature{true, true, true, true};

// Which of the forms with gathers and without a scope runs (the ripple's AVX2
// passes): as the processor decides (DecideFastGather), or the one or the
// other whatever the processor's gathers cost, so that both run on one machine.
enum class Gathers { AsDetected, Used, Avoided };

// Both values present: 1 for a switch on, 0 for off.
constexpr veilshift::StartupValues SwitchValues(bool mmx, bool sse) {
    return {{true, mmx ? 1u : 0u}, {true, sse ? 1u : 0u}};
}

// The values by the name a user chooses them with (the preview tool's and the
// soak runner's --form): "auto" both absent (the processor decides), "scalar"
// both 0, "mmx" MMX 1 and SSE 0, "sse" both 1. None for another name.
std::optional<veilshift::StartupValues> NamedStartupValues(std::string_view name);

class StartupSwitches {
public:
    // The values where the module reads them at connection.
    explicit StartupSwitches(const veilshift::StartupValues& values, SwitchStore store = SwitchStore::UserKey);
    // The program's own copy of the module, connected or not: the values at
    // connection's place (user key) and the switches from them now, the
    // processor's features recorded, only the `allowed` vector features.
    StartupSwitches(const veilshift::StartupValues& values, const veilshift::ProcessorFeatures& allowed,
                    Gathers gathers = Gathers::AsDetected)
        : StartupSwitches(values) {
        Link(&values, allowed, gathers);
    }
    // The same with the switches and the values left as they are.
    explicit StartupSwitches(const veilshift::ProcessorFeatures& allowed, Gathers gathers = Gathers::AsDetected) {
        Link(nullptr, allowed, gathers);
    }
    ~StartupSwitches();
    StartupSwitches(const StartupSwitches&) = delete;
    StartupSwitches& operator=(const StartupSwitches&) = delete;

    // False when the values could not be set where the module reads them (a
    // module connecting now would read the user's own); true when the scope
    // sets no values.
    bool InForce() const;

private:
    // What the program's own copy of the module holds of its forms.
    struct LinkedState {
        bool useMmx = false, useSse = false;
        veilshift::ProcessorFeatures recorded, allowed;
        uint64_t streamingBytes = 0;
    };
    // Defined here, so that only programs that call them link the module.
    static LinkedState SaveLinked() {
        return {veilshift::UseMMX,
                veilshift::UseSSE,
                veilshift::RecordedProcessorFeatures(),
                veilshift::AllowedProcessorFeatures(),
                veilshift::StreamingBytesOverride};
    }
    static void RestoreLinked(const LinkedState& state) {
        veilshift::UseMMX = state.useMmx;
        veilshift::UseSSE = state.useSse;
        veilshift::RecordProcessorFeatures(state.recorded);
        veilshift::MaskProcessorFeatures(state.allowed);
        veilshift::StreamingBytesOverride = state.streamingBytes;
    }
    void Link(const veilshift::StartupValues* values, const veilshift::ProcessorFeatures& allowed, Gathers gathers) {
        linked_ = SaveLinked();
        restoreLinked_ = RestoreLinked;
        veilshift::ProcessorFeatures present = veilshift::DetectProcessorFeatures();
        if (values != nullptr) veilshift::ApplyStartupValues(*values, present);
        veilshift::ProcessorFeatures mask = allowed;
        if (gathers == Gathers::Used) present.fastGather = true;
        if (gathers == Gathers::Avoided) mask.fastGather = false;
        veilshift::RecordProcessorFeatures(present);
        veilshift::MaskProcessorFeatures(mask);
    }

    struct Store;  // the values as found, and how to put them back (startup_switches.cpp)
    Store* store_ = nullptr;
    LinkedState linked_;
    void (*restoreLinked_)(const LinkedState&) = nullptr;
};

}  // namespace refhost
