// The AVX2 span form: the span walk of span_fill_wide.h eight pixels a step.
// It keeps each group's texel offsets, and its second pass copies the texels
// with plain loads and stores, a run of texels side by side in one move. The
// caller only picks this form when the processor has AVX2.
#include "span_fill.h"

#include <immintrin.h>

#include <cstring>

#include "../pixel_words.h"
#include "span_fill_wide.h"

namespace veilshift {

namespace {

struct Avx2Constants : SpanSteps<SpanLanes256> {
    __m256i lastColumn, pitch, rowBias;
};

// Per group, one bit per lane in each byte: the lanes drawn (bits 0-7), those
// reading the slot's last column (8-15), those whose texel follows lane 0's
// in memory as in a packed row (16-23).
constexpr uint32_t kDrawn = 0xFF;
constexpr int kLastColumnShift = 8;
constexpr int kSideBySideShift = 16;

// The texel offsets (from Avx2Chunk::texels), kinds and pixels of a chunk's groups.
struct Avx2Chunk {
    const uint8_t* texels;  // the lowest texel row of the slot in memory
    int32_t lowestRow;      // its row in the slot
    alignas(32) uint32_t offset[kChunkGroups * 8];
    uint32_t kind[kChunkGroups];
    uint8_t* pixels[kChunkGroups];  // where lane 0's pixel goes
};

// The compiler's prefetch built-in counts as free of effects and may vanish
// with the code around it; the instruction itself is kept.
inline void Prefetch(const void* address) {
    __asm__ __volatile__("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
}

// The texel indices and offsets of eight pixels from count k (first lane) on.
struct Avx2Texels {
    __m256i iu;
    __m256i offset;  // from Avx2Chunk::texels
};

template <bool kFlat>
inline Avx2Texels Locate(const Avx2Constants& c, const SpanStart<SpanLanes256>& s, __m256 k,
                                        __m256 iz) {
    const TexelIndices<SpanLanes256> t = TexelIndicesOf<SpanLanes256, kFlat>(c, s, k, iz);
    // Row bias: offsets count from the slot row lowest in memory, so they are
    // never negative, whichever way the surface runs.
    const __m256i rowOffset = _mm256_add_epi32(_mm256_mullo_epi32(t.iv, c.pitch), c.rowBias);
    return {t.iu, _mm256_add_epi32(rowOffset, _mm256_add_epi32(t.iu, _mm256_add_epi32(t.iu, t.iu)))};
}

// Lanes whose texel follows lane 0's in memory as in a packed row: eight such
// texels are 24 bytes of the slot in a row.
inline uint32_t SideBySide(__m256i offset) {
    const __m256i packed = _mm256_add_epi32(_mm256_broadcastd_epi32(_mm256_castsi256_si128(offset)),
                                            _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21));
    return static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(offset, packed))));
}

// Group g of the chunk: the offsets and kind of its texels, `drawn` the lanes drawn.
inline void RecordTexels(const Avx2Constants& c, const Avx2Texels& t, uint32_t drawn,
                                        Avx2Chunk& chunk, int32_t g) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(chunk.offset + g * 8), t.offset);
    // The copies come at the end of the chunk: lane 0's texel line is asked for now.
    Prefetch(chunk.texels + static_cast<uint32_t>(_mm256_cvtsi256_si32(t.offset)));
    const uint32_t lastColumn = static_cast<uint32_t>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(t.iu, c.lastColumn))));
    chunk.kind[g] = drawn | lastColumn << kLastColumnShift | SideBySide(t.offset) << kSideBySideShift;
}

// The copies below move whole vectors: a plain memcpy of 8, 16 or 24 bytes
// becomes four-byte moves in the 32-bit build.

// Eight packed texels.
inline void Copy24(uint8_t* dst, const uint8_t* src) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), head);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 16), tail);
}

