// The scalar span form, the one every build has, and what the vector forms can address.
#include "span_fill.h"

namespace veilshift {

void FillSpans_Scalar(const Span* spans, int32_t spanCount, const SpanGradient& d, const SpanTexture& texture) {
    for (int32_t i = 0; i < spanCount; ++i) FillSpanFrom_Scalar(spans[i], d, texture, 0);
}

void FillSpanFrom_Scalar(const Span& span, const SpanGradient& d, const SpanTexture& texture, int32_t first) {
    // Held in locals: the byte stores below could otherwise alias them all.
    const float iz0 = span.iz, uz0 = span.uz, vz0 = span.vz;
    const float dIz = d.dIz, dUz = d.dUz, dVz = d.dVz;
    const int32_t count = span.count;
    float* const depth = span.depth;
    uint8_t* const pixels = span.pixels;
    const uint8_t* const texels = texture.texels;
    const ptrdiff_t pitch = texture.pitch;
    const int32_t lastU = texture.lastU, lastV = texture.lastV;
    // The count stops at 2^24 by itself: 2^24 + 1 rounds back to 2^24. (The
    // vector forms start here only below that.)
    float k = static_cast<float>(first);
    for (int32_t i = first; i < count; ++i, k += 1.0f) {
        const float iz = iz0 + k * dIz;
        // Depth first: a hidden pixel costs no division and no texel. NaN never passes.
        if (!(iz > depth[i])) continue;
        depth[i] = iz;
        const float w = 1.0f / iz;
        int32_t iu = single_precision::NearestInteger((uz0 + k * dUz) * w);
        int32_t iv = single_precision::NearestInteger((vz0 + k * dVz) * w);
        // Clamp, don't wrap: coordinates a little past 0 or 1 repeat the edge texels.
        iu = iu < 0 ? 0 : (iu > lastU ? lastU : iu);
        iv = iv < 0 ? 0 : (iv > lastV ? lastV : iv);
        const uint8_t* const texel = texels + static_cast<ptrdiff_t>(iv) * pitch + iu * 3;
        uint8_t* const pixel = pixels + static_cast<ptrdiff_t>(i) * 3;
        pixel[0] = texel[0];
        pixel[1] = texel[1];
        pixel[2] = texel[2];
    }
}

namespace {
// The addresses [first, end) of `rows` rows of `rowBytes` bytes from `start`,
// `pitch` apart, as integers: no pointer is formed outside the rows.
struct ByteRange {
    uintptr_t first, end;
};

ByteRange RowsOf(const uint8_t* start, ptrdiff_t pitch, int64_t rows, int64_t rowBytes) {
    const int64_t spread = (rows - 1) * static_cast<int64_t>(pitch);  // from the first row to the last
    const uintptr_t base = reinterpret_cast<uintptr_t>(start);
    const uintptr_t first = spread < 0 ? base - static_cast<uintptr_t>(-spread) : base;
    const uintptr_t last = spread < 0 ? base : base + static_cast<uintptr_t>(spread);
    return {first, last + static_cast<uintptr_t>(rowBytes)};
}
}  // namespace

bool TexelsMeetPixels(const SpanTexture& texture, const uint8_t* destination, ptrdiff_t pitch, int32_t width,
                      int32_t height) {
    const ByteRange texels = RowsOf(texture.texels, texture.pitch, int64_t{texture.lastV} + 1,
                                    (int64_t{texture.lastU} + 1) * 3);
    const ByteRange pixels = RowsOf(destination, pitch, height, int64_t{width} * 3);
    return texels.first < pixels.end && pixels.first < texels.end;
}

bool SpanSlotFitsSse2(const SpanTexture& texture) {
    // The clamps work on floats: the last texel indices must be exact floats.
    return texture.lastU < kSpanExactTexelLimit && texture.lastV < kSpanExactTexelLimit;
}

bool SpanSlotFitsAvx2(const SpanTexture& texture) {
    const int64_t pitch = texture.pitch < 0 ? -static_cast<int64_t>(texture.pitch) : texture.pitch;
    // Every texel's offset from the slot's lowest row in memory, with the byte
    // after it, in an int32 lane.
    const bool laneOffsets = static_cast<int64_t>(texture.lastV) * pitch + static_cast<int64_t>(texture.lastU) * 3 +
                                 3 <= kSpanLaneOffsetLimit;
    return SpanSlotFitsSse2(texture) && laneOffsets;
}

}  // namespace veilshift
