// The scalar row forms, the ones every build has: the mix through MulTable.
#include "mix_rows.h"

#include <cstring>

namespace veilshift {

void MixRow_Scalar(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                   bool stream) {
    // MulTable[255] is the identity and MulTable[0] all zeros.
    if (weights.alpha == 0) return CopyRow_Scalar(dst, a, bytes, stream);
    if (weights.alpha == 255) return CopyRow_Scalar(dst, b, bytes, stream);
    const uint8_t* const rowA = weights.rowA;
    const uint8_t* const rowB = weights.rowB;
    for (size_t k = 0; k < bytes; ++k) dst[k] = static_cast<uint8_t>(rowA[a[k]] + rowB[b[k]]);
}

// memmove: a host may hand over one surface as destination and source.
void CopyRow_Scalar(uint8_t* dst, const uint8_t* src, size_t bytes, bool) { std::memmove(dst, src, bytes); }

void FinishStreaming_Scalar() {}

}  // namespace veilshift
