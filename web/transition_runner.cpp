#include "transition_runner.h"

#include <cstring>
#include <utility>

#include "host/reference_host.h"
#include "pictures.h"

namespace web {
namespace {

// The host's numbers for the screen and the two sources.
constexpr int32_t kScreen = 1;
constexpr int32_t kSourceA = 2;
constexpr int32_t kSourceB = 3;

void CopyInto(const Picture& picture, refhost::TestSurface& surface) {
    for (int32_t y = 0; y < picture.height; ++y)
        std::memcpy(surface.At(0, y), picture.rgb.data() + static_cast<size_t>(y) * picture.width * 3,
                    static_cast<size_t>(picture.width) * 3);
}

bool Usable(const Picture& picture) {
    return PictureSizeFits(picture.width, picture.height) &&
           picture.rgb.size() == static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3;
}

}  // namespace

Picture BuiltInPicture(int which, int32_t width, int32_t height) {
    preview::Image image = which == 0 ? preview::SunsetPicture(width, height) : preview::TilePicture(width, height);
    return {image.width, image.height, std::move(image.rgb)};
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
    screen_ = &host_->AddSurface(kScreen, a.width, a.height);
    CopyInto(a, *screen_);  // before the transition the screen shows the picture being left
    CopyInto(a, host_->AddSurface(kSourceA, a.width, a.height));
    CopyInto(b, host_->AddSurface(kSourceB, b.width, b.height));
    running_ = host_->Begin(kScreen, rect.x, rect.y, kSourceA, rect.x, rect.y, kSourceB, rect.x, rect.y, rect.width,
                            rect.height, effect);
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
