// The AVX2 span form: eight pixels a step. Its functions carry the AVX2 target
// themselves as well as the file's flags; the caller only picks this form when
// the processor has AVX2.
//
// The pixels go in chunks of up to sixteen groups of eight (from one span or
// several), each chunk in two passes. The first does the arithmetic for eight
// pixels at a time (interpolants, depth test and write, reciprocal, texel
// offsets) and keeps the offsets; the second copies the texels with plain
// loads and stores. A pixel's chain from its interpolants to its texel address
// is long (the division alone is a dozen cycles), and split like this the
// chains of a whole chunk overlap instead of each group of eight waiting for
// its own loads.
//
// A span parallel to the screen (1/z the same along it, as every piece is
// before it starts to turn) has one 1/z and so one reciprocal for all its
// pixels: the same division, made once.
#include "span_fill.h"

#if VEILSHIFT_WIDE_FORMS
#include <immintrin.h>

#define VEILSHIFT_AVX2 __attribute__((target("avx2")))

namespace veilshift {

namespace {

constexpr int32_t kChunkGroups = 16;

struct Avx2Constants {
    __m256 dIz, dUz, dVz;
    __m256 lastU, lastV;
    __m256i lastColumn, pitch, rowBias;
};

// One span's starting values.
struct Avx2Start {
    __m256 iz, uz, vz;
    __m256 w;  // 1 / iz, for a span parallel to the screen
};

// Per group, one bit per lane in each byte: the lanes drawn (bits 0-7), those
// reading the slot's last column (8-15), those whose texel follows lane 0's
// in memory as in a packed row (16-23).
constexpr uint32_t kDrawn = 0xFF;
constexpr int kLastColumnShift = 8;
constexpr int kSideBySideShift = 16;

// The texel offsets (from Chunk::texels), kinds and pixels of a chunk's groups.
struct Chunk {
    const uint8_t* texels;  // the lowest texel row of the slot in memory
    alignas(32) uint32_t offset[kChunkGroups * 8];
    uint32_t kind[kChunkGroups];
    uint8_t* pixels[kChunkGroups];  // where lane 0's pixel goes
};

// The compiler's prefetch built-in counts as free of effects and may vanish
// with the code around it; the instruction itself is kept.
inline void Prefetch(const void* address) {
    __asm__ __volatile__("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
}

inline uint32_t Load4(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void Store4(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Ordered, quiet greater-than: NaN on either side fails.
VEILSHIFT_AVX2 inline __m256 DepthTest(__m256 iz, __m256 depth) { return _mm256_cmp_ps(iz, depth, _CMP_GT_OQ); }

template <bool kFlat>
VEILSHIFT_AVX2 inline __m256 OneOverZ(const Avx2Constants& c, const Avx2Start& s, __m256 k) {
    return kFlat ? s.iz : _mm256_add_ps(s.iz, _mm256_mul_ps(k, c.dIz));
}

// The texel indices and offsets of eight pixels from count k (first lane) on.
struct Avx2Texels {
    __m256i iu;
    __m256i offset;  // from Chunk::texels
};

template <bool kFlat>
VEILSHIFT_AVX2 inline Avx2Texels Locate(const Avx2Constants& c, const Avx2Start& s, __m256 k, __m256 iz) {
    // All eight lanes divide; only the drawn ones' results are used.
    const __m256 w = kFlat ? s.w : _mm256_div_ps(_mm256_set1_ps(1.0f), iz);
    const __m256 u = _mm256_mul_ps(_mm256_add_ps(s.uz, _mm256_mul_ps(k, c.dUz)), w);
    const __m256 v = _mm256_mul_ps(_mm256_add_ps(s.vz, _mm256_mul_ps(k, c.dVz)), w);
    // max(x, 0) answers 0 for NaN; after the clamps the rounding conversion is
    // the nearest integer, ties to even, as NearestInteger is on [0, 2^23] and
    // past it (where the floats are integers already).
    const __m256 zero = _mm256_setzero_ps();
    const __m256i iu = _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(u, zero), c.lastU));
    const __m256i iv = _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(v, zero), c.lastV));
    // Row bias: offsets count from the slot row lowest in memory, so they are
    // never negative, whichever way the surface runs.
    const __m256i rowOffset = _mm256_add_epi32(_mm256_mullo_epi32(iv, c.pitch), c.rowBias);
    return {iu, _mm256_add_epi32(rowOffset, _mm256_add_epi32(iu, _mm256_add_epi32(iu, iu)))};
}

// Lanes whose texel follows lane 0's in memory as in a packed row: eight such
// texels are 24 bytes of the slot in a row.
VEILSHIFT_AVX2 inline uint32_t SideBySide(__m256i offset) {
    const __m256i packed = _mm256_add_epi32(_mm256_broadcastd_epi32(_mm256_castsi256_si128(offset)),
                                            _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21));
    return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(offset, packed))));
}

