// The effect numbers this module implements, their display names and what
// each needs of the module and the host: plain data, shared by the module's
// effect table (effect_table.cpp), its form dispatch and the tools that name
// effects or pick cases by them. Which effects a loaded module has is still
// asked of it.
#pragma once

#include <cstdint>
#include <iterator>

namespace veilshift {

struct EffectCatalogEntry {
    int32_t number;
    const char* name;
    bool crossfade;    // blends with the crossfade, whose arithmetic "MMX" and "SSE" choose
    bool workSurface;  // blends into a surface of its own that the host then copies at once
    bool readsTimer;   // asks the host's timer at Begin (the shatter seeds its pieces from it)
};

inline constexpr EffectCatalogEntry kEffectCatalog[] = {
    {1, "crossfade", true, false, false},
    {6, "mosaic crossfade", false, false, false},
    {31, "ripple crossfade", false, false, false},
    {34, "shatter", false, false, true},
    {40, "axis crossfade, horizontal", true, true, false},
    {41, "axis crossfade, vertical", true, true, false},
};

// Effect numbers run from 0 to one below this; the effect table has a slot for each.
inline constexpr int32_t kEffectCount = 42;

// The catalog's index of an effect number, or -1 for a number not listed. (An
// index, not a pointer: a pointer compared in a constant expression is not
// constant under the sanitizers' checks.)
constexpr int32_t CatalogIndex(int32_t effect) {
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(kEffectCatalog)); ++i)
        if (kEffectCatalog[i].number == effect) return i;
    return -1;
}

// The catalog's entry for an effect number, or null for a number not listed.
inline const EffectCatalogEntry* FindCatalogEntry(int32_t effect) {
    const int32_t i = CatalogIndex(effect);
    return i < 0 ? nullptr : &kEffectCatalog[i];
}

// The display name of an effect number, or null for a number not listed.
constexpr const char* EffectDisplayName(int32_t effect) {
    const int32_t i = CatalogIndex(effect);
    return i < 0 ? nullptr : kEffectCatalog[i].name;
}

// Whether the effect blends with the crossfade (false for a number not listed).
constexpr bool EffectUsesCrossfade(int32_t effect) {
    const int32_t i = CatalogIndex(effect);
    return i >= 0 && kEffectCatalog[i].crossfade;
}

// Whether the effect draws into a work surface (false for a number not listed).
constexpr bool EffectUsesWorkSurface(int32_t effect) {
    const int32_t i = CatalogIndex(effect);
    return i >= 0 && kEffectCatalog[i].workSurface;
}

// Whether the effect reads the host's timer (false for a number not listed).
constexpr bool EffectReadsTimer(int32_t effect) {
    const int32_t i = CatalogIndex(effect);
    return i >= 0 && kEffectCatalog[i].readsTimer;
}

}  // namespace veilshift
