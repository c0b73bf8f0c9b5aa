#include "effect_plugin.h"
#include "transitions/crossfade.h"

namespace veilshift {
namespace {
// Indexed by effect number; empty entries are unimplemented effects.
constexpr EffectHandler kEffectTable[kEffectCount] = {
    /* 0 */ nullptr,
    /* 1 */ DrawCrossfadeFrame,
};
}  // namespace

EffectHandler FindEffectHandler(int32_t effect) {
    if (effect < 0 || effect >= kEffectCount) return nullptr;
    return kEffectTable[effect];
}

}  // namespace veilshift
