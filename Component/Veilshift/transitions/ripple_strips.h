// The strip walk of the ripple forms. Included only by the form files; each
// keeps its own copy (internal linkage: see Component/Veilshift/CMakeLists.txt).
//
// Source addresses are split into a row term (the destination row and its
// horizontal move) and a column term (the column and its vertical move),
// computed once per strip. Both are taken modulo the address width: a term
// alone may lie far outside the surface (a column moved past the top or
// bottom), but the sum for a pixel that is drawn is its true offset.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "../pixel_words.h"
#include "mix_rows.h"
#include "ripple_forms.h"

namespace veilshift {
namespace {

// Strips are as wide as the cache allows: the source rows a strip reads
// (as many as the column shifts span, times the strip's width, both sources)
// should stay cached from one destination row to the next, while each strip
// costs its own set-up per row. A frame whose shifts span few rows is walked
// nearly row by row.
constexpr int32_t kRippleMaxStripColumns = 1024;
constexpr int32_t kRippleMinStripColumns = 64;
constexpr int64_t kRippleCachedSourceBytes = int64_t{256} << 10;

inline int32_t RippleStripColumns(int32_t lowestShift, int32_t highestShift) {
    const int64_t rows = int64_t{highestShift} - lowestShift + 1;
    int32_t columns = kRippleMaxStripColumns;
    while (columns > kRippleMinStripColumns && rows * columns * 6 > kRippleCachedSourceBytes) columns /= 2;
    return columns;
}

// Columns [first, end) and the range of their vertical moves.
struct RippleStrip {
    int32_t first, end;
    int32_t lowestShift, highestShift;
};

// The columns of [first, end) whose horizontal position i + shift lies in
// 0..limit - 1; empty (begin = end) when there are none.
struct ColumnSpan {
    int32_t begin, end;
};
inline ColumnSpan ShiftedColumns(int32_t first, int32_t end, int32_t shift, int32_t limit) {
    const int64_t begin = std::min<int64_t>(end, std::max<int64_t>(first, -int64_t{shift}));
    const int64_t stop = std::max(begin, std::min<int64_t>(end, int64_t{limit} - shift));
    return {static_cast<int32_t>(begin), static_cast<int32_t>(stop)};
}

// Whether column shift `shift` keeps row j inside 0..height - 1.
inline bool SourceRowInside(int32_t shift, int32_t j, int32_t height) { return shift >= -j && shift < height - j; }

// (j, first + move) in bytes from the rectangle's start, modulo the address width.
inline size_t RowTerm(int32_t j, ptrdiff_t pitch, int32_t first, int32_t move) {
    return static_cast<size_t>(static_cast<int64_t>(j) * pitch) + static_cast<size_t>(int64_t{first} + move) * 3u;
}

// (column - first, shift) in bytes, for each column of the strip.
inline void FillColumnTerms(const int32_t* columnShift, const RippleStrip& s, ptrdiff_t pitch, size_t* terms) {
    for (int32_t i = s.first; i < s.end; ++i)
        terms[i - s.first] =
            static_cast<size_t>(static_cast<int64_t>(columnShift[i]) * pitch) + static_cast<size_t>(i - s.first) * 3u;
}

inline const uint8_t* SourcePixel(const uint8_t* start, size_t rowTerm, size_t columnTerm) {
    return start + static_cast<ptrdiff_t>(rowTerm + columnTerm);
}

// The frame's fields as locals: a byte stored through the destination could
// alias the frame itself as far as the compiler knows, and it would read every
// field again after each store.
struct StripFrame {
    explicit StripFrame(const RippleFrame& f)
        : dst(f.dst),
          a(f.a),
          b(f.b),
          dstPitch(f.dstPitch),
          aPitch(f.aPitch),
          bPitch(f.bPitch),
          width(f.width),
          height(f.height),
          columnShift(f.columnShift),
          rowShift(f.rowShift),
          rowA(f.weights.rowA),
          rowB(f.weights.rowB) {}
    uint8_t* const dst;
    const uint8_t* const a;
    const uint8_t* const b;
    const ptrdiff_t dstPitch, aPitch, bPitch;
    const int32_t width, height;
    const int32_t* const columnShift;
    const int32_t* const rowShift;
    const uint8_t* const rowA;
    const uint8_t* const rowB;
};

// A strip whose columns all move by `shift`: each destination row is one run
// of source row j + shift.
inline void MixUniformStrip(const RippleFrame& f, int32_t first, int32_t end, int32_t shift, MixRowFn mixRow) {
    for (int32_t j = 0; j < f.height; ++j) {
        if (!SourceRowInside(shift, j, f.height)) continue;
        const int32_t move = f.rowShift[j];
        const ColumnSpan span = ShiftedColumns(first, end, move, f.width);
        if (span.begin == span.end) continue;
        const ptrdiff_t v = j + shift;          // in 0..height - 1
        const ptrdiff_t u = span.begin + move;  // in 0..width - 1
        mixRow(f.dst + j * f.dstPitch + ptrdiff_t{span.begin} * 3, f.a + v * f.aPitch + u * 3,
               f.b + v * f.bPitch + u * 3, static_cast<size_t>(span.end - span.begin) * 3u, f.weights, false);
    }
}

// Strips left to right, each top to bottom; `mixStrip` takes the strips whose
// columns move differently, `mixRow` the runs of the others.
template <typename MixStrip>
inline void WalkStrips(const RippleFrame& f, MixRowFn mixRow, const MixStrip& mixStrip) {
    const int32_t* const shifts = f.columnShift;
    const auto [frameLowest, frameHighest] = std::minmax_element(shifts, shifts + f.width);
    // Every column moved alike (no ripple in this frame, or a rectangle
    // narrower than 16 pixels): whole rows at once.
    if (*frameLowest == *frameHighest) {
        MixUniformStrip(f, 0, f.width, shifts[0], mixRow);
        return;
    }
    const int32_t stripColumns = RippleStripColumns(*frameLowest, *frameHighest);
    for (int32_t first = 0; first < f.width;) {
        const int32_t end = f.width - first > stripColumns ? first + stripColumns : f.width;
        const auto [lowest, highest] = std::minmax_element(shifts + first, shifts + end);
        if (*lowest == *highest)
            MixUniformStrip(f, first, end, *lowest, mixRow);
        else
            mixStrip(RippleStrip{first, end, *lowest, *highest});
        first = end;
    }
}

}  // namespace
}  // namespace veilshift
