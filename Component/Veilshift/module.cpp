// The module's four exports and its global state, in load order: the unload-time
// releases are registered first, so they run after the plug-in object is gone.
#include "effect_plugin.h"
#include "mul_table.h"
#include "render3d/depth_buffer.h"

#if defined(_WIN32)
#define VS_EXPORT extern "C"
#else
#define VS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace veilshift {
namespace {

struct DepthBufferRelease {
    ~DepthBufferRelease() { depthBuffer.Free(); }
};
struct MulTableRelease {
    ~MulTableRelease() { ReleaseMulTable(); }
};

// Constructed in this order, destroyed in reverse: plug-in, MulTable, depth buffer.
DepthBufferRelease depthBufferRelease;
MulTableRelease mulTableRelease;
EffectPlugin effectPlugin;

}  // namespace
}  // namespace veilshift

using veilshift::effectPlugin;

VS_EXPORT veilshift::PluginInterface* VS_CDECL CreateInterface(const veilshift::Guid* id) {
    if (id == nullptr || !veilshift::SameGuid(*id, veilshift::kPluginGuid)) return nullptr;
    return &effectPlugin;
}

VS_EXPORT bool VS_CDECL Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay,
                              int32_t srcB, int32_t bx, int32_t by, int32_t width, int32_t height,
                              int32_t effect) {
    return effectPlugin.Begin(dst, dx, dy, srcA, ax, ay, srcB, bx, by, width, height, effect);
}

VS_EXPORT void VS_CDECL Draw(int32_t progress, int32_t total) { effectPlugin.Draw(progress, total); }

VS_EXPORT void VS_CDECL End() { effectPlugin.End(); }
