// How a ripple frame is walked: through the passes or directly, and in
// which of the transition's forms.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ripple.h"

namespace veilshift {
namespace {

// Whether the rows of two rectangles may share a byte: their spans of
// addresses, first row to last, overlap. Computed on the addresses as numbers.
struct AddressSpan {
    uintptr_t first, last;  // the lowest and the highest byte
};
AddressSpan SpanOf(const uint8_t* start, ptrdiff_t pitch, int32_t height, int32_t width) {
    const uintptr_t row0 = reinterpret_cast<uintptr_t>(start);
    const uintptr_t step = pitch < 0 ? uintptr_t{0} - static_cast<uintptr_t>(pitch) : static_cast<uintptr_t>(pitch);
    const uintptr_t reach = static_cast<uintptr_t>(height - 1) * step;
    const uintptr_t endOfRow0 = row0 + static_cast<uintptr_t>(width) * 3u - 1u;
    return pitch < 0 ? AddressSpan{row0 - reach, endOfRow0} : AddressSpan{row0, endOfRow0 + reach};
}
bool SpansMeet(AddressSpan p, AddressSpan q) { return p.first <= q.last && q.first <= p.last; }

bool DestinationMeetsSource(const RippleFrame& f) {
    const AddressSpan dst = SpanOf(f.dst, f.dstPitch, f.height, f.width);
    return SpansMeet(dst, SpanOf(f.a, f.aPitch, f.height, f.width)) ||
           SpansMeet(dst, SpanOf(f.b, f.bPitch, f.height, f.width));
}

// Where the columns' shifts lie this close together the direct walk's strips
// read few source rows each, and it was faster than the former two-pass forms
// (the threshold has not been measured again against the fused passes).
constexpr int64_t kDirectWalkSpread = 16;

bool ColumnsMoveClose(const int32_t* columnShift, int32_t width) {
    const auto [lowest, highest] = std::minmax_element(columnShift, columnShift + width);
    return int64_t{*highest} - *lowest <= kDirectWalkSpread;
}

}  // namespace

void TraverseRipple(const RippleFrame& frame, const RipplePassBuffers* passes, const RippleForms& forms) {
    const bool meets = DestinationMeetsSource(frame);
    if (passes != nullptr && (meets || !ColumnsMoveClose(frame.columnShift, frame.width)))
        forms.passes(frame, *passes);
    else
        (meets ? forms.inPlace : forms.direct)(frame);
}

}  // namespace veilshift
