// The triangle rasterizer: coverage, depth, texels, clipping, the host calls,
// the state handed between the two parts of a triangle, and that no vertex,
// however wild, makes it touch memory outside the viewport, the depth buffer
// or the texture slot.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "Veilshift/platform/fpu_precision.h"
#include "Veilshift/module_state.h"
#include "Veilshift/render3d/soft_renderer.h"
#include "Veilshift/startup_settings.h"
#include "processor_forms.h"
#include "bit_pins.h"

namespace veilshift {
namespace {

using refhost::TestSurface;
using test::CallRecorder;
using test::FloatBits;
using test::SurfaceCall;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Texel (i, j) of a slot holds (i, j, tag); everything of the surface outside
// the slot holds kOutsideSlot, so a pixel copied from there is recognised.
constexpr uint8_t kOutsideSlot = 0xEE;
constexpr uint8_t kBackground = 0x33;

void PaintTexture(TestSurface& s, int32_t x, int32_t y, int32_t width, int32_t height, uint8_t tag) {
    s.Fill({kOutsideSlot, kOutsideSlot, kOutsideSlot});
    for (int32_t j = 0; j < height; ++j)
        for (int32_t i = 0; i < width; ++i)
            s.SetPixel(x + i, y + j, {static_cast<uint8_t>(i), static_cast<uint8_t>(j), tag});
}

// A surface whose rows carry `padding` bytes after the pixels, bottom-up or not.
std::unique_ptr<TestSurface> PaddedSurface(int32_t width, int32_t height, int32_t padding, bool bottomUp = false) {
    const int32_t pitch = width * 3 + padding;
    return std::make_unique<TestSurface>(width, height, bottomUp ? -pitch : pitch);
}

struct SpanCall {
    int32_t slot, firstRow, endRow;
    SpanState entry, exit;
};

// Watches the calls DrawTriangles makes through the renderer's table.
class WatchingRenderer : public SoftRenderer {
public:
    void DrawSpans(HostSurface* destination, int32_t x, int32_t y, int32_t slotIndex, int32_t firstRow,
                   int32_t endRow) override {
        SpanCall call{slotIndex, firstRow, endRow, span, {}};
        SoftRenderer::DrawSpans(destination, x, y, slotIndex, firstRow, endRow);
        call.exit = span;
        spanCalls.push_back(call);
    }
    std::vector<SpanCall> spanCalls;
};

struct Corner2 {
    float x, y, z, u, v;
};

class Render3dRaster : public ::testing::Test {
protected:
    static constexpr int32_t kLeft = 3;  // viewport position in the destination
    static constexpr int32_t kTop = 2;
    static constexpr int32_t kTexWidth = 5;
    static constexpr int32_t kTexHeight = 4;

    void TearDown() override { moduleState.depthBuffer.Free(); }

    // A viewport inside a larger destination, a depth buffer larger than the
    // viewport (its extra cells must stay untouched) and two texture slots.
    void Prepare(int32_t width, int32_t height, bool bottomUp = false) {
        width_ = width;
        height_ = height;
        ASSERT_TRUE(renderer.Setup(width, height));
        renderer.vertices.Clear();
        renderer.triangles.Clear();
        renderer.spanCalls.clear();
        ASSERT_TRUE(moduleState.depthBuffer.Allocate(height + 2, width + 3));
        moduleState.depthBuffer.Clear(0.0f);
        destination = PaddedSurface(width + kLeft + 4, height + kTop + 3, 7, bottomUp);
        destination->Fill({0x10, 0x20, kBackground});
        textureA = PaddedSurface(kTexWidth + 3, kTexHeight + 4, 2, bottomUp);
        PaintTexture(*textureA, 2, 3, kTexWidth, kTexHeight, 0x5A);
        renderer.SetTexture(0, textureA.get(), 2, 3, kTexWidth, kTexHeight);
        textureB = PaddedSurface(kTexWidth, kTexHeight, 0);
        PaintTexture(*textureB, 0, 0, kTexWidth, kTexHeight, 0x6B);
        renderer.SetTexture(1, textureB.get(), 0, 0, kTexWidth, kTexHeight);
    }

    void AddTriangle(Corner2 a, Corner2 b, Corner2 c, int32_t slot = 0) {
        const int32_t base = static_cast<int32_t>(renderer.vertices.Size());
        for (const Corner2& k : {a, b, c}) ASSERT_TRUE(renderer.vertices.Append({{0, 0, k.z}, k.x, k.y, k.u, k.v}));
        ASSERT_TRUE(renderer.triangles.Append({{base, base + 1, base + 2}, 1, slot}));
    }

    void Draw() { renderer.DrawTriangles(destination.get(), kLeft, kTop); }

    const uint8_t* ViewportPixel(int32_t x, int32_t y) { return destination->At(kLeft + x, kTop + y); }
    bool Drawn(int32_t x, int32_t y) { return ViewportPixel(x, y)[2] != kBackground; }
    int32_t DrawnCount() {
        int32_t n = 0;
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) n += Drawn(x, y);
        return n;
    }

