// What chooses a kernel's processor form: the start-up switches and the
// processor's features (FormSettings), and the rules that turn them into an
// arithmetic and an instruction set. The choosers that turn a decision into a
// form are declared beside each kernel's forms and all defined in
// form_dispatch.cpp, whose opening comment states the policy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "effect_catalog.h"
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
// can tell what the module runs by the module's own rules. The build says
// whether it has the x86 forms (VEILSHIFT_WIDE_FORMS, 1 or 0): a build for
// another processor has the portable forms only.
inline constexpr bool kX86Forms = VEILSHIFT_WIDE_FORMS != 0;

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
    // Off x86 the grouped arithmetic runs in portable code.
    if (vector != InstructionSet::Scalar || !kX86Forms) return {CrossfadeArithmetic::Grouped, vector};
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

// The name of the form a frame of `effect` over rows of `width` pixels runs:
// for the effects that use the crossfade's arithmetic "exact-" or "grouped-"
// and the instruction set ("grouped-mmx"), for the others the instruction set
// of their kernels ("avx2").
constexpr const char* EffectFormName(int32_t effect, int32_t width, const FormSettings& settings) {
    constexpr const char* kExact[] = {"exact-scalar", "exact-mmx", "exact-sse", "exact-sse2", "exact-avx2"};
    constexpr const char* kGrouped[] = {"grouped-scalar", "grouped-mmx", "grouped-sse", "grouped-sse2",
                                        "grouped-avx2"};
    if (!EffectUsesCrossfade(effect)) return InstructionSetName(DecideVectorSet(settings.features));
    const CrossfadeChoice choice = DecideCrossfade(width, settings);
    const auto set = static_cast<size_t>(choice.set);
    return choice.arithmetic == CrossfadeArithmetic::Exact ? kExact[set] : kGrouped[set];
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
