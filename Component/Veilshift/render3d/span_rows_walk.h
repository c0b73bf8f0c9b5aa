// The row walk of span_rows.h, written once for both forms: the scalar form
// file and the SSE2 form file each keep their own copy, compiled with their
// own flags (internal linkage: see Component/Veilshift/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <cstring>

#include "../platform/fpu_precision.h"
#include "span_rows.h"

namespace veilshift {
namespace {

// An integer as the nearest float. The x87 unit loads an integer exactly, so
// there the value is stored as a float to round it.
inline float RowFloat(int32_t value) {
#if defined(VEILSHIFT_X87_MATH)
    volatile float stored = static_cast<float>(value);
    return stored;
#else
    return static_cast<float>(value);
#endif
}

// The running values of a part, in locals: the span stores of a walk could
// otherwise alias them.
struct RowEdges {
    float leftX, rightX, leftIz, leftUz, leftVz;
    float leftSlope, rightSlope, izStep, uzStep, vzStep;

    explicit RowEdges(const SpanState& s)
        : leftX(s.leftX), rightX(s.rightX), leftIz(s.leftIz), leftUz(s.leftUz), leftVz(s.leftVz),
          leftSlope(s.leftSlope), rightSlope(s.rightSlope), izStep(s.leftIzStep), uzStep(s.leftUzStep),
          vzStep(s.leftVzStep) {}
    void Down() {
        leftX += leftSlope;
        rightX += rightSlope;
        leftIz += izStep;
        leftUz += uzStep;
        leftVz += vzStep;
    }
    void StoreTo(SpanState& s) const {
        s.leftX = leftX;
        s.rightX = rightX;
        s.leftIz = leftIz;
        s.leftUz = leftUz;
        s.leftVz = leftVz;
    }
};

inline void StepRows(SpanState& state, int32_t rows) {
    RowEdges e(state);
    for (int32_t i = 0; i < rows; ++i) e.Down();
    e.StoreTo(state);
}

inline int32_t WalkRows(SpanState& state, int32_t& rowInOut, int32_t endRow, const SpanRowTarget& target, Span* out,
                        int32_t room) {
    RowEdges e(state);
    const float dIz = state.dIzDx, dUz = state.dUzDx, dVz = state.dVzDx;
    const int32_t lastColumn = target.width - 1;
    int32_t row = rowInOut;
    int32_t written = 0;
    for (; row < endRow && written < room; ++row) {
        int32_t xs = single_precision::NearestInteger(e.leftX);
        const int32_t xe = single_precision::NearestInteger(e.rightX);
        // From the edge to the first pixel centre; xs's own rounding cancels out.
        const float q = 1.0f - (e.leftX - RowFloat(xs));
        float iz = e.leftIz + q * dIz;
        float uz = e.leftUz + q * dUz;
        float vz = e.leftVz + q * dVz;
        if (xs < 0) {
            const float skipped = RowFloat(xs);
            iz -= skipped * dIz;
            uz -= skipped * dUz;
            vz -= skipped * dVz;
            xs = 0;
        }
        const int32_t last = xe < lastColumn ? xe : lastColumn;
        if (xs <= last) {
            out[written++] = {iz, uz, vz, last - xs + 1, xs, lastColumn - last, target.depthRows[row] + xs,
                              target.pixels + static_cast<ptrdiff_t>(row) * target.pitch +
                                  static_cast<ptrdiff_t>(xs) * 3};
        }
        e.Down();
    }
    e.StoreTo(state);
    rowInOut = row;
    return written;
}

}  // namespace
}  // namespace veilshift
