// The ripple's pixel pass in processor forms. Every form has one signature and
// never sees the host: RippleRect asks for the addresses and pitches, computes
// the shift tables and hands everything over in one RippleFrame.
//
// Neighbouring destination pixels read from source rows far apart (a column's
// shift changes by up to about 7 rows from one column to the next at the
// peak), so a row-by-row walk touches hundreds of source rows per destination
// row. The forms walk the rectangle in strips of columns instead, top to
// bottom, so that the source rows a strip reads stay cached from one
// destination row to the next; a strip whose columns all move alike reads
// whole runs of one source row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../processor_features.h"
#include "mix_rows.h"

namespace veilshift {

struct RippleFrame {
    uint8_t* dst;  // pixel (0, 0) of each rectangle
    const uint8_t* a;
    const uint8_t* b;
    ptrdiff_t dstPitch, aPitch, bPitch;
    int32_t width, height;       // both at least 1
    const int32_t* columnShift;  // width entries: the vertical move of each column
    const int32_t* rowShift;     // height entries: the horizontal move of each row
    MixWeights weights;          // alpha from 0 to 254
};

// Pixel (i, j) becomes the mix of the source pixels at (i + rowShift[j],
// j + columnShift[i]) when that position lies in the rectangle, and keeps its
// value otherwise. Reads only the two source rectangles; the vector forms read
// a pixel as four bytes, so they take the last column of a source row
// (whose fourth byte lies outside) through the scalar code.
//
// These forms walk the rectangle once, reading and writing as they go: where
// the destination shares bytes with a source, a pixel may read what an earlier
// pixel of the frame wrote, and the forms' differing groups would differ in
// what they read. The chooser then gives the scalar form, pixel by pixel in
// the strip order below, so that every processor draws the same picture.
using RippleFn = void (*)(const RippleFrame& frame);

void Ripple_Scalar(const RippleFrame& frame);
void Ripple_Avx2(const RippleFrame& frame);

// The form for the processor's features (form_dispatch.cpp); the scalar form
// for every processor where the destination may share bytes with a source.
RippleFn ChooseRipple(const ProcessorFeatures& features, bool destinationMeetsSource);

// The passes' buffers, carved from one block by CarveRipplePassBuffers.
struct RipplePassBuffers {
    uint8_t* image;         // M, the mix of the sources
    int32_t* columnShifts;  // width entries, bounded to -height..height
    int32_t* rowMoves;      // height entries: each row's shift, bounded to -width..width
    ptrdiff_t mixedPitch;   // M's row v at image + v * mixedPitch: width pixels, then at least one spare byte
    int32_t* columnTerms;   // width entries: where column i reads in M, relative to the row's start
};

// Bytes of the block for a width x height rectangle (both at least 1); 0 where
// the passes would need more than kRipplePassMaxBytes. Within that limit every
// offset the passes compute fits in 32 bits.
inline constexpr uint64_t kRipplePassMaxBytes = uint64_t{1} << 30;
size_t RipplePassBytes(int32_t width, int32_t height);
// The buffers in a block of RipplePassBytes(width, height) bytes.
RipplePassBuffers CarveRipplePassBuffers(void* block, int32_t width, int32_t height);

using RipplePassesFn = void (*)(const RippleFrame& frame, const RipplePassBuffers& buffers);

// The same frame in two passes over a scratch image M, the mix of the sources,
// so that no pass reads a different source row at every pixel (the fused
// passes: the mix and the move of the frame in one block). Pixel (i, j) is
// M(i + rowShift[j], j + columnShift[i]):
//   1. Every source row is mixed once, whole, into M (the sources read as a
//      stream, before any destination byte is written).
//   2. The destination in strips of kRippleFusedStripColumns columns, each
//      top to bottom: in row j every pixel of the strip reads one word of M at
//      j * mixedPitch + 3 * rowShift[j] + columnTerms[i], the row's shift one
//      number and the column terms a plain vector. The rows of M a strip
//      reads (as many as its columns' shifts span) stay in the first-level
//      cache from one destination row to the next.
// A pixel whose position leaves the rectangle keeps its value, as in the
// direct walk. Every source byte is read in the first pass, before the second
// writes any destination byte: where the destination shares bytes with a
// source the frame is drawn from the sources as they were, in every form.
//
// Shift tables may hold any value; a frame's shifts are bounded to the
// rectangle's extent (further moves leave it just the same) before use.
inline constexpr int32_t kRippleFusedStripColumns = 32;

void RippleFused_Scalar(const RippleFrame& frame, const RipplePassBuffers& buffers);
void RippleFused_Sse2(const RippleFrame& frame, const RipplePassBuffers& buffers);
void RippleFused_Avx2(const RippleFrame& frame, const RipplePassBuffers& buffers);
// The same passes with a load of its own for each pixel where the other reads
// eight with a gather: for processors that run gathers slowly.
void RippleFused_Avx2Loads(const RippleFrame& frame, const RipplePassBuffers& buffers);

// The form for the processor's features (form_dispatch.cpp): the fused
// passes, the gathers only where they are fast.
RipplePassesFn ChooseRipplePasses(const ProcessorFeatures& features);

// A transition's forms: the passes, the direct walk, and the direct walk
// where the destination may share bytes with a source.
struct RippleForms {
    RipplePassesFn passes;
    RippleFn direct;
    RippleFn inPlace;
};
RippleForms ChooseRippleForms(const ProcessorFeatures& features);

}  // namespace veilshift