// `bytes` (3 to 24) bytes from src to dst in a few moves that overlap rather
// than go past either end.
inline void CopyRun(uint8_t* dst, const uint8_t* src, size_t bytes) {
    if (bytes >= 16) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + bytes - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), head);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + bytes - 16), tail);
    } else if (bytes >= 8) {
        const __m128i head = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src));
        const __m128i tail = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + bytes - 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), head);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + bytes - 8), tail);
    } else if (bytes >= 4) {
        const uint32_t head = LoadWord(src), tail = LoadWord(src + bytes - 4);
        StoreWord(dst, head);
        StoreWord(dst + bytes - 4, tail);
    } else {
        std::memcpy(dst, src, 3);
    }
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

struct Avx2Form {
    using Lanes = SpanLanes256;
    using Constants = Avx2Constants;
    using Chunk = Avx2Chunk;

    template <bool kFlat>
    static bool Record(const Constants& c, const SpanStart<Lanes>& s, __m256 k, __m256 iz,
                                      uint32_t drawn, uint8_t* pixels, Chunk& chunk, int32_t g) {
        const Avx2Texels t = Locate<kFlat>(c, s, k, iz);
        if (kFlat && (drawn & SideBySide(t.offset)) == drawn) {
            // Parallel to the screen no division stands between a group and its
            // texels, and the commonest groups (their drawn lanes one run whose
            // texels lie in a row, as in a piece at rest: all eight, or the
            // last few of a span) are copied at once. Lane i's texel lies 3 i
            // bytes after lane 0's.
            const uint8_t* const texels = chunk.texels + static_cast<uint32_t>(_mm256_cvtsi256_si32(t.offset));
            if (drawn == kDrawn) {
                Copy24(pixels, texels);
                return false;
            }
            const uint32_t first = static_cast<uint32_t>(__builtin_ctz(drawn));
            if (((drawn >> first) & ((drawn >> first) + 1)) == 0) {
                CopyRun(pixels + 3 * first, texels + 3 * first, 3 * static_cast<size_t>(__builtin_popcount(drawn)));
                return false;
            }
        }
        chunk.pixels[g] = pixels;
        RecordTexels(c, t, drawn, chunk, g);
        return true;
    }

    // The second pass over one group of eight pixels.
    static void CopyTexels(const Chunk& chunk, int32_t g) {
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
            for (int32_t i = 0; i < 7; ++i) StoreWord(pixels + 3 * i, LoadWord(chunk.texels + offset[i]));
            std::memcpy(pixels + 21, chunk.texels + offset[7], 3);
            return;
        }
        while (drawn != 0) {
            const int32_t i = __builtin_ctz(drawn);
            drawn &= drawn - 1;
            std::memcpy(pixels + 3 * i, chunk.texels + offset[i], 3);
        }
    }

    // Two spans ahead, in wide frames and long spans only: a small frame's
    // buffers stay in the caches from row to row, and for a short span
    // working out where its texels lie costs more than asking saves.
    static void LookAhead(const Span* spans, int32_t i, int32_t spanCount, const SpanGradient& d,
                          const SpanTexture& texture, const Chunk& chunk) {
        if (i + 2 < spanCount) {
            const Span& ahead = spans[i + 2];
            if (ahead.count >= 48 && int64_t{ahead.cellsBefore} + ahead.count + ahead.cellsAfter >= 1024)
                PrefetchSpan(ahead, d, texture, chunk.texels, chunk.lowestRow);
        }
    }
};

}  // namespace

void FillSpans_Avx2(const Span* spans, int32_t spanCount, const SpanGradient& d,
                                   const SpanTexture& texture) {
    const int32_t pitch = static_cast<int32_t>(texture.pitch);
    const int32_t lowestRow = pitch < 0 ? texture.lastV : 0;
    const Avx2Constants c{StepsOf<SpanLanes256>(d, texture), _mm256_set1_epi32(texture.lastU), _mm256_set1_epi32(pitch),
                          _mm256_set1_epi32(-lowestRow * pitch)};
    Avx2Chunk chunk;
    chunk.texels = texture.texels + static_cast<ptrdiff_t>(lowestRow) * pitch;
    chunk.lowestRow = lowestRow;
    FillSpansWide<Avx2Form>(spans, spanCount, d, texture, c, chunk);
}

}  // namespace veilshift

