// The SSE2 matrix products: a row of the result, or the transformed point, as
// one vector of four columns, each a sum of four products taken in the order
// of the scalar form.
#include "matrix_forms.h"

#include <emmintrin.h>

namespace veilshift {

namespace {
// x * r0 + y * r1 + z * r2 + w * r3, summed from the left.
inline __m128 Combine(float x, float y, float z, float w, __m128 r0, __m128 r1, __m128 r2, __m128 r3) {
    __m128 sum = _mm_mul_ps(_mm_set1_ps(x), r0);
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(y), r1));
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(z), r2));
    return _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(w), r3));
}
}  // namespace

void MultiplyMatrix_Sse2(Matrix4& a, const Matrix4& b) {
    // Both operands are read before any row is written: a may be b.
    const __m128 r0 = _mm_loadu_ps(b.m), r1 = _mm_loadu_ps(b.m + 4), r2 = _mm_loadu_ps(b.m + 8),
                 r3 = _mm_loadu_ps(b.m + 12);
    const Matrix4 left = a;
    for (int row = 0; row < 4; ++row) {
        const float* l = left.m + 4 * row;
        _mm_storeu_ps(a.m + 4 * row, Combine(l[0], l[1], l[2], l[3], r0, r1, r2, r3));
    }
}

Vec3& TransformPoint_Sse2(Vec3& point, const Matrix4& m) {
    // x * row 0 + y * row 1 + z * row 2, then row 3 added as it stands.
    __m128 sum = _mm_mul_ps(_mm_set1_ps(point.x), _mm_loadu_ps(m.m));
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(point.y), _mm_loadu_ps(m.m + 4)));
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(point.z), _mm_loadu_ps(m.m + 8)));
    sum = _mm_add_ps(sum, _mm_loadu_ps(m.m + 12));
    alignas(16) float p[4];
    _mm_store_ps(p, sum);
    if (!(p[3] == 0.0f)) {
        const __m128 r = _mm_set1_ps(1.0f / p[3]);
        _mm_store_ps(p, _mm_mul_ps(sum, r));
    }
    point = {p[0], p[1], p[2]};
    return point;
}

}  // namespace veilshift

