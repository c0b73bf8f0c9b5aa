// Effect 31: a crossfade whose rows and columns are displaced by sine waves
// centred on the middle of the rectangle, growing to mid-transition and back.
#pragma once

#include <cstdint>

#include "../host_interfaces.h"

namespace veilshift {

class EffectPlugin;

// Amplitude (pixels) and number of waves across the width of one frame:
// amp = ((width / 16) * q) / halfTotal, waves = (16 * q) / halfTotal + 1 (a
// real division). A one-frame transition gives amp 0 and one wave: nothing
// ripples. The frame counters here and below are a frame's, as EffectPlugin::Draw
// passes them: 0 <= progress < total.
struct RippleWave {
    int32_t amp;
    double waves;
};
RippleWave RippleWaveOf(int32_t width, int32_t progress, int32_t total);

// The frame's displacements: columnShift[i] (width entries) moves column i
// vertically, rowShift[j] (height entries) moves row j horizontally. Each is
// amp * sin(offset * 360 * waves / width * degreesToRadians), truncated toward
// zero, with offset the distance from the centre column (row); both use the
// width as divisor, so rows and columns share one wavelength. The same bits in
// every build: double precision throughout, whatever x87 precision the host
// left set.
void ComputeRippleShifts(int32_t width, int32_t height, int32_t progress, int32_t total, int32_t* columnShift,
                         int32_t* rowShift);

// Draws pixel (i, j) of the width x height rectangle of dst at (dx, dy) as the
// MulTable mix of the srcA (at ax, ay) and srcB (at bx, by) pixels at
// (i + rowShift[j], j + columnShift[i]); a pixel whose displaced position
// leaves the rectangle keeps its value. Allocates the two shift tables for the
// frame; if either cannot be had, nothing is drawn. An empty rectangle, a
// missing MulTable or a surface that answers no address draws nothing.
void RippleRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t progress,
                int32_t total);

void DrawRippleFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

}  // namespace veilshift
