// The piece mesh, built once per transition.
#include "shatter_mesh.h"

#include "../platform/fpu_precision.h"

namespace veilshift {

namespace {
constexpr float kOneOver255 = 1.0f / 255.0f;  // the float nearest 1/255
constexpr float kOneThird = 1.0f / 3.0f;      // 0.33333334

SubdivisionVertex Lerp(const SubdivisionVertex& a, const SubdivisionVertex& b, float t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.u + (b.u - a.u) * t, a.v + (b.v - a.v) * t};
}

int32_t RandomSpin(ShatterRandom& random) { return (180 - random.Next() % 360) * 4; }
}  // namespace

float SplitFraction(ShatterRandom& random) {
    return static_cast<float>((random.Next() & 127) - 64) * kOneOver255 + 0.5f;
}

void EmitPiece(GrowableArray<ShatterPiece>& pieces, ShatterRandom& random, const SubdivisionVertex& v0,
               const SubdivisionVertex& v1, const SubdivisionVertex& v2) {
    ShatterPiece piece{};
    const float cx = (v0.x + v1.x + v2.x) * kOneThird;
    const float cy = (v0.y + v1.y + v2.y) * kOneThird;
    piece.center = {cx, cy, 0.0f};
    const SubdivisionVertex* corners[3] = {&v0, &v1, &v2};
    for (int k = 0; k < 3; ++k) {
        MeshVertex& vertex = piece.triangle.vertex[k];
        vertex.position = {corners[k]->x - cx, corners[k]->y - cy, 0.0f};
        vertex.viewPosition = {0.0f, 0.0f, 0.0f};
        vertex.u = corners[k]->u;
        vertex.v = corners[k]->v;
    }
    piece.triangle.textureSlot = 0;
    piece.spinY = RandomSpin(random);
    piece.spinX = RandomSpin(random);
    piece.travelZ = -1000 - random.Next() % 2000;
    pieces.Append(piece);  // the caller reserved room for every piece
}

void SubdivideTriangle(GrowableArray<ShatterPiece>& pieces, ShatterRandom& random, const SubdivisionVertex& v0,
                       const SubdivisionVertex& v1, const SubdivisionVertex& v2, int32_t depth) {
    if (depth <= 0) {
        EmitPiece(pieces, random, v0, v1, v2);
        return;
    }
    const float t01 = SplitFraction(random);
    const float t12 = SplitFraction(random);
    const float t20 = SplitFraction(random);
    const SubdivisionVertex p01 = Lerp(v0, v1, t01);
    const SubdivisionVertex p12 = Lerp(v1, v2, t12);
    const SubdivisionVertex p20 = Lerp(v2, v0, t20);
    // Each child finishes all its draws before the next begins: the corners, then the middle.
    SubdivideTriangle(pieces, random, v0, p01, p20, depth - 1);
    SubdivideTriangle(pieces, random, p01, v1, p12, depth - 1);
    SubdivideTriangle(pieces, random, p12, v2, p20, depth - 1);
    SubdivideTriangle(pieces, random, p01, p12, p20, depth - 1);
}

namespace single_precision {
namespace {
// Two halves either side of the top-right to bottom-left diagonal, first half first.
VS_PRECISION_BOUNDARY void CutPicture(GrowableArray<ShatterPiece>& pieces, Vec3 corner, uint32_t seed) {
    ShatterRandom random;
    random.Seed(seed);
    const float x = corner.x, y = corner.y;
    SubdivideTriangle(pieces, random, {x, y, 0, 0}, {-x, y, 1, 0}, {x, -y, 0, 1}, kShatterDepth);
    SubdivideTriangle(pieces, random, {-x, y, 1, 0}, {-x, -y, 1, 1}, {x, -y, 0, 1}, kShatterDepth);
}
}  // namespace
}  // namespace single_precision

bool BuildShatterPieces(GrowableArray<ShatterPiece>& pieces, Vec3 corner, uint32_t seed) {
    platform::FpuSinglePrecision singlePrecision;
    pieces.Release();
    if (!pieces.Reserve(kShatterPieceCount)) return false;
    single_precision::CutPicture(pieces, corner, seed);
    return true;
}

}  // namespace veilshift
