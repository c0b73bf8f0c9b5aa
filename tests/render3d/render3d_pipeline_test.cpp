// Renderer state, the depth buffer and the geometry stage: set-up and release,
// the scene transform, the cut at the near limit and the projection to pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Veilshift/memory.h"
#include "Veilshift/module_state.h"
#include "Veilshift/render3d/soft_renderer.h"
#include "bit_pins.h"
#include "virtual_slot.h"

namespace veilshift {
namespace {

using test::FloatBits;

class Render3dPipeline : public ::testing::Test {
protected:
    void TearDown() override {
        FailAllocationsFrom(0);
        moduleState.depthBuffer.Free();
    }
};

MeshVertex Corner(float x, float y, float z, float u = 0.0f, float v = 0.0f) { return {{x, y, z}, {}, u, v}; }

// A scene triangle whose view-space positions are given directly (TransformScene not run).
SceneTriangle ViewTriangle(Vec3 a, Vec3 b, Vec3 c, int32_t slot = 0) {
    SceneTriangle t{};
    const Vec3 p[3] = {a, b, c};
    for (int k = 0; k < 3; ++k) {
        t.vertex[k].viewPosition = p[k];
        t.vertex[k].u = static_cast<float>(k);       // tells the corners apart
        t.vertex[k].v = static_cast<float>(10 + k);
    }
    t.textureSlot = slot;
    return t;
}

void ExpectIndices(const ScreenTriangle& t, int32_t a, int32_t b, int32_t c) {
    EXPECT_EQ(t.index[0], a);
    EXPECT_EQ(t.index[1], b);
    EXPECT_EQ(t.index[2], c);
}

TEST_F(Render3dPipeline, TableHoldsTransformSceneThenDrawSpans) {
    EXPECT_EQ(::test::VirtualSlot(&SoftRenderer::TransformScene), 0);
    EXPECT_EQ(::test::VirtualSlot(&SoftRenderer::DrawSpans), 1);
    EXPECT_EQ(sizeof(SpanState), 64u);
}

TEST_F(Render3dPipeline, SetupBuildsProjectionAndSlots) {
    SoftRenderer r;
    EXPECT_EQ(r.textureSlotCount, 0);
    EXPECT_EQ(r.textureSlots, nullptr);
    r.cameraPosition = {1, 2, 3};
    r.cameraAngleY = 5;
    ASSERT_TRUE(r.Setup(640, 480));
    EXPECT_EQ(r.textureSlotCount, 16);
    EXPECT_EQ(r.viewportWidth, 640);
    EXPECT_EQ(r.viewportHeight, 480);
    EXPECT_EQ(r.cameraPosition.x, 0.0f);
    EXPECT_EQ(r.cameraAngleY, 0.0f);
    const Matrix4 projection = MakeProjection();
    EXPECT_EQ(std::memcmp(&r.projection, &projection, sizeof projection), 0);
    Matrix4 product = r.projection;
    MultiplyMatrix(product, r.inverseProjection);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product.m[i], i % 5 == 0 ? 1.0f : 0.0f, 2e-6f) << i;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(r.textureSlots[i].surface, nullptr);

