// Effect 31: a crossfade whose rows and columns are displaced by sine waves
// centred on the middle of the rectangle, growing to mid-transition and back.
#pragma once

#include <cstdint>

#include "../host_interfaces.h"
#include "ripple_forms.h"

namespace veilshift {

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

// What a transition keeps from Begin to its end for its frames: the two shift
// tables and the block of the two passes (ripple_forms.h), for one size of
// rectangle. Either may be missing (storage ran out, or the passes would need
// more than they may have).
struct RippleScratch {
    int32_t width = 0, height = 0;
    int32_t* shifts = nullptr;  // width column shifts, then height row shifts
    void* passBlock = nullptr;
    RipplePassBuffers passes{};
};

// Draws pixel (i, j) of the width x height rectangle of dst at (dx, dy) as the
// MulTable mix of the srcA (at ax, ay) and srcB (at bx, by) pixels at
// (i + rowShift[j], j + columnShift[i]); a pixel whose displaced position
// leaves the rectangle keeps its value. An empty rectangle, a missing MulTable
// or a surface that answers no address draws nothing.
//
// With a scratch made for this width and height the frame takes its tables
// from it and allocates nothing; without its tables it allocates the two
// shift tables for the frame, and if either cannot be had, nothing is drawn.
// With the passes' block every frame that moves columns more than 16 rows
// apart, and every frame whose destination may share bytes with a source,
// goes through the passes (the fused order, ripple_forms.h): such a frame is drawn from the sources as they
// were before it. The others, and every frame without the block, are walked
// directly: a destination that shares bytes with a source is then drawn pixel
// by pixel in the scalar form's order, each pixel reading what the surface
// holds at that moment (ripple_forms.h). Where no byte is shared both ways
// give the same picture.
//
// The frame runs in the given forms.
void RippleRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t progress,
                int32_t total, const RippleForms& forms, const RippleScratch* scratch = nullptr);

// The traversal of a frame whose shift tables are filled: the passes when
// `passes` is given and the frame moves columns more than 16 rows apart or its
// destination may share bytes with a source; else the direct walk, in the
// scalar form where bytes may be shared.
void TraverseRipple(const RippleFrame& frame, const RipplePassBuffers* passes, const RippleForms& forms);

// The scratch for a width x height rectangle, as much of it as storage allows;
// ReleaseRippleScratch gives it back (also a part, or nothing).
void MakeRippleScratch(RippleScratch& scratch, int32_t width, int32_t height);
void ReleaseRippleScratch(RippleScratch& scratch);

}  // namespace veilshift
