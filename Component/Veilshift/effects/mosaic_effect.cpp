// Effect 6: the mosaic crossfade, its blocks growing to mid-transition and back.
#include "../frame_math.h"
#include "../transitions/mosaic.h"
#include "effects.h"

namespace veilshift {

void DrawMosaicFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    const TransitionParams& p = plugin.params;
    MosaicRect(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width, p.height,
               MosaicBlockSize(progress, total), FrameAlpha(progress, total), plugin.forms.mosaic);
}

}  // namespace veilshift
