#include "animation_output.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdio>

namespace preview {

const AnimationFormat kAnimationFormat = {"WebP", ".webp", "--webp", true};

struct AnimationWriter::State {
    WebPAnimEncoder* encoder = nullptr;
    WebPConfig config;
    int32_t width = 0;
    int32_t height = 0;
    int timestampMs = 0;
    std::string error;
};

AnimationWriter::AnimationWriter(int32_t width, int32_t height, const AnimationSettings& settings)
    : state_(std::make_unique<State>()) {
    state_->width = width;
    state_->height = height;
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&state_->config)) {
        state_->error = "the WebP library does not match the version this tool was built with";
        return;
    }
    options.anim_params.loop_count = 0;  // forever
    options.anim_params.bgcolor = 0xFF000000;
    state_->config.lossless = settings.lossless ? 1 : 0;
    state_->config.quality = settings.lossless ? 75.0f : static_cast<float>(settings.quality);
    state_->config.method = 4;
    if (settings.lossless) state_->config.exact = 1;
    if (!WebPValidateConfig(&state_->config)) {
        state_->error = "bad WebP settings";
        return;
    }
    state_->encoder = WebPAnimEncoderNew(width, height, &options);
    if (state_->encoder == nullptr) state_->error = "cannot start the WebP encoder (out of memory?)";
}

AnimationWriter::~AnimationWriter() {
    if (state_->encoder != nullptr) WebPAnimEncoderDelete(state_->encoder);
}

std::string AnimationWriter::Add(const Image& frame, int durationMs) {
    if (!state_->error.empty()) return state_->error;
    if (frame.width != state_->width || frame.height != state_->height) return "frame size changed";
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) return "cannot set up a WebP picture";
    picture.width = frame.width;
    picture.height = frame.height;
    picture.use_argb = 1;
    std::string error;
    if (!WebPPictureImportRGB(&picture, frame.rgb.data(), frame.width * 3)) {
        error = "cannot convert a frame for WebP (out of memory?)";
    } else if (!WebPAnimEncoderAdd(state_->encoder, &picture, state_->timestampMs, &state_->config)) {
        error = std::string("WebP encoder: ") + WebPAnimEncoderGetError(state_->encoder);
    }
    WebPPictureFree(&picture);
    state_->timestampMs += durationMs;
    return error;
}

std::string AnimationWriter::Write(const std::string& path) {
    if (!state_->error.empty()) return state_->error;
    if (!WebPAnimEncoderAdd(state_->encoder, nullptr, state_->timestampMs, nullptr))
        return std::string("WebP encoder: ") + WebPAnimEncoderGetError(state_->encoder);
    WebPData data;
    WebPDataInit(&data);
    if (!WebPAnimEncoderAssemble(state_->encoder, &data))
        return std::string("WebP encoder: ") + WebPAnimEncoderGetError(state_->encoder);
    std::string error;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot open for writing";
    } else {
        const bool written = std::fwrite(data.bytes, 1, data.size, file) == data.size;
        if (std::fclose(file) != 0 || !written) error = "write failed (disk full?)";
    }
    WebPDataClear(&data);
    if (!error.empty()) std::remove(path.c_str());
    return error;
}

std::string AnimationWriter::Shortfall() const { return {}; }

}  // namespace preview
