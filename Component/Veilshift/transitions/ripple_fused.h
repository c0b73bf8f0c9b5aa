// The ripple's fused passes (ripple_forms.h), written once: each form file
// runs RunFusedPasses with its row mix and its way of moving a strip's row.
// Included only by the form files; each keeps its own copy (internal linkage:
// see Component/Veilshift/CMakeLists.txt).
//
// Offsets into M are computed in 32 bits (a block never exceeds
// kRipplePassMaxBytes, so M's rows times its pitch fit) from shifts bounded to
// the rectangle's extent; an offset is formed whole only for a pixel that
// reads inside M.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../pixel_words.h"
#include "mix_rows.h"
#include "ripple_forms.h"
#include "ripple_strips.h"

namespace veilshift {
namespace {

constexpr int32_t kFusedStrip = kRippleFusedStripColumns;

// The frame and M as locals (why: StripFrame).
struct FusedFrame {
    FusedFrame(const RippleFrame& f, const RipplePassBuffers& p)
        : dst(f.dst),
          dstPitch(f.dstPitch),
          width(f.width),
          height(f.height),
          mixed(p.image),
          mixedPitch(p.mixedPitch),
          columnShifts(p.columnShifts),
          columnTerms(p.columnTerms),
          rowMoves(p.rowMoves) {}
    uint8_t* const dst;
    const ptrdiff_t dstPitch;
    const int32_t width, height;
    const uint8_t* const mixed;         // M's pixel (0, 0)
    const ptrdiff_t mixedPitch;
    const int32_t* const columnShifts;  // bounded to -height..height
    const int32_t* const columnTerms;   // columnShifts[i] * mixedPitch + 3 i
    const int32_t* const rowMoves;      // height entries: each row's shift, bounded to -width..width
};

// Columns [first, end) of a strip and the range of their shifts.
struct FusedStrip {
    int32_t first, end;
    int32_t lowestShift, highestShift;
};

// Row j of a strip: which of its pixels read inside M. `start` is where the
// row's reading starts in M (j * mixedPitch + 3 * rowShift[j]), a term that
// alone may point outside M.
struct FusedRow {
    int32_t j;
    ptrdiff_t start;
    ColumnSpan span;  // the columns whose horizontal position stays inside
    bool allInside;   // every column's vertical position stays inside
};

// Pixel i of a row, read from M when its position lies inside.
inline void MovePixel(const FusedFrame& f, const FusedRow& r, uint8_t* out, int32_t i) {
    if (!r.allInside && !SourceRowInside(f.columnShifts[i], r.j, f.height)) return;
    std::memcpy(out, f.mixed + (r.start + f.columnTerms[i]), 3);
}

// Columns [from, to) of a row (all inside the span), one pixel at a time.
inline void MovePixels(const FusedFrame& f, const FusedRow& r, int32_t from, int32_t to) {
    uint8_t* out = f.dst + r.j * f.dstPitch + ptrdiff_t{from} * 3;
    for (int32_t i = from; i < to; ++i, out += 3) MovePixel(f, r, out, i);
}

// The scalar move of a strip's rows: a word a pixel where the row is whole
// (the byte after each pixel but the last is the next one's), else pixel by
// pixel.
struct ScalarFusedRows {
    ScalarFusedRows(const FusedFrame& frame, const FusedStrip& strip) : f(frame), s(strip) {}
    const FusedFrame& f;
    const FusedStrip& s;
    void operator()(const FusedRow& r) const {
        if (!r.allInside || r.span.begin != s.first || r.span.end != s.end) return MovePixels(f, r, r.span.begin, r.span.end);
        uint8_t* out = f.dst + r.j * f.dstPitch + ptrdiff_t{s.first} * 3;
        int32_t i = s.first;
        for (; i + 1 < s.end; ++i, out += 3) StoreWord(out, LoadWord(f.mixed + (r.start + f.columnTerms[i])));
        std::memcpy(out, f.mixed + (r.start + f.columnTerms[i]), 3);
    }
};

// The shifts bounded to the rectangle (further moves leave it just the same),
// and each column's term in M.
inline void BoundFusedShifts(const RippleFrame& f, const RipplePassBuffers& p) {
    for (int32_t i = 0; i < f.width; ++i) {
        const int32_t shift = std::clamp(f.columnShift[i], -f.height, f.height);
        p.columnShifts[i] = shift;
        p.columnTerms[i] = shift * static_cast<int32_t>(p.mixedPitch) + i * 3;
    }
    for (int32_t j = 0; j < f.height; ++j) p.rowMoves[j] = std::clamp(f.rowShift[j], -f.width, f.width);
}

template <typename Rows>
void RunFusedPasses(const RippleFrame& frame, const RipplePassBuffers& buffers, MixRowFn mixRow) {
    BoundFusedShifts(frame, buffers);
    // 1. M: every source byte read here, before any destination byte is written.
    for (int32_t v = 0; v < frame.height; ++v)
        mixRow(buffers.image + v * buffers.mixedPitch, frame.a + v * frame.aPitch, frame.b + v * frame.bPitch,
               static_cast<size_t>(frame.width) * 3u, frame.weights, false);
    // 2. The destination, a strip at a time.
    const FusedFrame f(frame, buffers);
    for (int32_t first = 0; first < f.width; first += kFusedStrip) {
        FusedStrip s;
        s.first = first;
        s.end = f.width - first > kFusedStrip ? first + kFusedStrip : f.width;
        const auto [lowest, highest] = std::minmax_element(f.columnShifts + s.first, f.columnShifts + s.end);
        s.lowestShift = *lowest;
        s.highestShift = *highest;
        // Rows none of whose columns read inside M are skipped.
        const int32_t top = std::max(0, -s.highestShift);
        const int32_t bottom = std::min(f.height, f.height - s.lowestShift);
        const Rows rows(f, s);
        for (int32_t j = top; j < bottom; ++j) {
            const int32_t move = f.rowMoves[j];
            FusedRow r;
            r.span = ShiftedColumns(s.first, s.end, move, f.width);
            if (r.span.begin == r.span.end) continue;
            r.j = j;
            r.start = j * f.mixedPitch + ptrdiff_t{move} * 3;
            r.allInside = s.lowestShift >= -j && s.highestShift < f.height - j;
            rows(r);
        }
    }
}

}  // namespace
}  // namespace veilshift