// Group g of the chunk: the offsets and kind of its texels, `drawn` the lanes drawn.
VEILSHIFT_AVX2 inline void Record(const Avx2Constants& c, const Avx2Texels& t, uint32_t drawn, Chunk& chunk,
                                  int32_t g) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(chunk.offset + g * 8), t.offset);
    // The copies come at the end of the chunk: lane 0's texel line is asked for now.
    Prefetch(chunk.texels + static_cast<uint32_t>(_mm256_cvtsi256_si32(t.offset)));
    const uint32_t lastColumn = static_cast<uint32_t>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(t.iu, c.lastColumn))));
    chunk.kind[g] = drawn | lastColumn << kLastColumnShift | SideBySide(t.offset) << kSideBySideShift;
}

// `bytes` (3 to 24) bytes from src to dst in a few moves that overlap rather
// than go past either end.
inline void CopyRun(uint8_t* dst, const uint8_t* src, size_t bytes) {
    uint8_t head[16], tail[16];
    if (bytes >= 16) {
        std::memcpy(head, src, 16);
        std::memcpy(tail, src + bytes - 16, 16);
        std::memcpy(dst, head, 16);
        std::memcpy(dst + bytes - 16, tail, 16);
    } else if (bytes >= 8) {
        std::memcpy(head, src, 8);
        std::memcpy(tail, src + bytes - 8, 8);
        std::memcpy(dst, head, 8);
        std::memcpy(dst + bytes - 8, tail, 8);
    } else if (bytes >= 4) {
        std::memcpy(head, src, 4);
        std::memcpy(tail, src + bytes - 4, 4);
        std::memcpy(dst, head, 4);
        std::memcpy(dst + bytes - 4, tail, 4);
    } else {
        std::memcpy(dst, src, 3);
    }
}

// The second pass over one group of eight pixels.
inline void CopyTexels(const Chunk& chunk, int32_t g) {
    uint8_t* const pixels = chunk.pixels[g];
    const uint32_t* const offset = chunk.offset + g * 8;
    const uint32_t kind = chunk.kind[g];
    uint32_t drawn = kind & kDrawn;
    const uint32_t first = static_cast<uint32_t>(__builtin_ctz(drawn));
    const uint32_t sideBySide = kind >> kSideBySideShift;
    if (((drawn >> first) & ((drawn >> first) + 1)) == 0 && (sideBySide & drawn) == drawn) {
        // The drawn lanes are one run whose texels lie side by side, as at a
        // piece's edge or a span's end: one copy.
        CopyRun(pixels + 3 * first, chunk.texels + offset[first],
                3 * static_cast<size_t>(__builtin_popcount(drawn)));
        return;
    }
    constexpr uint32_t kLastColumn = kDrawn << kLastColumnShift;
    if ((kind & (kDrawn | kLastColumn)) == kDrawn) {
        // Four bytes read per texel (the fourth is the next texel's, still in
        // the slot), each store's fourth byte overwritten by the next pixel.
        for (int32_t i = 0; i < 7; ++i) Store4(pixels + 3 * i, Load4(chunk.texels + offset[i]));
        std::memcpy(pixels + 21, chunk.texels + offset[7], 3);
        return;
    }
    while (drawn != 0) {
        const int32_t i = __builtin_ctz(drawn);
        drawn &= drawn - 1;
        std::memcpy(pixels + 3 * i, chunk.texels + offset[i], 3);
    }
}

// The second pass over the chunk's first `groups` groups.
inline void Flush(const Chunk& chunk, int32_t groups) {
    for (int32_t g = 0; g < groups; ++g) CopyTexels(chunk, g);
}

