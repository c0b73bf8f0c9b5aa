// The effect numbers this module implements and their display names: plain
// data, shared by the module's effect table (effect_table.cpp) and the tools
// that name effects. Which effects a loaded module has is still asked of it.
#pragma once

#include <cstdint>

namespace veilshift {

struct EffectCatalogEntry {
    int32_t number;
    const char* name;
    bool crossfade;  // blends with the crossfade, whose arithmetic "MMX" and "SSE" choose
};

inline constexpr EffectCatalogEntry kEffectCatalog[] = {
    {1, "crossfade", true},
    {6, "mosaic crossfade", false},
    {31, "ripple crossfade", false},
    {34, "shatter", false},
    {40, "axis crossfade, horizontal", true},
    {41, "axis crossfade, vertical", true},
};

// The display name of an effect number, or null for a number not listed.
constexpr const char* EffectDisplayName(int32_t effect) {
    for (const EffectCatalogEntry& entry : kEffectCatalog)
        if (entry.number == effect) return entry.name;
    return nullptr;
}

// Whether the effect blends with the crossfade (false for a number not listed).
constexpr bool EffectUsesCrossfade(int32_t effect) {
    for (const EffectCatalogEntry& entry : kEffectCatalog)
        if (entry.number == effect) return entry.crossfade;
    return false;
}

}  // namespace veilshift
