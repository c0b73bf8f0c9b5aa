// Vector and matrix operations of the software renderer. Expected bit patterns
// are the same in the native and the 32-bit build.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>

#include "Veilshift/platform/fpu_precision.h"
#include "Veilshift/render3d/math3d.h"
#include "Veilshift/render3d/matrix_forms.h"
#include "bit_pins.h"

namespace veilshift {
namespace {

using test::BitsToFloat;
using test::FloatBits;

Matrix4 FromRows(std::initializer_list<float> values) {
    Matrix4 m{};
    int i = 0;
    for (float v : values) m.m[i++] = v;
    return m;
}

void ExpectNearIdentity(const Matrix4& m, float tolerance) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.At(r, c), r == c ? 1.0f : 0.0f, tolerance) << r << "," << c;
}

TEST(Render3dMath, TransformPointDividesByW) {
    // Last column (0, 0, 0, 1): w = 1, the affine result stands.
    const Matrix4 affine = FromRows({2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 5, 6, 7, 1});
    Vec3 p{1, 1, 1};
    EXPECT_EQ(&TransformPoint(p, affine), &p);
    EXPECT_EQ(p.x, 7.0f);
    EXPECT_EQ(p.y, 9.0f);
    EXPECT_EQ(p.z, 11.0f);

    // w = 2: every coordinate halved.
    Matrix4 halving = affine;
    halving.At(3, 3) = 2.0f;
    p = {1, 1, 1};
    TransformPoint(p, halving);
    EXPECT_EQ(p.x, 3.5f);
    EXPECT_EQ(p.z, 5.5f);

    // w exactly zero (and minus zero): no division.
    const Matrix4 projection = MakeProjection();
    p = {2, 3, 0};
    TransformPoint(p, projection);
    EXPECT_EQ(p.x, 2.0f);
    EXPECT_EQ(p.y, 3.0f * projection.At(1, 1));
    EXPECT_EQ(FloatBits(p.z), 0xbf8020cdu);
    p = {2, 3, -0.0f};
    TransformPoint(p, projection);
    EXPECT_EQ(p.x, 2.0f);

    // A NaN w is not zero: the division takes place.
    Matrix4 nanW = affine;
    nanW.At(3, 3) = std::numeric_limits<float>::quiet_NaN();
    p = {1, 1, 1};
    TransformPoint(p, nanW);
    EXPECT_TRUE(std::isnan(p.x));
}

TEST(Render3dMath, ProjectionHasItsExactElements) {
    const Matrix4 m = MakeProjection();
    EXPECT_EQ(FloatBits(m.At(2, 2)), 0x3f8020cdu);
    EXPECT_EQ(FloatBits(m.At(3, 2)), 0xbf8020cdu);
    EXPECT_EQ(FloatBits(m.At(1, 1)), 0x401a827au);  // 1 / tan(pi / 8) = 2.4142137
    EXPECT_EQ(m.At(0, 0), 1.0f);
    EXPECT_EQ(m.At(2, 3), 1.0f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15}) EXPECT_EQ(FloatBits(m.m[i]), 0u) << i;

    // Depth after division: 0 at the near plane z = 1, 1 at the far plane z = 1000.
    Vec3 nearPoint{0, 0, 1}, farPoint{0, 0, 1000};
    EXPECT_EQ(TransformPoint(nearPoint, m).z, 0.0f);
    EXPECT_NEAR(TransformPoint(farPoint, m).z, 1.0f, 1e-6f);
}

TEST(Render3dMath, InverseProjectionUnprojectsTheFarCorner) {
    const Matrix4 projection = MakeProjection();
    Matrix4 inverse = projection;
    InvertMatrix(inverse);
    Vec3 corner{-1, 1, 1};
    TransformPoint(corner, inverse);
    EXPECT_NEAR(corner.x, -1000.0f, 0.05f);
    EXPECT_NEAR(corner.y, 414.2f, 0.05f);
    EXPECT_NEAR(corner.z, 1000.0f, 0.05f);
    // The shatter picture is sized from these bits; both builds agree on them.
    EXPECT_EQ(FloatBits(corner.x), 0xc47a00d3u);
    EXPECT_EQ(FloatBits(corner.y), 0x43cf1c04u);
    EXPECT_EQ(FloatBits(corner.z), 0x447a00d3u);

    Matrix4 product = projection;
    MultiplyMatrix(product, inverse);
    ExpectNearIdentity(product, 2e-6f);
}

