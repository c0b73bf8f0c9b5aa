// Every implemented effect, described once: its name, its frame drawer, and
// what its sessions make ready at Begin and give back at their end.
#include <array>

#include "../effect_catalog.h"
#include "effects.h"

namespace veilshift {
namespace {

using PrepareFn = bool (*)(EffectPlugin&);
using ReleaseFn = void (*)(EffectPlugin&);

// The table as it is built, with a note of which numbers were described, so
// that the table can be held against the catalog while compiling (by number:
// a function's address is no constant to compare in every build).
struct BuiltTable {
    std::array<EffectDescription, kEffectCount> entries{};
    std::array<bool, kEffectCount> described{};
};

constexpr void Describe(BuiltTable& table, int32_t effect, EffectHandler draw, PrepareFn prepare = nullptr,
                        ReleaseFn release = nullptr) {
    table.entries[static_cast<size_t>(effect)] = {EffectDisplayName(effect), draw, prepare, release};
    table.described[static_cast<size_t>(effect)] = true;
}

constexpr BuiltTable BuildEffectTable() {
    BuiltTable table;
    Describe(table, 1, DrawCrossfadeFrame);
    Describe(table, 6, DrawMosaicFrame);
    Describe(table, 31, DrawRippleFrame, PrepareRipple, ReleaseRipple);
    Describe(table, 34, DrawShatterFrame, PrepareShatter, ReleaseShatter);
    Describe(table, 40, DrawAxisXFrame, PrepareWorkSurface, ReleaseWorkSurface);
    Describe(table, 41, DrawAxisYFrame, PrepareWorkSurface, ReleaseWorkSurface);
    return table;
}
constexpr BuiltTable kBuiltTable = BuildEffectTable();

// The table and the catalog list the same effects: every described number has
// a name and every name a description.
constexpr bool TableMatchesCatalog() {
    for (const EffectCatalogEntry& entry : kEffectCatalog)
        if (entry.number < 0 || entry.number >= kEffectCount) return false;
    for (int32_t effect = 0; effect < kEffectCount; ++effect) {
        bool named = false;
        for (const EffectCatalogEntry& entry : kEffectCatalog) named = named || entry.number == effect;
        if (named != kBuiltTable.described[static_cast<size_t>(effect)]) return false;
    }
    return true;
}
static_assert(TableMatchesCatalog(), "an effect without a catalog name, or a catalog name without a drawer");

// Indexed by effect number; entries without a drawer are unimplemented effects.
constexpr std::array<EffectDescription, kEffectCount> kEffectTable = kBuiltTable.entries;

}  // namespace

const EffectDescription* FindEffect(int32_t effect) {
    if (effect < 0 || effect >= kEffectCount) return nullptr;
    const EffectDescription& description = kEffectTable[static_cast<size_t>(effect)];
    return description.draw != nullptr ? &description : nullptr;
}

}  // namespace veilshift
