// The MulTable mix of two packed runs of bytes, row by row, in processor
// forms: the mosaic's one-pixel blocks and the ripple's rows that move as a
// whole both come down to it. Every form gives exactly the bytes of the
// MulTable look-up.
//
// The scalar forms look the weights up in MulTable. The SSE2 and AVX2
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

// Internal linkage, as in every header the form files share (why:
// Component/Veilshift/CMakeLists.txt).
namespace {

constexpr uint32_t MixMultiplier(int32_t weight) { return (65536u * static_cast<uint32_t>(weight) + 254u) / 255u; }

// One pixel's MulTable mix, rowA[a] + rowB[b], a byte at a time: each byte is
// stored before the next is read, so a destination that shares bytes with a
// source reads what the pixel's earlier bytes left there.
inline void MixPixel(uint8_t* d, const uint8_t* pa, const uint8_t* pb, const uint8_t* rowA, const uint8_t* rowB) {
    d[0] = static_cast<uint8_t>(rowA[pa[0]] + rowB[pb[0]]);
    d[1] = static_cast<uint8_t>(rowA[pa[1]] + rowB[pb[1]]);
    d[2] = static_cast<uint8_t>(rowA[pa[2]] + rowB[pb[2]]);
}

// The same mix packed as c0 | c1 << 8 | c2 << 16.
inline uint32_t MixPixelPacked(const uint8_t* pa, const uint8_t* pb, const MixWeights& weights) {
    uint8_t c[3];
    MixPixel(c, pa, pb, weights.rowA, weights.rowB);
    return c[0] | uint32_t{c[1]} << 8 | uint32_t{c[2]} << 16;
}

}  // namespace

// dst[k] = rowA[a[k]] + rowB[b[k]] for k < bytes. With `stream` the stores may
// go around the cache (the caller then ends the frame with FinishStreaming).
// A destination that overlaps a source (a host may pass one surface twice)
// gets some mix of old and new bytes, but nothing undefined happens.
using MixRowFn = void (*)(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                          bool stream);
// dst[k] = src[k] for k < bytes, with `stream` as above.
using CopyRowFn = void (*)(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream);

void MixRow_Scalar(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                   bool stream);
void CopyRow_Scalar(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream);
void FinishStreaming_Scalar();  // nothing to finish: the scalar forms never stream

void MixRow_Sse2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                 bool stream);
void MixRow_Avx2(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, const MixWeights& weights,
                 bool stream);
void CopyRow_Sse2(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream);
void CopyRow_Avx2(uint8_t* dst, const uint8_t* src, size_t bytes, bool stream);
// Streamed stores are weakly ordered: after the last streamed row of a frame.
void FinishStreaming_Sse2();

}  // namespace veilshift