TEST(Render3dMath, InvertMatrixPivotsAlongTheRow) {
    // A tiny leading element: without the pivot search the inverse is ruined.
    const Matrix4 m = FromRows({1e-30f, 1, 0, 0, 1, 1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1});
    Matrix4 inverse = m;
    InvertMatrix(inverse);
    Matrix4 product = m;
    MultiplyMatrix(product, inverse);
    ExpectNearIdentity(product, 1e-6f);
    EXPECT_EQ(inverse.At(2, 2), 0.5f);

    // Row 0 has equal magnitudes 3 and -3 in columns 0 and 2: the lowest column is
    // the pivot. Taking column 2 instead gives the same inverse with different
    // last bits, so the bits pin the choice.
    Matrix4 tie = FromRows({3, 1, -3, 2, -2.2f, -0.4f, 1.5f, 2.6f, -2.2f, -3, 0, 2.5f, 2.7f, 2, 2, -3});
    const Matrix4 original = tie;
    InvertMatrix(tie);
    const uint32_t expected[16] = {0x3e539cd6u, 0xbd57ee64u, 0x3e9e2b6du, 0x3eb2f3fau,  //
                                   0xbb148f9eu, 0x3e82e888u, 0xbeff1f6eu, 0xbe47d829u,  //
                                   0xbc03493eu, 0x3e5312a5u, 0x3e44b69fu, 0x3eaab194u,  //
                                   0x3e376f01u, 0x3e85566au, 0x3d975e2au, 0x3d9649c6u};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(FloatBits(tie.m[i]), expected[i]) << i;
    Matrix4 check = original;
    MultiplyMatrix(check, tie);
    ExpectNearIdentity(check, 1e-5f);
}

