#include "span_bands.h"

#include <cstring>

#include "../module_state.h"

namespace veilshift {

void DrawPartRows(KeptSpanPart& part, int32_t end, const SpanPartTarget& target) {
    constexpr int32_t kBatch = 32;
    Span spans[kBatch];
    const SpanGradient gradient{part.state.dIzDx, part.state.dUzDx, part.state.dVzDx};
    while (part.row < end) {
        const int32_t count = part.walk(part.state, part.row, end, target.rows, spans, kBatch);
        if (count > 0) part.fill(spans, count, gradient, target.texture);
    }
}

namespace {
bool SameTarget(const SpanPartTarget& a, const SpanPartTarget& b) {
    return a.texture.texels == b.texture.texels && a.texture.pitch == b.texture.pitch &&
           a.texture.lastU == b.texture.lastU && a.texture.lastV == b.texture.lastV &&
           a.rows.depthRows == b.rows.depthRows && a.rows.pixels == b.rows.pixels && a.rows.pitch == b.rows.pitch &&
           a.rows.width == b.rows.width;
}
}  // namespace

bool SpanBands::Reserve(int32_t parts, int32_t rows) {
    Release();
    if (parts < 1 || rows < 1) return false;
    const size_t partCount = static_cast<size_t>(parts);
    const size_t rowCount = static_cast<size_t>(rows);
    cleared_ = AllocateArray<uint8_t>(rowCount);
    bandStarts_ = AllocateArray<int32_t>(rowCount + 1);
    byStart_ = AllocateArray<int32_t>(partCount);
    drawing_ = AllocateArray<int32_t>(partCount);
    merged_ = AllocateArray<int32_t>(partCount);
    if (cleared_ == nullptr || bandStarts_ == nullptr || byStart_ == nullptr || drawing_ == nullptr ||
        merged_ == nullptr || !parts_.Reserve(partCount)) {
        Release();
        return false;
    }
    partRoom_ = parts;
    rowRoom_ = rows;
    return true;
}

void SpanBands::Release() {
    FreeBytes(cleared_);
    FreeBytes(bandStarts_);
    FreeBytes(byStart_);
    FreeBytes(drawing_);
    FreeBytes(merged_);
    cleared_ = nullptr;
    bandStarts_ = nullptr;
    byStart_ = drawing_ = merged_ = nullptr;
    parts_.Release();
    partRoom_ = rowRoom_ = 0;
    active_ = false;
}

bool SpanBands::Begin(int32_t rows, int32_t bandRows) {
    active_ = false;
    parts_.Clear();
    if (partRoom_ == 0 || rows < 1 || rows > rowRoom_ || bandRows < 1) return false;
    rows_ = rows;
    bandRows_ = bandRows;
    const int32_t bands = (rows - 1) / bandRows + 1;
    std::memset(cleared_, 0, static_cast<size_t>(bands));
    active_ = true;
    return true;
}

void SpanBands::Keep(const SpanPartTarget& target, const KeptSpanPart& part) {
    if (!parts_.Empty() && (!SameTarget(target, target_) || parts_.Size() == static_cast<size_t>(partRoom_)))
        DrawKept();
    target_ = target;
    parts_.Append(part);  // room for it: reserved, and emptied above when full
}

void SpanBands::BeforeDrawingAtOnce(int32_t first, int32_t end) {
    DrawKept();
    if (first < 0) first = 0;
    if (end > rows_) end = rows_;
    if (first >= end) return;
    for (int32_t band = first / bandRows_; band <= (end - 1) / bandRows_; ++band) ClearBand(band);
}

void SpanBands::End() {
    DrawKept();
    active_ = false;
}

void SpanBands::ClearBand(int32_t band) {
    if (cleared_[band] != 0) return;
    cleared_[band] = 1;
    // The rows follow one another in the depth buffer's block. A frame draws
    // nothing without a cell for every viewport row (DrawSpans), so only the
    // rows the buffer has are cleared.
    const int32_t first = band * bandRows_;
    int32_t end = first + bandRows_ < rows_ ? first + bandRows_ : rows_;
    if (end > moduleState.depthBuffer.rowCount) end = moduleState.depthBuffer.rowCount;
    if (first >= end) return;
    std::memset(moduleState.depthBuffer.rowPointers[first], 0,
                static_cast<size_t>(end - first) * static_cast<size_t>(moduleState.depthBuffer.columnCount) * sizeof(float));
}

void SpanBands::DrawKept() {
    const int32_t count = static_cast<int32_t>(parts_.Size());
    if (count == 0) return;
    // The parts by the band they start in (a counting sort, so each band's
    // stay in the order kept).
    const int32_t bands = (rows_ - 1) / bandRows_ + 1;
    std::memset(bandStarts_, 0, static_cast<size_t>(bands + 1) * sizeof(int32_t));
    for (const KeptSpanPart& part : parts_) ++bandStarts_[part.row / bandRows_ + 1];
    for (int32_t band = 0; band < bands; ++band) bandStarts_[band + 1] += bandStarts_[band];
    for (int32_t i = 0; i < count; ++i) byStart_[bandStarts_[parts_[static_cast<size_t>(i)].row / bandRows_]++] = i;
    // bandStarts_[band] now holds where the next band's parts start.

    int32_t drawingCount = 0;
    int32_t next = 0;  // in byStart_
    for (int32_t band = parts_[static_cast<size_t>(byStart_[0])].row / bandRows_; band < bands; ++band) {
        // The parts that start here join those still drawing, in the order kept.
        const int32_t joinEnd = bandStarts_[band];
        if (next < joinEnd) {
            int32_t a = 0, b = next, m = 0;
            while (a < drawingCount || b < joinEnd) {
                if (b == joinEnd || (a < drawingCount && drawing_[a] < byStart_[b]))
                    merged_[m++] = drawing_[a++];
                else
                    merged_[m++] = byStart_[b++];
            }
            int32_t* const swap = drawing_;
            drawing_ = merged_;
            merged_ = swap;
            drawingCount = m;
            next = joinEnd;
        }
        if (drawingCount == 0) {
            if (next == count) break;
            continue;
        }
        ClearBand(band);
        const int32_t bandEnd = band * bandRows_ + bandRows_ < rows_ ? band * bandRows_ + bandRows_ : rows_;
        int32_t still = 0;
        for (int32_t i = 0; i < drawingCount; ++i) {
            KeptSpanPart& part = parts_[static_cast<size_t>(drawing_[i])];
            DrawPartRows(part, part.endRow < bandEnd ? part.endRow : bandEnd, target_);
            if (part.row < part.endRow) drawing_[still++] = drawing_[i];
        }
        drawingCount = still;
    }
    parts_.Clear();
}

}  // namespace veilshift
