// The AVX2 row mix and copy (built with AVX2 code generation, run only where
// the processor has AVX2): 32 bytes at a time, then 16, then byte by byte.
// Streamed copies are the SSE2 form's.
#include "mix_rows.h"
#include "mix_rows_wide.h"

#if !defined(__AVX2__)
#error "the AVX2 row mix needs AVX2 code generation (-mavx2)"
#endif

namespace veilshift {

void MixRow_Avx2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                 bool stream) {
    MixRowWide<Lanes256>(dst, a, b, bytes, weights, stream);
}

void CopyRow_Avx2(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream) {
    if (stream) return CopyRow_Sse2(dst, src, bytes, stream);
    CopyRowWide<Lanes256>(dst, src, bytes);
}

}  // namespace veilshift
