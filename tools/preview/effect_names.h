// Display names of the effect numbers. Which numbers exist is asked of the
// module (ProbeEffects); this only names them.
#pragma once

#include <cstdint>
#include <string>

namespace preview {

inline std::string EffectName(int32_t effect) {
    switch (effect) {
        case 1: return "crossfade";
        case 6: return "mosaic crossfade";
        case 31: return "ripple crossfade";
        case 34: return "shatter";
        case 40: return "axis crossfade, horizontal";
        case 41: return "axis crossfade, vertical";
        default: return "effect " + std::to_string(effect);
    }
}

}  // namespace preview
