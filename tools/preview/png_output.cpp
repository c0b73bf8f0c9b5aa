#include "png_output.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace preview {

std::string WritePng(const refhost::TestSurface& surface, int x, int y, int width, int height,
                     const std::string& path) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row)
        std::memcpy(&rgb[static_cast<size_t>(row) * width * 3], surface.At(x, y + row), static_cast<size_t>(width) * 3);

    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    const std::string temporary = path + ".part";
    if (!png_image_write_to_file(&image, temporary.c_str(), 0, rgb.data(), width * 3, nullptr)) {
        std::remove(temporary.c_str());
        return "cannot write " + path + ": " + image.message;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return "cannot write " + path + ": " + std::strerror(errno);
    }
    return {};
}

}  // namespace preview
