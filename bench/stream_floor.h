// The streaming pass both timing programs measure as a floor: two frames read,
// one written (the byte average), whole vectors first and the last bytes one
// at a time. With `nt` the stores go around the cache (the frames are 64-byte
// aligned). Plain code that may use what the processor has: neither program
// is the module.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace benchfloor {

__attribute__((target("avx2"))) inline void Stream_Avx2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n,
                                                        bool nt) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        if (nt)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_avg_epu8(va, vb));
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_avg_epu8(va, vb));
    }
    if (nt) _mm_sfence();
    for (; i < n; ++i) dst[i] = static_cast<uint8_t>((a[i] + b[i] + 1) >> 1);
}

__attribute__((target("sse2"))) inline void Stream_Sse2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n,
                                                        bool nt) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        if (nt)
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), _mm_avg_epu8(va, vb));
        else
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_avg_epu8(va, vb));
    }
    if (nt) _mm_sfence();
    for (; i < n; ++i) dst[i] = static_cast<uint8_t>((a[i] + b[i] + 1) >> 1);
}

using StreamFn = void (*)(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n, bool nt);

}  // namespace benchfloor
