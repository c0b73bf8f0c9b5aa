// What chooses a kernel's processor form: the start-up switches and the
// processor's features (FormSettings), and the rules that turn them into an
// arithmetic and an instruction set. The choosers that turn a decision into a
// form are declared beside each kernel's forms and all defined in
// form_dispatch.cpp, whose opening comment states the policy.
#pragma once

#include <cstdint>

#include "processor_features.h"

namespace veilshift {

// The instruction set a form's code is written in.
enum class InstructionSet : uint8_t { Scalar, Mmx, Sse, Sse2, Avx2 };

// The crossfade's arithmetic (see above).
enum class CrossfadeArithmetic : uint8_t { Exact, Grouped };

struct FormSettings {
    bool useMmx = false;
    bool useSse = false;
    ProcessorFeatures features;
};

struct CrossfadeChoice {
    CrossfadeArithmetic arithmetic;
    InstructionSet set;
};

// The decisions, pure functions of what decides them. Inline, so that a tool
// can tell what the module runs by the module's own rules.
#if VEILSHIFT_WIDE_FORMS
inline constexpr bool kX86Forms = true;
#else
inline constexpr bool kX86Forms = false;  // a build for another processor has no vector form
#endif

// The mosaic's, the ripple's and the span filler's code; the crossfade's too.
constexpr InstructionSet DecideVectorSet(const ProcessorFeatures& features) {
    if (kX86Forms && features.avx2) return InstructionSet::Avx2;
    if (kX86Forms && features.sse2) return InstructionSet::Sse2;
    return InstructionSet::Scalar;
}

constexpr CrossfadeChoice DecideCrossfade(int32_t width, const FormSettings& settings) {
    const InstructionSet vector = DecideVectorSet(settings.features);
    // Rows without a whole group of 4 pixels, and both switches off: the exact bytes.
    if (width < 4 || (!settings.useMmx && !settings.useSse)) return {CrossfadeArithmetic::Exact, vector};
    if (vector != InstructionSet::Scalar) return {CrossfadeArithmetic::Grouped, vector};
    return {CrossfadeArithmetic::Grouped, settings.useSse ? InstructionSet::Sse : InstructionSet::Mmx};
}

constexpr const char* InstructionSetName(InstructionSet set) {
    switch (set) {
        case InstructionSet::Mmx: return "mmx";
        case InstructionSet::Sse: return "sse";
        case InstructionSet::Sse2: return "sse2";
        case InstructionSet::Avx2: return "avx2";
        case InstructionSet::Scalar: break;
    }
    return "scalar";
}


// The module's settings now: the switches and the features recorded at
// connection (none before it), less any the test hook masks.
FormSettings CurrentFormSettings();
// Called once at connection with what CPUID answered.
void RecordProcessorFeatures(const ProcessorFeatures& features);

// Test hook, in the manner of a CPU-flag mask: features cleared here are
// treated as absent, so each form can be run in turn on one machine. Not
// exported; no host can reach it. All set (nothing masked) at load.
void MaskProcessorFeatures(const ProcessorFeatures& allowed);

}  // namespace veilshift
