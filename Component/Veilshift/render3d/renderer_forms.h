// The processor forms a renderer's stages call: chosen once for a transition
// (form_dispatch.cpp) and handed to the renderer, which reads no setting and
// no processor feature itself. A renderer nobody handed forms to runs the
// scalar ones, which every build has.
#pragma once

#include "math3d.h"
#include "matrix_forms.h"
#include "span_fill.h"
#include "span_rows.h"

namespace veilshift {

struct RendererForms {
    MatrixForms matrix{single_precision::MultiplyMatrix, single_precision::TransformPoint};
    SpanRowForms rows{WalkSpanRows_Scalar, StepSpanRows_Scalar};
    SpanFillForms fill{};
};

// The forms for the processor's features (form_dispatch.cpp).
RendererForms ChooseRendererForms(const ProcessorFeatures& features);

}  // namespace veilshift
