// Form choice, the host calls around the kernel, and effect 1.
#include "crossfade.h"

#include "../effect_plugin.h"
#include "../frame_math.h"
#include "../startup_settings.h"

namespace veilshift {

size_t CrossfadeStreamingBytes = kCrossfadeStreamingBytes;

CrossfadeFn ChooseCrossfade(int32_t width, bool useMmx, bool useSse, bool useSse2, bool useAvx2, bool scalarAvx2) {
    if (width < 4) return Crossfade_Scalar;  // no whole group of 4 pixels
#if VEILSHIFT_WIDE_FORMS
    if (!useSse && !useMmx) return scalarAvx2 ? Crossfade_ScalarAvx2 : Crossfade_Scalar;
    if (useAvx2) return Crossfade_Avx2;
    if (useSse2) return Crossfade_Sse2;
#else
    if (!useSse && !useMmx) return Crossfade_Scalar;
    static_cast<void>(useSse2);
    static_cast<void>(useAvx2);
    static_cast<void>(scalarAvx2);
#endif
    return useSse ? Crossfade_Sse : Crossfade_Mmx;
}

bool CrossfadeRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                   HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t alpha) {
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
    const CrossfadeFn form = ChooseCrossfade(width, UseMMX, UseSSE, UseSSE2, UseAVX2, ScalarUsesAVX2);
    form(dstStart, dstPitch, aStart, aPitch, bStart, bPitch, width, height, alpha);
    return true;
}

void DrawCrossfadeFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    const TransitionParams& p = plugin.params;
    CrossfadeRect(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width, p.height,
                  FrameAlpha(progress, total));
}

}  // namespace veilshift
