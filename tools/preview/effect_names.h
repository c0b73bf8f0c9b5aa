// Display names of the effect numbers, from the module's own catalog. Which
// numbers exist is asked of the module (ProbeEffects); this only names them.
#pragma once

#include <cstdint>
#include <string>

#include "Veilshift/effect_catalog.h"

namespace preview {

inline std::string EffectName(int32_t effect) {
    if (const char* name = veilshift::EffectDisplayName(effect)) return name;
    return "effect " + std::to_string(effect);
}

}  // namespace preview
