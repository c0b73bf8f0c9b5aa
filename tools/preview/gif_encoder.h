// The animated GIF file of the Windows tool, written here rather than by the
// system's GIF encoder: each frame's palette still comes from the Windows
// Imaging Component (gif_output.cpp), but mapping the pixels to it and the LZW
// coding are done here, in time proportional to the pixels. Plain C++, so the
// native tests decode what it writes too.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "image.h"

namespace preview {

struct GifPalette {
    std::array<uint8_t, 256 * 3> rgb{};  // red, green, blue; entries past `size` are black
    int size = 0;                        // 1 to 256
};

// For every pixel of `frame`, the palette entry nearest to it: the smallest
// sum of squared differences of red, green and blue, the lowest index among
// equals.
std::vector<uint8_t> MapToPalette(const Image& frame, const GifPalette& palette);

// A looping animation: GIF89a, every frame a whole picture with a 256-entry
// palette of its own and its display time.
class GifEncoder {
public:
    GifEncoder(int32_t width, int32_t height);
    // `indices`: width x height palette indices, row by row. `centiseconds`: its display time.
    void AddFrame(const std::vector<uint8_t>& indices, const GifPalette& palette, uint16_t centiseconds);
    // The whole file; the encoder takes no frame after it.
    const std::string& Finish();

private:
    int32_t width_;
    int32_t height_;
    std::string bytes_;
};

}  // namespace preview