    // Nothing outside the viewport, the used depth cells or the slots was touched.
    void ExpectConfined() {
        EXPECT_TRUE(destination->GuardsIntact());
        EXPECT_TRUE(textureA->GuardsIntact());
        for (int32_t y = 0; y < destination->PixelHeight(); ++y) {
            for (int32_t x = 0; x < destination->PixelWidth(); ++x) {
                const uint8_t* p = destination->At(x, y);
                const bool inside = x >= kLeft && x < kLeft + width_ && y >= kTop && y < kTop + height_;
                if (!inside) {
                    ASSERT_EQ(p[2], kBackground) << "outside the viewport at " << x << "," << y;
                } else if (p[2] != kBackground) {
                    ASSERT_TRUE(p[2] == 0x5A || p[2] == 0x6B) << "not a slot texel at " << x << "," << y;
                    ASSERT_LT(p[0], kTexWidth);
                    ASSERT_LT(p[1], kTexHeight);
                }
            }
        }
        for (int32_t r = 0; r < moduleState.depthBuffer.rowCount; ++r)
            for (int32_t c = 0; c < moduleState.depthBuffer.columnCount; ++c)
                if (r >= height_ || c >= width_) {
                    ASSERT_EQ(FloatBits(moduleState.depthBuffer.rowPointers[r][c]), 0u) << r << "," << c;
                }
    }

    WatchingRenderer renderer;
    std::unique_ptr<TestSurface> destination, textureA, textureB;
    int32_t width_ = 0, height_ = 0;
};

TEST(Render3dNearestInteger, RoundsAsTheFloatAdditionDoes) {
    EXPECT_EQ(NearestInteger(0.0f), 0);
    EXPECT_EQ(NearestInteger(0.5f), 0);
    EXPECT_EQ(NearestInteger(1.5f), 2);
    EXPECT_EQ(NearestInteger(2.5f), 2);
    EXPECT_EQ(NearestInteger(2.5000002f), 3);
    EXPECT_EQ(NearestInteger(0.49999997f), 0);
    EXPECT_EQ(NearestInteger(8388607.5f), 8388608);
    EXPECT_EQ(NearestInteger(8388608.0f), 8388608);
    // Negative values down to -2^22: the integer nearest twice the value.
    EXPECT_EQ(NearestInteger(-0.25f), 0);
    EXPECT_EQ(NearestInteger(-0.3f), -1);
    EXPECT_EQ(NearestInteger(-1.3f), -3);
    EXPECT_EQ(NearestInteger(-0.75f), -2);
    EXPECT_EQ(NearestInteger(-4194304.0f), -8388608);

    // Against a model in double precision over a sweep of both ranges.
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const float magnitude = std::ldexp(static_cast<float>(random() & 0xFFFFFF) / 16777216.0f, static_cast<int>(random() % 25) - 1);
        const float value = (i & 1) ? magnitude : -magnitude / 2;
        const double model = value >= 0 ? std::nearbyint(static_cast<double>(value))
                                         : std::nearbyint(2.0 * static_cast<double>(value));
        ASSERT_EQ(NearestInteger(value), static_cast<int32_t>(model)) << value;
    }
}

TEST(Render3dNearestInteger, OutsideItsRangeKeepsTheSignAndSaturates) {
    // Read literally, -2^24 < x < -2^23 gives a large positive number.
    EXPECT_EQ(NearestInteger(-12000000.0f), -24000000);
    EXPECT_EQ(NearestInteger(-8388609.0f), -16777218);
    EXPECT_EQ(NearestInteger(-4194305.0f), -8388610);
    EXPECT_EQ(NearestInteger(-1073741824.0f), INT32_MIN);
    EXPECT_EQ(NearestInteger(-3e9f), INT32_MIN);
    EXPECT_EQ(NearestInteger(-kInf), INT32_MIN);
    EXPECT_EQ(NearestInteger(8388609.0f), 8388609);
    EXPECT_EQ(NearestInteger(16777218.0f), 16777218);
    EXPECT_EQ(NearestInteger(2147483520.0f), 2147483520);
    EXPECT_EQ(NearestInteger(2147483648.0f), INT32_MAX);
    EXPECT_EQ(NearestInteger(kInf), INT32_MAX);
    EXPECT_EQ(NearestInteger(kNaN), 0);
    EXPECT_EQ(NearestInteger(-kNaN), 0);
    // Monotonic across the ends of the exact range.
    EXPECT_LE(NearestInteger(-4194304.5f), NearestInteger(-4194304.0f));
    EXPECT_LE(NearestInteger(8388608.0f), NearestInteger(8388609.0f));
}

