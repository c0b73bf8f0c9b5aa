// The effect numbers this module implements and their display names: plain
// data, shared by the module's effect table (effect_table.cpp) and the tools
// that name effects. Which effects a loaded module has is still asked of it.
#pragma once

#include <cstdint>

namespace veilshift {

struct EffectCatalogEntry {
    int32_t number;
    const char* name;
};

inline constexpr EffectCatalogEntry kEffectCatalog[] = {
    {1, "crossfade"},
    {6, "mosaic crossfade"},
    {31, "ripple crossfade"},
    {34, "shatter"},
    {40, "axis crossfade, horizontal"},
    {41, "axis crossfade, vertical"},
};

// The display name of an effect number, or null for a number not listed.
constexpr const char* EffectDisplayName(int32_t effect) {
    for (const EffectCatalogEntry& entry : kEffectCatalog)
        if (entry.number == effect) return entry.name;
    return nullptr;
}

}  // namespace veilshift
