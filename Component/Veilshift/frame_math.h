// Frame arithmetic shared by the two-dimensional effects.
//
// Every product here is taken in 64 bits: for frame counts up to 8,421,504 the
// results are those of 32-bit arithmetic, and larger counts (which would wrap
// in 32 bits) keep following the same formulas instead of wrapping.
#pragma once

#include <cstdint>

namespace veilshift {

// Weight of source B: progress * 255 / total, truncating, for 0 <= progress < total.
// Computed in 64 bits so that frame counts beyond 8,421,504 still give 0 to 254.
inline int32_t FrameAlpha(int32_t progress, int32_t total) {
    return static_cast<int32_t>(static_cast<int64_t>(progress) * 255 / total);
}

// Where a frame stands on the rise to mid-transition and the fall after it:
// q counts up from 0 while progress < halfTotal, then down from total - progress.
// For 0 <= progress < total, q lies in 0..halfTotal + 1 (the + 1 only with an
// odd total, in the frame progress = halfTotal).
struct RiseFall {
    int32_t q;
    int32_t halfTotal;  // total / 2; 0 only when total is 1
};

inline RiseFall FrameRiseFall(int32_t progress, int32_t total) {
    const int32_t halfTotal = total / 2;
    const int32_t q = progress < halfTotal ? progress : static_cast<int32_t>(int64_t{total} - progress);
    return {q, halfTotal};
}

// (scale * q) / halfTotal, truncating. A single-frame transition (halfTotal 0)
// counts as its own first frame: nothing has risen yet, so 0.
inline int64_t ScaleRiseFall(int64_t scale, RiseFall position) {
    if (position.halfTotal == 0) return 0;
    return scale * position.q / position.halfTotal;
}

}  // namespace veilshift