TEST_F(Render3dRaster, RightTriangleCoversItsRowsInEveryVertexOrder) {
    const Corner2 a{0, 0, 1, 0, 0}, b{10, 0, 1, 1, 0}, c{0, 10, 1, 0, 1};
    const std::array<std::array<Corner2, 3>, 6> orders = {{{a, b, c}, {a, c, b}, {b, a, c}, {b, c, a}, {c, a, b}, {c, b, a}}};
    for (const auto& order : orders) {
        Prepare(16, 16);
        AddTriangle(order[0], order[1], order[2]);
        Draw();
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(Drawn(x, y), y < 10 && x <= 10 - y) << x << "," << y;
        ExpectConfined();
        moduleState.depthBuffer.Free();
        renderer.vertices.Clear();
        renderer.triangles.Clear();
    }
}

TEST_F(Render3dRaster, SkipsTrianglesWithoutRowsColumnsOrArea) {
    Prepare(16, 16);
    AddTriangle({0, 3.1f, 1, 0, 0}, {10, 3.2f, 1, 1, 0}, {5, 3.4f, 1, 0, 1});  // one row of y + 0.5
    AddTriangle({2.1f, 0, 1, 0, 0}, {2.2f, 10, 1, 1, 0}, {2.4f, 5, 1, 0, 1});  // one column
    AddTriangle({0, 0, 1, 0, 0}, {5, 5, 1, 1, 0}, {10, 10, 1, 0, 1});          // collinear
    AddTriangle({0, 0, 1, 0, 0}, {10, 0, 1, 1, 0}, {0, 10, 1, 0, 1});
    renderer.triangles[3].visible = 0;                                          // rejected
    AddTriangle({0, 0, 1, 0, 0}, {10, 0, 1, 1, 0}, {0, 10, 1, 0, 1}, 2);        // slot never filled
    AddTriangle({0, 0, 1, 0, 0}, {10, 0, 1, 1, 0}, {0, 10, 1, 0, 1}, 16);       // no such slot
    AddTriangle({0, 0, 1, 0, 0}, {10, 0, 1, 1, 0}, {0, 10, 1, 0, 1}, -1);
    ASSERT_TRUE(renderer.triangles.Append({{0, 1, 1000}, 1, 0}));               // no such vertex
    Draw();
    EXPECT_TRUE(renderer.spanCalls.empty());
    EXPECT_EQ(DrawnCount(), 0);
}

TEST_F(Render3dRaster, BothWindingsDrawTheSamePixels) {
    const Corner2 a{1.25f, 2.5f, 2, 0, 0}, b{13.75f, 6.5f, 3, 1, 0.25f}, c{4.5f, 14.25f, 5, 0.5f, 1};
    Prepare(16, 16);
    AddTriangle(a, b, c);
    Draw();
    const std::vector<uint8_t> clockwise = destination->Snapshot();
    Prepare(16, 16);
    AddTriangle(a, c, b);
    Draw();
    EXPECT_GT(DrawnCount(), 40);
    EXPECT_EQ(destination->Snapshot(), clockwise);
}

TEST_F(Render3dRaster, DepthTestIsStrictAndComesFirst) {
    Prepare(16, 16);
    const Corner2 a{0, 0, 2, 0, 0}, b{12, 0, 2, 1, 0}, c{0, 12, 2, 0, 1};
    AddTriangle(a, b, c, 0);
    AddTriangle(a, b, c, 1);  // same depth: the earlier pixel stays
    Draw();
    EXPECT_EQ(ViewportPixel(2, 2)[2], 0x5A);
    EXPECT_EQ(moduleState.depthBuffer.rowPointers[2][2], 0.5f);

    renderer.triangles.Clear();
    renderer.vertices.Clear();
    AddTriangle({0, 0, 2.5f, 0, 0}, {12, 0, 2.5f, 1, 0}, {0, 12, 2.5f, 0, 1}, 1);  // farther: hidden
    Draw();
    EXPECT_EQ(ViewportPixel(2, 2)[2], 0x5A);
    AddTriangle({0, 0, 1.5f, 0, 0}, {12, 0, 1.5f, 1, 0}, {0, 12, 1.5f, 0, 1}, 1);  // nearer: wins
    Draw();
    EXPECT_EQ(ViewportPixel(2, 2)[2], 0x6B);
    EXPECT_EQ(moduleState.depthBuffer.rowPointers[2][2], 1.0f / 1.5f);

    // A NaN depth never passes; a cell holding NaN is never beaten.
    renderer.triangles.Clear();
    renderer.vertices.Clear();
    moduleState.depthBuffer.Clear(0.0f);
    destination->Fill({0x10, 0x20, kBackground});
    moduleState.depthBuffer.rowPointers[3][3] = kNaN;
    AddTriangle({0, 0, kNaN, 0, 0}, {12, 0, kNaN, 1, 0}, {0, 12, kNaN, 0, 1});
    AddTriangle(a, b, c);
    Draw();
    EXPECT_FALSE(Drawn(3, 3));
    EXPECT_TRUE(Drawn(3, 4));
    moduleState.depthBuffer.rowPointers[3][3] = 0.0f;
    ExpectConfined();
}

