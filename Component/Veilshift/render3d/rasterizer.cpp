// Perspective-correct, depth-tested triangle filling. DrawTriangles sets each
// triangle up once (gradients of 1/z, u/z and v/z, edges); DrawSpans walks the
// rows of one part of it and hands their spans to a span form (span_fill.h),
// where a pixel costs a product and a sum per interpolant until the depth test
// passes, and then one reciprocal.
#include <cmath>
#include <cstring>

#include "../module_state.h"
#include "../platform/fpu_precision.h"
#include "soft_renderer.h"
#include "span_fill.h"
#include "span_bands.h"
#include "span_rows.h"

namespace veilshift {

namespace {

using platform::IntToFloat;
using platform::TruncateToInt32;

// The kernels' inline rounding, kept out of line for the public entry so that
// it runs after the entry's guard.
VS_PRECISION_BOUNDARY int32_t NearestIntegerOutOfLine(float value) { return single_precision::NearestInteger(value); }

// A slot that can be sampled: filled, with at least one texel.
bool SlotUsable(const SoftRenderer& r, int32_t index) {
    if (index < 0 || index >= r.textureSlotCount || r.textureSlots == nullptr) return false;
    const TextureSlot& s = r.textureSlots[index];
    return s.surface != nullptr && s.width > 0 && s.height > 0;
}

// Every row and column the spans can reach has a depth cell.
bool CanDraw(const SoftRenderer& r, HostSurface* destination) {
    return destination != nullptr && r.viewportWidth > 0 && r.viewportHeight > 0 &&
           moduleState.depthBuffer.Covers(r.viewportHeight, r.viewportWidth);
}

struct Corner {
    float x, y;       // shifted half a pixel: pixel centres at integer + 1
    float iz, uz, vz;
};

void SwapIfBelow(Corner& a, Corner& b) {
    if (a.y > b.y) {
        const Corner t = a;
        a = b;
        b = t;
    }
}

void SetLeftEdge(SpanState& s, const Corner& from, float slope, float preStep) {
    s.leftSlope = slope;
    // Along the edge one row down is `slope` pixels across plus one row down.
    s.leftIzStep = slope * s.dIzDx + s.dIzDy;
    s.leftUzStep = slope * s.dUzDx + s.dUzDy;
    s.leftVzStep = slope * s.dVzDx + s.dVzDy;
    s.leftX = from.x + slope * preStep;
    s.leftIz = from.iz + s.leftIzStep * preStep;
    s.leftUz = from.uz + s.leftUzStep * preStep;
    s.leftVz = from.vz + s.leftVzStep * preStep;
}

void SetRightEdge(SpanState& s, const Corner& from, float slope, float preStep) {
    s.rightSlope = slope;
    s.rightX = from.x + slope * preStep;
}

// A triangle's corners in screen space with 1/z, u/z and v/z, from its
// vertices; false for a corner that is no position on the screen (no area to fill).
bool CornersOf(const SoftRenderer& r, const ScreenTriangle& t, Corner (&c)[3]) {
    const TextureSlot& slot = r.textureSlots[t.textureSlot];
    const float uScale = IntToFloat(slot.width - 1);
    const float vScale = IntToFloat(slot.height - 1);
    bool finite = true;
    for (int k = 0; k < 3; ++k) {
        const ScreenVertex& v = r.vertices[static_cast<size_t>(t.index[k])];
        c[k].x = v.screenX + 0.5f;
        c[k].y = v.screenY + 0.5f;
        c[k].iz = 1.0f / v.viewPosition.z;
        c[k].uz = (uScale * v.u) * c[k].iz;
        c[k].vz = (vScale * v.v) * c[k].iz;
        finite = finite && std::isfinite(c[k].x) && std::isfinite(c[k].y);
    }
    return finite;
}

// The gradients of the planes through the three corners (sorted top to
// bottom) in screen space, one each for iz, uz and vz; false for a triangle
// with no area.
bool SetGradients(SpanState& s, const Corner (&c)[3]) {
    const float dx10 = c[1].x - c[0].x, dy10 = c[1].y - c[0].y;
    const float dx20 = c[2].x - c[0].x, dy20 = c[2].y - c[0].y;
    const float det = dx20 * dy10 - dx10 * dy20;
    if (det == 0.0f) return false;
    const float rdet = 1.0f / det;
    s.dIzDx = ((c[2].iz - c[0].iz) * dy10 - (c[1].iz - c[0].iz) * dy20) * rdet;
    s.dUzDx = ((c[2].uz - c[0].uz) * dy10 - (c[1].uz - c[0].uz) * dy20) * rdet;
    s.dVzDx = ((c[2].vz - c[0].vz) * dy10 - (c[1].vz - c[0].vz) * dy20) * rdet;
    s.dIzDy = ((c[1].iz - c[0].iz) * dx20 - (c[2].iz - c[0].iz) * dx10) * rdet;
    s.dUzDy = ((c[1].uz - c[0].uz) * dx20 - (c[2].uz - c[0].uz) * dx10) * rdet;
    s.dVzDy = ((c[1].vz - c[0].vz) * dx20 - (c[2].vz - c[0].vz) * dx10) * rdet;
    return true;
}

// The two parts of a triangle whose corners are sorted top to bottom: the
// edges of each set up, then its rows handed to DrawSpans.
void DrawParts(SoftRenderer& r, HostSurface* destination, int32_t x, int32_t y, int32_t slot, const Corner (&c)[3],
               int32_t y0, int32_t y1, int32_t y2) {
    const float dx10 = c[1].x - c[0].x, dy10 = c[1].y - c[0].y;
    const float dx20 = c[2].x - c[0].x, dy20 = c[2].y - c[0].y;
    // Each slope only where its edge has height; the row tests below use no other.
    const float s01 = c[1].y > c[0].y ? dx10 / dy10 : 0.0f;
    const float s02 = c[2].y > c[0].y ? dx20 / dy20 : 0.0f;
    const float s12 = c[2].y > c[1].y ? (c[2].x - c[1].x) / (c[2].y - c[1].y) : 0.0f;

    bool middleOnLeft;
    if (c[1].y == c[2].y) {
        middleOnLeft = c[1].x < c[2].x;
    } else if (c[0].y == c[1].y) {
        middleOnLeft = c[1].x < c[0].x;
    } else {
        middleOnLeft = s02 > s01;
    }

    // From each top vertex down to the centre line of its first row.
    const float p0 = 1.0f - (c[0].y - IntToFloat(y0));
    const float p1 = 1.0f - (c[1].y - IntToFloat(y1));

    // The long edge (corner 0 to 2) on one side, the two short ones in turn on the other.
    using EdgeSetter = void (*)(SpanState&, const Corner&, float, float);
    const EdgeSetter longSide = middleOnLeft ? SetRightEdge : SetLeftEdge;
    const EdgeSetter shortSide = middleOnLeft ? SetLeftEdge : SetRightEdge;
    longSide(r.span, c[0], s02, p0);
    if (y0 < y1) {
        shortSide(r.span, c[0], s01, p0);
        r.DrawSpans(destination, x, y, slot, y0, y1);
    }
    if (y1 < y2) {
        shortSide(r.span, c[1], s12, p1);
        r.DrawSpans(destination, x, y, slot, y1, y2);
    }
}

// Rows a band: about kBandBytes of depth cells (at least one row). The band's
// cells, pixels and texels stay in the second-level cache while its parts are
// drawn; larger bands mean fewer calls to the forms for each part.
constexpr int64_t kBandBytes = 128 * 1024;
int32_t BandRows(int32_t columns) {
    const int64_t rows = kBandBytes / (int64_t{columns} * static_cast<int64_t>(sizeof(float)));
    return rows < 1 ? 1 : static_cast<int32_t>(rows);
}

// A triangle within one column is a sliver seen edge on, skipped: at most a
// column of pixels that the span rule would give it. In a viewport narrower
// than this the pieces of a picture are that narrow themselves, and skipping
// them empties whole columns; there every triangle with area is drawn. From
// this width up the skip stays, and with it every frame drawn so far.
constexpr int32_t kSliverSkipWidth = 8;

}  // namespace

namespace single_precision {

VS_PRECISION_BOUNDARY void DrawSpans(SoftRenderer& r, HostSurface* destination, int32_t x, int32_t y, int32_t slotIndex,
                                     int32_t firstRow, int32_t endRow) {
    if (!CanDraw(r, destination) || !SlotUsable(r, slotIndex)) return;
    const TextureSlot slot = r.textureSlots[slotIndex];
    uint8_t* const textureAddress = slot.surface->PixelAddress(0, 0);
    const int32_t texturePitch = slot.surface->Pitch();
    uint8_t* const destinationAddress = destination->PixelAddress(x, y);
    const int32_t destinationPitch = destination->Pitch();
    if (textureAddress == nullptr || destinationAddress == nullptr) return;
    const SpanTexture texture{textureAddress + static_cast<ptrdiff_t>(static_cast<int64_t>(slot.y) * texturePitch +
                                                                      static_cast<int64_t>(slot.x) * 3),
                              texturePitch, slot.width - 1, slot.height - 1};
    const bool texelsMeetPixels =
        TexelsMeetPixels(texture, destinationAddress, destinationPitch, r.viewportWidth, r.viewportHeight);
    const SpanRowForms rowForms = r.forms.rows;
    KeptSpanPart part{r.span, firstRow, endRow < r.viewportHeight ? endRow : r.viewportHeight, rowForms.walk,
                      SelectSpanFill(r.forms.fill, texture, texelsMeetPixels)};
    SpanState& s = part.state;
    // Rows above the viewport are stepped over in one go.
    const int32_t top = endRow < 0 ? endRow : 0;
    if (firstRow < top) {
        const float k = IntToFloat(static_cast<int64_t>(top) - firstRow);
        s.leftX += k * s.leftSlope;
        s.rightX += k * s.rightSlope;
        s.leftIz += k * s.leftIzStep;
        s.leftUz += k * s.leftUzStep;
        s.leftVz += k * s.leftVzStep;
        part.row = top;
    }

    const SpanPartTarget target{texture, {moduleState.depthBuffer.rowPointers, destinationAddress, destinationPitch, r.viewportWidth}};
    if (part.row < part.endRow) {
        if (r.bands.Active() && !texelsMeetPixels) {
            // Kept for the band's turn; the edges go on to the part's last row now.
            r.bands.Keep(target, part);
            rowForms.step(s, part.endRow - part.row);
        } else {
            // Texels that earlier parts may have drawn over are read after them.
            if (r.bands.Active()) r.bands.BeforeDrawingAtOnce(part.row, part.endRow);
            DrawPartRows(part, part.endRow, target);
        }
    }

    // The next part of the same triangle continues from these edges.
    r.span.leftX = s.leftX;
    r.span.rightX = s.rightX;
    r.span.leftIz = s.leftIz;
    r.span.leftUz = s.leftUz;
    r.span.leftVz = s.leftVz;
}

VS_PRECISION_BOUNDARY void DrawTriangles(SoftRenderer& r, HostSurface* destination, int32_t x, int32_t y) {
    if (!CanDraw(r, destination)) return;
    for (size_t i = 0; i < r.triangles.Size(); ++i) {
        const ScreenTriangle t = r.triangles[i];
        if (t.visible == 0 || !SlotUsable(r, t.textureSlot)) continue;
        bool indexed = true;
        for (int32_t index : t.index) indexed = indexed && index >= 0 && static_cast<size_t>(index) < r.vertices.Size();
        if (!indexed) continue;

        Corner c[3];
        if (!CornersOf(r, t, c)) continue;
        SwapIfBelow(c[0], c[1]);
        SwapIfBelow(c[0], c[2]);
        SwapIfBelow(c[1], c[2]);

        const int32_t y0 = TruncateToInt32(c[0].y);
        const int32_t y1 = TruncateToInt32(c[1].y);
        const int32_t y2 = TruncateToInt32(c[2].y);
        if (y0 == y1 && y1 == y2) continue;
        const int32_t x0 = TruncateToInt32(c[0].x);
        if (r.viewportWidth >= kSliverSkipWidth && x0 == TruncateToInt32(c[1].x) && x0 == TruncateToInt32(c[2].x))
            continue;
        if (!SetGradients(r.span, c)) continue;
        DrawParts(r, destination, x, y, t.textureSlot, c, y0, y1, y2);
    }
}

VS_PRECISION_BOUNDARY void EndBands(SoftRenderer& r) { r.bands.End(); }

}  // namespace single_precision

bool SoftRenderer::ReserveBands(int32_t parts) { return bands.Reserve(parts, viewportHeight); }

bool SoftRenderer::BeginBands() {
    // No band without a depth cell for every pixel of the viewport: nothing is drawn then.
    if (viewportWidth <= 0 || viewportHeight <= 0 || !moduleState.depthBuffer.Covers(viewportHeight, viewportWidth)) {
        bands.End();
        return false;
    }
    return bands.Begin(viewportHeight, BandRows(moduleState.depthBuffer.columnCount));
}

void SoftRenderer::EndBands() {
    platform::FpuSinglePrecision guard;
    single_precision::EndBands(*this);
}

int32_t NearestInteger(float value) {
    platform::FpuSinglePrecision guard;
    return NearestIntegerOutOfLine(value);
}

void SoftRenderer::DrawSpans(HostSurface* destination, int32_t x, int32_t y, int32_t slotIndex, int32_t firstRow,
                             int32_t endRow) {
    platform::FpuSinglePrecision guard;
    single_precision::DrawSpans(*this, destination, x, y, slotIndex, firstRow, endRow);
}

void SoftRenderer::DrawTriangles(HostSurface* destination, int32_t x, int32_t y) {
    platform::FpuSinglePrecision guard;
    single_precision::DrawTriangles(*this, destination, x, y);
}


}  // namespace veilshift
