// The SSE2 span form: four pixels a step for the interpolants, the depth test,
// the reciprocal and the texel indices, then the texels copied one by one. As
// in the AVX2 form a span goes in chunks, arithmetic first and copies second,
// so the long chains of a chunk's pixels overlap, and a span parallel to the
// screen has its one reciprocal made once. SSE2 is part of every x86-64
// processor.
#include "span_fill.h"

#if VEILSHIFT_WIDE_FORMS
#include <emmintrin.h>

namespace veilshift {

namespace {

constexpr int32_t kChunkGroups = 16;

struct Sse2Constants {
    __m128 dIz, dUz, dVz;
    __m128 lastU, lastV;
};

// One span's starting values.
struct Sse2Start {
    __m128 iz, uz, vz;
    __m128 w;  // 1 / iz, for a span parallel to the screen
};

struct Chunk {
    alignas(16) int32_t iu[kChunkGroups * 4];
    alignas(16) int32_t iv[kChunkGroups * 4];
    uint32_t drawn[kChunkGroups];   // one bit per lane
    uint8_t* pixels[kChunkGroups];  // where lane 0's pixel goes
    int32_t groups;
};

// Ordered greater-than: NaN on either side fails.
inline __m128 DepthTest(__m128 iz, __m128 depth) { return _mm_cmpgt_ps(iz, depth); }

inline __m128 Blend(__m128 pass, __m128 drawn, __m128 kept) {
    return _mm_or_ps(_mm_and_ps(pass, drawn), _mm_andnot_ps(pass, kept));
}

template <bool kFlat>
inline __m128 OneOverZ(const Sse2Constants& c, const Sse2Start& s, __m128 k) {
    return kFlat ? s.iz : _mm_add_ps(s.iz, _mm_mul_ps(k, c.dIz));
}

// Four pixels from count k (first lane) on: their texel indices go to chunk slot g.
template <bool kFlat>
inline void Address(const Sse2Constants& c, const Sse2Start& s, __m128 k, __m128 iz, Chunk& chunk, int32_t g) {
    // All four lanes divide; only the drawn ones' results are used.
    const __m128 w = kFlat ? s.w : _mm_div_ps(_mm_set1_ps(1.0f), iz);
    const __m128 u = _mm_mul_ps(_mm_add_ps(s.uz, _mm_mul_ps(k, c.dUz)), w);
    const __m128 v = _mm_mul_ps(_mm_add_ps(s.vz, _mm_mul_ps(k, c.dVz)), w);
    // max(x, 0) answers 0 for NaN; after the clamps the rounding conversion is
    // the nearest integer, ties to even, as NearestInteger is on [0, 2^23] and
    // past it (where the floats are integers already).
    const __m128 zero = _mm_setzero_ps();
    _mm_store_si128(reinterpret_cast<__m128i*>(chunk.iu + g * 4),
                    _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(u, zero), c.lastU)));
    _mm_store_si128(reinterpret_cast<__m128i*>(chunk.iv + g * 4),
                    _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(v, zero), c.lastV)));
}

inline void CopyTexels(const Chunk& chunk, int32_t g, const SpanTexture& t) {
    uint8_t* const pixels = chunk.pixels[g];
    uint32_t drawn = chunk.drawn[g];
    while (drawn != 0) {
        const int32_t i = __builtin_ctz(drawn);
        drawn &= drawn - 1;
        const int32_t lane = g * 4 + i;
        const uint8_t* const texel =
            t.texels + static_cast<ptrdiff_t>(chunk.iv[lane]) * t.pitch + static_cast<ptrdiff_t>(chunk.iu[lane]) * 3;
        std::memcpy(pixels + 3 * i, texel, 3);
    }
}

// The second pass over the chunk's groups, which leaves it empty.
inline void Flush(Chunk& chunk, const SpanTexture& texture) {
    for (int32_t g = 0; g < chunk.groups; ++g) CopyTexels(chunk, g, texture);
    chunk.groups = 0;
}

