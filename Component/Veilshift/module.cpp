// The module's four exports and its global objects, in load order: the
// release of the module's state is registered first, so it runs after the
// plug-in object is gone.
#include "effect_plugin.h"
#include "module_state.h"

#if defined(_WIN32)
#define VS_EXPORT extern "C"
#else
#define VS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace veilshift {
namespace {

// Gives back the blend table, then the depth buffer.
struct ModuleStateRelease {
    ~ModuleStateRelease() { ReleaseModuleStorage(); }
};

// Constructed in this order, destroyed in reverse: plug-in, then the state's storage.
ModuleStateRelease moduleStateRelease;
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
