// Perspective-correct, depth-tested triangle filling. DrawTriangles sets each
// triangle up once (gradients of 1/z, u/z and v/z, edges); DrawSpans walks the
// rows of one part of it, where every pixel costs only additions until the
// depth test passes, and then one reciprocal.
#include <cmath>
#include <cstring>

#include "../platform/fpu_precision.h"
#include "depth_buffer.h"
#include "soft_renderer.h"

namespace veilshift {

namespace {

using platform::IntToFloat;

// Truncation toward zero that saturates at the int32 range instead of being
// undefined; NaN gives 0. Huge coordinates come from vertices close to the
// viewer's plane.
int32_t TruncateToInt(float value) {
    if (value >= 2147483648.0f) return INT32_MAX;
    if (value >= -2147483648.0f) return static_cast<int32_t>(value);
    if (value < -2147483648.0f) return INT32_MIN;
    return 0;
}

// NearestInteger, for callers that already run with single-precision rounding.
// Within [-2^22, 2^23] the sum with 2^23 lands where the float's last mantissa
// bit is worth 1 (0.5 below 2^23, hence the doubling of negative values), and
// its bits minus those of 2^23 are the rounded value. Past that range the
// trick would give values of the wrong sign or size (-2^24 < value < -2^23
// comes out as a large positive number, which would drop a span starting far
// to the left instead of clipping it): there the result keeps its sign and
// saturates, positive values to the integer they already are, negative ones
// doubled like the range above.
inline int32_t NearestIntegerSingle(float value) {
    if (value >= -4194304.0f && value <= 8388608.0f) {
        const float sum = value + 8388608.0f;
        int32_t bits;  // positive: the sum lies in [2^22, 2^24]
        std::memcpy(&bits, &sum, sizeof bits);
        return bits - 0x4B000000;
    }
    if (value > 0.0f) return value < 2147483648.0f ? static_cast<int32_t>(value) : INT32_MAX;
    if (value < 0.0f) return value >= -1073741824.0f ? static_cast<int32_t>(value * 2.0f) : INT32_MIN;
    return 0;  // NaN
}

__attribute__((noinline)) int32_t NearestIntegerCall(float value) { return NearestIntegerSingle(value); }

// A slot that can be sampled: filled, with at least one texel.
bool SlotUsable(const SoftRenderer& r, int32_t index) {
    if (index < 0 || index >= r.textureSlotCount || r.textureSlots == nullptr) return false;
    const TextureSlot& s = r.textureSlots[index];
    return s.surface != nullptr && s.width > 0 && s.height > 0;
}

// Every row and column the spans can reach has a depth cell.
bool CanDraw(const SoftRenderer& r, HostSurface* destination) {
    return destination != nullptr && r.viewportWidth > 0 && r.viewportHeight > 0 &&
           depthBuffer.Covers(r.viewportHeight, r.viewportWidth);
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

__attribute__((noinline)) void DrawSpansSingle(SoftRenderer& r, HostSurface* destination, int32_t x, int32_t y,
                                               int32_t slotIndex, int32_t firstRow, int32_t endRow) {
    if (!CanDraw(r, destination) || !SlotUsable(r, slotIndex)) return;
    const TextureSlot slot = r.textureSlots[slotIndex];
    uint8_t* const textureAddress = slot.surface->PixelAddress(0, 0);
    const int32_t texturePitch = slot.surface->Pitch();
    uint8_t* const destinationAddress = destination->PixelAddress(x, y);
    const int32_t destinationPitch = destination->Pitch();
    if (textureAddress == nullptr || destinationAddress == nullptr) return;
    const uint8_t* const texels =
        textureAddress + static_cast<ptrdiff_t>(static_cast<int64_t>(slot.y) * texturePitch +
                                                static_cast<int64_t>(slot.x) * 3);
    const int32_t lastU = slot.width - 1;
    const int32_t lastV = slot.height - 1;
    const int32_t width = r.viewportWidth;
    const int32_t height = r.viewportHeight;

    SpanState s = r.span;
    int32_t row = firstRow;
    // Rows above the viewport are stepped over in one go.
    const int32_t top = endRow < 0 ? endRow : 0;
    if (firstRow < top) {
        const float k = IntToFloat(static_cast<int64_t>(top) - firstRow);
        s.leftX += k * s.leftSlope;
        s.rightX += k * s.rightSlope;
        s.leftIz += k * s.leftIzStep;
        s.leftUz += k * s.leftUzStep;
        s.leftVz += k * s.leftVzStep;
        row = top;
    }

    for (; row < endRow && row < height; ++row) {
        int32_t xs = NearestIntegerSingle(s.leftX);
        const int32_t xe = NearestIntegerSingle(s.rightX);
        // From the edge to the first pixel centre; xs's own rounding cancels out.
        const float q = 1.0f - (s.leftX - IntToFloat(xs));
        float iz = s.leftIz + q * s.dIzDx;
        float uz = s.leftUz + q * s.dUzDx;
        float vz = s.leftVz + q * s.dVzDx;
        if (xs < 0) {
            const float skipped = IntToFloat(xs);
            iz -= skipped * s.dIzDx;
            uz -= skipped * s.dUzDx;
            vz -= skipped * s.dVzDx;
            xs = 0;
        }
        const int32_t last = xe < width - 1 ? xe : width - 1;
        float* const depth = depthBuffer.rowPointers[row];
        uint8_t* const out = destinationAddress + static_cast<ptrdiff_t>(row) * destinationPitch;
        for (int32_t column = xs; column <= last; ++column) {
            // Depth first: a hidden pixel costs no division and no texel. NaN never passes.
            if (iz > depth[column]) {
                depth[column] = iz;
                const float w = 1.0f / iz;
                int32_t iu = NearestIntegerSingle(uz * w);
                int32_t iv = NearestIntegerSingle(vz * w);
                // Clamp, don't wrap: coordinates a little past 0 or 1 repeat the edge texels.
                iu = iu < 0 ? 0 : (iu > lastU ? lastU : iu);
                iv = iv < 0 ? 0 : (iv > lastV ? lastV : iv);
                const uint8_t* const texel = texels + static_cast<ptrdiff_t>(iv) * texturePitch + iu * 3;
                uint8_t* const pixel = out + static_cast<ptrdiff_t>(column) * 3;
                pixel[0] = texel[0];
                pixel[1] = texel[1];
                pixel[2] = texel[2];
            }
            iz += s.dIzDx;
            uz += s.dUzDx;
            vz += s.dVzDx;
        }

        s.leftX += s.leftSlope;
        s.rightX += s.rightSlope;
        s.leftIz += s.leftIzStep;
        s.leftUz += s.leftUzStep;
        s.leftVz += s.leftVzStep;
    }

    // The next part of the same triangle continues from these edges.
    r.span.leftX = s.leftX;
    r.span.rightX = s.rightX;
    r.span.leftIz = s.leftIz;
    r.span.leftUz = s.leftUz;
    r.span.leftVz = s.leftVz;
}

__attribute__((noinline)) void DrawTrianglesSingle(SoftRenderer& r, HostSurface* destination, int32_t x,
                                                   int32_t y) {
    if (!CanDraw(r, destination)) return;
    for (size_t i = 0; i < r.triangles.Size(); ++i) {
        const ScreenTriangle t = r.triangles[i];
        if (t.visible == 0 || !SlotUsable(r, t.textureSlot)) continue;
        bool indexed = true;
        for (int32_t index : t.index) indexed = indexed && index >= 0 && static_cast<size_t>(index) < r.vertices.Size();
        if (!indexed) continue;

        const TextureSlot& slot = r.textureSlots[t.textureSlot];
        const float uScale = IntToFloat(slot.width - 1);
        const float vScale = IntToFloat(slot.height - 1);
        Corner c[3];
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
        // A corner that is no position on the screen gives no area to fill.
        if (!finite) continue;

        SwapIfBelow(c[0], c[1]);
        SwapIfBelow(c[0], c[2]);
        SwapIfBelow(c[1], c[2]);

        const int32_t y0 = TruncateToInt(c[0].y);
        const int32_t y1 = TruncateToInt(c[1].y);
        const int32_t y2 = TruncateToInt(c[2].y);
        if (y0 == y1 && y1 == y2) continue;
        const int32_t x0 = TruncateToInt(c[0].x);
        if (x0 == TruncateToInt(c[1].x) && x0 == TruncateToInt(c[2].x)) continue;

        const float dx10 = c[1].x - c[0].x, dy10 = c[1].y - c[0].y;
        const float dx20 = c[2].x - c[0].x, dy20 = c[2].y - c[0].y;
        const float det = dx20 * dy10 - dx10 * dy20;
        if (det == 0.0f) continue;
        const float rdet = 1.0f / det;

        SpanState& s = r.span;
        // A plane through the three corners in screen space, for each of iz, uz, vz.
        s.dIzDx = ((c[2].iz - c[0].iz) * dy10 - (c[1].iz - c[0].iz) * dy20) * rdet;
        s.dUzDx = ((c[2].uz - c[0].uz) * dy10 - (c[1].uz - c[0].uz) * dy20) * rdet;
        s.dVzDx = ((c[2].vz - c[0].vz) * dy10 - (c[1].vz - c[0].vz) * dy20) * rdet;
        s.dIzDy = ((c[1].iz - c[0].iz) * dx20 - (c[2].iz - c[0].iz) * dx10) * rdet;
        s.dUzDy = ((c[1].uz - c[0].uz) * dx20 - (c[2].uz - c[0].uz) * dx10) * rdet;
        s.dVzDy = ((c[1].vz - c[0].vz) * dx20 - (c[2].vz - c[0].vz) * dx10) * rdet;

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

        if (middleOnLeft) {
            SetRightEdge(s, c[0], s02, p0);
            if (y0 < y1) {
                SetLeftEdge(s, c[0], s01, p0);
                r.DrawSpans(destination, x, y, t.textureSlot, y0, y1);
            }
            if (y1 < y2) {
                SetLeftEdge(r.span, c[1], s12, p1);
                r.DrawSpans(destination, x, y, t.textureSlot, y1, y2);
            }
        } else {
            SetLeftEdge(s, c[0], s02, p0);
            if (y0 < y1) {
                SetRightEdge(s, c[0], s01, p0);
                r.DrawSpans(destination, x, y, t.textureSlot, y0, y1);
            }
            if (y1 < y2) {
                SetRightEdge(r.span, c[1], s12, p1);
                r.DrawSpans(destination, x, y, t.textureSlot, y1, y2);
            }
        }
    }
}

}  // namespace

int32_t NearestInteger(float value) {
    platform::FpuSinglePrecision guard;
    return NearestIntegerCall(value);
}

void SoftRenderer::DrawSpans(HostSurface* destination, int32_t x, int32_t y, int32_t slotIndex, int32_t firstRow,
                             int32_t endRow) {
    platform::FpuSinglePrecision guard;
    DrawSpansSingle(*this, destination, x, y, slotIndex, firstRow, endRow);
}

void SoftRenderer::DrawTriangles(HostSurface* destination, int32_t x, int32_t y) {
    platform::FpuSinglePrecision guard;
    DrawTrianglesSingle(*this, destination, x, y);
}

}  // namespace veilshift
