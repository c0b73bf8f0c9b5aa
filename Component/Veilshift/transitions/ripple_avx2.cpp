// The AVX2 forms of the ripple (built with AVX2 code generation, chosen only
// where the processor has AVX2).
//
// The direct walk: eight pixels at a time, each source pixel read as one
// 32-bit word into a vector lane, the eight mixed by 16-bit multipliers and
// packed back into 24 bytes. Groups with a pixel whose source lies outside the
// rectangle, and the last column of each source row, go through the scalar
// pixel code.
//
// The fused passes: the source rows mixed 32 bytes at a time, then eight
// pixels at a time gathered and packed into 24 bytes; in the form for
// processors whose gathers are slow, the eight read one load each, as the
// direct walk reads its pixels.
#include <immintrin.h>

#include <algorithm>

#include "mix_vector.h"
#include "ripple_forms.h"
#include "ripple_fused.h"
#include "ripple_strips.h"

#if !defined(__AVX2__)
#error "the AVX2 ripple form needs AVX2 code generation (-mavx2)"
#endif

namespace veilshift {
namespace {

// Eight 32-bit words into the lanes, word(k) into lane k, one load and one
// insert each.
template <typename Word>
inline __m256i WordsIntoLanes(const Word& word) {
    __m128i low = _mm_cvtsi32_si128(word(0));
    low = _mm_insert_epi32(low, word(1), 1);
    low = _mm_insert_epi32(low, word(2), 2);
    low = _mm_insert_epi32(low, word(3), 3);
    __m128i high = _mm_cvtsi32_si128(word(4));
    high = _mm_insert_epi32(high, word(5), 1);
    high = _mm_insert_epi32(high, word(6), 2);
    high = _mm_insert_epi32(high, word(7), 3);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Eight source pixels, one per 32-bit lane (the fourth byte is the next
// pixel's first, unused).
inline __m256i GatherPixels(const uint8_t* start, size_t rowTerm, const size_t* columnTerms) {
    return WordsIntoLanes([&](int k) { return static_cast<int>(LoadWord(SourcePixel(start, rowTerm, columnTerms[k]))); });
}

// In each half, the three pixel bytes of its four lanes packed into its low
// twelve bytes (the last four zero).
inline __m256i DropFourthBytes(__m256i lanes) {
    const __m256i dropFourth = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                                0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    return _mm256_shuffle_epi8(lanes, dropFourth);
}

// The three pixel bytes of each lane, packed into the low 24 bytes and stored.
inline void StorePixels(uint8_t* out, __m256i lanes) {
    const __m256i joinHalves = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const __m256i packed = _mm256_permutevar8x32_epi32(DropFourthBytes(lanes), joinHalves);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(packed, 1));
}

// The same 24 bytes as two runs of twelve, each followed by four bytes of no
// meaning: the second run writes the first one's again, and the caller
// writes the four after the group again (or owns them).
inline void StorePixelsSpilling(uint8_t* out, __m256i lanes) {
    const __m256i packed = DropFourthBytes(lanes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(packed, 1));
}

// alpha 1 to 254: both weights have multipliers. alpha 0: source A unchanged.
struct MixLanes {
    explicit MixLanes(int32_t alpha) {
        const MixMultipliers m(alpha);
        multA = _mm256_set1_epi16(static_cast<int16_t>(m.a));
        multB = _mm256_set1_epi16(static_cast<int16_t>(m.b));
    }
    static constexpr bool kReadsB = true;
    __m256i operator()(__m256i a, __m256i b) const { return MixVector(a, b, multA, multB); }
    __m256i multA, multB;
};
struct TakeA {
    static constexpr bool kReadsB = false;
    __m256i operator()(__m256i a, __m256i) const { return a; }
};

template <typename Lanes>
void MixStrip_Avx2(const RippleFrame& frame, const RippleStrip& s, const Lanes& frameLanes) {
    const StripFrame f(frame);
    const Lanes lanes = frameLanes;
    size_t termsA[kRippleMaxStripColumns];
    size_t termsB[kRippleMaxStripColumns];
    FillColumnTerms(f.columnShift, s, f.aPitch, termsA);
    FillColumnTerms(f.columnShift, s, f.bPitch, termsB);
    for (int32_t j = 0; j < f.height; ++j) {
        if (s.highestShift < -j || s.lowestShift >= f.height - j) continue;
        const bool allInside = s.lowestShift >= -j && s.highestShift < f.height - j;
        const int32_t move = f.rowShift[j];
        const ColumnSpan span = ShiftedColumns(s.first, s.end, move, f.width);
        // Columns whose source pixel is not the last of its row: four bytes can be read there.
        const int32_t wideEnd = ShiftedColumns(s.first, s.end, move, f.width - 1).end;
        const size_t rowA = RowTerm(j, f.aPitch, s.first, move);
        const size_t rowB = RowTerm(j, f.bPitch, s.first, move);
        uint8_t* const out = f.dst + j * f.dstPitch;
        auto scalarPixels = [&](int32_t from, int32_t to) {
            for (int32_t i = from; i < to; ++i) {
                if (!allInside && !SourceRowInside(f.columnShift[i], j, f.height)) continue;
                const int32_t k = i - s.first;
                MixPixel(out + ptrdiff_t{i} * 3, SourcePixel(f.a, rowA, termsA[k]), SourcePixel(f.b, rowB, termsB[k]),
                         f.rowA, f.rowB);
            }
        };
        // A lane's shift keeps it inside when -j - 1 < shift < height - j.
        const __m256i belowTop = _mm256_set1_epi32(-j - 1);
        const __m256i belowBottom = _mm256_set1_epi32(f.height - j);
        int32_t i = span.begin;
        for (; i + 8 <= wideEnd; i += 8) {
            if (!allInside) {
                const __m256i shifts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f.columnShift + i));
                const __m256i inside =
                    _mm256_and_si256(_mm256_cmpgt_epi32(shifts, belowTop), _mm256_cmpgt_epi32(belowBottom, shifts));
                const int lanesInside = _mm256_movemask_ps(_mm256_castsi256_ps(inside));
                if (lanesInside != 0xFF) {
                    if (lanesInside != 0) scalarPixels(i, i + 8);
                    continue;
                }
            }
            const int32_t k = i - s.first;
            const __m256i a = GatherPixels(f.a, rowA, termsA + k);
            const __m256i b = Lanes::kReadsB ? GatherPixels(f.b, rowB, termsB + k) : a;
            StorePixels(out + ptrdiff_t{i} * 3, lanes(a, b));
        }
        scalarPixels(i, span.end);
    }
}

// Eight 32-bit words at base + offsets[k] bytes. The gather writes
// only the lanes its mask selects and keeps the others, so the register it
// writes is one of its inputs: without a fresh zero register each time, every
// gather of a loop would wait for the one before it that happened to get the
// same register. The empty asm keeps the compiler from dropping the zero and
// the all-ones mask as having no effect.
inline __m256i GatherWords(const int* base, __m256i offsets) {
    __m256i kept = _mm256_setzero_si256();
    __m256i mask = _mm256_set1_epi32(-1);
    asm("" : "+x"(kept), "+x"(mask));
    return _mm256_mask_i32gather_epi32(kept, base, offsets, mask, 1);
}

// The fused passes' move, eight pixels at a time: each reads its word of M
// with a load of its own (or, with `kGather`, the eight with one gather) from
// the row's start and the strip's column terms. A whole row of a whole strip
// is stored as whole groups, each but the last spilling into the next; other
// rows take their whole groups whose pixels all read inside M, and the rest
// pixel by pixel.
static_assert(kFusedStrip % 8 == 0, "whole groups of eight in every strip but the last");
template <bool kGather>
struct Avx2FusedRows {
    static constexpr int32_t kGroups = kFusedStrip / 8;
    Avx2FusedRows(const FusedFrame& frame, const FusedStrip& strip)
        : f(frame), s(strip), wholeGroups((strip.end - strip.first) / 8) {
        for (int32_t g = 0; g < wholeGroups; ++g) {
            terms[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f.columnTerms + s.first + g * 8));
            shifts[g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(f.columnShifts + s.first + g * 8));
        }
    }
    const FusedFrame& f;
    const FusedStrip& s;
    const int32_t wholeGroups;
    __m256i terms[kGroups], shifts[kGroups];

