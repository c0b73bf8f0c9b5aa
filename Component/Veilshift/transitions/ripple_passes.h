// The ripple's two passes (ripple_forms.h), written once: each form file runs
// RunRipplePasses with its row mix and its way of gathering and moving pixels.
// Included only by the form files; each keeps its own copy (internal linkage:
// see Component/Veilshift/CMakeLists.txt).
//
// Offsets into the buffers are computed in 32 bits (a block never exceeds
// kRipplePassMaxBytes) from shifts bounded to the rectangle's extent.
// Pixels are moved as 4-byte words where the byte after them is another
// pixel's or a margin's (the block's layout leaves one after every row).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mix_rows.h"
#include "ripple_forms.h"
#include "ripple_strips.h"

namespace veilshift {
namespace {

constexpr int32_t kPassStrip = kRipplePassStripColumns;
constexpr ptrdiff_t kPassStripRow = kRipplePassStripRowBytes;

// The frame and its buffers as locals (why: StripFrame).
struct PassFrame : StripFrame {
    PassFrame(const RippleFrame& f, const RipplePassBuffers& p)
        : StripFrame(f),
          image(p.image),
          stripStride(p.stripStride),
          mixed(p.mixedRow + ptrdiff_t{f.width} * 3),
          columnShifts(p.columnShifts),
          negatedShifts(p.negatedShifts),
          rowMoves(p.rowMoves + f.height) {
        const auto [lowest, highest] = std::minmax_element(rowMoves, rowMoves + height);
        lowestRowShift = *lowest / 3;
        highestRowShift = *highest / 3;
    }
    uint8_t* const image;
    const ptrdiff_t stripStride;
    uint8_t* const mixed;               // pixel 0 of the mixed row
    const int32_t* const columnShifts;  // bounded to -height..height
    const int32_t* const negatedShifts;
    const int32_t* const rowMoves;      // entry 0 is row 0's; height zeros before and after
    int32_t lowestRowShift, highestRowShift;  // bounded to -width..width
};

// Pixel i of D's row v.
inline uint8_t* ImagePixel(const PassFrame& f, int32_t i, int32_t v) {
    return f.image + (i / kPassStrip) * f.stripStride + v * kPassStripRow + (i % kPassStrip) * 3;
}

// Pass 1, columns [from, to) of D's row v: pixel i takes the mixed row's pixel
// i + rowShift[v - columnShift[i]]. Where v - columnShift[i] is no row the
// move read is one of the zeros around the table (pixel i itself); a column
// moved outside lands in the row buffer's margin.
inline void GatherColumns(const PassFrame& f, int32_t v, int32_t from, int32_t to) {
    const int32_t* const moves = f.rowMoves + v;  // moves[-c]: the move of row v - c, in bytes
    for (int32_t i = from; i < to;) {
        const int32_t stripEnd = std::min(to, (i / kPassStrip + 1) * kPassStrip);
        uint8_t* out = ImagePixel(f, i, v);
        for (; i < stripEnd; ++i, out += 3)
            StoreWord(out, LoadWord(f.mixed + ptrdiff_t{i} * 3 + moves[-f.columnShifts[i]]));
    }
}

// A tile of pass 2: rows [top, bottom) of the strip of columns [first, end).
// Rows [insideTop, insideBottom) read only rows of the rectangle; where
// `wholeRows` every row's columns stay inside too, so that there the tile is
// whole rows of the strip read from D.
struct PassTile {
    int32_t first, end, top, bottom;
    int32_t lowestShift, highestShift;  // of the strip's columns
    int32_t insideTop, insideBottom;
    bool wholeRows;
    const uint8_t* strip;        // row 0 of the strip in D
    int32_t terms[kPassStrip];   // column first + k of row j: strip + j * kPassStripRow + terms[k]
};

inline void MakeTile(const PassFrame& f, int32_t first, int32_t top, PassTile& t) {
    t.first = first;
    t.end = std::min(f.width, first + kPassStrip);
    t.top = top;
    t.bottom = f.height - top > kRipplePassTileRows ? top + kRipplePassTileRows : f.height;
    const auto [lowest, highest] = std::minmax_element(f.columnShifts + t.first, f.columnShifts + t.end);
    t.lowestShift = *lowest;
    t.highestShift = *highest;
    t.insideTop = std::clamp(-t.lowestShift, t.top, t.bottom);
    t.insideBottom = std::clamp(f.height - t.highestShift, t.insideTop, t.bottom);
    t.wholeRows = t.end - t.first == kPassStrip && t.first + f.lowestRowShift >= 0 &&
                  t.end + f.highestRowShift <= f.width;
    t.strip = f.image + (first / kPassStrip) * f.stripStride;
    for (int32_t k = 0; k < t.end - first; ++k)
        t.terms[k] = f.columnShifts[first + k] * static_cast<int32_t>(kPassStripRow) + k * 3;
}

// Pass 2, columns [from, to) of destination row j, taken from D's rows
// j + columnShift[i]; with `allInside` all of those are rows of the rectangle.
inline void MoveColumns(const PassFrame& f, const PassTile& t, int32_t j, int32_t from, int32_t to, bool allInside) {
    if (from >= to) return;
    const uint8_t* const row = t.strip + j * kPassStripRow;
    uint8_t* out = f.dst + j * f.dstPitch + ptrdiff_t{from} * 3;
    if (allInside) {
        int32_t k = from - t.first;
        for (; k + 1 < to - t.first; ++k, out += 3) StoreWord(out, LoadWord(row + t.terms[k]));
        std::memcpy(out, row + t.terms[k], 3);  // the last: the byte after it is not ours to write
        return;
    }
    for (int32_t k = from - t.first; k < to - t.first; ++k, out += 3)
        if (SourceRowInside(f.columnShifts[t.first + k], j, f.height)) std::memcpy(out, row + t.terms[k], 3);
}

// Where row j of a tile reads: nothing (false), or the columns of `span`.
inline bool TileRow(const PassFrame& f, const PassTile& t, int32_t j, ColumnSpan& span, bool& allInside) {
    if (t.highestShift < -j || t.lowestShift >= f.height - j) return false;
    allInside = t.lowestShift >= -j && t.highestShift < f.height - j;
    span = ShiftedColumns(t.first, t.end, f.rowShift[j], f.width);
    return span.begin < span.end;
}

// Pass 2 over one tile: `wholeRow(j)` moves a whole row of the strip, the
// others go through `row(j, span, allInside)`.
template <typename WholeRow, typename Row>
inline void WalkTile(const PassFrame& f, const PassTile& t, const WholeRow& wholeRow, const Row& row) {
    ColumnSpan span;
    bool allInside;
    const bool wholeStrip = t.end - t.first == kPassStrip;
    auto general = [&](int32_t from, int32_t to) {
        for (int32_t j = from; j < to; ++j) {
            if (!TileRow(f, t, j, span, allInside)) continue;
            if (allInside && wholeStrip && span.begin == t.first && span.end == t.end)
                wholeRow(j);
            else
                row(j, span, allInside);
        }
    };
    if (!t.wholeRows) return general(t.top, t.bottom);
    general(t.top, t.insideTop);
    for (int32_t j = t.insideTop; j < t.insideBottom; ++j) wholeRow(j);
    general(t.insideBottom, t.bottom);
}

// The scalar gather and move.
struct ScalarPasses {
    static void GatherRow(const PassFrame& f, int32_t v, int32_t from, int32_t to) { GatherColumns(f, v, from, to); }
    static void MoveTile(const PassFrame& f, const PassTile& t) {
        WalkTile(
            f, t, [&](int32_t j) { MoveColumns(f, t, j, t.first, t.end, true); },
            [&](int32_t j, ColumnSpan span, bool allInside) { MoveColumns(f, t, j, span.begin, span.end, allInside); });
    }
};

// The shifts bounded to the rectangle: a column shift outside -height..height
// and a row shift outside -width..width leave it as surely as the bound does.
inline void BoundShifts(const RippleFrame& f, const RipplePassBuffers& p) {
    for (int32_t i = 0; i < f.width; ++i) {
        p.columnShifts[i] = std::clamp(f.columnShift[i], -f.height, f.height);
        p.negatedShifts[i] = -p.columnShifts[i];
    }
    int32_t* const rows = p.rowMoves + f.height;
    std::fill(p.rowMoves, rows, 0);
    for (int32_t j = 0; j < f.height; ++j) rows[j] = std::clamp(f.rowShift[j], -f.width, f.width) * 3;
    std::fill(rows + f.height, rows + 2 * f.height, 0);
}

// Pass 1 takes a row in pieces. The row mix runs a piece ahead of what the
// gather reads (its piece and the farthest row shift): its reading of the
// sources overlaps the gathering, and the gather finds the mixed bytes stored
// some time before. While a piece of row v is gathered, the same piece of the
// sources' row v + 1 is asked for.
constexpr int32_t kGatherPiece = 128;

template <typename Passes>
void RunRipplePasses(const RippleFrame& frame, const RipplePassBuffers& buffers, MixRowFn mixRow) {
    BoundShifts(frame, buffers);
    const PassFrame f(frame, buffers);
    const int32_t reach = std::max(-f.lowestRowShift, f.highestRowShift);  // 0..width
    for (int32_t v = 0; v < f.height; ++v) {
        const uint8_t* const a = f.a + v * f.aPitch;
        const uint8_t* const b = f.b + v * f.bPitch;
        const bool last = v + 1 == f.height;
        int32_t mixedTo = 0;
        for (int32_t from = 0; from < f.width; from += kGatherPiece) {
            const int32_t to = f.width - from > kGatherPiece ? from + kGatherPiece : f.width;
            const int32_t needed = f.width - to > reach + kGatherPiece ? to + reach + kGatherPiece : f.width;
            if (needed > mixedTo) {
                const ptrdiff_t start = ptrdiff_t{mixedTo} * 3;
                mixRow(f.mixed + start, a + start, b + start, static_cast<size_t>(needed - mixedTo) * 3u,
                       frame.weights, false);
                mixedTo = needed;
            }
            for (ptrdiff_t byte = ptrdiff_t{from} * 3; !last && byte < ptrdiff_t{to} * 3; byte += 64) {
                __builtin_prefetch(a + f.aPitch + byte, 0, 2);
                __builtin_prefetch(b + f.bPitch + byte, 0, 2);
            }
            Passes::GatherRow(f, v, from, to);
        }
    }
    PassTile tile;
    for (int32_t top = 0; top < f.height; top += kRipplePassTileRows)
        for (int32_t first = 0; first < f.width; first += kPassStrip) {
            MakeTile(f, first, top, tile);
            Passes::MoveTile(f, tile);
        }
}

}  // namespace
}  // namespace veilshift