TEST_F(Render3dRaster, TexelsAreNearestAndClamped) {
    // A 20 x 20 square with u, v from 0 to 1: the first and last columns and rows
    // show the first and last texels.
    Prepare(20, 20);
    AddTriangle({0, 0, 1, 0, 0}, {20, 0, 1, 1, 0}, {0, 20, 1, 0, 1});
    AddTriangle({20, 0, 1, 1, 0}, {20, 20, 1, 1, 1}, {0, 20, 1, 0, 1});
    Draw();
    EXPECT_EQ(DrawnCount(), 400);
    for (int32_t k = 0; k < 20; ++k) {
        EXPECT_EQ(ViewportPixel(0, k)[0], 0);
        EXPECT_EQ(ViewportPixel(19, k)[0], kTexWidth - 1);
        EXPECT_EQ(ViewportPixel(k, 0)[1], 0);
        EXPECT_EQ(ViewportPixel(k, 19)[1], kTexHeight - 1);
    }
    // Column 10 samples u = 10.5 / 20 of 4 texels across: 2.1, texel 2.
    EXPECT_EQ(ViewportPixel(10, 10)[0], 2);
    ExpectConfined();

    // u and v from -1 to 2: clamped to the edge texels, never wrapped.
    Prepare(20, 20);
    AddTriangle({0, 0, 1, -1, -1}, {20, 0, 1, 2, -1}, {0, 20, 1, -1, 2});
    AddTriangle({20, 0, 1, 2, -1}, {20, 20, 1, 2, 2}, {0, 20, 1, -1, 2});
    Draw();
    for (int32_t y = 0; y < 20; ++y) {
        EXPECT_EQ(ViewportPixel(0, y)[0], 0);
        EXPECT_EQ(ViewportPixel(5, y)[0], 0);     // u' = 4 * (5.5 / 20 * 3 - 1) < 0
        EXPECT_EQ(ViewportPixel(15, y)[0], kTexWidth - 1);
        EXPECT_EQ(ViewportPixel(19, y)[0], kTexWidth - 1);
        for (int32_t x = 1; x < 20; ++x) EXPECT_GE(ViewportPixel(x, y)[0], ViewportPixel(x - 1, y)[0]);
    }
    ExpectConfined();
}

TEST_F(Render3dRaster, PerspectiveInterpolatesOneOverZ) {
    // Left edge at z = 1, right edge at z = 3: halfway across the screen is a
    // quarter of the way in u (1/z, u/z linear on screen).
    Prepare(64, 8);
    AddTriangle({0, 0, 1, 0, 0}, {64, 0, 3, 1, 0}, {0, 8, 1, 0, 1});
    AddTriangle({64, 0, 3, 1, 0}, {64, 8, 3, 1, 1}, {0, 8, 1, 0, 1});
    const int32_t lastU = 255;
    renderer.textureSlots[0].width = lastU + 1;  // wide slot: u' = 255 u
    TestSurface wide(256, 4);
    for (int32_t j = 0; j < 4; ++j)
        for (int32_t i = 0; i < 256; ++i) wide.SetPixel(i, j, {static_cast<uint8_t>(i), static_cast<uint8_t>(j), 0x5A});
    renderer.textureSlots[0].surface = &wide;
    renderer.textureSlots[0].x = renderer.textureSlots[0].y = 0;
    Draw();
    // Pixel X is sampled at t = (X + 0.5) / 64 of the way across: 1/z = 1 - 2t/3,
    // u/z = t/3. Screen-linear u would be t, twice as far along at mid-screen.
    for (int32_t x : {0, 16, 31, 48, 63}) {
        const double t = (x + 0.5) / 64.0, iz = 1.0 - 2.0 * t / 3.0;
        EXPECT_NEAR(ViewportPixel(x, 4)[0], lastU * (t / 3.0) / iz, 0.51) << x;
        EXPECT_NEAR(moduleState.depthBuffer.rowPointers[4][x], iz, 1e-6) << x;
    }
}

