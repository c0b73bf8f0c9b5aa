// Every implemented effect's preparation, release and frame drawer, one file
// an effect in this folder, gathered into the effect table (effect_table.cpp).
// Each effect takes what it keeps for a transition (the work surface, the
// ripple's scratch, the renderer and the pieces) and the processor forms its
// frames run from the plug-in object, and hands both down to the kernels in
// transitions/, render3d/ and shatter/, which know nothing of the plug-in.
#pragma once

#include <cstdint>

#include "../effect_plugin.h"

namespace veilshift {

// Effect 1 (crossfade_effect.cpp).
void DrawCrossfadeFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

// Effects 40 and 41 (axis_crossfade_effect.cpp): the work surface of the
// rectangle's size at Begin, given back at the end. Each frame blends into it
// at (0, 0), then hands it to the host's drawing component with the frame's
// axis amount. Without a work surface (or a drawing component), or when a
// surface answers no address, the frame is not drawn.
bool PrepareWorkSurface(EffectPlugin& plugin);
void ReleaseWorkSurface(EffectPlugin& plugin);
void DrawAxisXFrame(EffectPlugin& plugin, int32_t progress, int32_t total);
void DrawAxisYFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

// Effect 6 (mosaic_effect.cpp).
void DrawMosaicFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

// Effect 31 (ripple_effect.cpp): the scratch at Begin, which never fails it
// (frames without scratch are drawn all the same), and back at the end.
bool PrepareRipple(EffectPlugin& plugin);
void ReleaseRipple(EffectPlugin& plugin);
void DrawRippleFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

// Effect 34 (shatter_effect.cpp): source A breaks into 128 triangular pieces
// (shatter/shatter_mesh.h) that spin and fly towards the viewer over source B.
// At Begin the depth buffer and the renderer for the rectangle, source A as
// the texture, and the pieces from the host's time; false when storage ran
// out. The release gives back the depth buffer and the renderer's storage; the
// pieces stay until the next mesh is built or the plug-in goes.
bool PrepareShatter(EffectPlugin& plugin);
void ReleaseShatter(EffectPlugin& plugin);
void DrawShatterFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

}  // namespace veilshift
