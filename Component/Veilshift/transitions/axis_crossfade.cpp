// The axis amount of effects 40 and 41.
#include "axis_crossfade.h"

#include <algorithm>

namespace veilshift {

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

}  // namespace veilshift
