// The body of the MMX and SSE crossfade forms, which differ only in how they
// warm the cache. Included only by crossfade_mmx.cpp and crossfade_sse.cpp,
// each of which keeps its own copy (internal linkage: see
// Component/Veilshift/CMakeLists.txt).
//
// Each 4-pixel group (12 bytes) is blended in 16-bit lanes: widen with zeros,
// psubsw (B - A), pmullw by alpha >> 1, psraw 7, paddsw A, packuswb. The 0 to 3
// pixels after the last whole group take the scalar formula with the full alpha,
// so for odd alpha a grouped byte may sit one step nearer A than a tail byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "blend.h"
#include "crossfade_rows.h"

#if !defined(__MMX__)
#error "the grouped crossfade forms need MMX code generation (-mmmx)"
#endif
#include <mmintrin.h>

namespace veilshift {
namespace {

// Four bytes of A and B, already widened to 16-bit lanes, to four result lanes.
inline __m64 BlendLanes(__m64 a16, __m64 b16, __m64 halfAlpha) {
    __m64 v = _mm_subs_pi16(b16, a16);   // |B - A| <= 255: never saturates
    v = _mm_mullo_pi16(v, halfAlpha);    // |product| <= 255 * 127: the low 16 bits are exact
    v = _mm_srai_pi16(v, 7);             // arithmetic: floors like the scalar >> 8
    return _mm_adds_pi16(v, a16);
}

// Two words of a group at once: one 8-byte load per source, one store.
inline void BlendEight(uint8_t* dst, const uint8_t* a, const uint8_t* b, __m64 halfAlpha, __m64 zero) {
    __m64 a8, b8;
    std::memcpy(&a8, a, 8);
    std::memcpy(&b8, b, 8);
    const __m64 lo = BlendLanes(_mm_unpacklo_pi8(a8, zero), _mm_unpacklo_pi8(b8, zero), halfAlpha);
    const __m64 hi = BlendLanes(_mm_unpackhi_pi8(a8, zero), _mm_unpackhi_pi8(b8, zero), halfAlpha);
    const __m64 out = _mm_packs_pu16(lo, hi);
    std::memcpy(dst, &out, 8);
}

// A 32-bit word into the low half of an MMX register, through a general register:
// left to itself, GCC with -msse routes this load through an XMM register and
// the stack, which the SSE form must not need (only PREFETCHNTA is SSE there).
inline __m64 LoadLowWord(const uint8_t* p) {
    uint32_t word = LoadWord(p);
#if defined(__GNUC__)
    __asm__("" : "+r"(word));
#endif
    return _mm_cvtsi32_si64(static_cast<int>(word));
}

inline void BlendFour(uint8_t* dst, const uint8_t* a, const uint8_t* b, __m64 halfAlpha, __m64 zero) {
    const __m64 a8 = LoadLowWord(a);
    const __m64 b8 = LoadLowWord(b);
    const __m64 lanes = BlendLanes(_mm_unpacklo_pi8(a8, zero), _mm_unpacklo_pi8(b8, zero), halfAlpha);
    const uint32_t out = static_cast<uint32_t>(_mm_cvtsi64_si32(_mm_packs_pu16(lanes, zero)));
    std::memcpy(dst, &out, 4);
}

// The grouped bytes [0, groupedBytes) of one row; groupedBytes is a multiple of 12.
// Loads and stores stay inside them: 8-byte steps, then at most one 4-byte word.
inline void BlendGroups(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t groupedBytes, __m64 halfAlpha) {
    const __m64 zero = _mm_setzero_si64();
    size_t i = 0;
    for (; i + 8 <= groupedBytes; i += 8) BlendEight(dst + i, a + i, b + i, halfAlpha, zero);
    if (i < groupedBytes) BlendFour(dst + i, a + i, b + i, halfAlpha, zero);
}

// WarmUp(aRow, bRow, touchCount) runs before each row is blended.
template <typename WarmUp>
inline void CrossfadeGrouped(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch,
                             const uint8_t* b, ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha) {
    if (width <= 0 || height <= 0) return;
    const CrossfadeRow row = MeasureRow(width);
    const size_t groupedBytes = static_cast<size_t>(width / 4) * 12u;
    // One lane holds alpha >> 1 in 16 bits, as pmullw sees it.
    const int16_t halfAlpha = static_cast<int16_t>(alpha >> 1);
    const __m64 halfAlphaLanes = _mm_set1_pi16(halfAlpha);
    ForEachRow(dst, dstPitch, a, aPitch, b, bPitch, height,
               [&](uint8_t* dstRow, const uint8_t* aRow, const uint8_t* bRow) {
                   WarmUp()(aRow, bRow, row.touchCount);
                   BlendGroups(dstRow, aRow, bRow, groupedBytes, halfAlphaLanes);
                   BlendBytes(dstRow, aRow, bRow, groupedBytes, row.bytes, alpha);
               });
    _mm_empty();  // MMX registers alias the x87 stack: free it before any float code runs
}

}  // namespace
}  // namespace veilshift
