// The crossfade's two arithmetics in portable code, on any processor.
//
// Exact: BlendByte is a + floor(alpha * (b - a) / 256) = (a * (256 - alpha) + b * alpha) >> 8,
// whose sum never exceeds 255 * 256: for weights of 0 to 255 it fits a 16-bit
// lane, so four bytes go at a time in the two 16-bit lanes of a general
// register. The rows ahead are warmed with plain reads.
//
// Grouped: the MMX form's lane, a + ((b - a) * (alpha >> 1) >> 7), is
// floor((a * (128 - h) + b * h) / 128) with h = alpha >> 1, whose sum stays
// below 2^15: the same lanes with a shift of 7. A processor without MMX
// (another kind than x86) gets the MMX form's bytes from it.
#include "crossfade.h"
#include "crossfade_rows.h"

namespace veilshift {
namespace {

// Four bytes: the even ones in the low bytes of two 16-bit lanes, the odd ones
// in the high bytes. A lane's sum stays below 65536, so no lane carries into
// the next.
// kShift 8 for the exact arithmetic (weights summing to 256), 7 for the
// grouped one (weights summing to 128).
template <int kShift>
inline uint32_t BlendWord(uint32_t a, uint32_t b, uint32_t weightA, uint32_t weightB) {
    constexpr uint32_t kLow = 0x00FF00FF;
    const uint32_t even = (((a & kLow) * weightA + (b & kLow) * weightB) >> kShift) & kLow;
    const uint32_t odd = ((((a >> 8) & kLow) * weightA + ((b >> 8) & kLow) * weightB) << (8 - kShift)) & ~kLow;
    return even | odd;
}

// Bytes [0, wordBytes) four at a time (wordBytes a multiple of 4).
template <int kShift>
inline void BlendWords(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t wordBytes, uint32_t weightA,
                       uint32_t weightB) {
    for (size_t i = 0; i < wordBytes; i += 4) StoreWord(dst + i, BlendWord<kShift>(LoadWord(a + i), LoadWord(b + i), weightA, weightB));
}

inline void BlendGroupedBytes(uint8_t* dst, const uint8_t* a, const uint8_t* b, size_t to, int32_t halfAlpha) {
    for (size_t i = 0; i < to; ++i) dst[i] = BlendByteGrouped(a[i], b[i], halfAlpha);
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
                   if (!laneWeight) return BlendBytes(dstRow, aRow, bRow, 0, row.bytes, alpha);
                   const size_t wordBytes = row.bytes & ~size_t{3};
                   BlendWords<8>(dstRow, aRow, bRow, wordBytes, static_cast<uint32_t>(256 - alpha),
                                 static_cast<uint32_t>(alpha));
                   BlendBytes(dstRow, aRow, bRow, wordBytes, row.bytes, alpha);
               });
}

void CrossfadeGrouped_Scalar(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                             ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha, bool) {
    if (width <= 0 || height <= 0) return;
    const CrossfadeRow row = MeasureRow(width);
    const size_t groupedBytes = static_cast<size_t>(width / 4) * 12u;
    const int32_t halfAlpha = alpha >> 1;  // as the 16-bit lane holds it for weights of 0 to 255
    const bool laneWeight = alpha >= 0 && alpha <= 255;
    ForEachRow(dst, dstPitch, a, aPitch, b, bPitch, height,
               [&](uint8_t* dstRow, const uint8_t* aRow, const uint8_t* bRow) {
                   TouchRows()(aRow, bRow, row.touchCount);
                   if (laneWeight)
                       BlendWords<7>(dstRow, aRow, bRow, groupedBytes, static_cast<uint32_t>(128 - halfAlpha),
                                     static_cast<uint32_t>(halfAlpha));
                   else
                       BlendGroupedBytes(dstRow, aRow, bRow, groupedBytes, static_cast<int16_t>(alpha >> 1));
                   BlendBytes(dstRow, aRow, bRow, groupedBytes, row.bytes, alpha);
               });
}

}  // namespace veilshift
