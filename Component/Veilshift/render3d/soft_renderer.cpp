#include "soft_renderer.h"

#include <cstring>

#include "../platform/fpu_precision.h"

namespace veilshift {

namespace {

uint32_t BitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The camera's rotations for its present angles, built again only when they changed.
const CameraTurn& CurrentCameraTurn(SoftRenderer& r) {
    CameraTurn& turn = r.cameraTurn;
    const uint32_t y = BitsOf(r.cameraAngleY), x = BitsOf(r.cameraAngleX);
    if (!turn.built || turn.angleYBits != y || turn.angleXBits != x) {
        MakeRotationsYX(r.cameraAngleY, r.cameraAngleX, turn.rotationY, turn.rotationX);
        turn.built = true;
        turn.angleYBits = y;
        turn.angleXBits = x;
    }
    return turn;
}

}  // namespace

namespace single_precision {

VS_PRECISION_BOUNDARY void TransformScene(SoftRenderer& r) {
    const MatrixForms forms = r.forms.matrix;
    // Object: turn about its own origin (Y, then X), move into place; camera:
    // turn the world (Y, then X), then take the camera's position away.
    Matrix4 objectY, objectX;
    MakeRotationsYX(r.objectAngleY, r.objectAngleX, objectY, objectX);
    const CameraTurn& camera = CurrentCameraTurn(r);
    Matrix4 m = MakeIdentity();
    forms.multiply(m, objectY);
    forms.multiply(m, objectX);
    forms.multiply(m, MakeTranslation(r.objectPosition.x, r.objectPosition.y, r.objectPosition.z));
    forms.multiply(m, camera.rotationY);
    forms.multiply(m, camera.rotationX);
    forms.multiply(m, MakeTranslation(-r.cameraPosition.x, -r.cameraPosition.y, -r.cameraPosition.z));
    for (SceneTriangle& triangle : r.sceneTriangles) {
        for (MeshVertex& vertex : triangle.vertex) {
            vertex.viewPosition = vertex.position;
            forms.transformPoint(vertex.viewPosition, m);
        }
    }
}

}  // namespace single_precision

SoftRenderer::~SoftRenderer() { Release(); }

void SoftRenderer::TransformScene() {
    platform::FpuSinglePrecision guard;
    single_precision::TransformScene(*this);
}

bool SoftRenderer::Setup(int32_t width, int32_t height) {
    cameraPosition = {0.0f, 0.0f, 0.0f};
    cameraAngleY = 0.0f;
    cameraTurn.built = false;
    projection = MakeProjection();
    inverseProjection = projection;
    InvertMatrix(inverseProjection);

    FreeBytes(textureSlots);
    textureSlots = nullptr;
    textureSlotCount = 0;
    TextureSlot* slots = AllocateArray<TextureSlot>(kTextureSlotCount);
    if (slots == nullptr) return false;
    // A zero-sized slot is never drawn from, so an unfilled one cannot be read.
    for (int32_t i = 0; i < kTextureSlotCount; ++i) slots[i] = {nullptr, 0, 0, 0, 0};
    textureSlots = slots;
    textureSlotCount = kTextureSlotCount;

    viewportWidth = width;
    viewportHeight = height;
    return true;
}

void SoftRenderer::SetTexture(int32_t index, HostSurface* surface, int32_t x, int32_t y, int32_t width,
                              int32_t height) {
    if (index < 0 || index >= textureSlotCount) return;
    textureSlots[index] = {surface, x, y, width, height};
}

void SoftRenderer::Release() {
    FreeBytes(textureSlots);
    textureSlots = nullptr;
    textureSlotCount = 0;
    triangles.Release();
    vertices.Release();
    sceneTriangles.Release();
    bands.Release();
}

}  // namespace veilshift
