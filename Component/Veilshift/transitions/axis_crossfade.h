// Effects 40 and 41: the crossfade blended into the session's work surface,
// which the host's drawing component then copies into the destination with an
// amount along one axis (40: CopyAxisX, 41: CopyAxisY).
#pragma once

#include <cstdint>

namespace veilshift {

class EffectPlugin;

// The frame's axis amount for an axis of which `half` is half the extent:
// (half * progress) / halfTotal while progress < halfTotal, then
// half - ((progress - halfTotal) * half) / halfTotal. Rising and falling sides
// truncate at different places, so they are not mirror images. A one-frame
// transition and a negative half give 0; otherwise the result lies in 0..half,
// whatever the counters (a frame's are 0 <= progress < total).
int32_t AxisAmount(int32_t progress, int32_t total, int32_t half);

// Blend into the work surface at (0, 0), then hand it to the host with the amount.
// Without a work surface (or a drawing component), or when a surface answers
// no address, the frame is not drawn.
void DrawAxisXFrame(EffectPlugin& plugin, int32_t progress, int32_t total);
void DrawAxisYFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

}  // namespace veilshift
