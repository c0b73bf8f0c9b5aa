// The amount by which the host's drawing component moves the work surface of
// effects 40 and 41 along one axis (40: CopyAxisX, 41: CopyAxisY).
#pragma once

#include <cstdint>

namespace veilshift {

// The frame's axis amount for an axis of which `half` is half the extent:
// (half * progress) / halfTotal while progress < halfTotal, then
// half - ((progress - halfTotal) * half) / halfTotal. Rising and falling sides
// truncate at different places, so they are not mirror images. A one-frame
// transition and a negative half give 0; otherwise the result lies in 0..half,
// whatever the counters (a frame's are 0 <= progress < total).
int32_t AxisAmount(int32_t progress, int32_t total, int32_t half);

}  // namespace veilshift
