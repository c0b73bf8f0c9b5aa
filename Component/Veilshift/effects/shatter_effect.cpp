// Effect 34, the shatter: the renderer and the pieces made ready at Begin, and
// each frame source B as the background, then every piece through the
// renderer, each with its own spin and depth for the frame.
#include "../host_connection.h"
#include "../platform/fpu_precision.h"
#include "../render3d/depth_buffer.h"
#include "../shatter/shatter_mesh.h"
#include "effects.h"

namespace veilshift {

namespace {
VS_PRECISION_BOUNDARY void DrawPieces(EffectPlugin& plugin, int32_t progress, int32_t total) {
    SoftRenderer& renderer = plugin.renderer;
    const TransitionParams& p = plugin.params;
    // Constant acceleration from rest: a quarter of the way in, 1/16 of the travel and spin.
    float s = static_cast<float>(progress) / static_cast<float>(total);
    s = s * s;
    for (const ShatterPiece& piece : plugin.pieces) {
        renderer.objectAngleY = static_cast<float>(piece.spinY) * s;
        renderer.objectAngleX = static_cast<float>(piece.spinX) * s;
        renderer.objectPosition = {piece.center.x, piece.center.y,
                                   plugin.pictureCorner.z + static_cast<float>(piece.travelZ) * s};
        renderer.sceneTriangles.Clear();
        if (!renderer.sceneTriangles.Append(piece.triangle)) return;  // no storage: the frame stays as drawn
        renderer.vertices.Clear();
        renderer.triangles.Clear();
        // The frame set single precision once: the stages run without guards of their own.
        single_precision::TransformScene(renderer);
        single_precision::BuildScreenTriangles(renderer);
        single_precision::ProjectTriangles(renderer);
        single_precision::DrawTriangles(renderer, plugin.dst, p.dx, p.dy);
    }
}
}  // namespace

bool PrepareShatter(EffectPlugin& plugin) {
    const TransitionParams& p = plugin.params;
    if (!depthBuffer.Allocate(p.height, p.width)) return false;
    SoftRenderer& renderer = plugin.renderer;
    if (!renderer.Setup(p.width, p.height)) return false;
    // A piece's scene is one triangle, which the near cut leaves as at most four
    // vertices and two triangles: with room for those now, no frame allocates,
    // and none can run out of storage half drawn.
    if (!renderer.sceneTriangles.Reserve(1) || !renderer.vertices.Reserve(4) || !renderer.triangles.Reserve(2))
        return false;
    // Each piece's two triangles of two parts each, kept for the frame's bands.
    if (!renderer.ReserveBands(static_cast<int32_t>(4 * kShatterPieceCount))) return false;
    renderer.SetTexture(0, plugin.srcA, p.ax, p.ay, p.width, p.height);
    renderer.forms = plugin.forms.renderer;
    // The far top-left corner of the view, un-projected: its x and y are the
    // picture's half extents, its z the picture plane's depth.
    plugin.pictureCorner = {-1.0f, 1.0f, 1.0f};
    TransformPoint(plugin.pictureCorner, renderer.inverseProjection);
    return BuildShatterPieces(plugin.pieces, plugin.pictureCorner, plugin.timer->GetTime());
}

void ReleaseShatter(EffectPlugin& plugin) {
    depthBuffer.Free();
    plugin.renderer.Release();
}

void DrawShatterFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    const TransitionParams& p = plugin.params;
    if (progress == 0) {
        // At rest the pieces tile the picture: the first frame is source A
        // itself. Drawn through the renderer it would only come close: the last
        // column's texel lies 1/(2 x width) of a texel from a rounding tie, less
        // than the running edges' single-precision error over a tall piece, and
        // a piece narrower than a column is skipped as a sliver.
        ThePixmillApi->Copy(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, p.width, p.height);
        return;
    }
    ThePixmillApi->Copy(plugin.dst, p.dx, p.dy, plugin.srcB, p.bx, p.by, p.width, p.height);
    // Pieces hide one another by depth whatever their order. The pieces are
    // drawn band by band, each band's depth cells cleared as it is first drawn;
    // without the bands, the whole buffer is cleared now.
    SoftRenderer& renderer = plugin.renderer;
    if (!renderer.BeginBands()) depthBuffer.Clear(0.0f);
    platform::FpuSinglePrecision singlePrecision;
    DrawPieces(plugin, progress, total);
    single_precision::EndBands(renderer);
}

}  // namespace veilshift