TEST_F(Render3dRaster, ClippingAboveAndLeftShowsTheSameTexels) {
    // Depths 1, 2, 4 and u, v in 64ths: every interpolant is a short binary
    // fraction, so the stepped and the pre-stepped values are the same bits.
    auto draw = [&](float dx, float dy) {
        Prepare(64, 64);
        textureA = PaddedSurface(65, 65, 1);
        PaintTexture(*textureA, 0, 0, 65, 65, 0x5A);
        renderer.SetTexture(0, textureA.get(), 0, 0, 65, 65);
        AddTriangle({0 + dx, 0 + dy, 1, 0, 0}, {64 + dx, 0 + dy, 2, 1, 0}, {0 + dx, 64 + dy, 4, 0, 1});
        AddTriangle({64 + dx, 0 + dy, 2, 1, 0}, {64 + dx, 64 + dy, 1, 1, 1}, {0 + dx, 64 + dy, 4, 0, 1});
        Draw();
        std::vector<std::array<uint8_t, 3>> picture;
        for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 64; ++x) {
                const uint8_t* p = ViewportPixel(x, y);
                picture.push_back({p[0], p[1], p[2]});
            }
        return picture;
    };
    const auto whole = draw(0, 0);
    for (const auto& shift : {std::array<int32_t, 2>{20, 24}, {0, 37}, {45, 0}, {63, 63}}) {
        const auto clipped = draw(-static_cast<float>(shift[0]), -static_cast<float>(shift[1]));
        int32_t compared = 0;
        for (int32_t y = 0; y + shift[1] < 64; ++y)
            for (int32_t x = 0; x + shift[0] < 64; ++x) {
                ASSERT_EQ(clipped[y * 64 + x], whole[(y + shift[1]) * 64 + x + shift[0]])
                    << "shift " << shift[0] << "," << shift[1] << " at " << x << "," << y;
                ++compared;
            }
        EXPECT_EQ(clipped[0][2], 0x5A);  // row 0 and column 0 are drawn
        EXPECT_GT(compared, 0);
    }
}

TEST_F(Render3dRaster, SpansStartingFarLeftAreClippedNotDropped) {
    // A corner millions of pixels to the left, as a vertex near the viewer's
    // plane gives: the left edge of the upper rows lies between -2^24 and -2^23.
    Prepare(48, 48);
    AddTriangle({-12000000.0f, 0, 1, 0, 0}, {40, 0, 1, 1, 0}, {40, 40, 1, 1, 1});
    Draw();
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x <= 38; ++x) ASSERT_TRUE(Drawn(x, y)) << x << "," << y;
    ExpectConfined();
}

TEST_F(Render3dRaster, EdgesOfTheViewportEndRowsAndParts) {
    Prepare(16, 12);
    AddTriangle({-5, -5, 1, 0, 0}, {40, -3, 1, 1, 0}, {-2, 30, 1, 0, 1});  // covers the whole viewport
    Draw();
    EXPECT_EQ(DrawnCount(), 16 * 12);
    ExpectConfined();

    // A part running past the last row stops there; the edges written back are
    // those of the row below the viewport. Slopes and steps are exact here.
    Prepare(16, 12);
    AddTriangle({2, 0, 1, 0, 0}, {10, 16, 1, 0, 1}, {12, 40, 1, 1, 1});
    Draw();
    ASSERT_EQ(renderer.spanCalls.size(), 2u);
    const SpanCall& first = renderer.spanCalls[0];
    EXPECT_EQ(first.firstRow, 0);
    EXPECT_EQ(first.endRow, 16);
    EXPECT_EQ(first.exit.leftX, first.entry.leftX + 12 * first.entry.leftSlope);
    EXPECT_EQ(first.exit.rightX, first.entry.rightX + 12 * first.entry.rightSlope);
    EXPECT_EQ(renderer.spanCalls[1].firstRow, 16);
    EXPECT_EQ(std::memcmp(&renderer.spanCalls[1].exit, &renderer.spanCalls[1].entry, sizeof(SpanState)), 0);
    ExpectConfined();
}

TEST_F(Render3dRaster, SecondPartContinuesTheEdgesTheFirstAdvanced) {
    // Middle vertex on the left: the long edge is the right edge, shared by both parts.
    Prepare(32, 32);
    AddTriangle({16, 0, 1, 0.5f, 0}, {2, 8, 2, 0, 0.5f}, {24, 24, 4, 1, 1});
    Draw();
    ASSERT_EQ(renderer.spanCalls.size(), 2u);
    const SpanCall& upper = renderer.spanCalls[0];
    const SpanCall& lower = renderer.spanCalls[1];
    EXPECT_EQ(upper.firstRow, 0);
    EXPECT_EQ(upper.endRow, 8);
    EXPECT_EQ(lower.firstRow, 8);
    EXPECT_EQ(lower.endRow, 24);
    EXPECT_EQ(FloatBits(lower.entry.rightX), FloatBits(upper.exit.rightX));
    EXPECT_EQ(lower.entry.rightSlope, upper.entry.rightSlope);
    EXPECT_NE(lower.entry.leftSlope, upper.entry.leftSlope);
    EXPECT_LT(upper.entry.leftSlope, upper.entry.rightSlope);
    // Only the five running values change inside DrawSpans.
    EXPECT_EQ(std::memcmp(&upper.exit.dIzDx, &upper.entry.dIzDx, 6 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&upper.exit.leftSlope, &upper.entry.leftSlope, 5 * sizeof(float)), 0);

    // Middle vertex on the right: the long edge is the left edge, and its
    // position and interpolants carry over.
    renderer.spanCalls.clear();
    renderer.triangles.Clear();
    renderer.vertices.Clear();
    AddTriangle({16, 0, 1, 0.5f, 0}, {30, 8, 2, 1, 0.5f}, {4, 24, 4, 0, 1});
    Draw();
    ASSERT_EQ(renderer.spanCalls.size(), 2u);
    const SpanCall& top = renderer.spanCalls[0];
    const SpanCall& bottom = renderer.spanCalls[1];
    for (float SpanState::*field : {&SpanState::leftX, &SpanState::leftIz, &SpanState::leftUz, &SpanState::leftVz})
        EXPECT_EQ(FloatBits(bottom.entry.*field), FloatBits(top.exit.*field));
    EXPECT_NE(bottom.entry.rightSlope, top.entry.rightSlope);
    ExpectConfined();
}