    // Group g of row r: each lane's offset is the row's start plus its
    // column's term, inside M (the start alone need not be).
    __m256i Group(const FusedRow& r, int32_t g) const {
        if (kGather) {
            const __m256i offsets = _mm256_add_epi32(terms[g], _mm256_set1_epi32(static_cast<int32_t>(r.start)));
            return GatherWords(reinterpret_cast<const int*>(f.mixed), offsets);
        }
        const int32_t* const t = f.columnTerms + s.first + g * 8;
        return WordsIntoLanes([&](int k) { return static_cast<int>(LoadWord(f.mixed + (r.start + t[k]))); });
    }

    void operator()(const FusedRow& r) const {
        uint8_t* const out = f.dst + r.j * f.dstPitch + ptrdiff_t{s.first} * 3;
        if (r.allInside && wholeGroups == kGroups && r.span.begin == s.first && r.span.end == s.end) {
            for (int32_t g = 0; g + 1 < kGroups; ++g) StorePixelsSpilling(out + g * 24, Group(r, g));
            StorePixels(out + (kGroups - 1) * 24, Group(r, kGroups - 1));
            return;
        }
        const int32_t groupsFrom = (r.span.begin - s.first + 7) / 8;
        const int32_t groupsTo = std::max(groupsFrom, std::min(wholeGroups, (r.span.end - s.first) / 8));
        MovePixels(f, r, r.span.begin, std::min(r.span.end, s.first + groupsFrom * 8));
        const __m256i belowTop = _mm256_set1_epi32(-r.j - 1);
        const __m256i belowBottom = _mm256_set1_epi32(f.height - r.j);
        for (int32_t g = groupsFrom; g < groupsTo; ++g) {
            if (!r.allInside) {
                const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi32(shifts[g], belowTop),
                                                        _mm256_cmpgt_epi32(belowBottom, shifts[g]));
                const int lanesInside = _mm256_movemask_ps(_mm256_castsi256_ps(inside));
                if (lanesInside != 0xFF) {
                    if (lanesInside != 0) MovePixels(f, r, s.first + g * 8, s.first + g * 8 + 8);
                    continue;
                }
            }
            StorePixels(out + g * 24, Group(r, g));
        }
        MovePixels(f, r, std::max(r.span.begin, s.first + groupsTo * 8), r.span.end);
    }
};

}  // namespace

void RippleFused_Avx2(const RippleFrame& frame, const RipplePassBuffers& buffers) {
    RunFusedPasses<Avx2FusedRows<true>>(frame, buffers, MixRow_Avx2);
}

void RippleFused_Avx2Loads(const RippleFrame& frame, const RipplePassBuffers& buffers) {
    RunFusedPasses<Avx2FusedRows<false>>(frame, buffers, MixRow_Avx2);
}

void Ripple_Avx2(const RippleFrame& frame) {
    const int32_t alpha = frame.weights.alpha;
    if (alpha < 0 || alpha > 254) return Ripple_Scalar(frame);  // no multiplier for a weight of 255
    if (alpha == 0) {
        WalkStrips(frame, MixRow_Avx2, [&](const RippleStrip& strip) { MixStrip_Avx2(frame, strip, TakeA{}); });
    } else {
        const MixLanes lanes(alpha);
        WalkStrips(frame, MixRow_Avx2, [&](const RippleStrip& strip) { MixStrip_Avx2(frame, strip, lanes); });
    }
}

}  // namespace veilshift
