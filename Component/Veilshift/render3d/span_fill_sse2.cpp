// The SSE2 span form: the span walk of span_fill_wide.h four pixels a step,
// then the texels copied one by one.
#include "span_fill.h"

#include <emmintrin.h>

#include <cstring>

#include "span_fill_wide.h"

namespace veilshift {

namespace {

struct Sse2Form {
    using Lanes = SpanLanes128;
    using Constants = SpanSteps<Lanes>;

    struct Chunk {
        const uint8_t* texels;  // texel (0, 0) of the slot
        ptrdiff_t pitch;
        alignas(16) int32_t iu[kChunkGroups * 4];
        alignas(16) int32_t iv[kChunkGroups * 4];
        uint32_t drawn[kChunkGroups];   // one bit per lane
        uint8_t* pixels[kChunkGroups];  // where lane 0's pixel goes
    };

    // Every group joins the chunk with its texel indices.
    template <bool kFlat>
    static bool Record(const Constants& c, const SpanStart<Lanes>& s, __m128 k, __m128 iz, uint32_t drawn,
                       uint8_t* pixels, Chunk& chunk, int32_t g) {
        const TexelIndices<Lanes> t = TexelIndicesOf<Lanes, kFlat>(c, s, k, iz);
        chunk.drawn[g] = drawn;
        chunk.pixels[g] = pixels;
        _mm_store_si128(reinterpret_cast<__m128i*>(chunk.iu + g * 4), t.iu);
        _mm_store_si128(reinterpret_cast<__m128i*>(chunk.iv + g * 4), t.iv);
        return true;
    }

    static void CopyTexels(const Chunk& chunk, int32_t g) {
        uint8_t* const pixels = chunk.pixels[g];
        uint32_t drawn = chunk.drawn[g];
        while (drawn != 0) {
            const int32_t i = __builtin_ctz(drawn);
            drawn &= drawn - 1;
            const int32_t lane = g * 4 + i;
            const uint8_t* const texel = chunk.texels + static_cast<ptrdiff_t>(chunk.iv[lane]) * chunk.pitch +
                                         static_cast<ptrdiff_t>(chunk.iu[lane]) * 3;
            std::memcpy(pixels + 3 * i, texel, 3);
        }
    }

    static void LookAhead(const Span*, int32_t, int32_t, const SpanGradient&, const SpanTexture&, const Chunk&) {}
};

}  // namespace

void FillSpans_Sse2(const Span* spans, int32_t spanCount, const SpanGradient& d, const SpanTexture& texture) {
    const Sse2Form::Constants c = StepsOf<SpanLanes128>(d, texture);
    Sse2Form::Chunk chunk;
    chunk.texels = texture.texels;
    chunk.pitch = texture.pitch;
    FillSpansWide<Sse2Form>(spans, spanCount, d, texture, c, chunk);
}

}  // namespace veilshift

