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

inline int32_t WalkRows(SpanState& state, int32_t& rowInOut, int32_t endRow, const SpanRowTarget& target, Span* out,
                        int32_t room) {
    // The running values in locals: the span stores below could alias them.
    float leftX = state.leftX, rightX = state.rightX;
    float leftIz = state.leftIz, leftUz = state.leftUz, leftVz = state.leftVz;
    const float leftSlope = state.leftSlope, rightSlope = state.rightSlope;
    const float izStep = state.leftIzStep, uzStep = state.leftUzStep, vzStep = state.leftVzStep;
    const float dIz = state.dIzDx, dUz = state.dUzDx, dVz = state.dVzDx;
    const int32_t lastColumn = target.width - 1;
    int32_t row = rowInOut;
    int32_t written = 0;
    for (; row < endRow && written < room; ++row) {
        int32_t xs = NearestIntegerSingle(leftX);
        const int32_t xe = NearestIntegerSingle(rightX);
        // From the edge to the first pixel centre; xs's own rounding cancels out.
        const float q = 1.0f - (leftX - RowFloat(xs));
        float iz = leftIz + q * dIz;
        float uz = leftUz + q * dUz;
        float vz = leftVz + q * dVz;
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
        leftX += leftSlope;
        rightX += rightSlope;
        leftIz += izStep;
        leftUz += uzStep;
        leftVz += vzStep;
    }
    state.leftX = leftX;
    state.rightX = rightX;
    state.leftIz = leftIz;
    state.leftUz = leftUz;
    state.leftVz = leftVz;
    rowInOut = row;
    return written;
}

}  // namespace
}  // namespace veilshift