// The first pass over one span, its groups joining the chunk after the first
// `groups`; returns how many groups the chunk holds then.
template <bool kFlat>
VEILSHIFT_AVX2 int32_t Shade(const Span& span, const SpanTexture& texture, const SpanGradient& d,
                             const Avx2Constants& c, Chunk& chunk, int32_t groups) {
    const __m256 iz0 = _mm256_set1_ps(span.iz);
    const Avx2Start s{iz0, _mm256_set1_ps(span.uz), _mm256_set1_ps(span.vz),
                      kFlat ? _mm256_div_ps(_mm256_set1_ps(1.0f), iz0) : iz0};
    float* const depth = span.depth;
    uint8_t* const pixels = span.pixels;
    const int32_t count = span.count;
    const int32_t whole = count & ~7;
    const __m256 eight = _mm256_set1_ps(8.0f);
    __m256 k = _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f);
    for (int32_t i = 0; i < whole; i += 8, k = _mm256_add_ps(k, eight)) {
        float* const cells = depth + i;
        const __m256 old = _mm256_loadu_ps(cells);
        const __m256 iz = OneOverZ<kFlat>(c, s, k);
        const __m256 pass = DepthTest(iz, old);
        const uint32_t drawn = static_cast<uint32_t>(_mm256_movemask_ps(pass));
        if (drawn == 0) continue;
        const Avx2Texels t = Locate<kFlat>(c, s, k, iz);
        if (kFlat && (drawn & SideBySide(t.offset)) == kDrawn) {
            // Parallel to the screen no division stands between a group and its
            // texels, and this commonest group (all drawn, its texels in a
            // row, as in a piece at rest) is copied at once.
            _mm256_storeu_ps(cells, iz);
            std::memcpy(pixels + static_cast<ptrdiff_t>(i) * 3,
                       chunk.texels + static_cast<uint32_t>(_mm256_cvtsi256_si32(t.offset)), 24);
            continue;
        }
        // Every cell of the group lies in the span: the failed ones go back unchanged.
        _mm256_storeu_ps(cells, _mm256_blendv_ps(old, iz, pass));
        chunk.pixels[groups] = pixels + static_cast<ptrdiff_t>(i) * 3;
        Record(c, t, drawn, chunk, groups);
        if (++groups == kChunkGroups) {
            Flush(chunk, groups);
            groups = 0;
        }
    }
    if (whole == count) return groups;

    // The last one to seven pixels, as one group of eight whose other lanes are
    // cells of the row either side (already done ones of this span, or beyond
    // it): read, and stored back unchanged; their pixels are not written.
    const int32_t rowEnd = count + span.cellsAfter;
    const int32_t start = whole < rowEnd - 8 ? whole : rowEnd - 8;
    if (start < -span.cellsBefore) {  // a row narrower than eight pixels
        Flush(chunk, groups);         // the pixels in order
        FillSpanFrom_Scalar(span, d, texture, whole);
        return 0;
    }
    const __m256i place = _mm256_add_epi32(_mm256_set1_epi32(start), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256 open = _mm256_castsi256_ps(_mm256_and_si256(
        _mm256_cmpgt_epi32(place, _mm256_set1_epi32(whole - 1)), _mm256_cmpgt_epi32(_mm256_set1_epi32(count), place)));
    const __m256 kTail = _mm256_cvtepi32_ps(place);
    float* const cells = depth + start;
    const __m256 old = _mm256_loadu_ps(cells);
    const __m256 iz = OneOverZ<kFlat>(c, s, kTail);
    const __m256 pass = _mm256_and_ps(DepthTest(iz, old), open);
    const uint32_t drawn = static_cast<uint32_t>(_mm256_movemask_ps(pass));
    if (drawn == 0) return groups;
    _mm256_storeu_ps(cells, _mm256_blendv_ps(old, iz, pass));
    chunk.pixels[groups] = pixels + static_cast<ptrdiff_t>(start) * 3;
    Record(c, Locate<kFlat>(c, s, kTail, iz), drawn, chunk, groups);  // at most seven lanes: one by one
    if (++groups == kChunkGroups) {
        Flush(chunk, groups);
        groups = 0;
    }
    return groups;
}

// Every 64-byte line that holds a byte of [from, to), up to 32 lines (a span
// that long has long been streaming).
inline void PrefetchLines(const void* from, const void* to) {
    const uintptr_t first = reinterpret_cast<uintptr_t>(from) & ~uintptr_t{63};
    const uintptr_t end = reinterpret_cast<uintptr_t>(to) < first + 32 * 64 ? reinterpret_cast<uintptr_t>(to)
                                                                            : first + 32 * 64;
    for (uintptr_t line = first; line < end; line += 64) Prefetch(reinterpret_cast<const void*>(line));
}