    refhost::TestSurface picture(8, 8, 8 * 3 + 5);
    r.SetTexture(3, &picture, 1, 2, 5, 6);
    EXPECT_EQ(r.textureSlots[3].surface, &picture);
    EXPECT_EQ(r.textureSlots[3].y, 2);
    EXPECT_EQ(r.textureSlots[3].height, 6);
    // Outside the slot array: ignored rather than written past it.
    r.SetTexture(16, &picture, 0, 0, 1, 1);
    r.SetTexture(-1, &picture, 0, 0, 1, 1);
}

TEST_F(Render3dPipeline, SetupFailureKeepsTheViewportAndReleaseIsRepeatable) {
    SoftRenderer r;
    r.Release();  // never set up
    ASSERT_TRUE(r.Setup(320, 200));
    FailAllocationsFrom(1);
    EXPECT_FALSE(r.Setup(640, 480));
    FailAllocationsFrom(0);
    EXPECT_EQ(r.viewportWidth, 320);
    EXPECT_EQ(r.viewportHeight, 200);
    EXPECT_EQ(r.textureSlotCount, 0);
    EXPECT_EQ(r.textureSlots, nullptr);
    r.SetTexture(0, nullptr, 0, 0, 1, 1);  // no slots: ignored

    ASSERT_TRUE(r.Setup(320, 200));
    ASSERT_TRUE(r.sceneTriangles.Append(SceneTriangle{}));
    r.Release();
    EXPECT_EQ(r.textureSlots, nullptr);
    EXPECT_EQ(r.textureSlotCount, 0);
    EXPECT_TRUE(r.sceneTriangles.Empty());
    EXPECT_EQ(r.viewportWidth, 320);
    r.Release();
}

TEST_F(Render3dPipeline, DepthBufferAllocateClearFree) {
    EXPECT_EQ(moduleState.depthBuffer.rowPointers, nullptr);
    moduleState.depthBuffer.Clear(1.0f);  // nothing to clear
    ASSERT_TRUE(moduleState.depthBuffer.Allocate(480, 640));
    EXPECT_EQ(moduleState.depthBuffer.rowCount, 480);
    EXPECT_EQ(moduleState.depthBuffer.columnCount, 640);
    moduleState.depthBuffer.Clear(0.25f);
    for (int32_t r = 0; r < 480; ++r) {
        EXPECT_EQ(moduleState.depthBuffer.rowPointers[r], moduleState.depthBuffer.rowPointers[0] + r * 640);
        for (int32_t c = 0; c < 640; ++c) ASSERT_EQ(moduleState.depthBuffer.rowPointers[r][c], 0.25f) << r << "," << c;
    }
    EXPECT_TRUE(moduleState.depthBuffer.Covers(480, 640));
    EXPECT_FALSE(moduleState.depthBuffer.Covers(481, 640));
    // Every cell takes the value's own bits: a negative zero keeps its sign,
    // and the frame's 0.0 (cleared by bytes) leaves nothing of the value before.
    for (const float value : {-0.0f, 0.0f}) {
        moduleState.depthBuffer.Clear(value);
        for (int32_t r = 0; r < 480; ++r)
            for (int32_t c = 0; c < 640; ++c)
                ASSERT_EQ(FloatBits(moduleState.depthBuffer.rowPointers[r][c]), FloatBits(value)) << r << "," << c;
    }
    moduleState.depthBuffer.Clear(0.25f);

    // A non-positive size leaves the existing grid alone.
    float** const before = moduleState.depthBuffer.rowPointers;
    EXPECT_FALSE(moduleState.depthBuffer.Allocate(0, 640));
    EXPECT_FALSE(moduleState.depthBuffer.Allocate(480, -1));
    EXPECT_EQ(moduleState.depthBuffer.rowPointers, before);
    EXPECT_EQ(moduleState.depthBuffer.rowPointers[479][639], 0.25f);

    // Running out of memory, at either allocation, leaves no grid.
    for (int64_t failing : {1, 2}) {
        FailAllocationsFrom(failing);
        EXPECT_FALSE(moduleState.depthBuffer.Allocate(10, 10));
        FailAllocationsFrom(0);
        EXPECT_EQ(moduleState.depthBuffer.rowPointers, nullptr);
        EXPECT_EQ(moduleState.depthBuffer.rowCount, 0);
        EXPECT_EQ(moduleState.depthBuffer.columnCount, 0);
        ASSERT_TRUE(moduleState.depthBuffer.Allocate(3, 4));
    }
    moduleState.depthBuffer.Free();
    moduleState.depthBuffer.Free();
    EXPECT_EQ(moduleState.depthBuffer.rowPointers, nullptr);
    EXPECT_FALSE(moduleState.depthBuffer.Covers(1, 1));
    // Sizes whose product exceeds what the build can address are refused.
    if (sizeof(size_t) == 4) {
        EXPECT_FALSE(moduleState.depthBuffer.Allocate(65536, 65536));
    }
}

TEST_F(Render3dPipeline, TransformSceneMovesTheObjectThenTheCamera) {
    SoftRenderer r;
    ASSERT_TRUE(r.Setup(64, 64));
    ASSERT_TRUE(r.sceneTriangles.Append({{Corner(1, 0, 0, 0.25f, 0.75f), Corner(0, 1, 0), Corner(0, 0, 1)}, 7}));
    ASSERT_TRUE(r.sceneTriangles.Append({{Corner(-3, 2, 5), Corner(0.5f, 0, -2), Corner(0, 0, 0)}, 0}));

    r.TransformScene();
    for (const SceneTriangle& t : r.sceneTriangles)
        for (const MeshVertex& v : t.vertex) EXPECT_EQ(std::memcmp(&v.position, &v.viewPosition, sizeof(Vec3)), 0);
    EXPECT_EQ(r.sceneTriangles[0].vertex[0].u, 0.25f);
    EXPECT_EQ(r.sceneTriangles[0].vertex[0].v, 0.75f);
    EXPECT_EQ(r.sceneTriangles[0].textureSlot, 7);

    r.objectAngleY = 90;
    r.TransformScene();
    const Vec3 turnedY = r.sceneTriangles[0].vertex[0].viewPosition;  // (1, 0, 0) about Y
    EXPECT_NEAR(turnedY.x, 0.0f, 1e-6f);
    EXPECT_EQ(turnedY.y, 0.0f);
    EXPECT_EQ(turnedY.z, -1.0f);

    r.objectAngleY = 0;
    r.objectAngleX = 90;
    r.TransformScene();
    const Vec3 turnedX = r.sceneTriangles[0].vertex[1].viewPosition;  // (0, 1, 0) about X
    EXPECT_EQ(turnedX.x, 0.0f);
    EXPECT_NEAR(turnedX.y, 0.0f, 1e-6f);
    EXPECT_EQ(turnedX.z, 1.0f);

    r.objectAngleX = 0;
    r.objectPosition = {0, 0, 1000};
    r.TransformScene();
    EXPECT_EQ(r.sceneTriangles[1].vertex[0].viewPosition.z, 1005.0f);
    EXPECT_EQ(r.sceneTriangles[1].vertex[1].viewPosition.z, 998.0f);

    // Rotation about the object's own origin happens before the move: (1, 0, 0)
    // turned 90 degrees about Y lands at objectPosition + (0, 0, -1).
    r.objectAngleY = 90;
    r.objectPosition = {10, 20, 30};
    r.TransformScene();
    const Vec3 moved = r.sceneTriangles[0].vertex[0].viewPosition;
    EXPECT_NEAR(moved.x, 10.0f, 1e-5f);
    EXPECT_EQ(moved.y, 20.0f);
    EXPECT_EQ(moved.z, 29.0f);

    // The camera turns the world after the move and takes its position away last.
    r.objectAngleY = 0;
    r.objectPosition = {1, 0, 0};
    r.cameraAngleY = 90;
    r.cameraPosition = {0, 0, 5};
    r.TransformScene();
    const Vec3 viewed = r.sceneTriangles[0].vertex[2].viewPosition;  // (0, 0, 1) + (1, 0, 0), turned, minus camera
    EXPECT_NEAR(viewed.x, 1.0f, 1e-6f);
    EXPECT_EQ(viewed.y, 0.0f);
    EXPECT_NEAR(viewed.z, -6.0f, 1e-6f);

    // Turned again about the other axis, the camera's rotations follow its new angles.
    r.cameraAngleY = 0;
    r.cameraAngleX = 90;
    r.cameraPosition = {0, 0, 0};
    r.TransformScene();
    const Vec3 tilted = r.sceneTriangles[0].vertex[2].viewPosition;  // (1, 0, 1) about X
    EXPECT_EQ(tilted.x, 1.0f);
    EXPECT_EQ(tilted.y, -1.0f);
    EXPECT_NEAR(tilted.z, 0.0f, 1e-6f);
}

TEST_F(Render3dPipeline, NearClipKeepsVertexOrderAndFans) {
    SoftRenderer r;
    const Vec3 front0{0, 0, 5}, front1{4, 0, 5}, front2{0, 4, 5};
    // All in front, behind at z = 0.0009, the boundary z = 0.001 in front.
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle(front0, front1, front2, 3)));
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle(front0, front1, {0, 4, -5})));                     // V2 behind
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle({0, 0, -5}, front1, front2)));                     // V0 behind
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle(front0, {4, 0, -5}, front2)));                     // V1 behind
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle(front0, {4, 0, -5}, {0, 4, -5})));                 // only V0 in front
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle({0, 0, 0.0009f}, {4, 0, -1}, {0, 4, -5})));        // all behind
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle({0, 0, 0.001f}, {4, 0, 0.001f}, {0, 4, 0.001f})));  // on the limit
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle({0, 0, 0.0f}, front1, front2)));                   // z = 0 behind
    BuildScreenTriangles(r);

    ASSERT_EQ(r.vertices.Size(), 3u + 4 + 4 + 4 + 3 + 0 + 3 + 4);
    ASSERT_EQ(r.triangles.Size(), 1u + 2 + 2 + 2 + 1 + 0 + 1 + 2);

    // Whole triangle: V0, V1, V2, one triangle (base, base + 1, base + 2).
    EXPECT_EQ(r.vertices[0].u, 0.0f);
    EXPECT_EQ(r.vertices[2].u, 2.0f);
    ExpectIndices(r.triangles[0], 0, 1, 2);
    EXPECT_EQ(r.triangles[0].textureSlot, 3);
    EXPECT_EQ(r.triangles[0].visible, 0);

    // V2 behind: V0, V1, crossing on V1->V2, crossing on V2->V0; fan (0,1,2), (0,2,3).
    EXPECT_EQ(r.vertices[3].u, 0.0f);
    EXPECT_EQ(r.vertices[4].u, 1.0f);
    EXPECT_NEAR(r.vertices[5].viewPosition.x, 2.04f, 1e-6f);  // 49 % of the way from (4, 0, 5) to (0, 4, -5)
    EXPECT_NEAR(r.vertices[5].u, 1.49f, 1e-6f);
    EXPECT_NEAR(r.vertices[6].u, 0.98f, 1e-6f);  // from V2 (u 2) towards V0 (u 0), 51 % of the way
    ExpectIndices(r.triangles[1], 3, 4, 5);
    ExpectIndices(r.triangles[2], 3, 5, 6);

    // V0 behind: crossing V0->V1, V1, V2, crossing V2->V0.
    EXPECT_NEAR(r.vertices[7].u, 0.51f, 1e-6f);
    EXPECT_EQ(r.vertices[8].u, 1.0f);
    EXPECT_EQ(r.vertices[9].u, 2.0f);
    EXPECT_NEAR(r.vertices[10].u, 1.02f, 1e-6f);
    ExpectIndices(r.triangles[3], 7, 8, 9);
    ExpectIndices(r.triangles[4], 7, 9, 10);

    // V1 behind: V0, crossing V0->V1, crossing V1->V2, V2.
    EXPECT_EQ(r.vertices[11].u, 0.0f);
    EXPECT_NEAR(r.vertices[12].u, 0.49f, 1e-6f);
    EXPECT_NEAR(r.vertices[13].u, 1.51f, 1e-6f);
    EXPECT_EQ(r.vertices[14].u, 2.0f);

    // Only V0 in front: V0, crossing V0->V1, crossing V2->V0.
    EXPECT_EQ(r.vertices[15].u, 0.0f);
    EXPECT_NEAR(r.vertices[16].u, 0.49f, 1e-6f);
    EXPECT_NEAR(r.vertices[17].u, 0.98f, 1e-6f);
    ExpectIndices(r.triangles[7], 15, 16, 17);

    // z exactly 0.001 is in front.
    EXPECT_EQ(r.vertices[18].viewPosition.z, 0.001f);
    ExpectIndices(r.triangles[8], 18, 19, 20);

    // Every crossing lies at z = 0.1, up to the rounding of z = A + m (B - A) with |A|, |B| = 5.
    for (int32_t i : {5, 6, 7, 10, 12, 13, 16, 17, 21, 24}) {
        EXPECT_NEAR(r.vertices[i].viewPosition.z, 0.1f, 3e-7f) << i;
        EXPECT_EQ(r.vertices[i].screenX, 0.0f);
    }
}

