// Effects 40 and 41: the crossfade into the transition's work surface, which
// the host's drawing component then moves into the destination along one axis.
#include "../frame_math.h"
#include "../module_state.h"
#include "../transitions/axis_crossfade.h"
#include "../transitions/crossfade.h"
#include "effects.h"

namespace veilshift {
namespace {

enum class Axis { X, Y };

void DrawAxisFrame(EffectPlugin& plugin, int32_t progress, int32_t total, Axis axis) {
    if (plugin.tempSurface == nullptr || moduleState.pixmill == nullptr) return;
    const TransitionParams& p = plugin.params;
    // The whole work surface is the rectangle: blended at (0, 0) in both effects.
    // Unblended, it would show an old frame: the host is not asked to move it.
    if (!CrossfadeRect(plugin.tempSurface, 0, 0, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width,
                       p.height, FrameAlpha(progress, total), plugin.forms.crossfade))
        return;
    if (axis == Axis::X) {
        moduleState.pixmill->CopyAxisX(plugin.dst, p.dx, p.dy, plugin.tempSurface, 0, 0, p.width, p.height,
                                 AxisAmount(progress, total, p.width / 2));
    } else {
        moduleState.pixmill->CopyAxisY(plugin.dst, p.dx, p.dy, plugin.tempSurface, 0, 0, p.width, p.height,
                                 AxisAmount(progress, total, p.height / 2));
    }
}

}  // namespace

bool PrepareWorkSurface(EffectPlugin& plugin) {
    if (moduleState.platewright == nullptr) return false;
    plugin.tempSurface = moduleState.platewright->CreateSurface(plugin.params.width, plugin.params.height, 24);
    return plugin.tempSurface != nullptr;
}

void ReleaseWorkSurface(EffectPlugin& plugin) {
    if (plugin.tempSurface == nullptr) return;
    plugin.tempSurface->Release();
    plugin.tempSurface = nullptr;
}

void DrawAxisXFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    DrawAxisFrame(plugin, progress, total, Axis::X);
}

void DrawAxisYFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    DrawAxisFrame(plugin, progress, total, Axis::Y);
}

}  // namespace veilshift
