// The SSE2 row forms (built with SSE2 code generation): the mix by 16-bit
// multipliers, 16 bytes at a time, and copies that may go around the cache.
#include <emmintrin.h>

#include <cstring>

#include "mix_rows.h"
#include "mix_rows_wide.h"

namespace veilshift {

void MixRow_Sse2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                 bool stream) {
    MixRowWide<Lanes128>(dst, a, b, bytes, weights, stream);
}

void CopyRow_Sse2(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream) {
    if (!stream) return CopyRowWide<Lanes128>(dst, src, bytes);
    size_t i = 0;
    for (; i < bytes && (reinterpret_cast<uintptr_t>(dst + i) & 15) != 0; ++i) dst[i] = src[i];
    for (; i + 64 <= bytes; i += 64) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 32));
        const __m128i v3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 48));
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), v0);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 16), v1);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 32), v2);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i + 48), v3);
    }
    for (; i + 16 <= bytes; i += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    std::memmove(dst + i, src + i, bytes - i);
}

// Streamed stores are weakly ordered: finish them before the host reads.
void FinishStreaming_Sse2() { _mm_sfence(); }

}  // namespace veilshift
