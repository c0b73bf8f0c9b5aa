#include <array>

#include "effect_plugin.h"
#include "transitions/axis_crossfade.h"
#include "transitions/crossfade.h"
#include "transitions/mosaic.h"
#include "transitions/ripple.h"
#include "transitions/shatter.h"

namespace veilshift {
namespace {
// Indexed by effect number; empty entries are unimplemented effects.
constexpr std::array<EffectHandler, kEffectCount> BuildEffectTable() {
    std::array<EffectHandler, kEffectCount> table{};
    table[1] = DrawCrossfadeFrame;
    table[6] = DrawMosaicFrame;
    table[31] = DrawRippleFrame;
    table[34] = DrawShatterFrame;
    table[40] = DrawAxisXFrame;
    table[41] = DrawAxisYFrame;
    return table;
}
constexpr std::array<EffectHandler, kEffectCount> kEffectTable = BuildEffectTable();
}  // namespace

EffectHandler FindEffectHandler(int32_t effect) {
    if (effect < 0 || effect >= kEffectCount) return nullptr;
    return kEffectTable[static_cast<size_t>(effect)];
}

}  // namespace veilshift
