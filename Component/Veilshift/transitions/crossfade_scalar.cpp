// The crossfade's exact arithmetic in scalar code, on any processor: every byte
// through BlendByte.
//
// BlendByte is a + floor(alpha * (b - a) / 256) = (a * (256 - alpha) + b * alpha) >> 8,
// whose sum never exceeds 255 * 256: for weights of 0 to 255 it fits a 16-bit
// lane, so four bytes go at a time in the two 16-bit lanes of a general
// register. The rows ahead are warmed with plain reads.
#include <cstring>

#include "crossfade.h"
#include "crossfade_rows.h"

namespace veilshift {
namespace {

// Four bytes: the even ones in the low bytes of two 16-bit lanes, the odd ones
// in the high bytes. A lane's sum stays below 65536, so no lane carries into
// the next.
inline uint32_t BlendWord(uint32_t a, uint32_t b, uint32_t weightA, uint32_t weightB) {
    constexpr uint32_t kLow = 0x00FF00FF;
    const uint32_t even = (((a & kLow) * weightA + (b & kLow) * weightB) >> 8) & kLow;
    const uint32_t odd = (((a >> 8) & kLow) * weightA + ((b >> 8) & kLow) * weightB) & ~kLow;
    return even | odd;
}

inline void BlendWords(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t bytes, int32_t alpha) {
    const uint32_t weightA = static_cast<uint32_t>(256 - alpha), weightB = static_cast<uint32_t>(alpha);
    size_t i = 0;
    for (; i + 4 <= bytes; i += 4) {
        const uint32_t word = BlendWord(LoadWord(a + i), LoadWord(b + i), weightA, weightB);
        std::memcpy(dst + i, &word, 4);
    }
    BlendBytes(dst, a, b, i, bytes, alpha);
}

}  // namespace

void CrossfadeExact_Scalar(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                          ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool) {
    if (width <= 0 || height <= 0) return;
    const CrossfadeRow row = MeasureRow(width);
    // The lanes hold BlendByte only for weights of 0 to 255; other weights go byte by byte.
    const bool laneWeight = alpha >= 0 && alpha <= 255;
    ForEachRow(dst, dstPitch, a, aPitch, b, bPitch, height,
               [&](uint8_t* dstRow, const uint8_t* aRow, const uint8_t* bRow) {
                   TouchRows()(aRow, bRow, row.touchCount);
                   if (laneWeight)
                       BlendWords(dstRow, aRow, bRow, row.bytes, alpha);
                   else
                       BlendBytes(dstRow, aRow, bRow, 0, row.bytes, alpha);
               });
}

}  // namespace veilshift
