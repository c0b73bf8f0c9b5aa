// The crossfade kernel shared by effects 1, 40 and 41.
//
// Two arithmetics (blend.h), each in several instruction sets, every form with
// one signature and none of them seeing the host:
//   exact (BlendByte for every byte):      CrossfadeExact_Scalar, _Sse2, _Avx2
//   grouped (4-pixel groups, alpha >> 1):  CrossfadeGrouped_Scalar, _Mmx, _Sse, _Sse2, _Avx2
// Forms of one arithmetic give the same bytes. form_rules.h chooses among
// them; CrossfadeRect makes the host calls (three addresses, three pitches)
// once and runs the chosen form. Rows are walked by pitch, so padded and
// bottom-up (negative pitch) surfaces work alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../form_rules.h"
#include "../host_interfaces.h"

namespace veilshift {

using CrossfadeFn = void (*)(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch,
                             const uint8_t* b, ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);

// Scalar code: four bytes at a time in the two 16-bit lanes of a general
// register, with warm-up reads of the next rows.
void CrossfadeExact_Scalar(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                          ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);

// The grouped arithmetic in portable code, as the MMX form computes it (for
// processors other than x86).
void CrossfadeGrouped_Scalar(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                             ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);

// The MMX form, and the SSE form (the same arithmetic, warming the cache with
// prefetchnta).
void CrossfadeGrouped_Mmx(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                          ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);
void CrossfadeGrouped_Sse(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                          ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);
// 16 (SSE2) or 32 (AVX2) bytes at a time, without warm-up reads; the AVX2
// forms need a processor with AVX2.
void CrossfadeExact_Sse2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                         ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);
void CrossfadeExact_Avx2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                         ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);
void CrossfadeGrouped_Sse2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                           ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);
void CrossfadeGrouped_Avx2(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                           ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool stream);

// The form for rows of `width` pixels (form_dispatch.cpp).
CrossfadeFn ChooseCrossfade(int32_t width, const FormSettings& settings);

// What a transition's frames blend with: the form, and whether its stores go
// around the cache (form_dispatch.cpp decides both once per transition, the
// second from the processor's caches and who reads the destination next).
struct CrossfadeForm {
    CrossfadeFn blend;
    bool stream;
};

// Blends the width x height rectangles of srcA at (ax, ay) and srcB at (bx, by)
// into dst at (dx, dy) with weight `alpha` (0 to 255) for source B, in the
// given form. Requires all three rectangles inside their surfaces; an empty
// rectangle asks and draws nothing. False when a surface answered no address:
// nothing was drawn.
bool CrossfadeRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                   HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t alpha,
                   const CrossfadeForm& form);

}  // namespace veilshift
