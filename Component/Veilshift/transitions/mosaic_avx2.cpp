// The AVX2 block patterns of the mosaic (built with AVX2 code generation, run
// only where the processor has AVX2): 32 bytes per store.
#include <immintrin.h>

#include "mosaic_forms.h"

#if !defined(__AVX2__)
#error "the AVX2 mosaic form needs AVX2 code generation (-mavx2)"
#endif

namespace veilshift {

void MosaicPattern_Avx2(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                        int32_t from, int32_t to, const MixWeights& weights) {
    // A run starts on a pixel, so its k-th 32-byte store begins with byte
    // (32 * k) mod 3 of the colour: the three phases repeat every 96 bytes.
    const __m256i phase0 = _mm256_setr_epi8(0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0,  //
                                            1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1);
    const __m256i phase2 = _mm256_setr_epi8(2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2,  //
                                            0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0);
    const __m256i phase1 = _mm256_setr_epi8(1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1,  //
                                            2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2);
    for (int32_t x0 = BlockStart(columns, from); x0 < to;) {
        const int32_t end = BlockEnd(columns, x0);
        const int32_t runStart = x0 > from ? x0 : from;
        const int32_t runEnd = end < to ? end : to;
        const uint8_t* const pa = a + static_cast<size_t>(x0) * 3;
        const uint8_t* const pb = b + static_cast<size_t>(x0) * 3;
        const uint32_t colour = MixPixelPacked(pa, pb, weights);
        // pshufb picks within each 128-bit half, so both halves hold the colour.
        const __m256i source = _mm256_set1_epi32(static_cast<int32_t>(colour));
        const __m256i chunks[3] = {_mm256_shuffle_epi8(source, phase0), _mm256_shuffle_epi8(source, phase2),
                                   _mm256_shuffle_epi8(source, phase1)};
        uint8_t* out = pattern + static_cast<size_t>(runStart - from) * 3;
        const size_t bytes = static_cast<size_t>(runEnd - runStart) * 3;
        for (size_t k = 0, phase = 0; k < bytes; k += 32, phase = phase == 2 ? 0 : phase + 1)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), chunks[phase]);
        x0 = end;
    }
}

}  // namespace veilshift
