// Effect 6: a crossfade that breaks the picture into square blocks of one colour,
// growing from single pixels to their largest at mid-transition and shrinking back.
#pragma once

#include <cstdint>

#include "../host_interfaces.h"
#include "mosaic_forms.h"

namespace veilshift {

// Side of a full block in the frame: (96 * q) / halfTotal with its lowest bit
// set, so always odd, 1 at the start and 97 at mid-transition (even totals).
// A one-frame transition gives 1. For a frame's counters, 0 <= progress < total.
int32_t MosaicBlockSize(int32_t progress, int32_t total);

// Fills the width x height rectangle of dst at (dx, dy) with blocks of
// blockSize pixels whose edges fall on the rectangle's centre column and row
// (cut at the rectangle's sides). Each block gets one colour, the mix of the
// top-left pixels of its block in srcA (at ax, ay) and srcB (at bx, by):
// MulTable[255 - alpha][a] + MulTable[alpha][b] per byte. Requires all three
// rectangles inside their surfaces and MulTable built; an empty rectangle or a
// missing table draws nothing, blockSize below 1 counts as 1 and alpha is held
// to 0..255. Reads no other source pixel and never reads the destination. A
// null address from the host ends the frame where it is asked for (see
// host_interfaces.h).
// The frame is drawn in the given forms.
void MosaicRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t blockSize,
                int32_t alpha, const MosaicForms& forms);

}  // namespace veilshift
