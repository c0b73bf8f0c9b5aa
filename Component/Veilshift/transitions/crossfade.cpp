// The host calls around the crossfade kernel.
#include "crossfade.h"

namespace veilshift {

bool CrossfadeRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                   HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t alpha,
                   const CrossfadeForm& form) {
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
    form.blend(dstStart, dstPitch, aStart, aPitch, bStart, bPitch, width, height, alpha, form.stream);
    return true;
}

}  // namespace veilshift
