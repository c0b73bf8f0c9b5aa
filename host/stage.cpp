#include "host/stage.h"

#include <algorithm>
#include <cstring>

namespace refhost {
namespace {

TestSurface& Make(Host& host, int32_t number, const StageSurface& s) {
    TestSurface& surface = host.AddSurface(number, s.width, s.height, s.pitch);
    if (s.picture == nullptr) {
        if (s.noiseSeed != 0) surface.FillRandom(s.noiseSeed);
        return surface;
    }
    const Image& picture = *s.picture;
    const int32_t width = std::min(s.width, picture.width);
    for (int32_t y = 0; y < std::min(s.height, picture.height); ++y)
        std::memcpy(surface.At(0, y), picture.Pixel(0, y), static_cast<size_t>(width) * 3);
    return surface;
}

}  // namespace

TestSurface& SetStage(Host& host, const StageSurface& screen, const StageSurface& a, const StageSurface& b) {
    TestSurface& made = Make(host, kStageScreen, screen);
    Make(host, kStageSourceA, a);
    Make(host, kStageSourceB, b);
    return made;
}

}  // namespace refhost
