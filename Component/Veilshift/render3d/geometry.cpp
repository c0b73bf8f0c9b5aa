#include "../platform/fpu_precision.h"
#include "soft_renderer.h"

namespace veilshift {

namespace {

bool InFront(const ScreenVertex& v) { return v.viewPosition.z >= NearInsideZ; }  // NaN: behind

ScreenVertex ToScreenVertex(const MeshVertex& m) { return {m.viewPosition, 0.0f, 0.0f, m.u, m.v}; }

}  // namespace

namespace single_precision {

VS_PRECISION_BOUNDARY ScreenVertex IntersectNearPlane(const ScreenVertex& a, const ScreenVertex& b) {
    const float m = (NearCrossingZ - a.viewPosition.z) / (b.viewPosition.z - a.viewPosition.z);
    ScreenVertex c;
    c.viewPosition.x = a.viewPosition.x + m * (b.viewPosition.x - a.viewPosition.x);
    c.viewPosition.y = a.viewPosition.y + m * (b.viewPosition.y - a.viewPosition.y);
    c.viewPosition.z = a.viewPosition.z + m * (b.viewPosition.z - a.viewPosition.z);
    c.screenX = 0.0f;
    c.screenY = 0.0f;
    c.u = a.u + m * (b.u - a.u);
    c.v = a.v + m * (b.v - a.v);
    return c;
}

VS_PRECISION_BOUNDARY void BuildScreenTriangles(SoftRenderer& r) {
    for (const SceneTriangle& scene : r.sceneTriangles) {
        const ScreenVertex corner[3] = {ToScreenVertex(scene.vertex[0]), ToScreenVertex(scene.vertex[1]),
                                        ToScreenVertex(scene.vertex[2])};
        // Cutting one corner off a triangle leaves at most four vertices.
        ScreenVertex polygon[4];
        int n = 0;
        for (int k = 0; k < 3; ++k) {
            const ScreenVertex& cur = corner[k];
            const ScreenVertex& next = corner[(k + 1) % 3];
            const bool curIn = InFront(cur);
            const bool nextIn = InFront(next);
            if (curIn) polygon[n++] = cur;
            if (curIn != nextIn) polygon[n++] = single_precision::IntersectNearPlane(cur, next);
        }
        if (n == 0) continue;

        // Sizes beyond int32 cannot be indexed: treat them as memory running out.
        const size_t base = r.vertices.Size();
        if (base > static_cast<size_t>(INT32_MAX) - 4) return;
        for (int k = 0; k < n; ++k) {
            if (!r.vertices.Append(polygon[k])) return;
        }
        const int32_t b = static_cast<int32_t>(base);
        for (int k = 0; k + 2 < n; ++k) {
            const ScreenTriangle t = {{b, b + k + 1, b + k + 2}, 0, scene.textureSlot};
            if (!r.triangles.Append(t)) return;
        }
    }
}

VS_PRECISION_BOUNDARY void ProjectTriangles(SoftRenderer& r) {
    // The exact halves (166.5 for 333 columns): +-1 then land on the viewport's
    // edges whatever its parity, so pieces at rest cover it pixel for pixel.
    // Halving a float is exact, so every build gets the same bits.
    const float width = platform::IntToFloat(r.viewportWidth);
    const float height = platform::IntToFloat(r.viewportHeight);
    const float halfWidth = width / 2.0f;
    const float halfHeight = height / 2.0f;
    const size_t vertexCount = r.vertices.Size();
    const MatrixForms forms = r.forms.matrix;
    for (ScreenTriangle& t : r.triangles) {
        bool valid = true;
        for (int32_t index : t.index) valid = valid && index >= 0 && static_cast<size_t>(index) < vertexCount;
        if (!valid) {
            t.visible = 0;
            continue;
        }
        int left = 0, right = 0, above = 0, below = 0;
        for (int32_t index : t.index) {
            ScreenVertex& v = r.vertices[static_cast<size_t>(index)];
            Vec3 p = v.viewPosition;
            forms.transformPoint(p, r.projection);  // w is the view-space z
            v.screenX = (p.x + 1.0f) * halfWidth;
            v.screenY = height - (p.y + 1.0f) * halfHeight;
            left += v.screenX < 0.0f;
            right += v.screenX >= width;
            above += v.screenY < 0.0f;
            below += v.screenY >= height;
        }
        t.visible = (left == 3 || right == 3 || above == 3 || below == 3) ? 0 : 1;
    }
}

}  // namespace single_precision

ScreenVertex IntersectNearPlane(const ScreenVertex& a, const ScreenVertex& b) {
    platform::FpuSinglePrecision guard;
    return single_precision::IntersectNearPlane(a, b);
}

void BuildScreenTriangles(SoftRenderer& renderer) {
    platform::FpuSinglePrecision guard;
    single_precision::BuildScreenTriangles(renderer);
}

void ProjectTriangles(SoftRenderer& renderer) {
    platform::FpuSinglePrecision guard;
    single_precision::ProjectTriangles(renderer);
}

}  // namespace veilshift
