// The state a triangle's set-up hands to the walk of its rows.
#pragma once

namespace veilshift {

// Edge and gradient state handed from a triangle's set-up to the span filler.
// iz = 1/z, uz = u'/z, vz = v'/z, with u' and v' in texels. x and the rows are
// in coordinates shifted by half a pixel: row r is sampled on y' = r + 1,
// pixel X at x' = X + 1.
struct SpanState {
    float dIzDx, dUzDx, dVzDx;  // per pixel to the right
    float dIzDy, dUzDy, dVzDy;  // per row down at constant x
    float leftX, rightX;        // edges on the current row's sample line
    float leftIz, leftUz, leftVz;
    float leftSlope, rightSlope;  // x change per row
    float leftIzStep, leftUzStep, leftVzStep;
};
static_assert(sizeof(SpanState) == 16 * sizeof(float));

}  // namespace veilshift
