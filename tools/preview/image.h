// A picture in memory: 8-bit RGB, rows top to bottom, no padding. The tool's
// pictures, frames and sheets all pass through this one shape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace preview {

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    Image() = default;
    Image(int32_t w, int32_t h) : width(w), height(h), rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3) {}

    uint8_t* Pixel(int32_t x, int32_t y) { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
    const uint8_t* Pixel(int32_t x, int32_t y) const {
        return rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    }
    bool Empty() const { return width <= 0 || height <= 0; }
};

// The largest picture the tool takes in: the animation format's limit per side,
// and a pixel budget that keeps three surfaces well inside memory.
inline constexpr int32_t kMaxSide = 16383;
inline constexpr int64_t kMaxPixels = int64_t{64} << 20;

}  // namespace preview
