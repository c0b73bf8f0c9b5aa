// One transition at a time through the reference host, frame by frame, with
// the checksum of each frame: the part that the WebAssembly build's JavaScript
// API and the native tool that checks the same frames share, so that both
// sides compute frames and checksums with the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/image.h"

namespace refhost {
class Host;
class TestSurface;
}  // namespace refhost

namespace web {

// 8-bit RGB, rows top to bottom, no padding: the host's one picture shape.
using Picture = refhost::Image;

// The host's built-in pair at any size: 0 is A (the sunset), 1 is B (the tiles).
Picture BuiltInPicture(int which, int32_t width, int32_t height);
// Noise from the reference host's generator (integer arithmetic only).
Picture NoisePicture(uint32_t seed, int32_t width, int32_t height);

// FNV-1a (32 bits) over bytes: the checksum of a frame, rows top to bottom.
uint32_t Fnv1a(const uint8_t* data, size_t size);

struct Rect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The largest picture taken in: a side as the host's surfaces allow, and a
// pixel budget that keeps every surface of a transition (three of the
// host's, the module's work surface, the copies) well inside WebAssembly's
// 2 GiB of memory.
inline constexpr int32_t kMaxPictureSide = 16384;
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 24;
inline bool PictureSizeFits(int32_t width, int32_t height) {
    return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           int64_t{width} * height <= kMaxPicturePixels;
}

class TransitionRunner {
public:
    // The reference host with its three components; throws std::runtime_error
    // when they cannot be had.
    TransitionRunner();
    ~TransitionRunner();
    TransitionRunner(const TransitionRunner&) = delete;
    TransitionRunner& operator=(const TransitionRunner&) = delete;

    // Source A (which = 0) or B (1). False for a size PictureSizeFits refuses,
    // or bytes that do not fill width x height pixels. Ends a transition under way.
    bool SetPicture(int which, Picture picture);

    // The screen takes A's size and shows A; the rectangle stands at the same
    // corner on the screen and in both pictures (the module clips it to all
    // three). False when there are no pictures or the module does not begin
    // (an effect it lacks, a rectangle outside them).
    bool Begin(int32_t effect, Rect rect);
    // The module's Draw; nothing outside a begun transition.
    void Draw(int32_t progress, int32_t total);
    void End();
    bool Running() const { return running_; }

    // The screen's size, and a copy of it as it is now (packed RGB rows),
    // whose checksum CaptureScreen answers.
    int32_t ScreenWidth() const;
    int32_t ScreenHeight() const;
    uint32_t CaptureScreen();
    const std::vector<uint8_t>& CapturedPixels() const { return pixels_; }
    // Requests outside a surface and broken guard bytes the host saw.
    int32_t HostViolations() const;

private:
    std::unique_ptr<refhost::Host> host_;
    Picture pictures_[2];
    refhost::TestSurface* screen_ = nullptr;
    std::vector<uint8_t> pixels_;
    bool running_ = false;
};

}  // namespace web
