// Effect 31: the ripple crossfade, with the scratch its transition keeps.
#include "../transitions/ripple.h"
#include "effects.h"

namespace veilshift {

bool PrepareRipple(EffectPlugin& plugin) {
    MakeRippleScratch(plugin.ripple, plugin.params.width, plugin.params.height);
    return true;
}

void ReleaseRipple(EffectPlugin& plugin) { ReleaseRippleScratch(plugin.ripple); }

void DrawRippleFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    const TransitionParams& p = plugin.params;
    RippleRect(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width, p.height,
               progress, total, plugin.forms.ripple, &plugin.ripple);
}

}  // namespace veilshift
