// The row operations of the mosaic, in processor forms: mixing two packed runs
// of bytes through the frame's weights (a mosaic of one-pixel blocks, and the
// ripple's rows that move as a whole), laying out a block row as a pattern,
// and copying that pattern into each destination row. Every form gives
// exactly the bytes of the MulTable mix.
//
// The scalar forms look the weights up in MulTable. The x86-64 build's vector
// forms multiply instead: for a weight w from 0 to 254, floor(x * w / 255)
// equals (x * MixMultiplier(w)) >> 16 for every byte x (the multiplier is
// ceil(65536 * w / 255); its error, below x / 65536 < 1 / 255, never carries
// past a multiple of 1 / 255). The weight 255 has no 16-bit multiplier, but
// it occurs only with alpha 0 or 255, where the mix is one source unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veilshift {

// The frame's weights: the two MulTable rows and the alpha they were taken for.
struct MixWeights {
    const uint8_t* rowA;  // MulTable[255 - alpha]
    const uint8_t* rowB;  // MulTable[alpha]
    int32_t alpha;        // 0 to 255
};

// The block grid of the mosaic along a row: block edges at every x with
// 0 < x < width and x = width / 2 (mod blockSize); the first block is the cut
// remainder before the first edge (a whole block when that remainder is 0),
// the last one is cut at the width.
struct MosaicColumns {
    int32_t width;      // at least 1
    int32_t blockSize;  // at least 1
    int32_t firstSpan;  // width of the first block, 1..blockSize
};

// Internal linkage: the form files are built for different processors, and an
// out-of-line copy from an AVX2 file must not be the one the linker keeps for
// the others.
namespace {

constexpr uint32_t MixMultiplier(int32_t weight) { return (65536u * static_cast<uint32_t>(weight) + 254u) / 255u; }

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

// dst[k] = rowA[a[k]] + rowB[b[k]] for k < bytes. With `stream` the stores may
// go around the cache (the caller then ends the frame with the forms' fence).
// A destination that overlaps a source (a host may pass one surface twice)
// gets some mix of old and new bytes, but nothing undefined happens.
using MixRowFn = void (*)(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                          bool stream);
// dst[k] = src[k] for k < bytes, with `stream` as above.
using CopyRowFn = void (*)(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream);
// Pixels [from, to) of a block row into pattern[0 ..]: each block the mix of
// its first pixel in the source rows a and b (which start at pixel 0). May
// write up to kMosaicPatternSlack bytes past pixel `to`.
using MosaicPatternFn = void (*)(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                                 int32_t from, int32_t to, const MixWeights& weights);
inline constexpr size_t kMosaicPatternSlack = 32;

void MixRow_Scalar(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                   bool stream);
void CopyRow_Scalar(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream);
void MosaicPattern_Scalar(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                          int32_t from, int32_t to, const MixWeights& weights);

#if VEILSHIFT_WIDE_FORMS
void MixRow_Sse2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                 bool stream);
void MixRow_Avx2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                 bool stream);
void CopyRow_Sse2(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream);
void MosaicPattern_Avx2(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                        int32_t from, int32_t to, const MixWeights& weights);
void FinishStreaming_Sse2();
#endif

struct MosaicForms {
    MixRowFn mixRow;
    MosaicPatternFn pattern;
    CopyRowFn copyRow;
    void (*finishStreaming)();  // after the last streamed row of a frame
    bool canStream;             // whether `stream` changes anything
};

// The widest forms the processor flags allow; the scalar ones everywhere else.
MosaicForms ChooseMosaicForms(bool useSse2, bool useAvx2);

// From this many destination bytes on (width * 3 * height), the vector forms
// store a frame around the cache: it pushes everything out anyway, and plain
// stores would first read every destination line. Module-wide so that tests
// can move it.
inline constexpr size_t kMosaicStreamingBytes = size_t{12} << 20;
extern size_t MosaicStreamingBytes;

}  // namespace veilshift
