// The SSE2 row walk: in the 32-bit build the scalar form's arithmetic in SSE
// registers, which round every result to single precision themselves, so no
// float passes through the x87 unit.
#include "span_rows.h"

#include "span_rows_walk.h"

namespace veilshift {

int32_t WalkSpanRows_Sse2(SpanState& s, int32_t& row, int32_t endRow, const SpanRowTarget& target, Span* out,
                          int32_t room) {
    return WalkRows(s, row, endRow, target, out, room);
}

void StepSpanRows_Sse2(SpanState& s, int32_t rows) { StepRows(s, rows); }

}  // namespace veilshift

