// The ripple's direct walk in scalar code: the strip walk of ripple_strips.h,
// a pixel at a time through MulTable.
#include "ripple_forms.h"
#include "ripple_strips.h"

namespace veilshift {
namespace {

// One strip of the scalar form: the pixels one at a time through MulTable.
// With one pitch for both sources (the usual case) one table of column terms
// serves both: the 32-bit build has few registers to spare.
template <bool kOnePitch>
void MixStrip_Scalar(const RippleFrame& frame, const RippleStrip& s) {
    const StripFrame f(frame);
    size_t termsA[kRippleMaxStripColumns];
    size_t termsB[kOnePitch ? 1 : kRippleMaxStripColumns];
    FillColumnTerms(f.columnShift, s, f.aPitch, termsA);
    if (!kOnePitch) FillColumnTerms(f.columnShift, s, f.bPitch, termsB);
    for (int32_t j = 0; j < f.height; ++j) {
        // Rows none of whose columns reach back into the rectangle, and rows all of whose columns do.
        if (s.highestShift < -j || s.lowestShift >= f.height - j) continue;
        const bool allInside = s.lowestShift >= -j && s.highestShift < f.height - j;
        const int32_t move = f.rowShift[j];
        const ColumnSpan span = ShiftedColumns(s.first, s.end, move, f.width);
        const size_t rowA = RowTerm(j, f.aPitch, s.first, move);
        const size_t rowB = kOnePitch ? rowA : RowTerm(j, f.bPitch, s.first, move);
        uint8_t* out = f.dst + j * f.dstPitch + ptrdiff_t{span.begin} * 3;
        for (int32_t k = span.begin - s.first; k < span.end - s.first; ++k, out += 3) {
            if (!allInside && !SourceRowInside(f.columnShift[s.first + k], j, f.height)) continue;
            const size_t termA = termsA[k];
            const size_t termB = kOnePitch ? termA : termsB[k];
            MixPixel(out, SourcePixel(f.a, rowA, termA), SourcePixel(f.b, rowB, termB), f.rowA, f.rowB);
        }
    }
}

}  // namespace

void Ripple_Scalar(const RippleFrame& frame) {
    if (frame.aPitch == frame.bPitch)
        WalkStrips(frame, MixRow_Scalar, [&](const RippleStrip& strip) { MixStrip_Scalar<true>(frame, strip); });
    else
        WalkStrips(frame, MixRow_Scalar, [&](const RippleStrip& strip) { MixStrip_Scalar<false>(frame, strip); });
}

}  // namespace veilshift
