// One animated WebP, built frame by frame with libwebp's animation encoder and
// written in one piece at the end.
#pragma once

#include <memory>
#include <string>

#include "image.h"

namespace preview {

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

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace preview