TEST_F(Render3dRaster, AsksTheHostOncePerPartInOrder) {
    Prepare(32, 32);
    CallRecorder log;
    destination->SetLog(log.Log());
    textureA->SetLog(log.Log());
    AddTriangle({16, 0, 1, 0.5f, 0}, {2, 8, 2, 0, 0.5f}, {24, 24, 4, 1, 1});
    AddTriangle({0, 0, 1, 0, 0}, {10, 0, 1, 1, 0}, {0, 10, 1, 0, 1});  // flat top: one part
    Draw();
    const std::vector<SurfaceCall> part = {
        {textureA.get(), 'A', 0, 0}, {textureA.get(), 'P', 0, 0},
        {destination.get(), 'A', kLeft, kTop}, {destination.get(), 'P', 0, 0}};
    std::vector<SurfaceCall> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(log.SurfaceCalls(), expected);
    EXPECT_EQ(log.Violations(), 0);
    EXPECT_EQ(renderer.spanCalls.size(), 3u);
}

TEST_F(Render3dRaster, DrawsNothingWithoutADepthCellForEveryPixel) {
    Prepare(16, 16);
    CallRecorder log;
    destination->SetLog(log.Log());
    AddTriangle({0, 0, 1, 0, 0}, {10, 0, 1, 1, 0}, {0, 10, 1, 0, 1});
    moduleState.depthBuffer.Free();
    Draw();
    ASSERT_TRUE(moduleState.depthBuffer.Allocate(15, 16));  // one row short
    moduleState.depthBuffer.Clear(0.0f);
    Draw();
    renderer.DrawSpans(destination.get(), kLeft, kTop, 0, 0, 16);
    renderer.DrawTriangles(nullptr, 0, 0);
    EXPECT_TRUE(log.Calls().empty());
    EXPECT_EQ(DrawnCount(), 0);
}

TEST_F(Render3dRaster, BottomUpSurfacesGiveTheSamePicture) {
    const Corner2 a{1.25f, 2.5f, 2, 0, 0}, b{13.75f, 6.5f, 3, 1, 0.25f}, c{4.5f, 14.25f, 5, 0.5f, 1};
    Prepare(16, 16);
    AddTriangle(a, b, c);
    Draw();
    const std::vector<uint8_t> topDown = destination->Snapshot();
    Prepare(16, 16, true);
    AddTriangle(a, b, c);
    Draw();
    EXPECT_EQ(destination->Snapshot(), topDown);
    ExpectConfined();
}

// Random triangles, in screen space and through the whole pipeline, with
// corners near and behind the viewer, huge, infinite or NaN: whatever comes
// out must stay inside the viewport, the depth buffer and the texture slot.
TEST_F(Render3dRaster, WildVerticesStayConfined) {
    const float specials[] = {kNaN, kInf, -kInf, 3e38f, -3e38f, 1e20f, -1e20f, 2147483648.0f, -2147483904.0f,
                              -12582912.0f, 8388608.5f, 0.0f, -0.0f, 1e-30f, -1e-30f, 1e-45f};
    for (int32_t seed = 0; seed < 400; ++seed) {
        std::mt19937 random(static_cast<uint32_t>(seed));
        auto pick = [&](float scale) {
            const uint32_t kind = random() % 8;
            if (kind == 0) return specials[random() % std::size(specials)];
            const float unit = static_cast<float>(random() % 20001) / 10000.0f - 1.0f;  // -1 .. 1
            if (kind == 1) return unit * 1e7f;
            return unit * scale;
        };
        const int32_t width = 1 + static_cast<int32_t>(random() % 40), height = 1 + static_cast<int32_t>(random() % 30);
        Prepare(width, height);
        for (int t = 0; t < 6; ++t) {
            const float z[3] = {pick(3), pick(3), pick(3)};
            AddTriangle({pick(60), pick(50), z[0], pick(2), pick(2)}, {pick(60), pick(50), z[1], pick(2), pick(2)},
                        {pick(60), pick(50), z[2], pick(2), pick(2)}, static_cast<int32_t>(random() % 2));
        }
        Draw();
        ASSERT_NO_FATAL_FAILURE(ExpectConfined()) << "screen seed " << seed;

        // The same through near clipping and projection.
        renderer.vertices.Clear();
        renderer.triangles.Clear();
        renderer.sceneTriangles.Clear();
        for (int t = 0; t < 6; ++t) {
            SceneTriangle scene{};
            for (MeshVertex& v : scene.vertex) v = {{pick(4), pick(4), pick(2)}, {}, pick(2), pick(2)};
            scene.textureSlot = static_cast<int32_t>(random() % 2);
            ASSERT_TRUE(renderer.sceneTriangles.Append(scene));
        }
        renderer.objectAngleY = pick(400);
        renderer.objectAngleX = pick(400);
        renderer.objectPosition = {pick(3), pick(3), pick(3)};
        renderer.TransformScene();
        BuildScreenTriangles(renderer);
        ProjectTriangles(renderer);
        Draw();
        ASSERT_NO_FATAL_FAILURE(ExpectConfined()) << "scene seed " << seed;
    }
}

