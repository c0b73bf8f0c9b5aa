// The module-wide flags that choose the processor forms: which forms this
// build and machine can run, and a scope that saves every flag and puts it
// back, so that a test choosing a form leaves the next test what it found.
#pragma once

#include <vector>

#include "Veilshift/startup_settings.h"

namespace veilshift::test {

// A form as the flags that select it; "scalar" everywhere.
struct ProcessorForm {
    const char* name;
    bool sse2, avx2;
};

inline std::vector<ProcessorForm> AvailableForms() {
    std::vector<ProcessorForm> forms = {{"scalar", false, false}};
#if VEILSHIFT_WIDE_FORMS
    const WideFeatures wide = DetectWideFeatures();
    if (wide.sse2) forms.push_back({"sse2", true, false});
    if (wide.avx2) forms.push_back({"avx2", true, true});
#endif
    return forms;
}

class FormScope {
public:
    // Only saves: whatever the scope's code sets is undone at its end.
    FormScope()
        : mmx_(UseMMX), sse_(UseSSE), sse2_(UseSSE2), avx2_(UseAVX2), scalarAvx2_(ScalarUsesAVX2) {}
    // Selects a wider form, as connection would; the MMX and SSE switches stay.
    explicit FormScope(const ProcessorForm& form) : FormScope() {
        UseSSE2 = form.sse2;
        UseAVX2 = form.avx2;
    }
    // Sets the switches and the wider forms.
    FormScope(bool mmx, bool sse, bool sse2 = false, bool avx2 = false) : FormScope() {
        UseMMX = mmx;
        UseSSE = sse;
        UseSSE2 = sse2;
        UseAVX2 = avx2;
    }
    ~FormScope() {
        UseMMX = mmx_;
        UseSSE = sse_;
        UseSSE2 = sse2_;
        UseAVX2 = avx2_;
        ScalarUsesAVX2 = scalarAvx2_;
    }
    FormScope(const FormScope&) = delete;
    FormScope& operator=(const FormScope&) = delete;

private:
    bool mmx_, sse_, sse2_, avx2_, scalarAvx2_;
};

}  // namespace veilshift::test
