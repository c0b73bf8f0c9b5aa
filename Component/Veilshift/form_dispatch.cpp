// Every kernel's chooser: the choice of processor form, made in one place.
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
// texels meet the pixels being drawn. The shatter's row walk (the spans of
// each row of a triangle part) and the renderer's matrix products run in SSE2
// code where the processor has SSE2, else scalar code: in the 32-bit build
// that is x87 code under the single-precision guard, whose bits the SSE2
// forms give without the x87 unit.
//
// SSE2 counts only as CPUID reports it; AVX2 only with OSXSAVE and an XCR0
// that saves the XMM and YMM registers (processor_features.h). A build for a
// processor other than x86 has the scalar forms only. The rules themselves
// are in form_rules.h, where the tools read them too.
#include "form_rules.h"

#include "render3d/matrix_forms.h"
#include "render3d/span_fill.h"
#include "render3d/span_rows.h"
#include "startup_settings.h"
#include "transitions/crossfade.h"
#include "transitions/mix_rows.h"
#include "transitions/mosaic_forms.h"
#include "transitions/ripple_forms.h"

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
        default: return CrossfadeExact_Scalar;
    }
}

MosaicForms ChooseMosaicForms(const ProcessorFeatures& features) {
    switch (DecideVectorSet(features)) {
#if VEILSHIFT_WIDE_FORMS
        case InstructionSet::Avx2: return {MixRow_Avx2, MosaicPattern_Avx2, CopyRow_Avx2, FinishStreaming_Sse2, true};
        case InstructionSet::Sse2:
            return {MixRow_Sse2, MosaicPattern_Scalar, CopyRow_Sse2, FinishStreaming_Sse2, true};
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
        case InstructionSet::Avx2: return DecideLoadsForGathers(features) ? RipplePasses_Avx2Loads : RipplePasses_Avx2;
        case InstructionSet::Sse2: return RipplePasses_Sse2;
#endif
        default: return RipplePasses_Scalar;
    }
}

SpanFillFn ChooseSpanFill(const SpanTexture& texture, bool texelsMeetPixels, const ProcessorFeatures& features) {
    if (texelsMeetPixels) return FillSpans_Scalar;
#if VEILSHIFT_WIDE_FORMS
    const InstructionSet set = DecideVectorSet(features);
    if (set == InstructionSet::Avx2 && SpanSlotFitsAvx2(texture)) return FillSpans_Avx2;
    if (set != InstructionSet::Scalar && SpanSlotFitsSse2(texture)) return FillSpans_Sse2;
#else
    static_cast<void>(texture);
    static_cast<void>(features);
#endif
    return FillSpans_Scalar;
}

MatrixForms ChooseMatrixForms(const ProcessorFeatures& features) {
#if VEILSHIFT_WIDE_FORMS
    if (DecideVectorSet(features) != InstructionSet::Scalar) return {MultiplyMatrix_Sse2, TransformPoint_Sse2};
#endif
    static_cast<void>(features);
    return {detail::MultiplyMatrixUnguarded, detail::TransformPointUnguarded};
}

SpanRowForms ChooseSpanRows(const ProcessorFeatures& features) {
#if VEILSHIFT_WIDE_FORMS
    if (DecideVectorSet(features) != InstructionSet::Scalar) return {WalkSpanRows_Sse2, StepSpanRows_Sse2};
#endif
    static_cast<void>(features);
    return {WalkSpanRows_Scalar, StepSpanRows_Scalar};
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

bool StreamFrame(uint64_t destinationBytes, DestinationUse use) {
    if (StreamingBytesOverride != kStreamingByCaches) return destinationBytes >= StreamingBytesOverride;
    return DecideStreaming(destinationBytes, recordedCaches, use);
}

void RecordProcessorFeatures(const ProcessorFeatures& features) { recordedFeatures = features; }
void RecordProcessorCaches(const CacheSizes& caches) { recordedCaches = caches; }
void MaskProcessorFeatures(const ProcessorFeatures& allowed) { allowedFeatures = allowed; }

}  // namespace veilshift
