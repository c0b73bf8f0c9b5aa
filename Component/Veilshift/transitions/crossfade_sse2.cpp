// The SSE2 stand-in for the MMX and SSE forms (x86-64 build): the grouped bytes
// 16 at a time in 16-bit lanes, the tail through BlendByte.
#include "crossfade.h"
#include "crossfade_wide.h"

namespace veilshift {

void Crossfade_Sse2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                    ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha) {
    if (width <= 0 || height <= 0) return;
    // The weighted sum equals the lane arithmetic only for weights of 0 to 255;
    // the MMX form itself answers for anything else.
    if (alpha < 0 || alpha > 255) return Crossfade_Mmx(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha);
    const size_t groupedBytes = static_cast<size_t>(width / 4) * 12u;
    CrossfadeVectorRows<NoWarmUp>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, groupedBytes,
                                  WeightedSum16<7>(alpha >> 1));
}

}  // namespace veilshift
