#include "tool_harness.h"

#include <gtest/gtest.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tooltest {

bool SameRegion(const Picture& a, int x, int y, const Picture& b, int ox, int oy, int w, int h) {
    if (x + w > a.width || y + h > a.height || ox + w > b.width || oy + h > b.height) return false;
    for (int row = 0; row < h; ++row)
        if (std::memcmp(a.At(x, y + row), b.At(ox, oy + row), static_cast<size_t>(w) * 3) != 0) return false;
    return true;
}

bool Same(const Picture& a, const Picture& b) { return a.width == b.width && a.height == b.height && a.rgb == b.rgb; }

double MeanDifference(const Picture& a, const Picture& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 255;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
    return sum / static_cast<double>(a.rgb.size());
}

Picture Pattern(int width, int height, int seed) {
    Picture p{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    uint32_t state = 2463534242u + static_cast<uint32_t>(seed);
    for (auto& byte : p.rgb) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<uint8_t>(state >> 7);
    }
    return p;
}

Picture Solid(int width, int height, uint8_t value) {
    return {width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, value)};
}

Picture Enlarged(const Picture& p, int factor) {
    Picture out{p.width * factor, p.height * factor, {}};
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const uint8_t* pixel = p.At(x / factor, y / factor);
            out.rgb.insert(out.rgb.end(), pixel, pixel + 3);
        }
    return out;
}

Picture LoadPicture(const fs::path& path) {
    Picture p;
    int channels = 0;
    stbi_uc* data = stbi_load(path.string().c_str(), &p.width, &p.height, &channels, 3);
    if (data == nullptr) {
        ADD_FAILURE() << "cannot decode " << path << ": " << stbi_failure_reason();
        return {};
    }
    p.rgb.assign(data, data + static_cast<size_t>(p.width) * p.height * 3);
    stbi_image_free(data);
    return p;
}

bool WritePicture(const fs::path& path, const Picture& p) {
    const std::string ext = path.extension().string(), name = path.string();
    if (ext == ".png") return stbi_write_png(name.c_str(), p.width, p.height, 3, p.rgb.data(), p.width * 3) != 0;
    if (ext == ".bmp") return stbi_write_bmp(name.c_str(), p.width, p.height, 3, p.rgb.data()) != 0;
    if (ext == ".jpg") return stbi_write_jpg(name.c_str(), p.width, p.height, 3, p.rgb.data(), 90) != 0;
    return false;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Files(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(entry.path(), folder).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tooltest
