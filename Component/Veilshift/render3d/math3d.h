// Row vectors: p' = p * M. Element (r, c) is m[4 * r + c]; translation sits in row 3, w comes from column 3; A * B applies A first.
//
// Single-precision vector and matrix operations of the software renderer.
// Each public operation sets the floating-point unit to single precision for
// its duration (a no-op outside the x87 build), so its results are the same
// bits in the native and the 32-bit build whatever precision the host left.
#pragma once

#include <cstdint>

namespace veilshift {

struct Vec3 {
    float x;
    float y;
    float z;
};

struct Matrix4 {
    float m[16];

    float& At(int row, int column) { return m[4 * row + column]; }
    float At(int row, int column) const { return m[4 * row + column]; }
};

static_assert(sizeof(Vec3) == 12);
static_assert(sizeof(Matrix4) == 64);

// [x y z 1] * M, divided by w unless w compares equal to zero (a NaN w divides).
Vec3& TransformPoint(Vec3& point, const Matrix4& matrix);

// a becomes a * b. b may be a itself.
void MultiplyMatrix(Matrix4& a, const Matrix4& b);

// m becomes its inverse, or the identity when m is singular.
void InvertMatrix(Matrix4& m);

Matrix4 MakeIdentity();
Matrix4 MakeTranslation(float tx, float ty, float tz);
// Angles in degrees; sine and cosine are taken in double precision and stored as floats.
Matrix4 MakeRotationY(float degrees);
Matrix4 MakeRotationX(float degrees);
// MakeRotationY (degreesY) and MakeRotationX (degreesX), the same bits, with one
// switch to double precision for the two.
void MakeRotationsYX(float degreesY, float degreesX, Matrix4& rotationY, Matrix4& rotationX);
// Left-handed perspective with w = z: 90 degrees across, 45 degrees down, depth
// 0 at z = 1 and 1 at z = 1000.
Matrix4 MakeProjection();

// The same operations for code that already holds a single-precision guard
// (the renderer's stages run them many times under one guard of their own).
namespace single_precision {
Vec3& TransformPoint(Vec3& point, const Matrix4& matrix);
void MultiplyMatrix(Matrix4& a, const Matrix4& b);
void InvertMatrix(Matrix4& m);
}  // namespace single_precision

}  // namespace veilshift
