// The crossfade kernel shared by effects 1, 40 and 41, and effect 1's frame drawer.
//
// Six forms with one signature, none of which sees the host: scalar, MMX and
// SSE in every build (MMX and SSE give the same bytes: grouped bytes with
// alpha >> 1, see blend.h); and in the x86-64 build SSE2 and AVX2, wider
// stand-ins for the MMX and SSE forms with their bytes, and ScalarAvx2, the
// scalar form's bytes computed with AVX2. CrossfadeRect makes the host calls
// (three addresses, three pitches) once and picks the form from the width and
// the flags (UseMMX, UseSSE, UseSSE2, UseAVX2, ScalarUsesAVX2). Rows are walked
// by pitch, so padded and bottom-up (negative pitch) surfaces work alike.
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

#if VEILSHIFT_WIDE_FORMS
// The x86-64 build's wider stand-ins for the MMX and SSE forms: the same bytes
// (grouped bytes with alpha >> 1 and shift 7, the last width mod 4 pixels with
// BlendByte), 16 or 32 bytes at a time, without the warm-up reads.
void Crossfade_Sse2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                    ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha);
void Crossfade_Avx2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                    ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha);
// The scalar form's bytes (BlendByte throughout) 32 at a time, where the
// processor has AVX2.
void Crossfade_ScalarAvx2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                          ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha);
#endif

// SIMD forms only when a row holds at least one whole group of 4 pixels; SSE
// first. Where the build has them, the wider forms stand in for MMX and SSE,
// the widest first; `scalarAvx2` lets the scalar form's bytes be computed with AVX2.
CrossfadeFn ChooseCrossfade(int32_t width, bool useMmx, bool useSse, bool useSse2 = false, bool useAvx2 = false,
                            bool scalarAvx2 = false);

// From this many destination bytes on (width * 3 * height), the x86-64 build's
// vector forms store around the cache: with both sources such a frame moves
// 12 MiB or more, which pushes most of a last-level cache out anyway, and plain
// stores would first read every destination line. (Measured on a 32 MiB L3:
// streaming wins from 1280x720 on and loses a little at 640x480.) Module-wide
// so that tests can move it.
inline constexpr size_t kCrossfadeStreamingBytes = size_t{4} << 20;
extern size_t CrossfadeStreamingBytes;

// Blends the width x height rectangles of srcA at (ax, ay) and srcB at (bx, by)
// into dst at (dx, dy) with weight `alpha` (0 to 255) for source B. Requires
// all three rectangles inside their surfaces; an empty rectangle asks and
// draws nothing. False when a surface answered no address: nothing was drawn.
bool CrossfadeRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                   HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t alpha);

// Effect 1.
void DrawCrossfadeFrame(EffectPlugin& plugin, int32_t progress, int32_t total);

}  // namespace veilshift
