// The start-up values "MMX" and "SSE" where the module reads them at
// connection, for as long as a scope lives: the one way the tests, the
// benchmarks, the fuzzer, the preview tool and the soak runner set them. Each
// value is absent or a 32-bit number (veilshift::StartupValues); the module
// turns them into its switches by its own rule (veilshift::DecideFormSettings).
//
// Connection (the first Begin that finds the engine's components) reads them
// from the start-up key: on Windows the registry values under
// HKEY_CURRENT_USER\Software\Quillmoor\Tessary\Startup, elsewhere the
// environment variables TESSARY_STARTUP_MMX and TESSARY_STARTUP_SSE: for a
// module loaded from its file and for the program's own copy alike. The
// program's own copy, once connected, holds the switches it decided; a scope
// that also sets those, and the processor's features, is a ModuleForms
// (host/module_forms.h). At its end the scope puts each value back as it
// found it (or absent).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

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
    explicit StartupSwitches(const veilshift::StartupValues& values, SwitchStore store = SwitchStore::UserKey);
    ~StartupSwitches();
    StartupSwitches(const StartupSwitches&) = delete;
    StartupSwitches& operator=(const StartupSwitches&) = delete;

    // False when the values could not be set where the module reads them (a
    // module connecting now would read the user's own).
    bool InForce() const;

private:
    struct Store;  // the values as found, and how to put them back (startup_switches.cpp)
    Store* store_ = nullptr;
};

}  // namespace refhost
