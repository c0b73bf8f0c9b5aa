#include "math3d.h"

#include <cmath>
#include <cstring>

#include "../platform/fpu_precision.h"

namespace veilshift {

namespace {

using platform::FpuDoublePrecision;
using platform::FpuSinglePrecision;
using platform::RoundToDouble;

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kHalfVerticalFieldOfView = 0.39269908169872414;  // pi / 8 radians

struct SineCosine {
    float sine;
    float cosine;
};

// The work behind the double-precision guards below.
namespace double_precision {

// The float stored is the double result rounded once. Runtimes differ in the
// last bits of a double sine or cosine, which the rounding to float almost
// always hides; near a zero of the function (cos 90, sin 720), where the
// result is itself tiny, the 32-bit runtime's x87 argument reduction gives a
// value with fewer correct bits (both are below 1e-16).
VS_PRECISION_BOUNDARY SineCosine SineCosineOfDegrees(float degrees) {
    const double radians = static_cast<double>(degrees) * kRadiansPerDegree;
    return {static_cast<float>(RoundToDouble(std::sin(radians))),
            static_cast<float>(RoundToDouble(std::cos(radians)))};
}

VS_PRECISION_BOUNDARY float VerticalScale() {
    return static_cast<float>(RoundToDouble(1.0 / RoundToDouble(std::tan(kHalfVerticalFieldOfView))));
}
}  // namespace double_precision

SineCosine SineCosineOfDegrees(float degrees) {
    FpuDoublePrecision guard;
    return double_precision::SineCosineOfDegrees(degrees);
}

float FloatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

namespace single_precision {

VS_PRECISION_BOUNDARY Vec3& TransformPoint(Vec3& point, const Matrix4& mat) {
    const float x = point.x, y = point.y, z = point.z;
    const float* m = mat.m;
    float px = x * m[0] + y * m[4] + z * m[8] + m[12];
    float py = x * m[1] + y * m[5] + z * m[9] + m[13];
    float pz = x * m[2] + y * m[6] + z * m[10] + m[14];
    const float w = x * m[3] + y * m[7] + z * m[11] + m[15];
    if (!(w == 0.0f)) {
        const float r = 1.0f / w;
        px *= r;
        py *= r;
        pz *= r;
    }
    point = {px, py, pz};
    return point;
}

VS_PRECISION_BOUNDARY void MultiplyMatrix(Matrix4& a, const Matrix4& b) {
    // Both operands are read from copies, so the product may overwrite either.
    const Matrix4 left = a;
    const Matrix4 right = b;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            a.At(row, column) = left.At(row, 0) * right.At(0, column) + left.At(row, 1) * right.At(1, column) +
                                left.At(row, 2) * right.At(2, column) + left.At(row, 3) * right.At(3, column);
        }
    }
}

VS_PRECISION_BOUNDARY void InvertMatrix(Matrix4& m) {
    Matrix4 w = m;
    Matrix4 r = MakeIdentity();
    for (int k = 0; k < 4; ++k) {
        // Pivot along the row; strict comparison keeps the lowest of equal columns.
        int p = k;
        for (int j = k + 1; j < 4; ++j) {
            if (std::fabs(w.At(k, j)) > std::fabs(w.At(k, p))) p = j;
        }
        if (w.At(k, p) == 0.0f) {
            m = MakeIdentity();
            return;
        }
        if (p != k) {
            for (int row = 0; row < 4; ++row) {
                float t = w.At(row, k);
                w.At(row, k) = w.At(row, p);
                w.At(row, p) = t;
                t = r.At(row, k);
                r.At(row, k) = r.At(row, p);
                r.At(row, p) = t;
            }
        }
        const float s = 1.0f / w.At(k, k);
        for (int row = 0; row < 4; ++row) {
            w.At(row, k) *= s;
            r.At(row, k) *= s;
        }
        for (int i = 0; i < 4; ++i) {
            if (i == k) continue;
            const float f = w.At(k, i);  // read before column i changes row k
            for (int row = 0; row < 4; ++row) {
                w.At(row, i) -= f * w.At(row, k);
                r.At(row, i) -= f * r.At(row, k);
            }
        }
    }
    // Right-multiplying W by the elementary matrices took it to the identity,
    // so their product, accumulated in R, is the inverse.
    m = r;
}

}  // namespace single_precision

Vec3& TransformPoint(Vec3& point, const Matrix4& matrix) {
    FpuSinglePrecision guard;
    return single_precision::TransformPoint(point, matrix);
}

void MultiplyMatrix(Matrix4& a, const Matrix4& b) {
    FpuSinglePrecision guard;
    single_precision::MultiplyMatrix(a, b);
}

void InvertMatrix(Matrix4& m) {
    FpuSinglePrecision guard;
    single_precision::InvertMatrix(m);
}

Matrix4 MakeIdentity() {
    Matrix4 m{};
    m.At(0, 0) = m.At(1, 1) = m.At(2, 2) = m.At(3, 3) = 1.0f;
    return m;
}

Matrix4 MakeTranslation(float tx, float ty, float tz) {
    Matrix4 m = MakeIdentity();
    m.At(3, 0) = tx;
    m.At(3, 1) = ty;
    m.At(3, 2) = tz;
    return m;
}

namespace {

Matrix4 RotationY(SineCosine a) {
    Matrix4 m{};
    m.At(0, 0) = a.cosine;
    m.At(0, 2) = -a.sine;
    m.At(2, 0) = a.sine;
    m.At(2, 2) = a.cosine;
    m.At(1, 1) = 1.0f;
    m.At(3, 3) = 1.0f;
    return m;
}

Matrix4 RotationX(SineCosine a) {
    Matrix4 m{};
    m.At(1, 1) = a.cosine;
    m.At(1, 2) = a.sine;
    m.At(2, 1) = -a.sine;
    m.At(2, 2) = a.cosine;
    m.At(0, 0) = 1.0f;
    m.At(3, 3) = 1.0f;
    return m;
}

}  // namespace

Matrix4 MakeRotationY(float degrees) { return RotationY(SineCosineOfDegrees(degrees)); }

Matrix4 MakeRotationX(float degrees) { return RotationX(SineCosineOfDegrees(degrees)); }

void MakeRotationsYX(float degreesY, float degreesX, Matrix4& rotationY, Matrix4& rotationX) {
    SineCosine y, x;
    {
        FpuDoublePrecision guard;
        y = double_precision::SineCosineOfDegrees(degreesY);
        x = double_precision::SineCosineOfDegrees(degreesX);
    }
    rotationY = RotationY(y);
    rotationX = RotationX(x);
}

Matrix4 MakeProjection() {
    float verticalScale;
    {
        FpuDoublePrecision guard;
        verticalScale = double_precision::VerticalScale();
    }
    Matrix4 m{};
    m.At(0, 0) = 1.0f;
    m.At(1, 1) = verticalScale;
    // 1000 / 999 and its negation, as stored: depth 0 at z = 1 and 1 at z = 1000.
    m.At(2, 2) = FloatFromBits(0x3f8020cdu);
    m.At(2, 3) = 1.0f;
    m.At(3, 2) = FloatFromBits(0xbf8020cdu);
    m.At(3, 3) = 0.0f;
    return m;
}

}  // namespace veilshift
