#include "contact_sheet.h"

#include <algorithm>
#include <array>
#include <cstring>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb_easy_font.h>
#pragma GCC diagnostic pop

namespace preview {
namespace {

using Colour = std::array<uint8_t, 3>;
constexpr Colour kBackground = {24, 26, 31};
constexpr Colour kLabelText = {226, 230, 236};
constexpr Colour kBarTrack = {52, 56, 66};
constexpr Colour kBarFill = {255, 170, 60};

void FillRect(Image& image, int32_t x, int32_t y, int32_t width, int32_t height, Colour colour) {
    const int32_t x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int32_t x1 = std::min(x + width, image.width), y1 = std::min(y + height, image.height);
    for (int32_t row = y0; row < y1; ++row)
        for (int32_t column = x0; column < x1; ++column) std::memcpy(image.Pixel(column, row), colour.data(), 3);
}

int32_t TextWidth(const std::string& text, int32_t scale) {
    std::string copy = text;
    return stb_easy_font_width(copy.data()) * scale;
}

// The font is made of axis-aligned quads; each becomes a filled rectangle,
// clipped to the box the text may use.
void DrawText(Image& image, const std::string& text, int32_t x, int32_t y, int32_t scale, int32_t clipRight,
              Colour colour) {
    std::string copy = text;
    static char vertices[64 * 1024];
    const int quads = stb_easy_font_print(0, 0, copy.data(), nullptr, vertices, sizeof vertices);
    for (int q = 0; q < quads; ++q) {
        float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
        for (int v = 0; v < 4; ++v) {
            float point[2];
            std::memcpy(point, vertices + (q * 4 + v) * 16, sizeof point);
            minX = std::min(minX, point[0]);
            maxX = std::max(maxX, point[0]);
            minY = std::min(minY, point[1]);
            maxY = std::max(maxY, point[1]);
        }
        const int32_t left = x + static_cast<int32_t>(minX) * scale;
        const int32_t right = std::min(x + static_cast<int32_t>(maxX) * scale, clipRight);
        FillRect(image, left, y + static_cast<int32_t>(minY) * scale, right - left,
                 static_cast<int32_t>(maxY - minY) * scale, colour);
    }
}

}  // namespace

std::vector<int32_t> SpreadFrames(int32_t count, int32_t frames) {
    std::vector<int32_t> chosen;
    if (frames < 1 || count < 1) return chosen;
    if (count == 1 || frames == 1) return {frames - 1};
    for (int64_t i = 0; i < count; ++i) {
        const auto frame = static_cast<int32_t>((i * (frames - 1) + (count - 1) / 2) / (count - 1));
        if (chosen.empty() || chosen.back() != frame) chosen.push_back(frame);
    }
    return chosen;
}

Image Shrink(const Image& picture, int32_t width, int32_t height) {
    if (width == picture.width && height == picture.height) return picture;
    Image out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const int64_t y0 = int64_t{y} * picture.height / height;
        const int64_t y1 = std::max(y0 + 1, int64_t{y + 1} * picture.height / height);
        for (int32_t x = 0; x < width; ++x) {
            const int64_t x0 = int64_t{x} * picture.width / width;
            const int64_t x1 = std::max(x0 + 1, int64_t{x + 1} * picture.width / width);
            uint64_t sum[3] = {0, 0, 0};
            for (int64_t sy = y0; sy < y1; ++sy)
                for (int64_t sx = x0; sx < x1; ++sx) {
                    const uint8_t* p = picture.Pixel(static_cast<int32_t>(sx), static_cast<int32_t>(sy));
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            const uint64_t n = static_cast<uint64_t>((y1 - y0) * (x1 - x0));
            uint8_t* o = out.Pixel(x, y);
            for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
        }
    }
    return out;
}

Image Enlarge(const Image& picture, int32_t factor) {
    if (factor <= 1) return picture;
    Image out(picture.width * factor, picture.height * factor);
    for (int32_t y = 0; y < out.height; ++y)
        for (int32_t x = 0; x < out.width; ++x) std::memcpy(out.Pixel(x, y), picture.Pixel(x / factor, y / factor), 3);
    return out;
}

ContactSheet::ContactSheet(std::vector<int32_t> frames, int32_t columns, int32_t maxThumbSide)
    : frames_(std::move(frames)), columns_(columns), maxThumbSide_(maxThumbSide) {
    std::sort(frames_.begin(), frames_.end());
    frames_.erase(std::unique(frames_.begin(), frames_.end()), frames_.end());
}

bool ContactSheet::Wants(int32_t frameIndex) const {
    return std::binary_search(frames_.begin(), frames_.end(), frameIndex);
}

void ContactSheet::Add(int32_t frameIndex, int32_t progress, int32_t total, const Image& screen) {
    if (!Wants(frameIndex)) return;
    pictureWidth_ = screen.width;
    pictureHeight_ = screen.height;
    const SheetLayout layout =
        ComputeSheetLayout(screen.width, screen.height, static_cast<int32_t>(frames_.size()), columns_, maxThumbSide_);
    cells_.push_back({progress, total,
                      layout.enlargement > 1 ? Enlarge(screen, layout.enlargement)
                                             : Shrink(screen, layout.thumbWidth, layout.thumbHeight)});
}

Image ContactSheet::Render() const {
    const SheetLayout l =
        ComputeSheetLayout(pictureWidth_, pictureHeight_, static_cast<int32_t>(cells_.size()), columns_, maxThumbSide_);
    Image sheet(l.width, l.height);
    FillRect(sheet, 0, 0, l.width, l.height, kBackground);
    for (size_t k = 0; k < cells_.size(); ++k) {
        const auto i = static_cast<int32_t>(k);
        const Cell& cell = cells_[k];
        for (int32_t y = 0; y < l.thumbHeight; ++y)
            std::memcpy(sheet.Pixel(l.ThumbX(i), l.ThumbY(i) + y), cell.thumb.Pixel(0, y),
                        static_cast<size_t>(l.thumbWidth) * 3);

        // A bar for the progress, then "progress/total" on the left and the percentage on the right.
        const int32_t barY = l.LabelY(i) + 3;
        const int32_t barHeight = 2 * l.fontScale;
        FillRect(sheet, l.CellX(i), barY, l.cellWidth, barHeight, kBarTrack);
        const auto filled = static_cast<int32_t>(int64_t{l.cellWidth} * cell.progress / std::max(cell.total, 1));
        FillRect(sheet, l.CellX(i), barY, filled, barHeight, kBarFill);
        const int64_t percent = (int64_t{cell.progress} * 100 + cell.total / 2) / std::max(cell.total, 1);
        const std::string fraction = std::to_string(cell.progress) + "/" + std::to_string(cell.total);
        const std::string share = std::to_string(percent) + "%";
        const int32_t textY = barY + barHeight + 2 * l.fontScale;
        const int32_t right = l.CellX(i) + l.cellWidth;
        const int32_t shareWidth = TextWidth(share, l.fontScale);
        if (TextWidth(fraction, l.fontScale) + shareWidth + 6 * l.fontScale <= l.cellWidth)
            DrawText(sheet, fraction, l.CellX(i), textY, l.fontScale, right, kLabelText);
        DrawText(sheet, share, right - shareWidth, textY, l.fontScale, right, kLabelText);
    }
    return sheet;
}

}  // namespace preview
