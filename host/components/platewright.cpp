// Platewright: the engine's surface maker. CreateSurface answers a fenced
// TestSurface that deletes itself on Release and counts both here.
#include <new>

#include "host/component_control.h"
#include "host/test_surface.h"

using namespace veilshift;

namespace refhost {
namespace {

ComponentControl control;

// Larger requests are a plug-in fault, not something to allocate.
constexpr int32_t kMaxSide = 16384;

class Platewright final : public PlatewrightApi {
public:
    HostSurface* VS_THISCALL CreateSurface(int32_t width, int32_t height, int32_t bitsPerPixel) override {
        ++control.createSurfaceCalls;
        HostCall call{};
        call.op = HostOp::CreateSurface;
        call.target = this;
        call.argCount = 3;
        call.args[0] = width;
        call.args[1] = height;
        call.args[2] = bitsPerPixel;
        Record(control.log, call);
        if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || bitsPerPixel != 24) {
            RecordViolation(control.log);
            return nullptr;
        }
        if (control.createSurfaceFails) return nullptr;
        TestSurface* surface = nullptr;
        try {
            surface = new TestSurface(width, height, 0, control.log, &control);
        } catch (const std::exception&) {
            return nullptr;
        }
        ++control.surfacesCreated;
        return surface;
    }
};
Platewright platewright;

}  // namespace
}  // namespace refhost

#if !defined(REFHOST_WITHOUT_FACTORY)  // the fault of a component without its factory export
REFHOST_COMPONENT_EXPORT void* VS_CDECL CreateInterface(const Guid* id) {
    using namespace refhost;
    return AnswerFactory(control, id, kPlatewrightGuid, static_cast<PlatewrightApi*>(&platewright));
}
#endif

REFHOST_COMPONENT_EXPORT refhost::ComponentControl* VS_CDECL GetComponentControl() { return &refhost::control; }
REFHOST_LINKED_COMPONENT(Platewright, CreateInterface)
