// Every kernel's chooser: the choice of processor form, made in one place.
//
// What decides: the user's start-up switches UseMMX and UseSSE (read at
// connection from "MMX" and "SSE"), and the processor's features, identity
// and caches (CPUID, read at connection). Every form of a kernel gives exactly the bytes of the
// arithmetic it stands for; the forms differ only in speed.
//
// The forms are chosen once per transition, when Begin prepares its effect
// (ChooseTransitionForms, below): the record goes with the transition, and
// the frames hand its forms down to the kernels. Nothing on a frame's path
// reads the switches or the features.
//
// The crossfade (effects 1, 40 and 41) has two arithmetics:
//   - the exact one, BlendByte for every byte: chosen when neither switch is
//     on, and for rows of fewer than 4 pixels (no whole group). It runs in
//     AVX2 code where the processor has AVX2, else SSE2, else scalar code.
//   - the grouped one (4-pixel groups with alpha >> 1, the rest BlendByte):
//     chosen when "MMX" allows it (UseMMX; UseSSE only with UseMMX). It runs
//     in AVX2 code, else SSE2, else the SSE form where UseSSE is on, else the
//     MMX form; on a processor other than x86, in portable code.
// The mosaic's row mix, patterns and copies, the ripple's passes (the fused
// order: transitions/ripple_forms.h) and the
// shatter's span filler have one arithmetic each: they run in AVX2 code, else
// SSE2, else scalar code, whatever the switches say (the ripple's AVX2 passes
// with gathers or without, below). The ripple's direct walk
// (frames without the transition's scratch, and frames whose columns move
// close together) runs in AVX2 code, else scalar code; where the destination
// may share bytes with a source it runs in scalar code on every processor
// (transitions/ripple.h). "MMX" = 0 selects the crossfade's exact arithmetic
// and nothing else; it changes no byte of any other effect, so it does not
// slow them down either. The span filler takes its scalar form wherever the
// texels meet the pixels being drawn. The shatter's row walk (the spans of
// each row of a triangle part) and the renderer's matrix products run in SSE2
// code where the processor has SSE2, else scalar code: in the 32-bit build
// that is x87 code under the single-precision guard, whose bits the SSE2
// forms give without the x87 unit.
//
// Gathers. The ripple's AVX2 passes read their pixels eight at a time with
// AVX2's 32-bit gather (vpgatherdd), whose cost differs by a factor of
// several between processors with the same feature bits. The ripple
// therefore has a second AVX2 form of its passes that reads each word with a
// load of its own into the vector's lanes (RippleFused_Avx2Loads, the same
// bytes), and the processor's identity decides between them
// (DecideFastGather in processor_features.h, decoded from CPUID and tested on
// answers recorded on real processors). Gathers count as slow on every AMD
// and Hygon processor; on Intel's Haswell and Broadwell, the cores fenced
// against gather data sampling (Skylake to Rocket Lake), the processors with
// cores of two kinds and those of efficient cores only; and on processors of
// makers this module does not know. Everywhere else the gather forms stay.
// The measurements and sources behind that list are in docs/arithmetic.md
// ("Gathers"). The direct walk's AVX2 form reads with loads on every
// processor; no other kernel gathers.
// A processor's forms never change while the module runs: nothing is timed.
//
// Streaming stores. Where the crossfade's and the mosaic's vector forms store
// a frame around the cache is decided from the processor's caches and from
// who reads the destination next (DecideStreaming in form_rules.h): from a
// quarter of the cache next to the core on (its L3 as CPUID reports it, per
// core complex on AMD; at most 64 MiB), but for the work surface of effects
// 40 and 41, which the host copies at once, only when it is larger than that
// cache. A 32 MiB L3 thus stores 1920x1080 frames through the cache (their
// three frames fit it) and 3840x2160 frames around it.
//
// SSE2 counts only as CPUID reports it; AVX2 only with OSXSAVE and an XCR0
// that saves the XMM and YMM registers (processor_features.h). A build for a
// processor other than x86 has the scalar forms only; this is the one file
// that asks whether the build has the others (VEILSHIFT_WIDE_FORMS). The rules
// themselves are in form_rules.h and startup_settings.h, where the tools read
// them too.
#include "form_rules.h"

#include "effect_catalog.h"
#include "module_state.h"
#include "transition_forms.h"