#if defined(VEILSHIFT_X87_MATH)
// A host that unmasked x87 exceptions for itself: infinities, NaNs and division
// by zero from wild vertices must neither trap inside the renderer nor leave a
// pending exception that traps in the host afterwards.
TEST_F(Render3dRaster, UnmaskedHostExceptionsDoNotTrap) {
    Prepare(16, 16);
    AddTriangle({0, 0, 0.0f, 0, 0}, {12, 0, 1, 1, 0}, {0, 12, 1, 0, 1});        // 1 / 0
    AddTriangle({kInf, 0, 1, 0, 0}, {-kInf, 5, 1, 1, 0}, {0, 12, 1, 0, 1});     // inf - inf
    AddTriangle({0, 0, 1, 0, 0}, {3e38f, 1, 1, 1, 0}, {-3e38f, 3e38f, 1, 0, 1}); // overflow
    const uint16_t original = platform::ReadFpuControlWord();
    const uint16_t unmasked = static_cast<uint16_t>(original & ~0x000Du);  // invalid, zero divide, overflow
    // Such a host has no flag pending (it would have trapped); earlier tests left some.
    __asm__ __volatile__("fnclex");
    platform::WriteFpuControlWord(unmasked);
    Draw();
    const uint16_t after = platform::ReadFpuControlWord();
    volatile float probe = 1.0f;
    probe = probe * 2.0f;  // would trap here on a pending exception
    platform::WriteFpuControlWord(original);
    EXPECT_EQ(after, unmasked);
    EXPECT_EQ(probe, 2.0f);
    ExpectConfined();
}
#endif

// A fixed scene through the whole pipeline: pieces turned and moved as the
// shatter transition moves them, one of them crossing the near limit. Its
// pixels, depth cells and final span state are pinned in one hash, the same
// in the native and the 32-bit build.
uint32_t RenderReferenceScene() {
    constexpr int32_t kWidth = 97, kHeight = 61;
    SoftRenderer r;
    r.forms = test::RendererFormsNow();
    if (!r.Setup(kWidth, kHeight) || !moduleState.depthBuffer.Allocate(kHeight, kWidth)) return 0;
    moduleState.depthBuffer.Clear(0.0f);
    TestSurface texture(40, 30, 40 * 3 + 3);
    for (int32_t j = 0; j < 30; ++j)
        for (int32_t i = 0; i < 40; ++i)
            texture.SetPixel(i, j, {static_cast<uint8_t>(i * 7 ^ j * 13), static_cast<uint8_t>(i + j * 3), 0x5A});
    r.SetTexture(0, &texture, 3, 2, 33, 25);
    TestSurface target(kWidth + 4, kHeight + 4, (kWidth + 4) * 3 + 1);
    target.Fill({1, 2, 3});
    for (int p = 0; p < 7; ++p) {
        r.sceneTriangles.Clear();
        r.vertices.Clear();
        r.triangles.Clear();
        const float half = 60.0f;
        const MeshVertex tl{{-half, half, 0}, {}, 0, 0}, tr{{half, half, 0}, {}, 1, 0};
        const MeshVertex bl{{-half, -half, 0}, {}, 0, 1}, br{{half, -half, 0}, {}, 1, 1};
        if (!r.sceneTriangles.Append({{tl, tr, bl}, 0}) || !r.sceneTriangles.Append({{tr, br, bl}, 0})) return 0;
        r.objectAngleY = 17.0f * static_cast<float>(p) + 5.0f;
        r.objectAngleX = -11.0f * static_cast<float>(p) + 3.25f;
        r.objectPosition = {static_cast<float>(p * 40 - 100), static_cast<float>((p % 3) * 30 - 30),
                            p == 6 ? 20.0f : 300.0f + static_cast<float>(p * 37)};
        if (p == 6) r.objectAngleY = 70.0f;  // half of it behind the viewer
        r.TransformScene();
        BuildScreenTriangles(r);
        ProjectTriangles(r);
        r.DrawTriangles(&target, 2, 2);
    }
    const std::vector<uint8_t> pixels = target.Snapshot();
    uint32_t hash = test::Fnv1a(pixels.data(), pixels.size());
    hash = test::Fnv1a(moduleState.depthBuffer.rowPointers[0], sizeof(float) * kWidth * kHeight, hash);
    hash = test::Fnv1a(&r.span, sizeof r.span, hash);
    moduleState.depthBuffer.Free();
    return hash;
}

