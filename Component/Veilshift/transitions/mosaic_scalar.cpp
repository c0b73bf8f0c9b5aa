// The mosaic's block pattern in scalar code: one colour a block, put down
// eight pixels at a time as three 64-bit words.
#include <cstddef>
#include <cstring>

#include "mosaic_forms.h"

namespace veilshift {
namespace {

// Eight pixels of one colour as three 64-bit words (the bytes c0 c1 c2
// repeating; x86 stores the low byte first). p holds c0 | c1 << 8 | c2 << 16.
struct ColourChunk {
    explicit ColourChunk(uint64_t p)
        : w0(p | p << 24 | p << 48), w1(p >> 16 | p << 8 | p << 32 | p << 56), w2(p >> 8 | p << 16 | p << 40) {}

    // `pixels` pixels from `out` on, in whole chunks of 8: up to 7 pixels past
    // the run are written too, into what the next run (or the slack) overwrites.
    void Put(uint8_t* out, int32_t pixels) const {
        for (int32_t n = 0; n < pixels; n += 8, out += 24) {
            std::memcpy(out, &w0, 8);
            std::memcpy(out + 8, &w1, 8);
            std::memcpy(out + 16, &w2, 8);
        }
    }

    uint64_t w0, w1, w2;
};

}  // namespace

void MosaicPattern_Scalar(uint8_t* pattern, const uint8_t* a, const uint8_t* b, const MosaicColumns& columns,
                          int32_t from, int32_t to, const MixWeights& weights) {
    for (int32_t x0 = BlockStart(columns, from); x0 < to;) {
        const int32_t end = BlockEnd(columns, x0);
        const int32_t runStart = x0 > from ? x0 : from;
        const int32_t runEnd = end < to ? end : to;
        const size_t sample = static_cast<size_t>(x0) * 3;
        ColourChunk(MixPixelPacked(a + sample, b + sample, weights))
            .Put(pattern + static_cast<size_t>(runStart - from) * 3, runEnd - runStart);
        x0 = end;
    }
}

}  // namespace veilshift