// Roughly where the texel for (uz, vz, iz) lies, from the slot row lowest in
// memory; NaN and values past the slot fall on its edges.
inline int64_t RoughTexelOffset(float uz, float vz, float iz, const SpanTexture& t, int32_t lowestRow) {
    const float u = uz / iz, v = vz / iz;
    const int32_t iu = u > 0.0f ? (u < static_cast<float>(t.lastU) ? static_cast<int32_t>(u) : t.lastU) : 0;
    const int32_t iv = v > 0.0f ? (v < static_cast<float>(t.lastV) ? static_cast<int32_t>(v) : t.lastV) : 0;
    return static_cast<int64_t>(iv - lowestRow) * t.pitch + iu * 3;
}

// Asks for the lines a coming span will touch: its depth cells, its pixels
// and the texels at its ends (with those between, when they lie near each
// other in one row). A triangle's spans are short and a row apart, too short a
// stream for the processor to foresee on its own.
void PrefetchSpan(const Span& span, const SpanGradient& d, const SpanTexture& t, const uint8_t* lowest,
                  int32_t lowestRow) {
    PrefetchLines(span.depth, span.depth + span.count);
    PrefetchLines(span.pixels, span.pixels + static_cast<ptrdiff_t>(span.count) * 3);
    const float k = static_cast<float>(span.count - 1);
    const int64_t a = RoughTexelOffset(span.uz, span.vz, span.iz, t, lowestRow);
    const int64_t b = RoughTexelOffset(span.uz + k * d.dUz, span.vz + k * d.dVz, span.iz + k * d.dIz, t, lowestRow);
    const int64_t from = a < b ? a : b, to = a < b ? b : a;
    if (to - from <= 1024) {
        PrefetchLines(lowest + from, lowest + to + 3);
    } else {
        Prefetch(lowest + a);
        Prefetch(lowest + b);
    }
}

}  // namespace

VEILSHIFT_AVX2 void FillSpans_Avx2(const Span* spans, int32_t spanCount, const SpanGradient& d,
                                   const SpanTexture& texture) {
    const int32_t pitch = static_cast<int32_t>(texture.pitch);
    const int32_t lowestRow = pitch < 0 ? texture.lastV : 0;
    const Avx2Constants c{_mm256_set1_ps(d.dIz),
                          _mm256_set1_ps(d.dUz),
                          _mm256_set1_ps(d.dVz),
                          _mm256_set1_ps(static_cast<float>(texture.lastU)),
                          _mm256_set1_ps(static_cast<float>(texture.lastV)),
                          _mm256_set1_epi32(texture.lastU),
                          _mm256_set1_epi32(pitch),
                          _mm256_set1_epi32(-lowestRow * pitch)};
    Chunk chunk;
    chunk.texels = texture.texels + static_cast<ptrdiff_t>(lowestRow) * pitch;
    int32_t groups = 0;
    for (int32_t i = 0; i < spanCount; ++i) {
        const Span& span = spans[i];
        // Two spans ahead, in wide frames and long spans only: a small frame's
        // buffers stay in the caches from row to row, and for a short span
        // working out where its texels lie costs more than asking saves.
        if (i + 2 < spanCount) {
            const Span& ahead = spans[i + 2];
            if (ahead.count >= 48 && int64_t{ahead.cellsBefore} + ahead.count + ahead.cellsAfter >= 1024)
                PrefetchSpan(ahead, d, texture, chunk.texels, lowestRow);
        }
        // Below the count limit every pixel's count is the exact lane value.
        if (span.count > kSpanCountLimit) {
            Flush(chunk, groups);
            groups = 0;
            FillSpanFrom_Scalar(span, d, texture, 0);
            continue;
        }
        // k * 0 is 0 for every count, so iz0 + k * 0 is iz0 itself (but for a
        // negative zero iz0, which the sum makes positive).
        if (d.dIz == 0.0f && span.iz != 0.0f)
            groups = Shade<true>(span, texture, d, c, chunk, groups);
        else
            groups = Shade<false>(span, texture, d, c, chunk, groups);
    }
    Flush(chunk, groups);
}

}  // namespace veilshift

#endif  // VEILSHIFT_WIDE_FORMS
