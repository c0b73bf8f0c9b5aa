// The Windows tool's GIF writer and palette mapping, checked on both builds:
// what it writes is decoded back with stb_image's GIF reader, and the mapping
// is compared with a search through every palette entry. Also where a gallery
// made by a double-click goes.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "gif_encoder.h"
#include "output_files.h"

namespace tooltest {
namespace {

using preview::GifPalette;
using preview::Image;

// The plain model: every entry, the smallest squared distance, the lowest index among equals.
uint8_t NearestByEveryEntry(const GifPalette& palette, const uint8_t* rgb) {
    int best = -1, bestEntry = 0;
    for (int k = 0; k < palette.size; ++k) {
        int d = 0;
        for (int c = 0; c < 3; ++c) d += (palette.rgb[k * 3 + c] - rgb[c]) * (palette.rgb[k * 3 + c] - rgb[c]);
        if (best < 0 || d < best) best = d, bestEntry = k;
    }
    return static_cast<uint8_t>(bestEntry);
}

TEST(GifPaletteMapping, EveryPixelTakesTheEntryTheFullSearchTakes) {
    std::mt19937 random(7);
    for (int size : {1, 2, 5, 64, 255, 256}) {
        GifPalette palette;
        palette.size = size;
        // Coarse values make equal distances common; a few entries repeat outright.
        for (int k = 0; k < size * 3; ++k) palette.rgb[k] = static_cast<uint8_t>(random() % 9 * 32);
        for (int k = 1; k < size; k += 7) std::copy_n(&palette.rgb[(k - 1) * 3], 3, &palette.rgb[k * 3]);
        Image frame(61, 47);
        for (size_t i = 0; i < frame.rgb.size(); ++i) frame.rgb[i] = static_cast<uint8_t>(random());
        for (size_t i = 0; i < frame.rgb.size() / 2; ++i) frame.rgb[i] = static_cast<uint8_t>(random() % 9 * 32 / 2 * 2);
        const std::vector<uint8_t> indices = preview::MapToPalette(frame, palette);
        ASSERT_EQ(indices.size(), size_t{61 * 47});
        for (size_t i = 0; i < indices.size(); ++i)
            ASSERT_EQ(indices[i], NearestByEveryEntry(palette, &frame.rgb[i * 3])) << "palette of " << size << ", pixel " << i;
    }
}

struct Decoded {
    int width = 0, height = 0, frames = 0;
    std::vector<uint8_t> rgb;  // every frame, one after another
    std::vector<int> delaysMs;
};

Decoded Decode(const std::string& bytes) {
    Decoded d;
    int* delays = nullptr;
    int channels = 0;
    stbi_uc* pixels = stbi_load_gif_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                                static_cast<int>(bytes.size()), &delays, &d.width, &d.height,
                                                &d.frames, &channels, 3);
    if (pixels == nullptr) {
        ADD_FAILURE() << stbi_failure_reason();
        return d;
    }
    d.rgb.assign(pixels, pixels + static_cast<size_t>(d.width) * d.height * 3 * d.frames);
    d.delaysMs.assign(delays, delays + d.frames);
    stbi_image_free(pixels);
    std::free(delays);
    return d;
}

// A frame drawn from a palette's own colours maps without loss, so the file
// must give back exactly the frame.
TEST(GifEncoder, FramesDecodeBackExactlyWithTheirTimesAndLooping) {
    std::mt19937 random(11);
    struct Case {
        int width, height;
        const char* what;
    };
    // Noise fills the string table many times over (clear codes); a flat frame
    // makes long strings and every code width; 1x1 and thin frames the ends.
    for (const Case& c : {Case{1, 1, "one pixel"}, Case{37, 3, "thin"}, Case{300, 200, "large"}}) {
        preview::GifEncoder encoder(c.width, c.height);
        std::vector<std::vector<uint8_t>> expected;
        const uint16_t times[] = {4, 1, 65};
        for (int f = 0; f < 3; ++f) {
            GifPalette palette;
            palette.size = 256;
            for (int k = 0; k < 256; ++k) {
                palette.rgb[k * 3] = static_cast<uint8_t>(k);
                palette.rgb[k * 3 + 1] = static_cast<uint8_t>(255 - k);
                palette.rgb[k * 3 + 2] = static_cast<uint8_t>(k * 7 + f);
            }
            Image frame(c.width, c.height);
            for (int i = 0; i < c.width * c.height; ++i) {
                const int k = f == 1 ? 200 : f == 2 ? (i / 97) % 256 : static_cast<int>(random() % 256);
                std::copy_n(&palette.rgb[k * 3], 3, &frame.rgb[i * 3]);
            }
            encoder.AddFrame(preview::MapToPalette(frame, palette), palette, times[f]);
            expected.push_back(frame.rgb);
        }
        const std::string& bytes = encoder.Finish();
        EXPECT_NE(bytes.find(std::string("NETSCAPE2.0\x03\x01\x00\x00", 15)), std::string::npos) << c.what;
        const Decoded d = Decode(bytes);
        ASSERT_EQ(d.frames, 3) << c.what;
        ASSERT_EQ(std::make_pair(d.width, d.height), std::make_pair(c.width, c.height)) << c.what;
        EXPECT_EQ(d.delaysMs, (std::vector<int>{40, 10, 650})) << c.what;
        const size_t frameBytes = static_cast<size_t>(c.width) * c.height * 3;
        for (int f = 0; f < 3; ++f)
            EXPECT_TRUE(std::equal(expected[f].begin(), expected[f].end(), d.rgb.begin() + f * frameBytes))
                << c.what << ", frame " << f;
    }
}

// A palette of fewer colours than 256: the rest of the table is unused.
TEST(GifEncoder, SmallPaletteFrame) {
    GifPalette palette;
    palette.size = 2;
    palette.rgb[3] = palette.rgb[4] = palette.rgb[5] = 255;
    Image frame(9, 9);
    for (int i = 0; i < 81; ++i) std::fill_n(&frame.rgb[i * 3], 3, i % 3 == 0 ? 250 : 3);
    preview::GifEncoder encoder(9, 9);
    encoder.AddFrame(preview::MapToPalette(frame, palette), palette, 10);
    const Decoded d = Decode(encoder.Finish());
    ASSERT_EQ(d.frames, 1);
    for (int i = 0; i < 81; ++i) EXPECT_EQ(d.rgb[i * 3], i % 3 == 0 ? 255 : 0) << i;
}

// The folder a double-click's gallery goes to: the first parent that lets a
// folder be made, with a name no earlier run holds.
TEST(GalleryFolder, FirstWritableParentAndAFreshName) {
    using preview::platform::NewFolder;
    std::set<std::string> existing = {"prog/g", "pics/g", "pics/g-2"};
    std::map<std::string, std::string> refused = {{"prog", "Access is denied"}};
    std::vector<std::string> asked;
    auto make = [&](const std::string& folder, std::string& reason) {
        asked.push_back(folder);
        const std::string parent = folder.substr(0, folder.find('/'));
        if (refused.count(parent)) {
            reason = refused[parent];
            return NewFolder::Failed;
        }
        return existing.insert(folder).second ? NewFolder::Made : NewFolder::Exists;
    };
    std::string error;
    EXPECT_EQ(preview::ClaimNewFolder({"prog", "pics"}, "g", make, error), "pics/g-3");
    EXPECT_EQ(asked, (std::vector<std::string>{"prog/g", "pics/g", "pics/g-2", "pics/g-3"}));
    EXPECT_EQ(preview::ClaimNewFolder({"prog", "pics"}, "g", make, error), "pics/g-4") << "a second run";

    refused.clear();
    existing.erase("prog/g");
    EXPECT_EQ(preview::ClaimNewFolder({"prog", "pics"}, "g", make, error), "prog/g") << "beside the program first";

    refused = {{"prog", "Access is denied"}, {"pics", "No such file"}};
    EXPECT_EQ(preview::ClaimNewFolder({"prog", "pics"}, "g", make, error), "");
    EXPECT_EQ(error, "prog: Access is denied; pics: No such file");
}

}  // namespace
}  // namespace tooltest
