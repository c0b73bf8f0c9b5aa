// The processor forms a test can run: which ones this build and machine have,
// each as the vector features that select it. A test selects one with the
// module's forms scope (host/module_forms.h), which puts everything back at
// its end, so that a test choosing a form leaves the next test what
// it found.
#pragma once

#include <vector>

#include "Veilshift/form_rules.h"
#include "Veilshift/module_state.h"
#include "Veilshift/render3d/renderer_forms.h"
#include "Veilshift/startup_settings.h"
#include "host/module_forms.h"

namespace veilshift::test {

// A form as the vector features that select it; "scalar" everywhere.
struct ProcessorForm {
    const char* name;
    bool sse2, avx2;
    refhost::Gathers gathers = refhost::Gathers::AsDetected;
    // The features a scope allows for this form.
    ProcessorFeatures Allowed() const { return {true, true, sse2, avx2}; }
};

inline std::vector<ProcessorForm> AvailableForms() {
    std::vector<ProcessorForm> forms = {{"scalar", false, false}};
#if VEILSHIFT_WIDE_FORMS
    const ProcessorFeatures present = DetectProcessorFeatures();
    if (present.sse2) forms.push_back({"sse2", true, false});
    if (present.avx2) forms.push_back({"avx2", true, true});
#endif
    return forms;
}

// The same, and for kernels with forms with gathers and without (the ripple's
// passes) the AVX2 form this processor does not choose by itself: the one with
// gathers where they are slow ("avx2_gathers"), else the one without
// ("avx2_loads"). A scope takes the form's `gathers` beside its features.
inline std::vector<ProcessorForm> AvailableFormsAndGathers() {
    std::vector<ProcessorForm> forms = AvailableForms();
    if (!forms.back().avx2) return forms;
    if (DetectProcessorFeatures().fastGather)
        forms.push_back({"avx2_loads", true, true, refhost::Gathers::Avoided});
    else
        forms.push_back({"avx2_gathers", true, true, refhost::Gathers::Used});
    return forms;
}

// The renderer's forms by the settings in force (a scope's): a renderer
// a test makes runs the forms it is handed, the scalar ones by default.
inline RendererForms RendererFormsNow() { return ChooseRendererForms(CurrentFormSettings().features); }

}  // namespace veilshift::test
