// The processor forms a test can run: which ones this build and machine have,
// and a scope that selects one (through the module's feature mask and start-up
// switches) and puts everything back at its end, so that a test choosing a
// form leaves the next test what it found.
#pragma once

#include <vector>

#include "Veilshift/form_rules.h"
#include "Veilshift/render3d/renderer_forms.h"
#include "Veilshift/startup_settings.h"

namespace veilshift::test {

// A form as the vector features that select it; "scalar" everywhere.
struct ProcessorForm {
    const char* name;
    bool sse2, avx2;
    bool fastGather = true;
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

// The same, and for kernels with forms without gathers the AVX2 forms taken
// where gathers are slow ("avx2_loads"): on a processor whose gathers are slow
// "avx2" (fast gathers allowed) still runs the gather forms.
inline std::vector<ProcessorForm> AvailableFormsAndGathers() {
    std::vector<ProcessorForm> forms = AvailableForms();
    if (forms.back().avx2) forms.push_back({"avx2_loads", true, true, false});
    return forms;
}

class FormScope {
public:
    // Only saves: whatever the scope's code sets is undone at its end. The
    // processor's features are recorded as connection would, nothing masked.
    FormScope() : mmx_(UseMMX), sse_(UseSSE), settings_(CurrentFormSettings()) {
        RecordProcessorFeatures(DetectProcessorFeatures());
        MaskProcessorFeatures({true, true, true, true});
    }
    // Allows the vector features of one form; the MMX and SSE switches stay.
    explicit FormScope(const ProcessorForm& form) : FormScope() {
        RecordProcessorFeatures(WithFastGathers(DetectProcessorFeatures()));
        MaskProcessorFeatures({true, true, form.sse2, form.avx2, form.fastGather});
    }
    // Sets the switches and allows the given vector features.
    FormScope(bool mmx, bool sse, bool sse2 = false, bool avx2 = false) : FormScope() {
        UseMMX = mmx;
        UseSSE = sse;
        MaskProcessorFeatures({true, true, sse2, avx2});
    }
    ~FormScope() {
        UseMMX = mmx_;
        UseSSE = sse_;
        RecordProcessorFeatures(recorded_);
        MaskProcessorFeatures({true, true, true, true});
    }
    FormScope(const FormScope&) = delete;
    FormScope& operator=(const FormScope&) = delete;

private:
    // As recorded, but with gathers taken as fast: the mask then decides
    // between the forms with gathers and those without.
    static ProcessorFeatures WithFastGathers(ProcessorFeatures features) {
        features.fastGather = true;
        return features;
    }
    bool mmx_, sse_;
    FormSettings settings_;
    ProcessorFeatures recorded_ = settings_.features;
};

// The renderer's forms by the settings in force (a FormScope's): a renderer
// a test makes runs the forms it is handed, the scalar ones by default.
inline RendererForms RendererFormsNow() { return ChooseRendererForms(CurrentFormSettings().features); }

}  // namespace veilshift::test
