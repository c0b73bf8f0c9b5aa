// The row walk of the crossfade's SSE2 and AVX2 forms, of both arithmetics. Included only by the form files,
// each of which keeps its own copy (internal linkage: see
// Component/Veilshift/CMakeLists.txt).
//
// A kernel blends whole vectors (16 or 32 bytes) and, through an XMM register,
// pieces of 16, 8, 4, 2 and 1 bytes, so a span of any length is covered without
// touching a byte past its end. Every byte of a span gets the same formula; the
// caller decides which bytes form the span (the grouped bytes, or the whole row).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "blend.h"
#include "crossfade.h"
#include "crossfade_rows.h"

namespace veilshift {
namespace {

// Exactly `kBytes` (1, 2, 4 or 8) bytes into the low end of a register, zeros above.
template <size_t kBytes>
inline __m128i LoadPiece(const uint8_t* p) {
    if constexpr (kBytes == 8) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    } else {
        uint32_t word = 0;
        std::memcpy(&word, p, kBytes);
        return _mm_cvtsi32_si128(static_cast<int>(word));
    }
}

template <size_t kBytes>
inline void StorePiece(uint8_t* p, __m128i v) {
    if constexpr (kBytes == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    } else {
        const uint32_t word = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
        std::memcpy(p, &word, kBytes);  // the low bytes: little-endian
    }
}

inline __m128i LoadVector(const uint8_t* p, __m128i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void StoreVector(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline void StreamVector(uint8_t* p, __m128i v) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), v); }
#if defined(__AVX2__)
inline __m256i LoadVector(const uint8_t* p, __m256i) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void StoreVector(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
inline void StreamVector(uint8_t* p, __m256i v) { _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v); }
#endif

// kBytes bytes at offset i, which then moves past them.
template <size_t kBytes, typename Kernel>
inline void BlendPiece(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t& i, const Kernel& kernel) {
    if constexpr (kBytes == Kernel::kVectorBytes) {
        using Vector = typename Kernel::Vector;
        StoreVector(dst + i, kernel(LoadVector(a + i, Vector{}), LoadVector(b + i, Vector{})));
    } else if constexpr (kBytes == 16) {
        StoreVector(dst + i, kernel(LoadVector(a + i, __m128i{}), LoadVector(b + i, __m128i{})));
    } else {
        StorePiece<kBytes>(dst + i, kernel(LoadPiece<kBytes>(a + i), LoadPiece<kBytes>(b + i)));
    }
    i += kBytes;
}

// Bytes [0, n) of one row. With `stream` the whole vectors are stored around
// the cache; those stores must be aligned, so the bytes before the first
// aligned destination address go first, in pieces of 1, 2, 4, ... bytes, each
// piece aligning the next. Loads and stores never overlap, so a destination
// that is one of the sources (the same rectangle) still has every byte read
// before it is written.
template <typename Kernel>
inline void BlendSpan(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t n, const Kernel& kernel,
                      bool stream) {
    using Vector = typename Kernel::Vector;
    constexpr size_t kVector = Kernel::kVectorBytes;
    size_t i = 0;
    if (stream) {
        const size_t head = (uintptr_t{0} - reinterpret_cast<uintptr_t>(dst)) & (kVector - 1);
        if (head + kVector <= n) {
            if (head & 1) BlendPiece<1>(dst, a, b, i, kernel);
            if (head & 2) BlendPiece<2>(dst, a, b, i, kernel);
            if (head & 4) BlendPiece<4>(dst, a, b, i, kernel);
            if (head & 8) BlendPiece<8>(dst, a, b, i, kernel);
            if constexpr (kVector > 16)
                if (head & 16) BlendPiece<16>(dst, a, b, i, kernel);
            for (; i + kVector <= n; i += kVector)
                StreamVector(dst + i, kernel(LoadVector(a + i, Vector{}), LoadVector(b + i, Vector{})));
        }
    }
    while (i + kVector <= n) BlendPiece<kVector>(dst, a, b, i, kernel);
    const size_t rest = n - i;  // below kVector
    if constexpr (kVector > 16)
        if (rest & 16) BlendPiece<16>(dst, a, b, i, kernel);
    if (rest & 8) BlendPiece<8>(dst, a, b, i, kernel);
    if (rest & 4) BlendPiece<4>(dst, a, b, i, kernel);
    if (rest & 2) BlendPiece<2>(dst, a, b, i, kernel);
    if (rest & 1) BlendPiece<1>(dst, a, b, i, kernel);
}

// (a * (2^kShift - w) + b * w) >> kShift in 16-bit lanes, for 0 <= w <= 2^kShift - 1.
// The sum stays below 65536, so the low 16 bits of each product suffice and
// the logical shift floors; the result lies between a and b. It equals
// a + floor(w * (b - a) / 2^kShift): with w = alpha and shift 8 that is
// BlendByte, with w = alpha >> 1 and shift 7 the lane arithmetic of the MMX
// form (whose 16-bit lanes never saturate for these weights).
template <int kShift>
struct WeightedSum16 {
    using Vector = __m128i;
    static constexpr size_t kVectorBytes = 16;

    explicit WeightedSum16(int32_t w)
        : weightA(_mm_set1_epi16(static_cast<int16_t>((1 << kShift) - w))),
          weightB(_mm_set1_epi16(static_cast<int16_t>(w))) {}

