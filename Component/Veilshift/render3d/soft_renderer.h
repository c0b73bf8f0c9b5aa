// The software renderer of the shatter transition: textured, perspective-correct,
// depth-tested triangles drawn into a host surface.
//
// One scene goes through four stages, in this order:
//   TransformScene        sceneTriangles' positions -> view space (object, then camera)
//   BuildScreenTriangles  cut at the near limit, fan into vertices / triangles
//   ProjectTriangles      view space -> viewport pixels, reject what lies wholly outside
//   DrawTriangles         fill the visible triangles, tested against the depth buffer
// View space: the viewer at the origin looking along +z (smaller z is nearer),
// y up; viewport rows count from the top.
#pragma once

#include <cstdint>

#include "../host_interfaces.h"
#include "../memory.h"
#include "math3d.h"
#include "renderer_forms.h"
#include "span_bands.h"
#include "span_state.h"

namespace veilshift {

// A rectangle of a borrowed host surface; texel (i, j) is pixel (x + i, y + j).
struct TextureSlot {
    HostSurface* surface;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct MeshVertex {
    Vec3 position;      // model space, set by whoever builds the scene
    Vec3 viewPosition;  // written by TransformScene
    float u;            // 0 at the slot's left edge, 1 at its right edge
    float v;            // 0 at the top, 1 at the bottom
};

struct SceneTriangle {
    MeshVertex vertex[3];
    int32_t textureSlot;
};

struct ScreenVertex {
    Vec3 viewPosition;
    float screenX;  // viewport column, set by ProjectTriangles
    float screenY;  // viewport row, from the top
    float u;
    float v;
};

struct ScreenTriangle {
    int32_t index[3];     // positions in `vertices`
    uint8_t visible;      // 0: wholly outside the viewport
    int32_t textureSlot;
};

inline constexpr int32_t kTextureSlotCount = 16;
// A vertex whose view-space z is at least this is in front of the viewer.
inline constexpr float NearInsideZ = 0.001f;
// The depth at which an edge crossing the near limit is cut.
inline constexpr float NearCrossingZ = 0.1f;

// The camera's two rotations as last built and the angles (their bits) they
// were built for. The camera stays put through a frame (through a whole
// transition), so its sines and cosines are taken once, not for every piece.
struct CameraTurn {
    bool built = false;
    uint32_t angleYBits = 0;
    uint32_t angleXBits = 0;
    Matrix4 rotationY{};
    Matrix4 rotationX{};
};

// The table of two operations is the renderer's contract: DrawTriangles hands
// each part of a triangle to DrawSpans through the table, so a derived renderer
// may take over the span drawing (the tests watch the edges handed from part to
// part that way). The call costs one precision guard a part, which only reads
// the control word under the frame's own guard. Not final for the same reason;
// nothing deletes a renderer through a base pointer, so the destructor stays
// out of the table.
class SoftRenderer {
public:
    SoftRenderer() = default;
    ~SoftRenderer();
    SoftRenderer(const SoftRenderer&) = delete;
    SoftRenderer& operator=(const SoftRenderer&) = delete;

    // Table slot 0: every sceneTriangles vertex's viewPosition = position * object * camera.
    virtual void TransformScene();
    // Table slot 1: fills viewport rows [firstRow, endRow) of one triangle part from
    // `span`, then writes the advanced edges back into `span`.
    virtual void DrawSpans(HostSurface* destination, int32_t x, int32_t y, int32_t slotIndex, int32_t firstRow,
                           int32_t endRow);

    // Projection, its inverse and 16 empty texture slots; false (nothing changed
    // but the camera) when memory ran out.
    bool Setup(int32_t width, int32_t height);
    // Ignored for an index outside the slot array.
    void SetTexture(int32_t index, HostSurface* surface, int32_t x, int32_t y, int32_t width, int32_t height);
    // Gives back the slot array and the lists' storage; placement, matrices and
    // viewport stay. Safe to call any number of times.
    void Release();

    // Draws every visible triangle, viewport pixel (0, 0) landing on destination
    // pixel (x, y), against the process-wide depthBuffer.
    void DrawTriangles(HostSurface* destination, int32_t x, int32_t y);

    // A frame drawn band by band (span_bands.h): from BeginBands to EndBands,
    // DrawSpans asks the host as always and keeps its part, and EndBands draws
    // what is kept. Each band's depth cells are cleared as the band is first
    // drawn: the frame needs no clear of the depth buffer, and bands no part
    // reaches keep what they held. ReserveBands makes room for `parts` parts
    // over the viewport (after Setup); false when memory ran out. Without that
    // room BeginBands is false and parts are drawn at once, against a depth
    // buffer the caller has cleared.
    bool ReserveBands(int32_t parts);
    bool BeginBands();
    void EndBands();

    // The fields in the order of the renderer's description; the caches after them.
    int32_t viewportWidth = 0;
    int32_t viewportHeight = 0;
    GrowableArray<SceneTriangle> sceneTriangles;
    TextureSlot* textureSlots = nullptr;
    int32_t textureSlotCount = 0;
    GrowableArray<ScreenVertex> vertices;
    GrowableArray<ScreenTriangle> triangles;
    Vec3 objectPosition{};
    float objectAngleY = 0.0f;
    float objectAngleX = 0.0f;
    Vec3 cameraPosition{};
    float cameraAngleY = 0.0f;
    float cameraAngleX = 0.0f;
    Matrix4 projection{};
    Matrix4 inverseProjection{};
    SpanState span{};
    SpanBands bands;
    // The processor forms the stages run; the scalar ones until a transition hands its own.
    RendererForms forms{};
    CameraTurn cameraTurn;
};

// Cuts every scene triangle at the near limit and appends the remaining
// polygon (3 or 4 vertices) to `vertices` and its fan to `triangles`, visible 0.
// When memory runs out it stops: what was appended before stays consistent.
void BuildScreenTriangles(SoftRenderer& renderer);

// The point where the edge a -> b meets z = NearCrossingZ, with u and v along.
ScreenVertex IntersectNearPlane(const ScreenVertex& a, const ScreenVertex& b);

// screenX / screenY of every triangle's corners, and visible = 0 for a triangle
// wholly to one side of the viewport (or naming a vertex that does not exist).
void ProjectTriangles(SoftRenderer& renderer);

// The rasterizer's rounding: the nearest integer, ties to even, for 0 to 2^23;
// the integer nearest twice the value for -2^22 to 0 (only its sign matters
// there). Other values saturate to the int32 range with their sign (positive
// ones to the nearest integer, negative ones doubled, like the range above);
// NaN gives 0.
int32_t NearestInteger(float value);

// Every stage has one name in two places: the public `X` sets single
// precision for its own duration, and `single_precision::X` does the same work
// for code that already holds a single-precision guard (a frame that draws
// many scenes sets the precision once). Everywhere else call the public ones.
namespace single_precision {
void TransformScene(SoftRenderer& renderer);
void BuildScreenTriangles(SoftRenderer& renderer);
void ProjectTriangles(SoftRenderer& renderer);
void DrawTriangles(SoftRenderer& renderer, HostSurface* destination, int32_t x, int32_t y);
void DrawSpans(SoftRenderer& renderer, HostSurface* destination, int32_t x, int32_t y, int32_t slotIndex,
               int32_t firstRow, int32_t endRow);
void EndBands(SoftRenderer& renderer);
ScreenVertex IntersectNearPlane(const ScreenVertex& a, const ScreenVertex& b);
}  // namespace single_precision

}  // namespace veilshift
