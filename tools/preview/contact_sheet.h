// A contact sheet: chosen frames of one transition on a grid, each labelled with
// its progress (see contact_sheet_layout.h for the geometry).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "contact_sheet_layout.h"
#include "image.h"

namespace preview {

// `count` frame indices spread evenly over `frames` frames, first and last
// included (fewer when frames is smaller).
std::vector<int32_t> SpreadFrames(int32_t count, int32_t frames);

// Shrinks `picture` to width x height by averaging the pixels each target pixel covers.
Image Shrink(const Image& picture, int32_t width, int32_t height);
// Enlarges `picture` by a whole `factor`: each pixel becomes a factor x factor block.
Image Enlarge(const Image& picture, int32_t factor);

class ContactSheet {
public:
    ContactSheet(std::vector<int32_t> frames, int32_t columns, int32_t maxThumbSide);

    bool Wants(int32_t frameIndex) const;
    void Add(int32_t frameIndex, int32_t progress, int32_t total, const Image& screen);
    Image Render() const;

private:
    struct Cell {
        int32_t progress;
        int32_t total;
        Image thumb;
    };
    std::vector<int32_t> frames_;
    int32_t columns_;
    int32_t maxThumbSide_;
    std::vector<Cell> cells_;
    int32_t pictureWidth_ = 0;
    int32_t pictureHeight_ = 0;
};

}  // namespace preview