    __m128i operator()(__m128i a, __m128i b) const {
        const __m128i zero = _mm_setzero_si128();
        const __m128i lo = Half(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i hi = Half(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        return _mm_packus_epi16(lo, hi);
    }

    __m128i Half(__m128i a16, __m128i b16) const {
        const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(a16, weightA), _mm_mullo_epi16(b16, weightB));
        return _mm_srli_epi16(sum, kShift);
    }

    __m128i weightA, weightB;
};

#if defined(__AVX2__)
// A 256-bit kernel on 16 bytes: every step of the kernels below (unpack,
// pmaddubsw, shift, pack) works within each 128-bit half, so the low half of
// the result depends on the low halves of the operands alone.
template <typename Kernel>
inline __m128i LowHalf(const Kernel& kernel, __m128i a, __m128i b) {
    return _mm256_castsi256_si128(kernel(_mm256_zextsi128_si256(a), _mm256_zextsi128_si256(b)));
}

// The grouped bytes' a + floor(h * (b - a) / 128) as (a * (128 - h) + b * h) >> 7,
// one pmaddubsw per 16 byte pairs: A and B interleaved are the unsigned operand,
// the weights the signed one, so both weights must fit in 1..127: h from 1 to
// 127. The largest sum, 255 * 128, stays below pmaddubsw's saturation.
struct PairWeights_Avx2 {
    using Vector = __m256i;
    static constexpr size_t kVectorBytes = 32;

    explicit PairWeights_Avx2(int32_t h)
        : weights256(_mm256_set1_epi16(static_cast<int16_t>((h << 8) | (128 - h)))) {}  // byte 0 weighs A

    __m256i operator()(__m256i a, __m256i b) const {
        // unpack and pack both work within 128-bit halves, so the byte order survives.
        const __m256i lo = _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), weights256);
        const __m256i hi = _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), weights256);
        return _mm256_packus_epi16(_mm256_srli_epi16(lo, 7), _mm256_srli_epi16(hi, 7));
    }
    __m128i operator()(__m128i a, __m128i b) const { return LowHalf(*this, a, b); }

    __m256i weights256;
};

// BlendByte, (a * (256 - alpha) + b * alpha) >> 8, one pmaddubsw per 16 byte
// pairs, for alpha from 1 to 255. The weights (both 1..255) are the unsigned
// operand; the bytes, less 128 (a flip of the top bit), the signed one. Weights
// summing to 256 keep that sum within [-32768, 32512], so it never saturates;
// adding 32768 back (modulo 2^16) gives the exact unsigned sum, below 65281.
struct BlendByte_Avx2 {
    using Vector = __m256i;
    static constexpr size_t kVectorBytes = 32;

    explicit BlendByte_Avx2(int32_t alpha)
        : weights256(_mm256_set1_epi16(static_cast<int16_t>((alpha << 8) | (256 - alpha)))) {}  // byte 0 weighs A

    __m256i operator()(__m256i a, __m256i b) const {
        const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
        const __m256i bias = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
        const __m256i sa = _mm256_xor_si256(a, flip), sb = _mm256_xor_si256(b, flip);
        const __m256i lo = _mm256_add_epi16(_mm256_maddubs_epi16(weights256, _mm256_unpacklo_epi8(sa, sb)), bias);
        const __m256i hi = _mm256_add_epi16(_mm256_maddubs_epi16(weights256, _mm256_unpackhi_epi8(sa, sb)), bias);
        return _mm256_packus_epi16(_mm256_srli_epi16(lo, 8), _mm256_srli_epi16(hi, 8));
    }
    __m128i operator()(__m128i a, __m128i b) const { return LowHalf(*this, a, b); }

    __m256i weights256;
};

// h = 0 (alpha 0 or 1): every grouped byte is A's.
struct CopyA_Avx2 {
    using Vector = __m256i;
    static constexpr size_t kVectorBytes = 32;
    __m256i operator()(__m256i a, __m256i) const { return a; }
    __m128i operator()(__m128i a, __m128i) const { return a; }
};
#endif

struct NoWarmUp {
    void operator()(const uint8_t*, const uint8_t*, size_t) const {}
};

// The rows: bytes [0, spanBytes) through `kernel`, the rest of the row through
// BlendByte with the full alpha. Needs width, height >= 1.
template <typename WarmUp, typename Kernel>
inline void CrossfadeVectorRows(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch,
                                const uint8_t* b, ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha,
                                bool stream, size_t spanBytes, const Kernel& kernel) {
    const CrossfadeRow row = MeasureRow(width);
    ForEachRow(dst, dstPitch, a, aPitch, b, bPitch, height,
               [&](uint8_t* dstRow, const uint8_t* aRow, const uint8_t* bRow) {
                   WarmUp()(aRow, bRow, row.touchCount);
                   BlendSpan(dstRow, aRow, bRow, spanBytes, kernel, stream);
                   BlendBytes(dstRow, aRow, bRow, spanBytes, row.bytes, alpha);
               });
    if (stream) _mm_sfence();  // streamed stores are weakly ordered: finish them before the host reads
}

}  // namespace
}  // namespace veilshift
