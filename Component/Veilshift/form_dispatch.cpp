// Every kernel's chooser; the policy is in form_dispatch.h.
#include "form_dispatch.h"

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
ProcessorFeatures allowedFeatures{true, true, true, true};
}  // namespace

CrossfadeFn ChooseCrossfade(int32_t width, const FormSettings& settings) {
    const CrossfadeChoice choice = DecideCrossfade(width, settings);
    const bool exact = choice.arithmetic == CrossfadeArithmetic::Exact;
    switch (choice.set) {
#if VEILSHIFT_WIDE_FORMS
        case InstructionSet::Avx2: return exact ? CrossfadeExact_Avx2 : CrossfadeGrouped_Avx2;
        case InstructionSet::Sse2: return exact ? CrossfadeExact_Sse2 : CrossfadeGrouped_Sse2;
#endif
        case InstructionSet::Sse: return CrossfadeGrouped_Sse;
        case InstructionSet::Mmx: return CrossfadeGrouped_Mmx;
        default: return CrossfadeExact_Scalar;
    }
}

MosaicForms ChooseMosaicForms(const ProcessorFeatures& features) {
    switch (DecideVectorSet(features)) {
#if VEILSHIFT_WIDE_FORMS
        case InstructionSet::Avx2: return {MixRow_Avx2, MosaicPattern_Avx2, CopyRow_Sse2, FinishStreaming_Sse2, true};
        case InstructionSet::Sse2:
            return {MixRow_Sse2, MosaicPattern_Scalar, CopyRow_Sse2, FinishStreaming_Sse2, true};
#endif
        default: return {MixRow_Scalar, MosaicPattern_Scalar, CopyRow_Scalar, FinishStreaming_Scalar, false};
    }
}

RippleFn ChooseRipple(const ProcessorFeatures& features) {
#if VEILSHIFT_WIDE_FORMS
    if (DecideVectorSet(features) == InstructionSet::Avx2) return Ripple_Avx2;
#endif
    static_cast<void>(features);
    return Ripple_Scalar;  // the ripple has no SSE2 form
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
    return settings;
}

void RecordProcessorFeatures(const ProcessorFeatures& features) { recordedFeatures = features; }
void MaskProcessorFeatures(const ProcessorFeatures& allowed) { allowedFeatures = allowed; }

}  // namespace veilshift
