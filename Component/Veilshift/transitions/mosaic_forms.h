// The block forms of the mosaic: a block row laid out once as a pattern, one
// colour per block, which the row copies of mix_rows.h then put into each of
// its destination rows. A mosaic of one-pixel blocks is the row mix itself.
// Every form gives exactly the bytes of the MulTable mix.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../processor_features.h"
#include "mix_rows.h"

namespace veilshift {

// The block grid of the mosaic along a row: block edges at every x with
// 0 < x < width and x = width / 2 (mod blockSize); the first block is the cut
// remainder before the first edge (a whole block when that remainder is 0),
// the last one is cut at the width.
struct MosaicColumns {
    int32_t width;      // at least 1
    int32_t blockSize;  // at least 1
    int32_t firstSpan;  // width of the first block, 1..blockSize
};

// Internal linkage, as in every header the form files share (why:
// Component/Veilshift/CMakeLists.txt).
namespace {

inline MosaicColumns MosaicColumnsOf(int32_t width, int32_t blockSize) {
    const int32_t cut = (width / 2) % blockSize;
    return {width, blockSize, cut > 0 ? cut : (blockSize < width ? blockSize : width)};
}
// The first pixel of the block holding pixel x.
inline int32_t BlockStart(const MosaicColumns& c, int32_t x) {
    return x < c.firstSpan ? 0 : x - (x - c.firstSpan) % c.blockSize;
}
// The end of the block starting at `start`; never past the width.
inline int32_t BlockEnd(const MosaicColumns& c, int32_t start) {
    const int32_t span = start == 0 ? c.firstSpan : c.blockSize;
    return c.width - start > span ? start + span : c.width;
}

}  // namespace

// Pixels [from, to) of a block row into pattern[0 ..]: each block the mix of
// its first pixel in the source rows a and b (which start at pixel 0). May
// write up to kMosaicPatternSlack bytes past pixel `to`.
using MosaicPatternFn = void (*)(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                                 int32_t from, int32_t to, const MixWeights& weights);
inline constexpr size_t kMosaicPatternSlack = 32;

void MosaicPattern_Scalar(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                          int32_t from, int32_t to, const MixWeights& weights);

void MosaicPattern_Avx2(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                        int32_t from, int32_t to, const MixWeights& weights);

struct MosaicForms {
    MixRowFn mixRow;
    MosaicPatternFn pattern;
    CopyRowFn copyRow;
    void (*finishStreaming)();  // after the last streamed row of a frame
    bool stream;                // whether a frame's stores go around the cache
};

// The forms for the processor's features, their frames' stores around the
// cache where `stream` and the forms can (form_dispatch.cpp).
MosaicForms ChooseMosaicForms(const ProcessorFeatures& features, bool stream = false);

}  // namespace veilshift