TEST(Render3dMath, InvertMatrixOfSingularGivesIdentity) {
    const Matrix4 identity = MakeIdentity();
    Matrix4 zeroRow = FromRows({1, 2, 3, 4, 0, 0, 0, 0, 5, 6, 7, 8, 1, 0, 0, 1});
    InvertMatrix(zeroRow);
    EXPECT_EQ(std::memcmp(&zeroRow, &identity, sizeof identity), 0);

    // Dependent rows show up as a zero pivot only after elimination.
    Matrix4 dependent = FromRows({1, 2, 0, 0, 2, 4, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    InvertMatrix(dependent);
    EXPECT_EQ(std::memcmp(&dependent, &identity, sizeof identity), 0);

    Matrix4 zero{};
    InvertMatrix(zero);
    EXPECT_EQ(std::memcmp(&zero, &identity, sizeof identity), 0);
}

TEST(Render3dMath, MultiplyAppliesTheLeftMatrixFirst) {
    const Matrix4 move = MakeTranslation(1, 0, 0);
    const Matrix4 scale = FromRows({2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1});
    Matrix4 moveThenScale = move;
    MultiplyMatrix(moveThenScale, scale);
    Vec3 p{0, 0, 0};
    EXPECT_EQ(TransformPoint(p, moveThenScale).x, 2.0f);
    Matrix4 scaleThenMove = scale;
    MultiplyMatrix(scaleThenMove, move);
    p = {0, 0, 0};
    EXPECT_EQ(TransformPoint(p, scaleThenMove).x, 1.0f);

    // Multiplying a matrix by itself reads both operands from copies.
    Matrix4 twice = MakeTranslation(1, 2, 3);
    MultiplyMatrix(twice, twice);
    const Matrix4 expected = MakeTranslation(2, 4, 6);
    EXPECT_EQ(std::memcmp(&twice, &expected, sizeof expected), 0);
}

TEST(Render3dMath, RotationsStoreTheDoubleResultAsFloat) {
    // Bits of cos and sin, rounded from double: the same from glibc and from
    // the 32-bit Windows runtime.
    struct Case {
        float degrees;
        uint32_t cosine, sine;
    };
    const Case cases[] = {{30.0f, 0x3f5db3d7u, 0x3f000000u},   {45.0f, 0x3f3504f3u, 0x3f3504f3u},
                          {137.5f, 0xbf3cbe35u, 0x3f2cf37bu},  {-716.0f, 0x3f7f605cu, 0x3d8edc7bu},
                          {-1.0f, 0x3f7ff605u, 0xbc8ef859u},   {0.25f, 0x3f7fff60u, 0x3b8efa17u},
                          {0.0f, 0x3f800000u, 0x00000000u}};
    for (const Case& c : cases) {
        const Matrix4 y = MakeRotationY(c.degrees);
        EXPECT_EQ(FloatBits(y.At(0, 0)), c.cosine) << c.degrees;
        EXPECT_EQ(FloatBits(y.At(2, 2)), c.cosine) << c.degrees;
        EXPECT_EQ(FloatBits(y.At(2, 0)), c.sine) << c.degrees;
        EXPECT_EQ(FloatBits(y.At(0, 2)), c.sine ^ 0x80000000u) << c.degrees;
        const Matrix4 x = MakeRotationX(c.degrees);
        EXPECT_EQ(FloatBits(x.At(1, 1)), c.cosine) << c.degrees;
        EXPECT_EQ(FloatBits(x.At(1, 2)), c.sine) << c.degrees;
        EXPECT_EQ(FloatBits(x.At(2, 1)), c.sine ^ 0x80000000u) << c.degrees;
    }
    // At zeros of the function the runtimes differ in the tiny result itself
    // (glibc 0x248d3132, the 32-bit runtime 0x248d3000 for cos 90).
    EXPECT_LT(std::fabs(MakeRotationY(90.0f).At(0, 0)), 1e-16f);
    EXPECT_EQ(MakeRotationY(90.0f).At(2, 0), 1.0f);
    EXPECT_LT(std::fabs(MakeRotationX(720.0f).At(1, 2)), 1e-15f);

    // Y: x' = x c + z s, z' = -x s + z c.  X: y' = y c - z s, z' = y s + z c.
    Vec3 p{1, 0, 0};
    TransformPoint(p, MakeRotationY(30.0f));
    EXPECT_EQ(p.x, BitsToFloat(0x3f5db3d7u));
    EXPECT_EQ(p.z, -0.5f);
    p = {0, 1, 0};
    TransformPoint(p, MakeRotationX(30.0f));
    EXPECT_EQ(p.z, 0.5f);
}

#if VEILSHIFT_WIDE_FORMS
bool SameBitsOrBothNaN(float a, float b) { return FloatBits(a) == FloatBits(b) || (std::isnan(a) && std::isnan(b)); }

// The SSE2 products against the scalar ones (x87 code in the 32-bit build, run
// under the guard the renderer gives them): chains of turns, moves and the
// projection as the renderer builds them, and points, among them ones on the
// viewer's plane (w = 0) and NaN.
TEST(Render3dMath, Sse2ProductsGiveTheScalarBits) {
    if (!DetectProcessorFeatures().sse2) GTEST_SKIP() << "no SSE2";
    const MatrixForms scalar = ChooseMatrixForms({true, true, false, false});
    const MatrixForms sse2 = ChooseMatrixForms({true, true, true, false});
    ASSERT_EQ(sse2.multiply, MultiplyMatrix_Sse2);
    ASSERT_EQ(scalar.transformPoint, single_precision::TransformPoint);
    std::mt19937 random(41);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int32_t trial = 0; trial < 2000; ++trial) {
        const Matrix4 factors[] = {MakeRotationY(unit(random) * 720.0f), MakeRotationX(unit(random) * 720.0f),
                                   MakeTranslation(unit(random) * 900.0f, unit(random) * 400.0f, unit(random) * 3000.0f),
                                   MakeProjection(), FromRows({unit(random), unit(random), 0, unit(random), 0, 1, 0, 0,
                                                               unit(random), 0, unit(random), 0, 3, -2, 1, 0})};
        Matrix4 a = MakeIdentity(), b = MakeIdentity();
        Vec3 p{unit(random) * 500.0f, unit(random) * 500.0f, trial % 7 == 0 ? 0.0f : unit(random) * 50.0f};
        if (trial % 31 == 0) p.y = std::numeric_limits<float>::quiet_NaN();
        Vec3 q = p;
        {
            platform::FpuSinglePrecision guard;
            for (int32_t k = 0; k < 4; ++k) {
                const Matrix4& f = factors[random() % std::size(factors)];
                scalar.multiply(a, f);
                sse2.multiply(b, f);
            }
            if (trial % 5 == 0) {  // a product with itself
                scalar.multiply(a, a);
                sse2.multiply(b, b);
            }
            scalar.transformPoint(p, a);
            sse2.transformPoint(q, b);
        }
        for (int32_t i = 0; i < 16; ++i) ASSERT_TRUE(SameBitsOrBothNaN(a.m[i], b.m[i])) << trial << ' ' << i;
        ASSERT_TRUE(SameBitsOrBothNaN(p.x, q.x)) << trial;
        ASSERT_TRUE(SameBitsOrBothNaN(p.y, q.y)) << trial;
        ASSERT_TRUE(SameBitsOrBothNaN(p.z, q.z)) << trial;
    }
}
#endif

// The one truncation of the guarded code (the rasterizer's row and column of a
// corner in float, the ripple's shifts in double): toward zero inside the
// int32 range, saturated outside it, and 0 for NaN.
TEST(PrecisionHelpers, TruncationSaturatesAtTheInt32Range) {
    using platform::TruncateToInt32;
    // Through memory: a constant argument lets the compiler fold the conversion,
    // and its folding saturates where the processor's conversion does not.
    const auto atRunTime = [](auto value) {
        volatile decltype(value) held = value;
        return held;
    };
    const float kFloatNaN = std::numeric_limits<float>::quiet_NaN();
    const float kFloatInf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(TruncateToInt32(atRunTime(1.9f)), 1);
    EXPECT_EQ(TruncateToInt32(atRunTime(-1.9f)), -1);
    EXPECT_EQ(TruncateToInt32(atRunTime(2147483520.0f)), 2147483520);  // the largest float below 2^31
    EXPECT_EQ(TruncateToInt32(atRunTime(2147483648.0f)), INT32_MAX);
    EXPECT_EQ(TruncateToInt32(atRunTime(-2147483648.0f)), INT32_MIN);
    EXPECT_EQ(TruncateToInt32(atRunTime(-2147483904.0f)), INT32_MIN);  // the next float below -2^31
    EXPECT_EQ(TruncateToInt32(atRunTime(3e38f)), INT32_MAX);
    EXPECT_EQ(TruncateToInt32(atRunTime(-kFloatInf)), INT32_MIN);
    EXPECT_EQ(TruncateToInt32(atRunTime(kFloatInf)), INT32_MAX);
    EXPECT_EQ(TruncateToInt32(atRunTime(kFloatNaN)), 0);

    const double kNaN = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(TruncateToInt32(atRunTime(-39.99)), -39);
    EXPECT_EQ(TruncateToInt32(atRunTime(2147483647.9)), INT32_MAX);
    EXPECT_EQ(TruncateToInt32(atRunTime(2147483648.0)), INT32_MAX);
    EXPECT_EQ(TruncateToInt32(atRunTime(-2147483647.5)), -2147483647);
    EXPECT_EQ(TruncateToInt32(atRunTime(-2147483648.5)), INT32_MIN);  // truncates to -2^31 itself
    EXPECT_EQ(TruncateToInt32(atRunTime(-2147483649.0)), INT32_MIN);
    EXPECT_EQ(TruncateToInt32(atRunTime(1e300)), INT32_MAX);
    EXPECT_EQ(TruncateToInt32(atRunTime(-1e300)), INT32_MIN);
    EXPECT_EQ(TruncateToInt32(atRunTime(kNaN)), 0);
    EXPECT_EQ(TruncateToInt32(atRunTime(-kNaN)), 0);
}

#if defined(VEILSHIFT_X87_MATH)
// The host may leave the x87 unit at any precision: the operations set single
// precision themselves and give the host's control word back.
TEST(Render3dMath, ResultsIgnoreTheHostsPrecisionControl) {
    const uint16_t original = platform::ReadFpuControlWord();
    for (uint16_t word : {uint16_t{0x007F}, uint16_t{0x027F}, uint16_t{0x037F}, uint16_t{0x0F7F}}) {
        platform::WriteFpuControlWord(word);
        Matrix4 inverse = MakeProjection();
        InvertMatrix(inverse);
        Vec3 corner{-1, 1, 1};
        TransformPoint(corner, inverse);
        Matrix4 tie = FromRows({3, 1, -3, 2, -2.2f, -0.4f, 1.5f, 2.6f, -2.2f, -3, 0, 2.5f, 2.7f, 2, 2, -3});
        InvertMatrix(tie);
        const Matrix4 rotation = MakeRotationY(137.5f);
        const uint16_t after = platform::ReadFpuControlWord();
        platform::WriteFpuControlWord(original);
        EXPECT_EQ(after, word);
        EXPECT_EQ(FloatBits(corner.x), 0xc47a00d3u) << word;
        EXPECT_EQ(FloatBits(corner.y), 0x43cf1c04u) << word;
        EXPECT_EQ(FloatBits(tie.m[0]), 0x3e539cd6u) << word;
        EXPECT_EQ(FloatBits(tie.m[15]), 0x3d9649c6u) << word;
        EXPECT_EQ(FloatBits(rotation.At(0, 0)), 0xbf3cbe35u) << word;
    }
}

// A host that masked every exception may read the flags its own arithmetic
// raised: a guard that changed the precision leaves them standing.
TEST(Render3dMath, GuardsKeepTheFlagsOfAHostThatMasksEveryException) {
    const uint16_t original = platform::ReadFpuControlWord();
    platform::WriteFpuControlWord(0x027F);  // 53 bits, every exception masked
    volatile double zero = 0.0;
    volatile double quotient = 1.0 / zero;  // raises zero-divide
    (void)quotient;
    Vec3 corner{-1, 1, 1};
    TransformPoint(corner, MakeProjection());
    uint16_t status;
    __asm__ __volatile__("fnstsw %0" : "=m"(status));
    platform::WriteFpuControlWord(original);
    EXPECT_NE(status & 0x0004u, 0u);
}
#endif

}  // namespace
}  // namespace veilshift
