// The span walk of the SSE2 and AVX2 span forms, written once for both
// widths: the SSE2 form runs it on SpanLanes128 (four pixels a step), the
// AVX2 form on SpanLanes256 (eight). Included only by those form files; each
// keeps its own copy (internal linkage: see Component/Veilshift/CMakeLists.txt).
//
// The pixels go in chunks of up to kChunkGroups groups (from one span or
// several), each chunk in two passes. The first, the walk here, does the
// arithmetic for a group's pixels at once (interpolants, depth test and
// write, reciprocal, texel indices), and the form keeps of each group what
// its second pass needs to copy the texels. A pixel's chain from its
// interpolants to its texel address is long (the division alone is a dozen
// cycles), and split like this the chains of a whole chunk overlap instead
// of each group waiting for its own loads.
//
// A span parallel to the screen (1/z the same along it, as every piece is
// before it starts to turn) has one 1/z and so one reciprocal for all its
// pixels: the same division, made once, and once for the spans that follow
// with the same 1/z (the rows of such a piece).
//
// A form is a struct of static members:
//   Lanes       the lane operations of its width
//   Constants   what the spans of one call share: a SpanSteps<Lanes> and more
//   Chunk       the groups waiting for their texel copies
//   Record<kFlat>(c, s, k, iz, drawn, pixels, chunk, g)
//               takes group g, whose depth cells are written: `drawn` holds
//               the lanes drawn, `pixels` is where lane 0's pixel goes. False
//               when it copied the texels at once, and the group takes no
//               place in the chunk.
//   CopyTexels(chunk, g)
//               the second pass over group g
//   LookAhead(spans, i, spanCount, d, texture, chunk)
//               before span i is walked
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include "span_fill.h"

