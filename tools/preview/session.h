// Driving the real module through the reference host: one transition at a time,
// frame by frame, exactly as the engine drives it (Begin, Draw per frame, End
// through the module's exports), plus the questions the tool asks around it:
// which effects exist, how a rectangle clips, which processor form runs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image.h"
#include "Veilshift/processor_features.h"

namespace preview {

// The folder beside the program that holds the stand-ins for the engine's
// three components (the build and the release zip put them there).
inline constexpr char kStandInFolder[] = "stand-ins";

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

// The Begin arguments as the user gave them, before the module clips them.
struct Placement {
    Point dst;  // on the screen (the destination surface)
    Point a;    // in source A
    Point b;    // in source B
    int32_t width = 0;
    int32_t height = 0;
};

// The result of clipping a placement against the screen and both sources the way
// the module does: the part of the rectangle inside all three at once, the three
// corners keeping their offsets. `notes` say, in words, what was cut and why.
struct ClipOutcome {
    Placement clipped;
    bool empty = false;
    std::vector<std::string> notes;
};
ClipOutcome ClipPlacement(const Placement& requested, int32_t screenWidth, int32_t screenHeight, int32_t aWidth,
                          int32_t aHeight, int32_t bWidth, int32_t bHeight);
std::string DescribePlacement(const Placement& p);  // "100x80 at screen 0,0, A 0,0, B 0,0"

struct TransitionRequest {
    int32_t effect = 1;
    int32_t frames = 30;  // drawn with progress 0 .. frames-1 over a total of frames-1
    const Image* a = nullptr;
    const Image* b = nullptr;
    int32_t screenWidth = 0;  // the screen shows source A before the transition
    int32_t screenHeight = 0;
    Placement placement;
    std::optional<uint32_t> seed;  // the host timer's answer; unset keeps the host's own
    std::string form = "auto";     // the module's start-up switches: auto, scalar, mmx or sse
};

struct FrameInfo {
    int32_t index = 0;
    int32_t progress = 0;
    int32_t total = 0;
    double drawMs = 0;  // the module's Draw alone
};
// Called after each frame with the whole screen; a non-empty result stops the run.
using FrameSink = std::function<std::string(const FrameInfo& frame, const Image& screen)>;

struct TransitionResult {
    std::string error;          // empty: every frame was drawn and handed to the sink
    bool badInput = false;      // the error is the user's to mend (unknown effect, rectangle outside)
    std::string moduleMessage;  // what the module showed at Begin, if anything
    std::vector<double> frameMs;
    bool askedTime = false;  // the module read the host's timer (it seeds the shatter from it)
    uint32_t time = 0;
    int32_t hostViolations = 0;  // requests outside a surface or broken guard bytes the host saw
};
TransitionResult PlayTransition(const TransitionRequest& request, const FrameSink& sink,
                                const std::function<bool()>& interrupted);

struct EffectProbe {
    int32_t effect = 0;
    bool implemented = false;
    std::string message;  // the module's message for a number it does not implement
};
// Asks the module, with a Begin on a small surface pair, about every number of
// its effect table. Its messages are caught, not shown. Empty on failure, with
// `error` set.
std::vector<EffectProbe> ProbeEffects(std::string& error);
inline constexpr int32_t kEffectTableSize = 42;

// What this processor offers the module's forms, read as the module reads it.
veilshift::ProcessorFeatures DetectProcessor();
// Whether the start-up switches (--form) reach `effect`: the crossfade and the
// two effects drawn with it.
bool FormApplies(int32_t effect);
// What the module runs for `effect` with the values `form` sets, on a
// processor with `cpu` and a rectangle `width` pixels wide, decided by the
// module's own rules (Veilshift/startup_settings.h, Veilshift/form_rules.h):
// the crossfade's arithmetic and code ("grouped-avx2"), or the code of the
// other effects' kernels ("avx2"). DescribeForm adds the reason:
// "grouped-avx2 (auto; processor has mmx, sse, sse2, avx2)".
std::string RanForm(const std::string& form, const veilshift::ProcessorFeatures& cpu, int32_t effect, int32_t width);
std::string DescribeForm(const std::string& form, const veilshift::ProcessorFeatures& cpu, int32_t effect,
                         int32_t width);

}  // namespace preview
