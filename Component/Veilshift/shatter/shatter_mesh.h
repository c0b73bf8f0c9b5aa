// The shatter's pieces: 128 triangles cut from the picture at random, each with
// the spin and travel it reaches at the end of the transition. Plain data and
// the functions that build it; the plug-in object holds the list.
#pragma once

#include <cstdint>

#include "../memory.h"
#include "../render3d/soft_renderer.h"

namespace veilshift {

struct ShatterPiece {
    Vec3 center;              // centroid in the picture plane, z = 0
    int32_t travelZ;          // view-z displacement reached at the end: -1000 to -2999
    SceneTriangle triangle;   // corners relative to center, with their texture coordinates
    int32_t spinY;            // degrees about Y reached at the end: a multiple of 4, -716 to 720
    int32_t spinX;            // the same about X
};

// The mesh's random numbers: the classic srand / rand linear congruential rule,
// our own so that a seed gives the same pieces on every platform.
class ShatterRandom {
public:
    void Seed(uint32_t seed) { state_ = seed; }
    int32_t Next() {  // 0 to 32767
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int32_t>((state_ >> 16) & 0x7FFF);
    }

private:
    uint32_t state_ = 1;
};

// A corner of the subdivision: picture-plane position and texture coordinates.
struct SubdivisionVertex {
    float x, y, u, v;
};

inline constexpr int32_t kShatterDepth = 3;  // 4^3 pieces per half of the picture
inline constexpr size_t kShatterPieceCount = 2 * 64;  // 4^kShatterDepth per half

// A fraction of an edge between about 0.249 and 0.747: no split point comes
// closer than a quarter of the edge to either end.
float SplitFraction(ShatterRandom& random);
// Appends 4^depth pieces, drawing the random numbers depth first.
void SubdivideTriangle(GrowableArray<ShatterPiece>& pieces, ShatterRandom& random, const SubdivisionVertex& v0,
                       const SubdivisionVertex& v1, const SubdivisionVertex& v2, int32_t depth);
void EmitPiece(GrowableArray<ShatterPiece>& pieces, ShatterRandom& random, const SubdivisionVertex& v0,
               const SubdivisionVertex& v1, const SubdivisionVertex& v2);

// Cuts the picture (corner (x, y) top-left, (-x, -y) bottom-right) into 128 pieces
// from `seed`; false when storage ran out (the list is then empty).
bool BuildShatterPieces(GrowableArray<ShatterPiece>& pieces, Vec3 pictureCorner, uint32_t seed);

}  // namespace veilshift