namespace veilshift {
namespace {

constexpr int32_t kChunkGroups = 16;

struct SpanLanes128 {
    using Floats = __m128;
    using Ints = __m128i;
    static constexpr int32_t kCount = 4;
    static Floats Splat(float x) { return _mm_set1_ps(x); }
    static Floats Counts() { return _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f); }
    static Floats Zero() { return _mm_setzero_ps(); }
    static Floats Add(Floats a, Floats b) { return _mm_add_ps(a, b); }
    static Floats Mul(Floats a, Floats b) { return _mm_mul_ps(a, b); }
    static Floats Div(Floats a, Floats b) { return _mm_div_ps(a, b); }
    static Floats Min(Floats a, Floats b) { return _mm_min_ps(a, b); }
    static Floats Max(Floats a, Floats b) { return _mm_max_ps(a, b); }
    static Floats And(Floats a, Floats b) { return _mm_and_ps(a, b); }
    // Ordered greater-than: NaN on either side fails.
    static Floats Greater(Floats a, Floats b) { return _mm_cmpgt_ps(a, b); }
    static Floats Blend(Floats pass, Floats drawn, Floats kept) {
        return _mm_or_ps(_mm_and_ps(pass, drawn), _mm_andnot_ps(pass, kept));
    }
    static uint32_t Bits(Floats mask) { return static_cast<uint32_t>(_mm_movemask_ps(mask)); }
    static Floats Load(const float* p) { return _mm_loadu_ps(p); }
    static void Store(float* p, Floats v) { _mm_storeu_ps(p, v); }
    static Ints Nearest(Floats x) { return _mm_cvtps_epi32(x); }
    static Floats ToFloats(Ints x) { return _mm_cvtepi32_ps(x); }
    // start, start + 1, ... in the lanes.
    static Ints Places(int32_t start) { return _mm_add_epi32(_mm_set1_epi32(start), _mm_setr_epi32(0, 1, 2, 3)); }
    // The lanes whose place lies in [first, end).
    static Floats Within(Ints place, int32_t first, int32_t end) {
        return _mm_castsi128_ps(_mm_and_si128(_mm_cmpgt_epi32(place, _mm_set1_epi32(first - 1)),
                                              _mm_cmpgt_epi32(_mm_set1_epi32(end), place)));
    }
};

#if defined(__AVX2__)
struct SpanLanes256 {
    using Floats = __m256;
    using Ints = __m256i;
    static constexpr int32_t kCount = 8;
    static Floats Splat(float x) { return _mm256_set1_ps(x); }
    static Floats Counts() { return _mm256_setr_ps(0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f); }
    static Floats Zero() { return _mm256_setzero_ps(); }
    static Floats Add(Floats a, Floats b) { return _mm256_add_ps(a, b); }
    static Floats Mul(Floats a, Floats b) { return _mm256_mul_ps(a, b); }
    static Floats Div(Floats a, Floats b) { return _mm256_div_ps(a, b); }
    static Floats Min(Floats a, Floats b) { return _mm256_min_ps(a, b); }
    static Floats Max(Floats a, Floats b) { return _mm256_max_ps(a, b); }
    static Floats And(Floats a, Floats b) { return _mm256_and_ps(a, b); }
    // Ordered, quiet greater-than: NaN on either side fails.
    static Floats Greater(Floats a, Floats b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static Floats Blend(Floats pass, Floats drawn, Floats kept) { return _mm256_blendv_ps(kept, drawn, pass); }
    static uint32_t Bits(Floats mask) { return static_cast<uint32_t>(_mm256_movemask_ps(mask)); }
    static Floats Load(const float* p) { return _mm256_loadu_ps(p); }
    static void Store(float* p, Floats v) { _mm256_storeu_ps(p, v); }
    static Ints Nearest(Floats x) { return _mm256_cvtps_epi32(x); }
    static Floats ToFloats(Ints x) { return _mm256_cvtepi32_ps(x); }
    static Ints Places(int32_t start) {
        return _mm256_add_epi32(_mm256_set1_epi32(start), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    }
    static Floats Within(Ints place, int32_t first, int32_t end) {
        return _mm256_castsi256_ps(_mm256_and_si256(_mm256_cmpgt_epi32(place, _mm256_set1_epi32(first - 1)),
                                                    _mm256_cmpgt_epi32(_mm256_set1_epi32(end), place)));
    }
};
#endif

// The change per pixel to the right and the last texel indices, in every lane.
template <typename Lanes>
struct SpanSteps {
    typename Lanes::Floats dIz, dUz, dVz;
    typename Lanes::Floats lastU, lastV;
};

template <typename Lanes>
inline SpanSteps<Lanes> StepsOf(const SpanGradient& d, const SpanTexture& texture) {
    return {Lanes::Splat(d.dIz), Lanes::Splat(d.dUz), Lanes::Splat(d.dVz),
            Lanes::Splat(static_cast<float>(texture.lastU)), Lanes::Splat(static_cast<float>(texture.lastV))};
}

// One span's starting values.
template <typename Lanes>
struct SpanStart {
    typename Lanes::Floats iz, uz, vz;
    typename Lanes::Floats w;  // 1 / iz, for a span parallel to the screen
};

template <typename Lanes, bool kFlat>
inline typename Lanes::Floats OneOverZ(const SpanSteps<Lanes>& c, const SpanStart<Lanes>& s,
                                       typename Lanes::Floats k) {
    return kFlat ? s.iz : Lanes::Add(s.iz, Lanes::Mul(k, c.dIz));
}

template <typename Lanes>
struct TexelIndices {
    typename Lanes::Ints iu, iv;
};

// The texel indices of a group's pixels from count k (first lane) on.
template <typename Lanes, bool kFlat>
inline TexelIndices<Lanes> TexelIndicesOf(const SpanSteps<Lanes>& c, const SpanStart<Lanes>& s,
                                          typename Lanes::Floats k, typename Lanes::Floats iz) {
    using Floats = typename Lanes::Floats;
    // All lanes divide; only the drawn ones' results are used.
    const Floats w = kFlat ? s.w : Lanes::Div(Lanes::Splat(1.0f), iz);
    const Floats u = Lanes::Mul(Lanes::Add(s.uz, Lanes::Mul(k, c.dUz)), w);
    const Floats v = Lanes::Mul(Lanes::Add(s.vz, Lanes::Mul(k, c.dVz)), w);
    // max(x, 0) answers 0 for NaN; after the clamps the rounding conversion is
    // the nearest integer, ties to even, as NearestInteger is on [0, 2^23] and
    // past it (where the floats are integers already).
    const Floats zero = Lanes::Zero();
    return {Lanes::Nearest(Lanes::Min(Lanes::Max(u, zero), c.lastU)),
            Lanes::Nearest(Lanes::Min(Lanes::Max(v, zero), c.lastV))};
}

// The second pass over the chunk's first `groups` groups.
template <typename Form>
inline void Flush(const typename Form::Chunk& chunk, int32_t groups) {
    for (int32_t g = 0; g < groups; ++g) Form::CopyTexels(chunk, g);
}

// The first pass over one span, its groups joining the chunk after the first
// `groups`; returns how many groups the chunk holds then.
// `w` is 1 / span.iz in every lane for a span parallel to the screen.
template <typename Form, bool kFlat>
int32_t ShadeSpan(const Span& span, const SpanTexture& texture, const SpanGradient& d,
                  const typename Form::Constants& c, typename Form::Chunk& chunk, int32_t groups,
                  typename Form::Lanes::Floats w) {
    using Lanes = typename Form::Lanes;
    using Floats = typename Lanes::Floats;
    constexpr int32_t kLanes = Lanes::kCount;
    const Floats iz0 = Lanes::Splat(span.iz);
    const SpanStart<Lanes> s{iz0, Lanes::Splat(span.uz), Lanes::Splat(span.vz), w};
    float* const depth = span.depth;
    uint8_t* const pixels = span.pixels;
    const int32_t count = span.count;
    // A group some lane of which is drawn, its depth cells written, from pixel `first` on.
    auto take = [&](Floats k, Floats iz, uint32_t drawn, int32_t first) {
        uint8_t* const at = pixels + static_cast<ptrdiff_t>(first) * 3;
        if (Form::template Record<kFlat>(c, s, k, iz, drawn, at, chunk, groups) && ++groups == kChunkGroups) {
            Flush<Form>(chunk, groups);
            groups = 0;
        }
    };
    const int32_t whole = count & ~(kLanes - 1);
    const Floats step = Lanes::Splat(static_cast<float>(kLanes));
    Floats k = Lanes::Counts();
    for (int32_t i = 0; i < whole; i += kLanes, k = Lanes::Add(k, step)) {
        float* const cells = depth + i;
        const Floats old = Lanes::Load(cells);
        const Floats iz = OneOverZ<Lanes, kFlat>(c, s, k);
        const Floats pass = Lanes::Greater(iz, old);
        const uint32_t drawn = Lanes::Bits(pass);
        if (drawn == 0) continue;
        // Every cell of the group lies in the span: the failed ones go back unchanged.
        Lanes::Store(cells, Lanes::Blend(pass, iz, old));
        take(k, iz, drawn, i);
    }
    if (whole == count) return groups;

    // The last pixels short of a group, as one group whose other lanes are
    // cells of the row either side (already done ones of this span, or beyond
    // it): read, and stored back unchanged; their pixels are not written.
    const int32_t rowEnd = count + span.cellsAfter;
    const int32_t start = whole < rowEnd - kLanes ? whole : rowEnd - kLanes;
    if (start < -span.cellsBefore) {  // a row narrower than a group
        Flush<Form>(chunk, groups);   // the pixels in order
        FillSpanFrom_Scalar(span, d, texture, whole);
        return 0;
    }
    const typename Lanes::Ints place = Lanes::Places(start);
    const Floats open = Lanes::Within(place, whole, count);
    const Floats kTail = Lanes::ToFloats(place);
    float* const cells = depth + start;
    const Floats old = Lanes::Load(cells);
    const Floats iz = OneOverZ<Lanes, kFlat>(c, s, kTail);
    const Floats pass = Lanes::And(Lanes::Greater(iz, old), open);
    const uint32_t drawn = Lanes::Bits(pass);
    if (drawn == 0) return groups;
    Lanes::Store(cells, Lanes::Blend(pass, iz, old));
    take(kTail, iz, drawn, start);
    return groups;
}

// Every span in order: those the lanes' counts cannot hold through the scalar
// form, the others through ShadeSpan.
template <typename Form>
void FillSpansWide(const Span* spans, int32_t spanCount, const SpanGradient& d, const SpanTexture& texture,
                   const typename Form::Constants& c, typename Form::Chunk& chunk) {
    int32_t groups = 0;
    // The spans of a part parallel to the screen mostly share one 1/z: the
    // reciprocal of the last one serves as long as it is the same.
    typename Form::Lanes::Floats w = Form::Lanes::Zero();
    uint32_t wOf = 0;
    bool haveW = false;
    for (int32_t i = 0; i < spanCount; ++i) {
        const Span& span = spans[i];
        Form::LookAhead(spans, i, spanCount, d, texture, chunk);
        // Below the count limit every pixel's count is the exact lane value.
        if (span.count > kSpanCountLimit) {
            Flush<Form>(chunk, groups);
            groups = 0;
            FillSpanFrom_Scalar(span, d, texture, 0);
            continue;
        }
        // k * 0 is 0 for every count, so iz0 + k * 0 is iz0 itself (but for a
        // negative zero iz0, which the sum makes positive).
        if (d.dIz == 0.0f && span.iz != 0.0f) {
            uint32_t bits;
            std::memcpy(&bits, &span.iz, sizeof bits);
            if (!haveW || bits != wOf) {
                w = Form::Lanes::Div(Form::Lanes::Splat(1.0f), Form::Lanes::Splat(span.iz));
                wOf = bits;
                haveW = true;
            }
            groups = ShadeSpan<Form, true>(span, texture, d, c, chunk, groups, w);
        } else {
            groups = ShadeSpan<Form, false>(span, texture, d, c, chunk, groups, w);
        }
    }
    Flush<Form>(chunk, groups);
}

}  // namespace
}  // namespace veilshift