TEST_F(Render3dPipeline, CrossingOfAFrontVertexCloserThanTheCutLiesBeyondIt) {
    // A front vertex at z = 0.05 (in front, but nearer than 0.1): the cut point
    // lies on the far side of it from the vertex behind, still on the line.
    const ScreenVertex a{{0, 0, 0.05f}, 0, 0, 0, 0};
    const ScreenVertex b{{1, 2, -0.95f}, 0, 0, 1, 1};
    const ScreenVertex c = IntersectNearPlane(b, a);
    EXPECT_NEAR(c.viewPosition.z, 0.1f, 6e-8f);
    EXPECT_NEAR(c.u, -0.05f, 1e-7f);  // m = 1.05
    EXPECT_NEAR(c.viewPosition.x, -0.05f, 1e-7f);
    EXPECT_NEAR(c.viewPosition.y, -0.1f, 1e-7f);
}

TEST_F(Render3dPipeline, BuildAppendsAfterExistingContentAndSurvivesMemoryFailure) {
    SoftRenderer r;
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle({0, 0, 5}, {4, 0, 5}, {0, 4, -5})));
    ASSERT_TRUE(r.sceneTriangles.Append(ViewTriangle({0, 0, 5}, {4, 0, 5}, {0, 4, 5})));
    BuildScreenTriangles(r);
    BuildScreenTriangles(r);  // indices of the second pass count from the start of the list
    ASSERT_EQ(r.vertices.Size(), 14u);
    ExpectIndices(r.triangles[3], 7, 8, 9);
    ExpectIndices(r.triangles[5], 11, 12, 13);

    // Appends failing at any point: nothing more is added, and every triangle
    // that was added names vertices that exist.
    for (int64_t failing = 1; failing <= 5; ++failing) {  // the build makes five allocations
        SoftRenderer s;
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(s.sceneTriangles.Append(ViewTriangle({0, 0, 5}, {4, 0, 5}, {0, 4, i % 2 ? 5.0f : -5.0f})));
        FailAllocationsFrom(failing);
        BuildScreenTriangles(s);
        FailAllocationsFrom(0);
        EXPECT_LT(s.triangles.Size(), 9u) << failing;
        for (const ScreenTriangle& t : s.triangles)
            for (int32_t index : t.index) EXPECT_LT(static_cast<size_t>(index), s.vertices.Size()) << failing;
    }
}

