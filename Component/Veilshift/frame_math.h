// Frame arithmetic shared by the two-dimensional effects.
#pragma once

#include <cstdint>

namespace veilshift {

// Weight of source B: progress * 255 / total, truncating, for 0 <= progress < total.
// Computed in 64 bits so that frame counts beyond 8,421,504 still give 0 to 254.
inline int32_t FrameAlpha(int32_t progress, int32_t total) {
    return static_cast<int32_t>(static_cast<int64_t>(progress) * 255 / total);
}

}  // namespace veilshift
