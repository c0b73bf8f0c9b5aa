#include "image_input.h"

#include <stb_image.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace preview {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string LoadPicture(const std::string& path, Image& picture) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return "cannot open " + path + ": " + std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "cannot read " + path + ": it is a folder, not a picture";
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return "cannot open " + path + ": " + std::strerror(errno);

    // The size first, so that an enormous picture is refused before it is decoded.
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_file(file.get(), &width, &height, &channels))
        return "cannot read " + path + " as a picture (" + stbi_failure_reason() +
               "); PNG, JPEG, BMP, GIF, TGA and PNM are understood";
    if (width > kMaxSide || height > kMaxSide || int64_t{width} * height > kMaxPixels)
        return path + " is " + std::to_string(width) + "x" + std::to_string(height) + ", larger than the " +
               std::to_string(kMaxSide) + " pixels a side (and " + std::to_string(kMaxPixels >> 20) +
               " million pixels) this tool takes";

    stbi_uc* pixels = stbi_load_from_file(file.get(), &width, &height, &channels, 3);
    if (pixels == nullptr) return "cannot decode " + path + ": " + stbi_failure_reason();
    picture = Image(width, height);
    std::memcpy(picture.rgb.data(), pixels, picture.rgb.size());
    stbi_image_free(pixels);
    return {};
}

}  // namespace preview