TEST_F(Render3dPipeline, ProjectionMapsTheEdgesOfTheViewToPixels) {
    // With an identity projection the projected point is the view position
    // itself, so +-1 land exactly on the viewport's edges, odd sizes included
    // (halves such as 320.5 are exact).
    struct Case {
        int32_t width, height;
        float rightX, topY;
    };
    for (const Case c : {Case{640, 480, 640, 0}, Case{641, 481, 641, 0}, Case{333, 211, 333, 0}, Case{1, 1, 1, 0}}) {
        SoftRenderer r;
        ASSERT_TRUE(r.Setup(c.width, c.height));
        r.projection = MakeIdentity();
        ASSERT_TRUE(r.vertices.Append({{-1, 1, 1}, 0, 0, 0, 0}));
        ASSERT_TRUE(r.vertices.Append({{1, -1, 1}, 0, 0, 0, 0}));
        ASSERT_TRUE(r.vertices.Append({{0, 0, 1}, 0, 0, 0, 0}));
        ASSERT_TRUE(r.triangles.Append({{0, 1, 2}, 0, 0}));
        ProjectTriangles(r);
        EXPECT_EQ(r.vertices[0].screenX, 0.0f) << c.width;
        EXPECT_EQ(r.vertices[0].screenY, c.topY) << c.height;
        EXPECT_EQ(r.vertices[1].screenX, c.rightX) << c.width;
        EXPECT_EQ(r.vertices[1].screenY, static_cast<float>(c.height)) << c.height;
        if (c.width > 1) {
            EXPECT_EQ(r.triangles[0].visible, 1);
        }
    }

    // Through the real projection the view axis lands on the centre.
    SoftRenderer r;
    ASSERT_TRUE(r.Setup(640, 480));
    ASSERT_TRUE(r.vertices.Append({{0, 0, 500}, 0, 0, 0, 0}));
    ASSERT_TRUE(r.vertices.Append({{-500, 0, 500}, 0, 0, 0, 0}));
    ASSERT_TRUE(r.vertices.Append({{0, 500, 500}, 0, 0, 0, 0}));
    ASSERT_TRUE(r.triangles.Append({{0, 1, 2}, 0, 0}));
    ProjectTriangles(r);
    EXPECT_EQ(r.vertices[0].screenX, 320.0f);
    EXPECT_EQ(r.vertices[0].screenY, 240.0f);
    EXPECT_EQ(r.vertices[1].screenX, 0.0f);  // 45 degrees to the left: the left edge
    EXPECT_LT(r.vertices[2].screenY, 0.0f);  // 45 degrees up: above the 22.5-degree top

    // An odd viewport's centre lies between two pixels.
    SoftRenderer odd;
    ASSERT_TRUE(odd.Setup(333, 211));
    ASSERT_TRUE(odd.vertices.Append({{0, 0, 500}, 0, 0, 0, 0}));
    ASSERT_TRUE(odd.triangles.Append({{0, 0, 0}, 0, 0}));
    ProjectTriangles(odd);
    EXPECT_EQ(odd.vertices[0].screenX, 166.5f);
    EXPECT_EQ(odd.vertices[0].screenY, 105.5f);
}

