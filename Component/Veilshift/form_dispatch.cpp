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
// Gathers. The ripple's AVX2 passes read their pixels eight at a time with AVX2's 32-bit gather (vpgatherdd), whose cost
// differs by a factor of several between processors with the same feature
// bits: uops.info measures the eight-lane form at 5 micro-ops and one per 5
// cycles on Skylake, against 39 micro-ops and one per 8 cycles on Zen 3 (AMD
// runs it in microcode on every Zen core so far), and Intel's microcode
// against gather data sampling (2023, on by default) fences every gather on
// the cores from Skylake to Ice Lake, Tiger Lake and Rocket Lake, which
// Intel's own analysis says rendering software may feel. The ripple
// therefore has a second AVX2 form of its passes that reads each word with a
// load of its own into the vector's lanes (RippleFused_Avx2Loads, the same
// bytes), and the processor's identity decides between them
// (DecideFastGather in processor_features.h, decoded from CPUID and tested on
// answers recorded on real processors). Gathers count as slow on:
//   - every AMD and Hygon processor: Zen 1 to Zen 4 by the costs above and by
//     the sources below, and Zen 5 (family 0x1A) by measurement: on an EPYC
//     of family 0x1A model 2 the passes without gathers took 0.55 to 0.75 of
//     the time of those with them at every size;
//   - Intel's Haswell and Broadwell (the first gathers, many micro-ops each),
//     the cores fenced against gather data sampling (Skylake to Rocket Lake),
//     the processors with cores of two kinds (leaf 7 EDX bit 15: a thread may
//     run on the efficient cores) and those of efficient cores only;
//   - processors of makers this module does not know.
// Everywhere else (Sapphire Rapids and later server cores, later families)
// the gather forms stay: on the Xeon the published figures come from they ran
// 1.3 to 1.5 times as fast as the passes without them in SSE2 code. The same processors are marked
// in FFmpeg's CPU detection (libavutil/x86/cpu.c, AV_CPU_FLAG_SLOW_GATHER:
// AMD families up to 0x19, that is Zen 3 and Zen 4 included, and Intel's
// family 6 models before Sapphire Rapids without Ice Lake's AVX-512 set; its
// scaler then takes kernels without gathers) and in GCC's tuning
// (x86-tune.def: no gathers for Zen 1, Zen 2, Zen 4, Alder Lake and the
// efficient cores); astc-encoder measured loads faster than gathers on Zen 2,
// Zen 4, Redwood Cove and Crestmont and slower on Skylake-X. The direct walk's
// AVX2 form reads with loads on every processor; no other kernel gathers.
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

#include "startup_settings.h"
#include "transition_forms.h"

namespace veilshift {

namespace {
ProcessorFeatures recordedFeatures;  // at connection
CacheSizes recordedCaches;
ProcessorFeatures allowedFeatures{true, true, true, true};
}  // namespace

uint64_t StreamingBytesOverride = kStreamingByCaches;

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
    // The host copies the work surface of effects 40 and 41 at once.
    const DestinationUse use = effect == 40 || effect == 41 ? DestinationUse::AtOnce : DestinationUse::Later;
    const bool stream = StreamingBytesOverride != kStreamingByCaches ? frameBytes >= StreamingBytesOverride
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

FormSettings CurrentFormSettings() {
    FormSettings settings;
    settings.useMmx = UseMMX;
    settings.useSse = UseSSE;
    settings.features.mmx = recordedFeatures.mmx && allowedFeatures.mmx;
    settings.features.sse = recordedFeatures.sse && allowedFeatures.sse;
    settings.features.sse2 = recordedFeatures.sse2 && allowedFeatures.sse2;
    settings.features.avx2 = recordedFeatures.avx2 && allowedFeatures.avx2;
    settings.features.fastGather = recordedFeatures.fastGather && allowedFeatures.fastGather;
    settings.caches = recordedCaches;
    return settings;
}

void RecordProcessorFeatures(const ProcessorFeatures& features) { recordedFeatures = features; }
void RecordProcessorCaches(const CacheSizes& caches) { recordedCaches = caches; }
ProcessorFeatures RecordedProcessorFeatures() { return recordedFeatures; }
void MaskProcessorFeatures(const ProcessorFeatures& allowed) { allowedFeatures = allowed; }
ProcessorFeatures AllowedProcessorFeatures() { return allowedFeatures; }

}  // namespace veilshift
