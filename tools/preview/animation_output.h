// The animated output: one file built frame by frame and written in one piece
// at the end. Natively an animated WebP through libwebp's animation encoder
// (webp_output.cpp); on Windows an animated GIF through the Windows Imaging
// Component (gif_output.cpp).
#pragma once

#include <memory>
#include <string>

#include "image.h"

namespace preview {

struct AnimationFormat {
    const char* name;        // "WebP"
    const char* extension;   // ".webp"
    const char* longOption;  // "--webp"
    bool hasQuality;         // --quality applies
};
extern const AnimationFormat kAnimationFormat;

struct AnimationSettings {
    int quality = 80;       // 0..100, lossy
    bool lossless = false;  // exact pixels; larger files
};

class AnimationWriter {
public:
    AnimationWriter(int32_t width, int32_t height, const AnimationSettings& settings);
    ~AnimationWriter();
    AnimationWriter(const AnimationWriter&) = delete;
    AnimationWriter& operator=(const AnimationWriter&) = delete;

    // Adds a frame shown for `durationMs`. Empty on success, else a message.
    std::string Add(const Image& frame, int durationMs);
    // Assembles the animation and writes it to `path`. Empty on success.
    std::string Write(const std::string& path);
    // What the encoder could not store (such as frame times), in words; empty
    // when the file holds everything asked for.
    std::string Shortfall() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace preview