TEST_F(Render3dPipeline, TrivialRejectionNeedsAllCornersOnOneSide) {
    SoftRenderer r;
    ASSERT_TRUE(r.Setup(100, 50));
    r.projection = MakeIdentity();  // screenX = (x + 1) * 50, screenY = 50 - (y + 1) * 25
    auto add = [&](float x0, float y0, float x1, float y1, float x2, float y2) {
        const int32_t base = static_cast<int32_t>(r.vertices.Size());
        const float xs[3] = {x0, x1, x2}, ys[3] = {y0, y1, y2};
        for (int k = 0; k < 3; ++k) {
            // Invert the mapping above so the corner lands on the given pixel.
            ASSERT_TRUE(r.vertices.Append({{xs[k] / 50 - 1, (50 - ys[k]) / 25 - 1, 1}, 0, 0, 0, 0}));
        }
        ASSERT_TRUE(r.triangles.Append({{base, base + 1, base + 2}, 1, 0}));
    };
    add(-10, 5, -1, 5, -5, 20);     // 0: all left
    add(100, 5, 120, 5, 110, 20);   // 1: all at or right of the width
    add(0, 5, -10, 5, -5, 20);      // 2: one corner at column 0: inside
    add(10, -1, 20, -5, 15, -0.5f); // 3: all above
    add(10, 50, 20, 60, 15, 55);    // 4: all at or below the height
    add(-50, -50, 500, -50, -50, 500);  // 5: covers the viewport, no corner inside
    add(-10, 10, 200, 10, 50, -5);  // 6: straddles
    add(10, 49, 20, 60, 15, 55);    // 7: one corner on the last row
    ProjectTriangles(r);
    const uint8_t expected[] = {0, 0, 1, 0, 0, 1, 1, 1};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(r.triangles[i].visible, expected[i]) << i;

    // A triangle naming a vertex that does not exist is never drawn.
    ASSERT_TRUE(r.triangles.Append({{0, 1, 99}, 1, 0}));
    ASSERT_TRUE(r.triangles.Append({{-1, 1, 2}, 1, 0}));
    ProjectTriangles(r);
    EXPECT_EQ(r.triangles[8].visible, 0);
    EXPECT_EQ(r.triangles[9].visible, 0);
}

}  // namespace
}  // namespace veilshift
