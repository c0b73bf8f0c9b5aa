// The stage every tool sets a transition on: the reference host's screen
// (surface 1) and the two pictures, A (2) and B (3), each holding a picture or
// the host's noise, then the module's Begin on those three numbers. The
// preview tool, the web runner, the soak runner and both benchmarks set their
// transitions up here.
#pragma once

#include <cstdint>

#include "host/image.h"
#include "host/reference_host.h"

namespace refhost {

inline constexpr int32_t kStageScreen = 1;
inline constexpr int32_t kStageSourceA = 2;
inline constexpr int32_t kStageSourceB = 3;

// What one surface of the stage holds at the start: `picture`'s pixels in its
// top left corner (as many as fit; the rest zero), or without a picture the
// host's noise of `noiseSeed` (TestSurface::FillRandom; 0: none, every pixel
// zero). Pitch as AddSurface takes it: 0 for packed rows.
struct StageSurface {
    int32_t width = 0;
    int32_t height = 0;
    const Image* picture = nullptr;
    uint32_t noiseSeed = 0;
    int32_t pitch = 0;
};

// The rectangle and its corner on each surface, as Begin takes them.
struct StageRect {
    int32_t dx = 0, dy = 0, ax = 0, ay = 0, bx = 0, by = 0, width = 0, height = 0;
};

// The same corner on all three surfaces.
constexpr StageRect SameCorner(int32_t x, int32_t y, int32_t width, int32_t height) {
    return {x, y, x, y, x, y, width, height};
}

// Surfaces 1, 2 and 3 made on `host`, replacing any of those numbers; the screen's is answered.
TestSurface& SetStage(Host& host, const StageSurface& screen, const StageSurface& a, const StageSurface& b);

// The module's Begin on the stage: `module` is the host (its loaded module's
// export) or the test process's own EffectPlugin, both of which take Begin's
// twelve integers.
template <typename Module>
bool BeginOnStage(Module& module, const StageRect& r, int32_t effect) {
    return module.Begin(kStageScreen, r.dx, r.dy, kStageSourceA, r.ax, r.ay, kStageSourceB, r.bx, r.by, r.width,
                        r.height, effect);
}

}  // namespace refhost
