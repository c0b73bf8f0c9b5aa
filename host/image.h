// A picture in memory: 8-bit RGB, rows top to bottom, no padding. The built-in
// pictures, the tools' pictures and frames and the web runner's all have this
// one shape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace refhost {

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    Image() = default;
    Image(int32_t w, int32_t h) : width(w), height(h), rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3) {}
    Image(int32_t w, int32_t h, std::vector<uint8_t> bytes) : width(w), height(h), rgb(std::move(bytes)) {}

    uint8_t* Pixel(int32_t x, int32_t y) { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
    const uint8_t* Pixel(int32_t x, int32_t y) const {
        return rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    }
    bool Empty() const { return width <= 0 || height <= 0; }
};

}  // namespace refhost
