// The scalar row walk, the one every build has.
#include "span_rows.h"

#include "span_rows_walk.h"

namespace veilshift {

int32_t WalkSpanRows_Scalar(SpanState& s, int32_t& row, int32_t endRow, const SpanRowTarget& target, Span* out,
                            int32_t room) {
    return WalkRows(s, row, endRow, target, out, room);
}

void StepSpanRows_Scalar(SpanState& s, int32_t rows) { StepRows(s, rows); }

}  // namespace veilshift
