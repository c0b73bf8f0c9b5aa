// Effects 40 and 41: crossfade into the work surface, the host moves it.
#include "axis_crossfade.h"

#include <algorithm>

#include "../effect_plugin.h"
#include "../frame_math.h"
#include "../host_connection.h"
#include "crossfade.h"

namespace veilshift {
namespace {

enum class Axis { X, Y };

void DrawAxisFrame(EffectPlugin& plugin, int32_t progress, int32_t total, Axis axis) {
    if (plugin.tempSurface == nullptr || ThePixmillApi == nullptr) return;
    const TransitionParams& p = plugin.params;
    // The whole work surface is the rectangle: blended at (0, 0) in both effects.
    // Unblended, it would show an old frame: the host is not asked to move it.
    // The host reads it at once: stored through the cache where it fits.
    if (!CrossfadeRect(plugin.tempSurface, 0, 0, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width,
                       p.height, FrameAlpha(progress, total), DestinationUse::AtOnce))
        return;
    if (axis == Axis::X) {
        ThePixmillApi->CopyAxisX(plugin.dst, p.dx, p.dy, plugin.tempSurface, 0, 0, p.width, p.height,
                                 AxisAmount(progress, total, p.width / 2));
    } else {
        ThePixmillApi->CopyAxisY(plugin.dst, p.dx, p.dy, plugin.tempSurface, 0, 0, p.width, p.height,
                                 AxisAmount(progress, total, p.height / 2));
    }
}

}  // namespace

int32_t AxisAmount(int32_t progress, int32_t total, int32_t half) {
    if (half < 0) return 0;
    const int32_t halfTotal = total / 2;
    if (halfTotal == 0) return 0;  // a one-frame transition stays where it starts
    // 64-bit products: the 32-bit ones wrap once half * progress passes 2^31.
    int64_t amount;
    if (progress < halfTotal)
        amount = int64_t{half} * progress / halfTotal;
    else
        amount = half - (int64_t{progress} - halfTotal) * half / halfTotal;
    // Within a frame's counters progress - halfTotal never exceeds halfTotal, so
    // this only restates the range.
    return static_cast<int32_t>(std::clamp<int64_t>(amount, 0, half));
}

void DrawAxisXFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    DrawAxisFrame(plugin, progress, total, Axis::X);
}

void DrawAxisYFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    DrawAxisFrame(plugin, progress, total, Axis::Y);
}

}  // namespace veilshift
