// The crossfade kernel shared by effects 1, 40 and 41, and effect 1's frame drawer.
//
// Three forms with one signature; none of them sees the host. CrossfadeRect makes
// the host calls (three addresses, three pitches) once and picks the form from
// UseMMX / UseSSE and the width. Rows are walked by pitch, so padded and
// bottom-up (negative pitch) surfaces work alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../host_interfaces.h"

namespace veilshift {

class EffectPlugin;

using CrossfadeFn = void (*)(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch,
                             const uint8_t* b, ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha);

void Crossfade_Scalar(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                      ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha);
void Crossfade_Mmx(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                   ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha);
void Crossfade_Sse(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                   ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha);

// SIMD forms only when a row holds at least one whole group of 4 pixels; SSE first.
CrossfadeFn ChooseCrossfade(int32_t width, bool useMmx, bool useSse);

// Blends the width x height rectangles of srcA at (ax, ay) and srcB at (bx, by)
// into dst at (dx, dy) with weight `alpha` (0 to 255) for source B. Requires
// width, height >= 1 and all three rectangles inside their surfaces.
void CrossfadeRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                   HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t alpha);

// Effect 1.
void DrawCrossfadeFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

}  // namespace veilshift
