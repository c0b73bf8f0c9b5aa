// Every kernel's choice of processor form, made in one place.
//
// What decides: the user's start-up switches UseMMX and UseSSE (read at
// connection from "MMX" and "SSE"), and the processor's features (CPUID, read
// at connection). Every form of a kernel gives exactly the bytes of the
// arithmetic it stands for; the forms differ only in speed.
//
// The crossfade (effects 1, 40 and 41) has two arithmetics:
//   - the exact one, BlendByte for every byte: chosen when neither switch is
//     on, and for rows of fewer than 4 pixels (no whole group). It runs in
//     AVX2 code where the processor has AVX2, else SSE2, else scalar code.
//   - the grouped one (4-pixel groups with alpha >> 1, the rest BlendByte):
//     chosen when "MMX" allows it (UseMMX; UseSSE only with UseMMX). It runs
//     in AVX2 code, else SSE2, else the SSE form where UseSSE is on, else the
//     MMX form.
// The mosaic's row mix, patterns and copies, the ripple's two passes and the
// shatter's span filler have one arithmetic each: they run in AVX2 code, else
// SSE2, else scalar code, whatever the switches say. The ripple's direct walk
// (frames without the transition's scratch, and frames whose columns move
// close together) runs in AVX2 code, else scalar code; where the destination
// may share bytes with a source it runs in scalar code on every processor
// (transitions/ripple.h). "MMX" = 0 selects the crossfade's exact arithmetic
// and nothing else; it changes no byte of any other effect, so it does not
// slow them down either. The span filler takes its scalar form wherever the
// texels meet the pixels being drawn.
//
// SSE2 counts only as CPUID reports it; AVX2 only with OSXSAVE and an XCR0
// that saves the XMM and YMM registers (processor_features.h). A build for a
// processor other than x86 has the scalar forms only.
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

// The choosers that turn these decisions into forms are declared beside each
// kernel's forms (ChooseCrossfade, ChooseMosaicForms, ChooseRipple,
// ChooseSpanFill) and all defined in form_dispatch.cpp.

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
