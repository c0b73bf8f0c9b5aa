// The ripple's pixel pass in processor forms. Every form has one signature and
// never sees the host: RippleRect asks for the addresses and pitches, computes
// the shift tables and hands everything over in one RippleFrame.
//
// Neighbouring destination pixels read from source rows far apart (a column's
// shift changes by up to about 7 rows from one column to the next at the
// peak), so a row-by-row walk touches hundreds of source rows per destination
// row. The forms walk the rectangle in strips of columns instead, top to
// bottom, so that the source rows a strip reads stay cached from one
// destination row to the next; a strip whose columns all move alike reads
// whole runs of one source row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../form_rules.h"
#include "mix_rows.h"

namespace veilshift {

struct RippleFrame {
    uint8_t* dst;  // pixel (0, 0) of each rectangle
    const uint8_t* a;
    const uint8_t* b;
    ptrdiff_t dstPitch, aPitch, bPitch;
    int32_t width, height;       // both at least 1
    const int32_t* columnShift;  // width entries: the vertical move of each column
    const int32_t* rowShift;     // height entries: the horizontal move of each row
    MixWeights weights;          // alpha from 0 to 254
};

// Pixel (i, j) becomes the mix of the source pixels at (i + rowShift[j],
// j + columnShift[i]) when that position lies in the rectangle, and keeps its
// value otherwise. Reads only the two source rectangles; the vector forms read
// a pixel as four bytes, so they take the last column of a source row
// (whose fourth byte lies outside) through the scalar code.
using RippleFn = void (*)(const RippleFrame& frame);

void Ripple_Scalar(const RippleFrame& frame);
#if VEILSHIFT_WIDE_FORMS
void Ripple_Avx2(const RippleFrame& frame);
#endif

// The form for the processor's features (form_dispatch.cpp).
RippleFn ChooseRipple(const ProcessorFeatures& features);

}  // namespace veilshift
