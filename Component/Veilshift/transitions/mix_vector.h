// The vector arithmetic of the MulTable mix: each byte times its 16-bit
// multiplier, the high half of the product kept (see mix_rows.h for why that
// is exactly the MulTable look-up). Included only by the SSE2 and AVX2 form files,
// each of which keeps its own copy (internal linkage: see CMakeLists.txt).
#pragma once

#include <emmintrin.h>

#include <cstdint>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "mix_rows.h"

namespace veilshift {
namespace {

// The multipliers of one frame; alpha from 1 to 254, so both weights lie in 1..254.
struct MixMultipliers {
    explicit MixMultipliers(int32_t alpha) : a(MixMultiplier(255 - alpha)), b(MixMultiplier(alpha)) {}
    // The byte arithmetic of every vector lane, for the bytes a vector leaves over.
    uint8_t Mix(uint32_t x, uint32_t y) const { return static_cast<uint8_t>(((x * a) >> 16) + ((y * b) >> 16)); }
    uint32_t a, b;
};

inline __m128i MixVector(__m128i va, __m128i vb, __m128i multA, __m128i multB) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(va, zero), multA),
                                     _mm_mulhi_epu16(_mm_unpacklo_epi8(vb, zero), multB));
    const __m128i hi = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpackhi_epi8(va, zero), multA),
                                     _mm_mulhi_epu16(_mm_unpackhi_epi8(vb, zero), multB));
    return _mm_packus_epi16(lo, hi);  // each sum is at most 255: nothing saturates
}

#if defined(__AVX2__)
// unpack and pack work within 128-bit halves, so the byte order survives.
inline __m256i MixVector(__m256i va, __m256i vb, __m256i multA, __m256i multB) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpacklo_epi8(va, zero), multA),
                                        _mm256_mulhi_epu16(_mm256_unpacklo_epi8(vb, zero), multB));
    const __m256i hi = _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpackhi_epi8(va, zero), multA),
                                        _mm256_mulhi_epu16(_mm256_unpackhi_epi8(vb, zero), multB));
    return _mm256_packus_epi16(lo, hi);
}
#endif

}  // namespace
}  // namespace veilshift
