// The row mix and copy of the vector forms, written once for every vector
// width: the SSE2 form instantiates it with Lanes128, the AVX2 form
// with Lanes256. Included only by those form files, each of which
// keeps its own copy (internal linkage: see Component/Veilshift/CMakeLists.txt).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

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
    static void CopyRow(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream) {
        CopyRow_Sse2(dst, src, bytes, stream);
    }
};

#if defined(__AVX2__)
struct Lanes256 {
    using Vector = __m256i;
    static constexpr size_t kBytes = 32;
    static Vector Splat(uint32_t multiplier) { return _mm256_set1_epi16(static_cast<int16_t>(multiplier)); }
    static Vector Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void Store(uint8_t* p, Vector v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static void Stream(uint8_t* p, Vector v) { _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v); }
    static void CopyRow(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream) {
        CopyRow_Avx2(dst, src, bytes, stream);
    }
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
    if (weights.alpha == 0) return Lanes::CopyRow(dst, a, bytes, stream);
    if (weights.alpha == 255) return Lanes::CopyRow(dst, b, bytes, stream);
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

// A plain (cached) copy of a row, a vector at a time, the last vector ending
// on the last byte. Rows that share bytes (one surface in two roles) and rows
// shorter than a vector go through memmove, whose answer they keep. The
// module's own loop rather than the C runtime's copy: a 32-bit host's runtime
// may copy a byte or a word at a time.
template <typename Lanes>
inline void CopyRowWide(uint8_t* dst, const uint8_t* src, size_t bytes) {
    constexpr size_t kBytes = Lanes::kBytes;
    const uintptr_t d = reinterpret_cast<uintptr_t>(dst), s = reinterpret_cast<uintptr_t>(src);
    if (bytes < kBytes || (d < s + bytes && s < d + bytes)) {
        std::memmove(dst, src, bytes);
        return;
    }
    size_t i = 0;
    for (; i + kBytes <= bytes; i += kBytes) Lanes::Store(dst + i, Lanes::Load(src + i));
    if (i < bytes) Lanes::Store(dst + bytes - kBytes, Lanes::Load(src + bytes - kBytes));
}

}  // namespace
}  // namespace veilshift
