// The SSE2 form of the ripple's fused passes: the source rows mixed sixteen
// bytes at a time; the pixels moved as in the scalar form (SSE2 has no
// lane-wise gather and no byte shuffle to pack them).
#include "ripple_forms.h"
#include "ripple_fused.h"

#if !defined(__SSE2__)
#error "the SSE2 ripple form needs SSE2 code generation (-msse2)"
#endif

namespace veilshift {

void RippleFused_Sse2(const RippleFrame& frame, const RipplePassBuffers& buffers) {
    RunFusedPasses<ScalarFusedRows>(frame, buffers, MixRow_Sse2);
}

}  // namespace veilshift
