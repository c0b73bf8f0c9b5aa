// The row mix of the x86-64 build's vector forms, written once for every
// vector width: the SSE2 form instantiates it with Lanes128, the AVX2 form
// with Lanes256. Included only by those form files, each of which
// keeps its own copy (internal linkage: see Component/Veilshift/CMakeLists.txt).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "mix_rows.h"
#include "mix_vector.h"

namespace veilshift {
namespace {

// The loads and stores of one vector width.
struct Lanes128 {
    using Vector = __m128i;
    static constexpr size_t kBytes = 16;
    static Vector Splat(uint32_t multiplier) { return _mm_set1_epi16(static_cast<int16_t>(multiplier)); }
    static Vector Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void Store(uint8_t* p, Vector v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static void Stream(uint8_t* p, Vector v) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), v); }
};

#if defined(__AVX2__)
struct Lanes256 {
    using Vector = __m256i;
    static constexpr size_t kBytes = 32;
    static Vector Splat(uint32_t multiplier) { return _mm256_set1_epi16(static_cast<int16_t>(multiplier)); }
    static Vector Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void Store(uint8_t* p, Vector v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static void Stream(uint8_t* p, Vector v) { _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v); }
    // The same 16-bit lanes in a 128-bit register.
    static __m128i LowHalf(Vector v) { return _mm256_castsi256_si128(v); }
};
#endif

// Whole vectors, then (for vectors wider than 16 bytes) one 16-byte vector
// more where it fits, then byte by byte. With `stream` the bytes before the
// first aligned destination address go one by one and the whole vectors
// after them around the cache.
template <typename Lanes>
inline void MixRowWide(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                       bool stream) {
    if (weights.alpha == 0) return CopyRow_Sse2(dst, a, bytes, stream);
    if (weights.alpha == 255) return CopyRow_Sse2(dst, b, bytes, stream);
    constexpr size_t kBytes = Lanes::kBytes;
    const MixMultipliers m(weights.alpha);
    const typename Lanes::Vector multA = Lanes::Splat(m.a);
    const typename Lanes::Vector multB = Lanes::Splat(m.b);
    size_t i = 0;
    if (stream) {
        for (; i < bytes && (reinterpret_cast<uintptr_t>(dst + i) & (kBytes - 1)) != 0; ++i) dst[i] = m.Mix(a[i], b[i]);
        for (; i + kBytes <= bytes; i += kBytes)
            Lanes::Stream(dst + i, MixVector(Lanes::Load(a + i), Lanes::Load(b + i), multA, multB));
    }
    for (; i + kBytes <= bytes; i += kBytes)
        Lanes::Store(dst + i, MixVector(Lanes::Load(a + i), Lanes::Load(b + i), multA, multB));
    if constexpr (kBytes > Lanes128::kBytes) {
        if (i + Lanes128::kBytes <= bytes) {
            Lanes128::Store(dst + i, MixVector(Lanes128::Load(a + i), Lanes128::Load(b + i), Lanes::LowHalf(multA),
                                               Lanes::LowHalf(multB)));
            i += Lanes128::kBytes;
        }
    }
    for (; i < bytes; ++i) dst[i] = m.Mix(a[i], b[i]);
}

}  // namespace
}  // namespace veilshift
