// The MMX crossfade form: plain reads warm the source rows.
// Built with MMX code generation; form_dispatch.cpp says when it runs.
#include "crossfade.h"
#include "crossfade_grouped.h"

namespace veilshift {

void CrossfadeGrouped_Mmx(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                          ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool) {
    CrossfadeGrouped<TouchRows>(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha);
}

}  // namespace veilshift
