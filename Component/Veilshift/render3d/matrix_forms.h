// The renderer's matrix products in two forms with the same bits: the scalar
// form (math3d.h's single_precision functions; x87 code in the 32-bit build, run under
// the caller's single-precision guard) and, in x86 builds, the SSE2 form,
// which takes the four columns of a row at once, each element's products and
// sums in the scalar form's order.
#pragma once

#include "../processor_features.h"
#include "math3d.h"

namespace veilshift {

struct MatrixForms {
    void (*multiply)(Matrix4& a, const Matrix4& b);         // as single_precision::MultiplyMatrix
    Vec3& (*transformPoint)(Vec3& point, const Matrix4& m);  // as single_precision::TransformPoint
};

void MultiplyMatrix_Sse2(Matrix4& a, const Matrix4& b);
Vec3& TransformPoint_Sse2(Vec3& point, const Matrix4& m);

// The forms for the processor (form_dispatch.cpp).
MatrixForms ChooseMatrixForms(const ProcessorFeatures& features);

}  // namespace veilshift
