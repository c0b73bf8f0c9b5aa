#include "image_input.h"

#include <stb_image.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace preview {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

constexpr char kUnderstood[] = "PNG, JPEG, BMP, GIF, TGA and PNM are understood";

// The decoder's reason, in words.
std::string Reason(const char* reason) {
    const std::string r = reason != nullptr ? reason : "";
    if (r == "too large") return "its header gives a size too large for any picture (corrupt?)";
    if (r == "unknown image type") return std::string("it is not a picture this tool reads; ") + kUnderstood;
    return "the file is truncated or corrupt (" + r + ")";
}

}  // namespace

std::string LoadPicture(const std::string& path, Image& picture, std::string& note) {
    note.clear();
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) return "cannot open " + path + ": " + std::strerror(ENOENT);
    if (std::filesystem::is_directory(status)) return "cannot read " + path + ": it is a folder, not a picture";
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return "cannot open " + path + ": " + std::strerror(errno);

    // The size first, so that an enormous picture is refused before it is decoded.
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_file(file.get(), &width, &height, &channels)) {
        // The header test names no reason of its own; decoding names the real one
        // (a header too large to be read stops the decoder before it allocates).
        stbi_uc* pixels = stbi_load_from_file(file.get(), &width, &height, &channels, 3);
        if (pixels != nullptr) stbi_image_free(pixels);
        return "cannot read " + path + " as a picture: " + Reason(stbi_failure_reason());
    }
    if (width > kMaxSide || height > kMaxSide || int64_t{width} * height > kMaxPixels)
        return path + " is " + std::to_string(width) + "x" + std::to_string(height) + ", larger than the " +
               std::to_string(kMaxSide) + " pixels a side (and " + std::to_string(kMaxPixels >> 20) +
               " million pixels) this tool takes";

    // With alpha (grey or colour), the alpha comes along to be looked at.
    const bool hasAlpha = channels == 2 || channels == 4;
    const int taken = hasAlpha ? 4 : 3;
    stbi_uc* pixels = stbi_load_from_file(file.get(), &width, &height, &channels, taken);
    if (pixels == nullptr) return "cannot decode " + path + ": " + Reason(stbi_failure_reason());
    picture = Image(width, height);
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    bool transparent = false;
    if (hasAlpha) {
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(&picture.rgb[i * 3], pixels + i * 4, 3);
            transparent = transparent || pixels[i * 4 + 3] != 255;
        }
    } else {
        std::memcpy(picture.rgb.data(), pixels, picture.rgb.size());
    }
    stbi_image_free(pixels);
    if (transparent)
        note = path + ": its alpha channel is dropped, as the module draws opaque pictures; transparent pixels "
                      "show the colour stored in them";
    return {};
}

}  // namespace preview
