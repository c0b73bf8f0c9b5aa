// The crossfade's AVX2 forms (built with AVX2 code generation, run only where
// the processor has AVX2): the grouped bytes 32 at a time, the tail through
// BlendByte; and the exact bytes, BlendByte throughout, 32 at a time.
#include "crossfade.h"
#include "crossfade_wide.h"

#if !defined(__AVX2__)
#error "the AVX2 crossfade form needs AVX2 code generation (-mavx2)"
#endif

namespace veilshift {

void CrossfadeGrouped_Avx2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                           ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream) {
    if (width <= 0 || height <= 0) return;
    // The pair weights equal the lane arithmetic only for weights of 0 to 255;
    // the MMX form itself answers for anything else.
    if (alpha < 0 || alpha > 255) return CrossfadeGrouped_Mmx(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream);
    const size_t groupedBytes = static_cast<size_t>(width / 4) * 12u;
    const int32_t halfAlpha = alpha >> 1;
    if (halfAlpha == 0) {
        CrossfadeVectorRows<NoWarmUp>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream, groupedBytes,
                                      CopyA_Avx2{});
    } else {
        CrossfadeVectorRows<NoWarmUp>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream, groupedBytes,
                                      PairWeights_Avx2(halfAlpha));
    }
}

void CrossfadeExact_Avx2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                         ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream) {
    if (width <= 0 || height <= 0) return;
    // Both weights must fit an unsigned byte: alpha 0 (a copy of A) and weights
    // outside the range go through the SSE2 form of the same bytes.
    if (alpha < 1 || alpha > 255)
        return CrossfadeExact_Sse2(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream);
    CrossfadeVectorRows<NoWarmUp>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, stream,
                                  MeasureRow(width).bytes, BlendByte_Avx2(alpha));
}

}  // namespace veilshift