namespace veilshift {

CrossfadeFn ChooseCrossfade(int32_t width, const FormSettings& settings) {
    const CrossfadeChoice choice = DecideCrossfade(width, settings);
    const bool exact = choice.arithmetic == CrossfadeArithmetic::Exact;
    switch (choice.set) {
#if VEILSHIFT_WIDE_FORMS
        case InstructionSet::Avx2: return exact ? CrossfadeExact_Avx2 : CrossfadeGrouped_Avx2;
        case InstructionSet::Sse2: return exact ? CrossfadeExact_Sse2 : CrossfadeGrouped_Sse2;
        case InstructionSet::Sse: return CrossfadeGrouped_Sse;
        case InstructionSet::Mmx: return CrossfadeGrouped_Mmx;
#endif
        default: return exact ? CrossfadeExact_Scalar : CrossfadeGrouped_Scalar;
    }
}

MosaicForms ChooseMosaicForms(const ProcessorFeatures& features, bool stream) {
    static_cast<void>(stream);  // the scalar forms never stream
    switch (DecideVectorSet(features)) {
#if VEILSHIFT_WIDE_FORMS
        case InstructionSet::Avx2: return {MixRow_Avx2, MosaicPattern_Avx2, CopyRow_Avx2, FinishStreaming_Sse2, stream};
        case InstructionSet::Sse2:
            return {MixRow_Sse2, MosaicPattern_Scalar, CopyRow_Sse2, FinishStreaming_Sse2, stream};
#endif
        default: return {MixRow_Scalar, MosaicPattern_Scalar, CopyRow_Scalar, FinishStreaming_Scalar, false};
    }
}

RippleFn ChooseRipple(const ProcessorFeatures& features, bool destinationMeetsSource) {
    if (destinationMeetsSource) return Ripple_Scalar;  // one picture on every processor
#if VEILSHIFT_WIDE_FORMS
    if (DecideVectorSet(features) == InstructionSet::Avx2) return Ripple_Avx2;
#endif
    static_cast<void>(features);
    return Ripple_Scalar;  // the direct walk has no SSE2 form
}

RipplePassesFn ChooseRipplePasses(const ProcessorFeatures& features) {
    switch (DecideVectorSet(features)) {
#if VEILSHIFT_WIDE_FORMS
        case InstructionSet::Avx2: return DecideLoadsForGathers(features) ? RippleFused_Avx2Loads : RippleFused_Avx2;
        case InstructionSet::Sse2: return RippleFused_Sse2;
#endif
        default: return RippleFused_Scalar;
    }
}

RippleForms ChooseRippleForms(const ProcessorFeatures& features) {
    return {ChooseRipplePasses(features), ChooseRipple(features, false), ChooseRipple(features, true)};
}

SpanFillForms ChooseSpanFillForms(const ProcessorFeatures& features) {
    SpanFillForms forms;
#if VEILSHIFT_WIDE_FORMS
    const InstructionSet set = DecideVectorSet(features);
    if (set == InstructionSet::Avx2) forms.avx2 = FillSpans_Avx2;
    if (set != InstructionSet::Scalar) forms.sse2 = FillSpans_Sse2;
#endif
    static_cast<void>(features);
    return forms;
}

SpanFillFn SelectSpanFill(const SpanFillForms& forms, const SpanTexture& texture, bool texelsMeetPixels) {
    if (texelsMeetPixels) return FillSpans_Scalar;
    if (forms.avx2 != nullptr && SpanSlotFitsAvx2(texture)) return forms.avx2;
    if (forms.sse2 != nullptr && SpanSlotFitsSse2(texture)) return forms.sse2;
    return FillSpans_Scalar;
}

MatrixForms ChooseMatrixForms(const ProcessorFeatures& features) {
#if VEILSHIFT_WIDE_FORMS
    if (DecideVectorSet(features) != InstructionSet::Scalar) return {MultiplyMatrix_Sse2, TransformPoint_Sse2};
#endif
    static_cast<void>(features);
    return {single_precision::MultiplyMatrix, single_precision::TransformPoint};
}

SpanRowForms ChooseSpanRows(const ProcessorFeatures& features) {
#if VEILSHIFT_WIDE_FORMS
    if (DecideVectorSet(features) != InstructionSet::Scalar) return {WalkSpanRows_Sse2, StepSpanRows_Sse2};
#endif
    static_cast<void>(features);
    return {WalkSpanRows_Scalar, StepSpanRows_Scalar};
}

RendererForms ChooseRendererForms(const ProcessorFeatures& features) {
    RendererForms forms;
    forms.matrix = ChooseMatrixForms(features);
    forms.rows = ChooseSpanRows(features);
    forms.fill = ChooseSpanFillForms(features);
    return forms;
}

TransitionForms ChooseTransitionForms(const FormSettings& settings, int32_t effect, int32_t width, int32_t height) {
    const uint64_t frameBytes = uint64_t{static_cast<uint32_t>(width)} * 3u * static_cast<uint32_t>(height);
    // The host copies a work surface at once.
    const DestinationUse use = EffectUsesWorkSurface(effect) ? DestinationUse::AtOnce : DestinationUse::Later;
    const uint64_t streamingBytes = moduleState.hooks.streamingBytes;
    const bool stream = streamingBytes != kStreamingByCaches ? frameBytes >= streamingBytes
                                                             : DecideStreaming(frameBytes, settings.caches, use);
    TransitionForms forms;
    forms.crossfade = {ChooseCrossfade(width, settings), stream};
    forms.mosaic = ChooseMosaicForms(settings.features, stream);
    forms.ripple = ChooseRippleForms(settings.features);
    forms.renderer = ChooseRendererForms(settings.features);
    return forms;
}

TransitionForms ChooseTransitionForms(int32_t effect, int32_t width, int32_t height) {
    return ChooseTransitionForms(CurrentFormSettings(), effect, width, height);
}

}  // namespace veilshift
