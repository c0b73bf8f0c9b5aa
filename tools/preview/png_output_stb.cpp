// PNG frames and sheets on Windows, through stb_image_write (compiled into the
// tool by stb_library.cpp); natively libpng writes them (png_output.cpp).
#include <stb_image_write.h>

#include <cstdio>

#include "png_output.h"

namespace preview {

std::string WritePng(const Image& picture, const std::string& path) {
    if (!stbi_write_png(path.c_str(), picture.width, picture.height, 3, picture.rgb.data(), picture.width * 3)) {
        std::remove(path.c_str());
        return "cannot write PNG (disk full, or no permission?)";
    }
    return {};
}

}  // namespace preview