// The first pass over one span, its groups joining the chunk.
template <bool kFlat>
void Shade(const Span& span, const SpanTexture& texture, const SpanGradient& d, const Sse2Constants& c,
           Chunk& chunk) {
    const __m128 iz0 = _mm_set1_ps(span.iz);
    const Sse2Start s{iz0, _mm_set1_ps(span.uz), _mm_set1_ps(span.vz), kFlat ? _mm_div_ps(_mm_set1_ps(1.0f), iz0) : iz0};
    float* const depth = span.depth;
    uint8_t* const pixels = span.pixels;
    const int32_t count = span.count;
    const int32_t whole = count & ~3;
    const __m128 four = _mm_set1_ps(4.0f);
    __m128 k = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
    for (int32_t i = 0; i < whole; i += 4, k = _mm_add_ps(k, four)) {
        float* const cells = depth + i;
        const __m128 old = _mm_loadu_ps(cells);
        const __m128 iz = OneOverZ<kFlat>(c, s, k);
        const __m128 pass = DepthTest(iz, old);
        const uint32_t drawn = static_cast<uint32_t>(_mm_movemask_ps(pass));
        if (drawn == 0) continue;
        // Every cell of the group lies in the span: the failed ones go back unchanged.
        _mm_storeu_ps(cells, Blend(pass, iz, old));
        const int32_t g = chunk.groups++;
        chunk.drawn[g] = drawn;
        chunk.pixels[g] = pixels + static_cast<ptrdiff_t>(i) * 3;
        Address<kFlat>(c, s, k, iz, chunk, g);
        if (chunk.groups == kChunkGroups) Flush(chunk, texture);
    }
    if (whole == count) return;

    // The last one to three pixels, as one group of four whose other lanes are
    // cells of the row either side (already done ones of this span, or beyond
    // it): read, and stored back unchanged; their pixels are not written.
    const int32_t rowEnd = count + span.cellsAfter;
    const int32_t start = whole < rowEnd - 4 ? whole : rowEnd - 4;
    if (start < -span.cellsBefore) {  // a row narrower than four pixels
        Flush(chunk, texture);        // the pixels in order
        FillSpanFrom_Scalar(span, d, texture, whole);
        return;
    }
    const __m128i place = _mm_add_epi32(_mm_set1_epi32(start), _mm_setr_epi32(0, 1, 2, 3));
    const __m128 open = _mm_castsi128_ps(_mm_and_si128(_mm_cmpgt_epi32(place, _mm_set1_epi32(whole - 1)),
                                                       _mm_cmpgt_epi32(_mm_set1_epi32(count), place)));
    const __m128 kTail = _mm_cvtepi32_ps(place);
    float* const cells = depth + start;
    const __m128 old = _mm_loadu_ps(cells);
    const __m128 iz = OneOverZ<kFlat>(c, s, kTail);
    const __m128 pass = _mm_and_ps(DepthTest(iz, old), open);
    const uint32_t drawn = static_cast<uint32_t>(_mm_movemask_ps(pass));
    if (drawn == 0) return;
    _mm_storeu_ps(cells, Blend(pass, iz, old));
    const int32_t g = chunk.groups++;
    chunk.drawn[g] = drawn;
    chunk.pixels[g] = pixels + static_cast<ptrdiff_t>(start) * 3;
    Address<kFlat>(c, s, kTail, iz, chunk, g);
    if (chunk.groups == kChunkGroups) Flush(chunk, texture);
}

}  // namespace

void FillSpans_Sse2(const Span* spans, int32_t spanCount, const SpanGradient& d, const SpanTexture& texture) {
    const Sse2Constants c{_mm_set1_ps(d.dIz), _mm_set1_ps(d.dUz), _mm_set1_ps(d.dVz),
                          _mm_set1_ps(static_cast<float>(texture.lastU)),
                          _mm_set1_ps(static_cast<float>(texture.lastV))};
    Chunk chunk;
    chunk.groups = 0;
    for (int32_t i = 0; i < spanCount; ++i) {
        const Span& span = spans[i];
        // Below the count limit every pixel's count is the exact lane value.
        if (span.count > kSpanCountLimit) {
            Flush(chunk, texture);
            FillSpanFrom_Scalar(span, d, texture, 0);
            continue;
        }
        // k * 0 is 0 for every count, so iz0 + k * 0 is iz0 itself (but for a
        // negative zero iz0, which the sum makes positive).
        if (d.dIz == 0.0f && span.iz != 0.0f)
            Shade<true>(span, texture, d, c, chunk);
        else
            Shade<false>(span, texture, d, c, chunk);
    }
    Flush(chunk, texture);
}

}  // namespace veilshift

#endif  // VEILSHIFT_WIDE_FORMS
