// The row walk of one triangle part: each row's span from the part's running
// edges, then the edges one row down.
//
// For every row: the span runs from the pixel nearest the left edge to the one
// nearest the right edge (single_precision::NearestInteger), clipped to the viewport's
// columns; its interpolants are those of the left edge carried to the first
// pixel's centre. A row whose span is empty after clipping gives none. Then
// leftX, rightX, leftIz, leftUz and leftVz each take one step down.
//
// Stepping over rows without their spans moves the edges just as walking them
// does, one row at a time.
//
// Two forms, the same bits: the scalar form (in the 32-bit build x87 code,
// run under the caller's single-precision guard) and, in x86 builds, the SSE2
// form, whose float arithmetic is single precision by itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../processor_features.h"
#include "span_fill.h"
#include "span_state.h"

namespace veilshift {

// Where a part's rows lie: viewport row r's depth cells start at depthRows[r],
// its pixels at pixels + r * pitch.
struct SpanRowTarget {
    float* const* depthRows;
    uint8_t* pixels;
    ptrdiff_t pitch;
    int32_t width;  // the viewport's, at least 1
};

// Walks rows from `row` (at least 0) until `endRow` or until `room` spans are
// written to `out`; leaves `row` and the running edges of `s` where it stopped,
// and returns how many spans it wrote.
using SpanRowsFn = int32_t (*)(SpanState& s, int32_t& row, int32_t endRow, const SpanRowTarget& target, Span* out,
                               int32_t room);
// Moves the running edges of `s` down `rows` rows (none for 0 or fewer).
using SpanStepFn = void (*)(SpanState& s, int32_t rows);

struct SpanRowForms {
    SpanRowsFn walk;
    SpanStepFn step;
};

int32_t WalkSpanRows_Scalar(SpanState& s, int32_t& row, int32_t endRow, const SpanRowTarget& target, Span* out,
                            int32_t room);
void StepSpanRows_Scalar(SpanState& s, int32_t rows);
int32_t WalkSpanRows_Sse2(SpanState& s, int32_t& row, int32_t endRow, const SpanRowTarget& target, Span* out,
                          int32_t room);
void StepSpanRows_Sse2(SpanState& s, int32_t rows);

// The form for the processor (form_dispatch.cpp).
SpanRowForms ChooseSpanRows(const ProcessorFeatures& features);

}  // namespace veilshift
