// Every processor form a transition's frames call, chosen once when the
// transition begins (form_dispatch.cpp) and kept with it: the frame drawers
// hand these down to the kernels, and nothing on a frame's path reads the
// start-up switches or the processor's features again.
#pragma once

#include <cstdint>

#include "form_rules.h"
#include "render3d/renderer_forms.h"
#include "transitions/crossfade.h"
#include "transitions/mosaic_forms.h"
#include "transitions/ripple_forms.h"

namespace veilshift {

struct TransitionForms {
    CrossfadeForm crossfade;  // effects 1, 40 and 41
    MosaicForms mosaic;       // effect 6
    RippleForms ripple;       // effect 31
    RendererForms renderer;   // effect 34
};

// The forms for a transition of `effect` over a width x height rectangle
// (both at least 1), by the given settings.
TransitionForms ChooseTransitionForms(const FormSettings& settings, int32_t effect, int32_t width, int32_t height);
// The same by the module's settings: the switches and the features recorded
// at connection.
TransitionForms ChooseTransitionForms(int32_t effect, int32_t width, int32_t height);

}  // namespace veilshift
