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
//   tuning    bits 0-1 vector forms (the test process's own module only: 1
//             scalar, 2 up to SSE2, else all the processor has); bits 2-3
//             streaming stores (1 from the first byte, 2 from 4 KiB, else
//             the module's own thresholds)
//   surfaces  1 byte (count 1 to 3, numbered from 1), then per surface: width,
//             height (one byte each, see DecodeSide: mostly 1 to 44, some
//             sides of telling shapes up to 257, rarely large; 2^22 pixels
//             in all at most), pitch form, picture seed
//   then operations, one byte each plus their arguments, until the input ends
//   (at most kMaxOperations, and no further once kMaxFrames frames or
//   kMaxDrawnPixels pixels have been drawn): Begin with twelve integers, Draw,
//   a run of frames, End,
//   SetInterface (this host's interfaces, null in their place, or another id),
//   new faults; then the module is unloaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Veilshift/host_interfaces.h"
#include "host/reference_host.h"

namespace robustness {

inline constexpr int kMaxOperations = 64;
// A shatter frame costs a fifth of a millisecond under the sanitizers whatever
// the rectangle's size, and later frames reach nothing earlier ones did not.
inline constexpr int kMaxFrames = 64;
// Two frames of the largest rectangle: one ripple frame of 2048 x 2048 takes
// about half a second under the sanitizers.
inline constexpr int64_t kMaxDrawnPixels = int64_t{1} << 23;

// What the tuning byte asks of a module that can be tuned (its processor forms
// and streaming thresholds are module-wide settings); every setting draws the
// same bytes, only by other code.
struct Tuning {
    enum Vectors : uint8_t { kAllVectors = 0, kScalar = 1, kUpToSse2 = 2 };
    enum Streaming : uint8_t { kOwnThresholds = 0, kStreamAll = 1, kStreamFrom4K = 2 };
    Vectors vectors = kAllVectors;
    Streaming streaming = kOwnThresholds;
};

// The module a scenario runs against, on a host it prepares.
class ModuleUnderTest {
public:
    virtual ~ModuleUnderTest() = default;
    // A host with exactly these components loaded, no surfaces, fresh control
    // blocks and an empty log; no module loaded on it yet.
    virtual refhost::Host& PrepareHost(bool corvane, bool platewright, bool pixmill) = 0;
    virtual void Load() = 0;
    virtual veilshift::PluginInterface* Plugin() = 0;
    // Before Load: the module-wide settings of the scenario; a module that
    // cannot be tuned ignores them.
    virtual void Tune(const Tuning& tuning) { (void)tuning; }
    virtual void SetInterface(const veilshift::Guid* id, void* ptr) { Plugin()->SetInterface(id, ptr); }
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

// A host for modules the target loads itself (HostOptions::loadModule
// false), kept for every scenario that wants the same components: loading the
// component modules is the slow part of a fresh host (and under Windows every
// load keeps one of their runtime's thread-local slots). Between scenarios
// its surfaces go, its control blocks are reset and its log emptied.
class SharedHost {
public:
    refhost::Host& Prepare(bool corvane, bool platewright, bool pixmill);
    void Reset() { host_.reset(); }

private:
    std::unique_ptr<refhost::Host> host_;
    bool presence_[3] = {};
};

// What a scenario did, added up.
struct ScenarioStats {
    int64_t begins = 0;
    int64_t started = 0;  // Begin answered true
    int64_t frames = 0;   // Draw calls that drew
};

// How much is compared after each call. Sampled: every surface's end guards,
// the rows around the destination rectangle a frame was drawn into, and a few
// rows of every surface chosen afresh for each call; everything once more at
// unload. Every byte: every surface whole after every call (to find the call
// that broke a sampled run, and for replays, where speed matters little).
enum class Checks { kSampled, kEveryByte };

// Runs one scenario; empty when every check held, else what broke first (the
// scenario stops there, the module unloaded). VEILSHIFT_SCENARIO_TRACE in the
// environment turns sampled checks into checks of every byte.
std::string RunScenario(const uint8_t* data, size_t size, ModuleUnderTest& module, ScenarioStats* stats = nullptr,
                        Checks checks = Checks::kSampled);

// Builds scenario bytes, for the seed corpus and the regression tests.
class ScenarioWriter {
public:
    enum Form : uint8_t { kFormAuto = 0, kFormScalar = 1, kFormMmx = 2, kFormSse = 3 };
    enum Pitch : uint8_t { kTight = 0, kPadded = 1, kBottomUp = 2, kBottomUpPadded = 3 };

    ScenarioWriter& Setup(uint8_t setupBits, uint8_t faultBits, uint32_t time, uint8_t tuningBits = 0);
    // Sides are encoded exactly from 1 to 2048.
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
    // Bytes of the operations as they are, for the decoder to read.
    ScenarioWriter& Raw(const uint8_t* bytes, size_t count);
    std::vector<uint8_t> Bytes() const;

private:
    void Int(int32_t value);  // as an exact 32-bit value
    std::vector<uint8_t> header_;
    std::vector<uint8_t> surfaces_;
    std::vector<uint8_t> ops_;
    int surfaceCount_ = 0;
};

}  // namespace robustness
