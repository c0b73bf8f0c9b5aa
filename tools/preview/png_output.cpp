#include "png_output.h"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace preview {

std::string WritePng(const Image& picture, const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, picture.rgb.data(), picture.width * 3, nullptr)) {
        std::remove(path.c_str());
        return std::string("cannot write PNG: ") + image.message;
    }
    return {};
}

}  // namespace preview
