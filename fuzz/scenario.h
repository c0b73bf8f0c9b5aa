// One robustness scenario: bytes turned into a host and a session, run against
// the module with every check after every call.
//
// The same bytes drive the libFuzzer target (the test process's own module
// against the reference components) and the corpus replay (the shipped module,
// loaded by the reference host, natively and under Wine).
//
// Byte layout (a short input reads as zeros past its end):
//   setup     bits 0-2 Corvane / Platewright / Pixmill absent; bit 3 no
//             ScreenUpdater, bit 4 no SurfaceTable handed over at the start;
//             bit 5 SurfaceTable first; bits 6-7 crossfade form (native only:
//             0 as the processor has it, 1 scalar, 2 MMX, 3 SSE)
//   faults    bits 0-2 factory of Corvane / Platewright / Pixmill answers null;
//             bit 3 IsReady false; bit 4 CreateSurface fails; bit 5 the timer
//             lookup fails
//   time      4 bytes, what GetTime answers
//   surfaces  1 byte (count 1 to 3, numbered from 1), then per surface: width,
//             height (one byte each, see DecodeSide), pitch form, picture seed
//   then operations, one byte each plus their arguments, until the input ends
//   (at most kMaxOperations): Begin with twelve integers, Draw, a run of frames,
//   End, SetInterface (this host's interfaces, null in their place, or another
//   id), new faults; then the module is unloaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Veilshift/host_interfaces.h"
#include "host/reference_host.h"

namespace robustness {

inline constexpr int kMaxOperations = 64;

// The module a scenario runs against, on a host it prepares.
class ModuleUnderTest {
public:
    virtual ~ModuleUnderTest() = default;
    // A host with exactly these components loaded, no surfaces, fresh control
    // blocks and an empty log; no module loaded on it yet.
    virtual refhost::Host& PrepareHost(bool corvane, bool platewright, bool pixmill) = 0;
    virtual void Load() = 0;
    virtual veilshift::PluginInterface* Plugin() = 0;
    virtual bool Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB,
                       int32_t bx, int32_t by, int32_t width, int32_t height, int32_t effect) = 0;
    virtual void Draw(int32_t progress, int32_t total) = 0;
    virtual void End() = 0;
    virtual void Unload() = 0;
    // Blocks the module holds, when that can be seen; -1 otherwise.
    virtual int64_t Outstanding() const { return -1; }
    // The stored clipped rectangle (dx, dy, ax, ay, bx, by, width, height), when
    // that can be seen.
    virtual bool StoredRect(int32_t rect[8]) const {
        (void)rect;
        return false;
    }
};

// The host options of a scenario's host: these components, and neither of the
// module's interfaces handed over (the scenario gives them itself).
inline refhost::HostOptions ScenarioHostOptions(bool corvane, bool platewright, bool pixmill) {
    refhost::HostOptions options;
    options.loadCorvane = corvane;
    options.loadPlatewright = platewright;
    options.loadPixmill = pixmill;
    options.giveScreenUpdater = false;
    options.giveSurfaceTable = false;
    return options;
}

// What a scenario did, added up.
struct ScenarioStats {
    int64_t begins = 0;
    int64_t started = 0;  // Begin answered true
    int64_t frames = 0;   // Draw calls that drew
};

// Runs one scenario; empty when every check held, else what broke first (the
// scenario stops there, the module unloaded).
std::string RunScenario(const uint8_t* data, size_t size, ModuleUnderTest& module, ScenarioStats* stats = nullptr);

// Builds scenario bytes, for the seed corpus and the regression tests.
class ScenarioWriter {
public:
    enum Form : uint8_t { kFormAuto = 0, kFormScalar = 1, kFormMmx = 2, kFormSse = 3 };
    enum Pitch : uint8_t { kTight = 0, kPadded = 1, kBottomUp = 2, kBottomUpPadded = 3 };

    ScenarioWriter& Setup(uint8_t setupBits, uint8_t faultBits, uint32_t time);
    // Sides are encoded exactly when 1 to 200, or one of the large sides of DecodeSide.
    ScenarioWriter& Surface(int32_t width, int32_t height, Pitch pitch, uint8_t padding = 8, uint8_t seed = 1);
    ScenarioWriter& Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB,
                          int32_t bx, int32_t by, int32_t width, int32_t height, int32_t effect);
    ScenarioWriter& Draw(int32_t progress, int32_t total);
    ScenarioWriter& Frames(uint8_t total);  // Draw(i, total) for i = 0 .. total
    ScenarioWriter& End();
    ScenarioWriter& GiveScreenUpdater();
    ScenarioWriter& GiveSurfaceTable();
    // SetInterface with null for the ScreenUpdater (or the SurfaceTable).
    ScenarioWriter& Withdraw(bool updater);
    ScenarioWriter& Faults(uint8_t faultBits, uint32_t time);
    std::vector<uint8_t> Bytes() const;

private:
    void Int(int32_t value);  // as an exact 32-bit value
    std::vector<uint8_t> header_;
    std::vector<uint8_t> surfaces_;
    std::vector<uint8_t> ops_;
    int surfaceCount_ = 0;
};

}  // namespace robustness
