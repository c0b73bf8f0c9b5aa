// The rasterizer's innermost loop: the spans of one triangle part, depth-tested and textured.
//
// DrawSpans works out each row's span (its ends, the interpolants at its first
// pixel) and hands the spans of a part, a batch of rows at a time, to one of
// these forms. They share one signature, never see the host, and give the same
// bits: pixel k of a span (k counted from its first pixel) has
//     iz = iz0 + k * dIz,  uz = uz0 + k * dUz,  vz = vz0 + k * dVz
// each product and sum rounded to single precision, k itself a float (exact,
// and held at 2^24 beyond). Computing each pixel from the span start rather than
// by running sums is what lets the vector forms do eight pixels at once with the
// scalar form's bits. Then: drawn only when iz > the depth cell (strictly; NaN
// never), the cell becomes iz, w = 1 / iz, and the texel is the nearest one to
// (uz * w, vz * w), clamped to the slot.
//
// Scalar: every build, run under the caller's single-precision guard. SSE2 and
// AVX2: x86 builds, four and eight pixels a step, and only where the texels
// lie apart from the pixels drawn (see SpanSlotFitsSse2): their copies may read
// ahead and move several texels at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../processor_features.h"

namespace veilshift {

struct SpanTexture {
    const uint8_t* texels;  // texel (0, 0) of the slot
    ptrdiff_t pitch;        // bytes from one texel row to the next; negative bottom-up
    int32_t lastU;          // slot width - 1, at least 0
    int32_t lastV;          // slot height - 1, at least 0
};

// What the spans of one triangle part share: the change per pixel to the right.
struct SpanGradient {
    float dIz, dUz, dVz;
};

// One row's span.
struct Span {
    float iz, uz, vz;  // at its first pixel
    int32_t count;     // pixels, at least 1
    // Depth cells of the same viewport row left of the span and right of it.
    // A vector form may read them and store them back unchanged, to finish a
    // span with a whole group; it never writes their pixels.
    int32_t cellsBefore, cellsAfter;
    float* depth;     // the first pixel's depth cell
    uint8_t* pixels;  // the first pixel's three bytes
};

// Fills the spans in order.
using SpanFillFn = void (*)(const Span* spans, int32_t spanCount, const SpanGradient& d,
                            const SpanTexture& texture);

void FillSpans_Scalar(const Span* spans, int32_t spanCount, const SpanGradient& d, const SpanTexture& texture);
// Pixels `first` to the end of one span, with the counts of their places in
// the whole span: the vector forms' way out where no whole group fits.
void FillSpanFrom_Scalar(const Span& span, const SpanGradient& d, const SpanTexture& texture, int32_t first);
void FillSpans_Sse2(const Span* spans, int32_t spanCount, const SpanGradient& d, const SpanTexture& texture);
// Needs a processor with AVX2 (the caller's flag says so).
void FillSpans_Avx2(const Span* spans, int32_t spanCount, const SpanGradient& d, const SpanTexture& texture);

// The largest texel offset a 32-bit vector lane holds, and the largest last
// texel index whose float is exact: beyond them (slots no host gives) the
// vector forms step aside.
inline constexpr int64_t kSpanLaneOffsetLimit = INT32_MAX;
inline constexpr int32_t kSpanExactTexelLimit = 1 << 24;

// Whether any byte of the texture slot lies in the destination's rows
// (`width` x `height` pixels from `destination`, rows `pitch` bytes apart):
// a host may hand the same surface as source and destination.
bool TexelsMeetPixels(const SpanTexture& texture, const uint8_t* destination, ptrdiff_t pitch, int32_t width,
                      int32_t height);

// Whether the vector forms can address the slot: exact float texel indices
// (both), and every texel's offset in a 32-bit lane (AVX2). Where the texels
// meet the pixels being drawn, only the scalar form will do: it reads each
// texel just before it writes its pixel, in pixel order, which the vector
// forms, reading ahead and copying several bytes at a time, would not
// reproduce (nor could they copy overlapping bytes soundly).
bool SpanSlotFitsSse2(const SpanTexture& texture);
bool SpanSlotFitsAvx2(const SpanTexture& texture);

// The vector forms the processor may run (null where it may not), chosen once
// for a transition; each DrawSpans call then picks among them by its slot.
struct SpanFillForms {
    SpanFillFn avx2 = nullptr;
    SpanFillFn sse2 = nullptr;
};

// Both in form_dispatch.cpp: the forms for the processor, and the form for one
// DrawSpans call among them (the scalar form where no vector form fits).
SpanFillForms ChooseSpanFillForms(const ProcessorFeatures& features);
SpanFillFn SelectSpanFill(const SpanFillForms& forms, const SpanTexture& texture, bool texelsMeetPixels);

// The rasterizer's rounding: add 2^23 and take the float's bits less those of
// 2^23. Within [-2^22, 2^23] the sum lands where the last mantissa bit is worth 1
// (0.5 below 2^23, hence the doubling of negative values). Past that range the
// trick would give values of the wrong sign or size (-2^24 < value < -2^23 comes
// out as a large positive number, which would drop a span starting far to the
// left instead of clipping it): there the result keeps its sign and saturates,
// positive values to the integer they already are, negative ones doubled like
// the range above. NaN gives 0. For callers already at single precision. Each
// file keeps its own copy, compiled with its own flags (the SSE2 row walk
// uses it too).
namespace single_precision {
namespace {
inline int32_t NearestInteger(float value) {
    if (value >= -4194304.0f && value <= 8388608.0f) {
        const float sum = value + 8388608.0f;
        int32_t bits;  // positive: the sum lies in [2^22, 2^24]
        std::memcpy(&bits, &sum, sizeof bits);
        return bits - 0x4B000000;
    }
    if (value > 0.0f) return value < 2147483648.0f ? static_cast<int32_t>(value) : INT32_MAX;
    if (value < 0.0f) return value >= -1073741824.0f ? static_cast<int32_t>(value * 2.0f) : INT32_MIN;
    return 0;  // NaN
}
}  // namespace
}  // namespace single_precision

// The float count of pixel k from the span start, as the running count
// (+1 per pixel, single precision) has it: stuck at 2^24 once there. The
// vector forms leave longer spans to the scalar form.
inline constexpr int32_t kSpanCountLimit = 1 << 24;

}  // namespace veilshift
