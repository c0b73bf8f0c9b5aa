// A frame's triangle parts, kept and then drawn a band of viewport rows at a
// time: within a band every part that reaches it, in the order the parts were
// kept, each from its own running edges; then the next band. A pixel is
// reached by the same parts in the same order as when each part is drawn at
// once, and each of its values comes from its own span's start as before, so
// the frame is the same to the byte. What changes is the traversal: a band's
// depth cells, pixels and texels are met by all its parts while they are in
// the caches, and each band's depth cells are cleared when it is first drawn,
// just before the parts read them, in place of a clear of the whole buffer.
//
// Kept together only parts that draw into the same rows from the same texture
// slot, whose texels lie apart from those rows: a part that differs first has
// the kept ones drawn. A part whose texels meet its pixels is drawn at once,
// after everything kept before it (DrawSpans), as it reads texels that earlier
// parts may have drawn.
#pragma once

#include <cstdint>

#include "../memory.h"
#include "span_fill.h"
#include "span_rows.h"
#include "span_state.h"

namespace veilshift {

// What the parts of one batch draw into and from.
struct SpanPartTarget {
    SpanTexture texture;
    SpanRowTarget rows;
};

// A part still to draw: its running edges at `row`, the rows left, its forms.
struct KeptSpanPart {
    SpanState state;
    int32_t row;
    int32_t endRow;  // above `row`, at most the viewport's height
    SpanRowsFn walk;
    SpanFillFn fill;
};

// Walks and fills rows [part.row, end) of a part, a batch of spans at a time,
// and leaves its edges and row at `end`. For callers at single precision.
void DrawPartRows(KeptSpanPart& part, int32_t end, const SpanPartTarget& target);

class SpanBands {
public:
    SpanBands() = default;
    ~SpanBands() { Release(); }
    SpanBands(const SpanBands&) = delete;
    SpanBands& operator=(const SpanBands&) = delete;

    // Room for `parts` parts (at least 1) over a viewport of `rows` rows (at
    // least 1); false, and no room, when memory ran out.
    bool Reserve(int32_t parts, int32_t rows);
    // Gives the storage back; any frame ends undrawn. Safe to call any number of times.
    void Release();

    // A frame over rows [0, rows) in bands of `bandRows` rows, none cleared
    // yet; false (no frame) without room for it.
    bool Begin(int32_t rows, int32_t bandRows);
    bool Active() const { return active_; }
    // Keeps a part (row < endRow); the kept parts are drawn first when its
    // target differs from theirs or there is no room left.
    void Keep(const SpanPartTarget& target, const KeptSpanPart& part);
    // Before rows [first, end) are drawn at once: everything kept drawn, and
    // the bands of those rows cleared.
    void BeforeDrawingAtOnce(int32_t first, int32_t end);
    // Draws everything kept, and the frame ends. For callers at single precision.
    void End();

private:
    void DrawKept();
    void ClearBand(int32_t band);

    GrowableArray<KeptSpanPart> parts_;
    SpanPartTarget target_{};
    int32_t partRoom_ = 0;
    int32_t rowRoom_ = 0;
    // Per band: cleared this frame; per band and one more: where its parts
    // start in byStart_.
    uint8_t* cleared_ = nullptr;
    int32_t* bandStarts_ = nullptr;
    // Parts by the band they start in, in the order kept; the parts drawing
    // in the current band, in the order kept; room to merge the two.
    int32_t* byStart_ = nullptr;
    int32_t* drawing_ = nullptr;
    int32_t* merged_ = nullptr;
    int32_t rows_ = 0;
    int32_t bandRows_ = 1;
    bool active_ = false;
};

}  // namespace veilshift
