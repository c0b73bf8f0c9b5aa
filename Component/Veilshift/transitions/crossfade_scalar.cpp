// The crossfade on any processor: every byte through BlendByte.
#include "crossfade.h"
#include "crossfade_rows.h"

namespace veilshift {

void Crossfade_Scalar(uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
                      ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha) {
    if (width <= 0 || height <= 0) return;
    const CrossfadeRow row = MeasureRow(width);
    ForEachRow(dst, dstPitch, a, aPitch, b, bPitch, height,
               [&](uint8_t* dstRow, const uint8_t* aRow, const uint8_t* bRow) {
                   TouchRows()(aRow, bRow, row.touchCount);
                   BlendBytes(dstRow, aRow, bRow, 0, row.bytes, alpha);
               });
}

}  // namespace veilshift
