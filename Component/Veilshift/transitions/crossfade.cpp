// The host calls around the kernel, and effect 1.
#include "crossfade.h"

#include "../effect_plugin.h"
#include "../frame_math.h"
#include "../form_rules.h"

namespace veilshift {

bool CrossfadeRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                   HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t alpha,
                   DestinationUse use) {
    // An empty rectangle has no pixel whose address could be asked for.
    if (width < 1 || height < 1) return true;
    // The host is asked once per call, in this order: three addresses, then three pitches.
    uint8_t* const dstStart = dst->PixelAddress(dx, dy);
    const uint8_t* const aStart = srcA->PixelAddress(ax, ay);
    const uint8_t* const bStart = srcB->PixelAddress(bx, by);
    if (dstStart == nullptr || aStart == nullptr || bStart == nullptr) return false;
    const ptrdiff_t dstPitch = dst->Pitch();
    const ptrdiff_t aPitch = srcA->Pitch();
    const ptrdiff_t bPitch = srcB->Pitch();
    const CrossfadeFn form = ChooseCrossfade(width, CurrentFormSettings());
    const bool stream = StreamFrame(uint64_t{static_cast<uint32_t>(width)} * 3u * static_cast<uint32_t>(height), use);
    form(dstStart, dstPitch, aStart, aPitch, bStart, bPitch, width, height, alpha, stream);
    return true;
}

void DrawCrossfadeFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    const TransitionParams& p = plugin.params;
    CrossfadeRect(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width, p.height,
                  FrameAlpha(progress, total));
}

}  // namespace veilshift
