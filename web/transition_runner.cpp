#include "transition_runner.h"

#include <cstring>
#include <utility>

#include "host/pictures.h"
#include "host/reference_host.h"
#include "host/stage.h"

namespace web {
namespace {

bool Usable(const Picture& picture) {
    return PictureSizeFits(picture.width, picture.height) &&
           picture.rgb.size() == static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3;
}

}  // namespace

Picture BuiltInPicture(int which, int32_t width, int32_t height) {
    return which == 0 ? refhost::SunsetPicture(width, height) : refhost::TilePicture(width, height);
}

Picture NoisePicture(uint32_t seed, int32_t width, int32_t height) {
    refhost::TestSurface surface(width, height);
    surface.FillRandom(seed);
    return {width, height, surface.Snapshot()};
}

uint32_t Fnv1a(const uint8_t* data, size_t size) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}

TransitionRunner::TransitionRunner() {
    refhost::HostOptions options;
    options.logCalls = false;  // a long run would grow the log with every address asked
    host_ = std::make_unique<refhost::Host>(options);
}

TransitionRunner::~TransitionRunner() { End(); }

bool TransitionRunner::SetPicture(int which, Picture picture) {
    if (which < 0 || which > 1 || !Usable(picture)) return false;
    End();
    pictures_[which] = std::move(picture);
    return true;
}

bool TransitionRunner::Begin(int32_t effect, Rect rect) {
    End();
    const Picture& a = pictures_[0];
    const Picture& b = pictures_[1];
    if (a.rgb.empty() || b.rgb.empty()) return false;
    // Before the transition the screen shows the picture being left.
    screen_ = &refhost::SetStage(*host_, {a.width, a.height, &a}, {a.width, a.height, &a}, {b.width, b.height, &b});
    running_ = refhost::BeginOnStage(*host_, refhost::SameCorner(rect.x, rect.y, rect.width, rect.height), effect);
    return running_;
}

void TransitionRunner::Draw(int32_t progress, int32_t total) {
    if (running_) host_->Draw(progress, total);
}

void TransitionRunner::End() {
    if (!running_) return;
    host_->End();
    running_ = false;
}

int32_t TransitionRunner::ScreenWidth() const { return screen_ != nullptr ? screen_->PixelWidth() : 0; }
int32_t TransitionRunner::ScreenHeight() const { return screen_ != nullptr ? screen_->PixelHeight() : 0; }

uint32_t TransitionRunner::CaptureScreen() {
    if (screen_ == nullptr)
        pixels_.clear();
    else
        pixels_ = screen_->Snapshot();
    return Fnv1a(pixels_.data(), pixels_.size());
}

int32_t TransitionRunner::HostViolations() const {
    return host_->Violations() + (host_->SurfacesIntact() ? 0 : 1);
}

}  // namespace web