// Each pixel's interpolants are computed from its span's start, not summed
// pixel by pixel, and the depth cells hold those bits.
constexpr uint32_t kReferenceSceneHash = 0x790bfd3du;

TEST(Render3dReference, SceneIsTheSameInEveryBuild) { EXPECT_EQ(RenderReferenceScene(), kReferenceSceneHash); }

// The destination as its own texture, as a host may hand one surface for all
// three roles: a texel drawn over earlier in a part is read as it is then, the
// same whatever form the processor could use (and no copy overlaps itself).
std::vector<uint8_t> DrawOntoItsOwnTexture(bool useSse2, bool useAvx2) {
    const refhost::ModuleForms flags(ProcessorFeatures{true, true, useSse2, useAvx2});
    constexpr int32_t kSize = 48;
    SoftRenderer r;
    r.forms = test::RendererFormsNow();
    std::vector<uint8_t> result;
    TestSurface surface(kSize + 8, kSize + 6, (kSize + 8) * 3 + 4);
    if (r.Setup(kSize, kSize) && moduleState.depthBuffer.Allocate(kSize, kSize)) {
        moduleState.depthBuffer.Clear(0.0f);
        for (int32_t y = 0; y < surface.PixelHeight(); ++y)
            for (int32_t x = 0; x < surface.PixelWidth(); ++x)
                surface.SetPixel(x, y, {static_cast<uint8_t>(x * 5 + y), static_cast<uint8_t>(y * 3), static_cast<uint8_t>(x ^ y)});
        // The slot starts one pixel left of and above the viewport, and the
        // texture runs about a texel per pixel: pixels read their left neighbours.
        r.SetTexture(0, &surface, 1, 1, kSize, kSize);
        const float corners[][5] = {{0, 0, 1, 0, 0}, {kSize, 0, 1, 1, 0}, {0, kSize, 1, 0, 1}, {kSize, kSize, 1, 1, 1}};
        auto vertex = [&](int i) {
            return ScreenVertex{{0, 0, corners[i][2]}, corners[i][0], corners[i][1], corners[i][3], corners[i][4]};
        };
        for (int i : {0, 1, 2, 1, 3, 2}) r.vertices.Append(vertex(i));
        r.triangles.Append({{0, 1, 2}, 1, 0});
        r.triangles.Append({{3, 4, 5}, 1, 0});
        r.DrawTriangles(&surface, 2, 2);
        result = surface.Snapshot();
        const uint8_t* cells = reinterpret_cast<const uint8_t*>(moduleState.depthBuffer.rowPointers[0]);
        result.insert(result.end(), cells, cells + sizeof(float) * kSize * kSize);
        moduleState.depthBuffer.Free();
    }
    return result;
}

TEST(Render3dReference, DestinationAsItsOwnTextureIsDrawnPixelByPixel) {
    const std::vector<uint8_t> scalar = DrawOntoItsOwnTexture(false, false);
    ASSERT_FALSE(scalar.empty());
    EXPECT_EQ(DrawOntoItsOwnTexture(true, false), scalar);
    EXPECT_EQ(DrawOntoItsOwnTexture(true, true), scalar);
}

// The same with each form the processor has: the scalar forms (x87 code in
// the 32-bit build) and each vector form of the row walk and span filler.
TEST(Render3dReference, SceneIsTheSameInEveryForm) {
    for (const test::ProcessorForm& form : test::AvailableForms()) {
        const refhost::ModuleForms scope(form.Allowed());
        EXPECT_EQ(RenderReferenceScene(), kReferenceSceneHash) << form.name;
    }
}

#if defined(VEILSHIFT_X87_MATH)
TEST(Render3dReference, SceneIgnoresTheHostsPrecisionControl) {
    const uint16_t original = platform::ReadFpuControlWord();
    for (const test::ProcessorForm& form : test::AvailableForms()) {
        const refhost::ModuleForms scope(form.Allowed());
        // 24, 53 and 64 bits, and 64 bits rounding toward zero.
        for (uint16_t word : {uint16_t{0x007F}, uint16_t{0x027F}, uint16_t{0x037F}, uint16_t{0x0F7F}}) {
            platform::WriteFpuControlWord(word);
            const uint32_t hash = RenderReferenceScene();
            const uint16_t after = platform::ReadFpuControlWord();
            platform::WriteFpuControlWord(original);
            EXPECT_EQ(hash, kReferenceSceneHash) << form.name << ' ' << std::hex << word;
            EXPECT_EQ(after, word);
        }
    }
}
#endif

}  // namespace
}  // namespace veilshift
