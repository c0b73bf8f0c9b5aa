// Effect 34: source A breaks into 128 triangular pieces (shatter/shatter_mesh.h)
// that spin and fly towards the viewer over source B.
#pragma once

#include <cstdint>

namespace veilshift {

class EffectPlugin;

// At Begin: the depth buffer and the renderer for the rectangle, source A as
// the texture, and the pieces from the host's time. False when storage ran out.
bool PrepareShatter(EffectPlugin& plugin);
// Gives back the depth buffer and the renderer's storage; the pieces stay until
// the next mesh is built or the plug-in goes.
void ReleaseShatter(EffectPlugin& plugin);
void DrawShatterFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

}  // namespace veilshift
