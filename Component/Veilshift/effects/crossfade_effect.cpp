// Effect 1: the crossfade of the two pictures, weighed by the frame.
#include "../frame_math.h"
#include "../transitions/crossfade.h"
#include "effects.h"

namespace veilshift {

void DrawCrossfadeFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    const TransitionParams& p = plugin.params;
    CrossfadeRect(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width, p.height,
                  FrameAlpha(progress, total), plugin.forms.crossfade);
}

}  // namespace veilshift
