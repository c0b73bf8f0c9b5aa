// The crossfade's SSE2 forms (built with SSE2 code generation): both
// arithmetics 16 bytes at a time in 16-bit lanes, the bytes after the last
// whole vector through pieces of an XMM register (crossfade_wide.h).
#include "crossfade.h"
#include "crossfade_wide.h"

namespace veilshift {

void CrossfadeExact_Sse2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                         ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream) {
    if (width <= 0 || height <= 0) return;
    // The lanes hold BlendByte only for weights of 0 to 255; the plain form
    // answers for anything else.
    if (alpha < 0 || alpha > 255)
        return CrossfadeExact_Scalar(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream);
    CrossfadeVectorRows<NoWarmUp>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream,
                                  MeasureRow(width).bytes, WeightedSum16<8>(alpha));
}

void CrossfadeGrouped_Sse2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                           ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream) {
    if (width <= 0 || height <= 0) return;
    // The weighted sum equals the lane arithmetic only for weights of 0 to 255;
    // the MMX form itself answers for anything else.
    if (alpha < 0 || alpha > 255)
        return CrossfadeGrouped_Mmx(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream);
    const size_t groupedBytes = static_cast<size_t>(width / 4) * 12u;
    CrossfadeVectorRows<NoWarmUp>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream, groupedBytes,
                                  WeightedSum16<7>(alpha >> 1));
}

}  // namespace veilshift
