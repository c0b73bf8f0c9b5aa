// Where each frame sits on a contact sheet. Kept apart from the drawing so that
// whoever reads a sheet back can find the frames on it.
//
// The sheet is a grid of cells, `columns` across, filled row by row. A cell is
// a thumbnail with a label strip below it (the frame's progress, and a bar).
// Thumbnails fit a maxThumbSide square, keeping the picture's proportions; a
// picture that already fits is shown 1:1, and one whose longer side is under
// kSheetSmallSide pixels is enlarged by the largest whole factor that keeps it
// within kSheetSmallSide (and maxThumbSide), each pixel a square block.
#pragma once

#include <algorithm>
#include <cstdint>

namespace preview {

inline constexpr int32_t kSheetMargin = 12;
inline constexpr int32_t kSheetGap = 10;
inline constexpr int32_t kSheetMinCellWidth = 64;  // room for a label under a tiny picture
inline constexpr int32_t kSheetSmallSide = 64;     // smaller pictures are enlarged

// The whole factor that brings a width x height picture's longer side closest
// to `side` without passing it; 1 for a picture that already reaches it.
inline int32_t WholeEnlargement(int32_t width, int32_t height, int32_t side) {
    const int32_t longer = std::max({width, height, int32_t{1}});
    return std::max(side / longer, int32_t{1});
}

struct SheetLayout {
    int32_t columns = 1;
    int32_t rows = 1;
    int32_t thumbWidth = 1;
    int32_t thumbHeight = 1;
    int32_t enlargement = 1;  // each picture pixel is an enlargement x enlargement block
    int32_t cellWidth = 1;
    int32_t labelHeight = 1;
    int32_t fontScale = 1;
    int32_t width = 1;  // the whole sheet
    int32_t height = 1;

    int32_t CellX(int32_t i) const { return kSheetMargin + (i % columns) * (cellWidth + kSheetGap); }
    int32_t CellY(int32_t i) const { return kSheetMargin + (i / columns) * (thumbHeight + labelHeight + kSheetGap); }
    int32_t ThumbX(int32_t i) const { return CellX(i) + (cellWidth - thumbWidth) / 2; }
    int32_t ThumbY(int32_t i) const { return CellY(i); }
    int32_t LabelY(int32_t i) const { return CellY(i) + thumbHeight; }
};

// For `count` (>= 1) frames of a pictureWidth x pictureHeight picture.
inline SheetLayout ComputeSheetLayout(int32_t pictureWidth, int32_t pictureHeight, int32_t count, int32_t columns,
                                      int32_t maxThumbSide) {
    SheetLayout l;
    const int64_t w = std::max(pictureWidth, 1), h = std::max(pictureHeight, 1);
    const int64_t side = std::max(maxThumbSide, 8);
    int64_t tw = w, th = h;
    if (w < kSheetSmallSide && h < kSheetSmallSide && w <= side && h <= side) {
        l.enlargement = WholeEnlargement(static_cast<int32_t>(w), static_cast<int32_t>(h),
                                         static_cast<int32_t>(std::min<int64_t>(side, kSheetSmallSide)));
        tw = w * l.enlargement;
        th = h * l.enlargement;
    } else if (w > side || h > side) {
        if (w >= h) {
            tw = side;
            th = std::max<int64_t>(1, (h * side + w / 2) / w);
        } else {
            th = side;
            tw = std::max<int64_t>(1, (w * side + h / 2) / h);
        }
    }
    l.thumbWidth = static_cast<int32_t>(tw);
    l.thumbHeight = static_cast<int32_t>(th);
    l.cellWidth = std::max(l.thumbWidth, kSheetMinCellWidth);
    l.fontScale = l.cellWidth >= 140 ? 2 : 1;
    l.labelHeight = 8 + 10 * l.fontScale;
    count = std::max(count, 1);
    l.columns = std::clamp(columns, 1, count);
    l.rows = (count + l.columns - 1) / l.columns;
    l.width = 2 * kSheetMargin + l.columns * l.cellWidth + (l.columns - 1) * kSheetGap;
    l.height = 2 * kSheetMargin + l.rows * (l.thumbHeight + l.labelHeight) + (l.rows - 1) * kSheetGap;
    return l;
}

}  // namespace preview
