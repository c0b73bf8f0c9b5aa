// The mosaic crossfade: one colour per block from two samples, then plain stores.
#include "mosaic.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "../frame_math.h"
#include "../module_state.h"

namespace veilshift {
namespace {

// A block row is laid out once as a pattern of up to this many pixels and then
// copied into each of its destination rows: the destination is only written,
// never read back (it may be slow to read), and nothing is allocated.
constexpr int32_t kPatternPixels = 2048;

// One block row: `rows` destination rows from dstRow on, the block colours
// sampled from the source rows a and b (the block row's top row), a pattern
// of up to kPatternPixels at a time.
void FillBlockRow(uint8_t* dstRow, ptrdiff_t dstPitch, int32_t rows, const uint8_t* a, const uint8_t* b,
                  const MosaicColumns& columns, const MixWeights& weights, const MosaicForms& forms, bool stream) {
    uint8_t pattern[kPatternPixels * 3 + kMosaicPatternSlack];
    for (int32_t from = 0; from < columns.width;) {
        const int32_t to = columns.width - from > kPatternPixels ? from + kPatternPixels : columns.width;
        forms.pattern(pattern, a, b, columns, from, to, weights);
        const size_t bytes = static_cast<size_t>(to - from) * 3;
        uint8_t* out = dstRow + static_cast<size_t>(from) * 3;
        for (int32_t r = 0;;) {
            forms.copyRow(out, pattern, bytes, stream);
            if (++r >= rows) break;
            out += dstPitch;
        }
        from = to;
    }
}

}  // namespace

int32_t MosaicBlockSize(int32_t progress, int32_t total) {
    // At most 2 * 96 (odd totals peak one step past halfTotal), so it fits.
    return static_cast<int32_t>(ScaleRiseFall(96, FrameRiseFall(progress, total))) | 1;
}

void MosaicRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t blockSize,
                int32_t alpha, const MosaicForms& forms) {
    if (width < 1 || height < 1 || moduleState.MulTable.rows == nullptr) return;
    if (blockSize < 1) blockSize = 1;
    alpha = std::clamp(alpha, 0, 255);

    // The destination is asked once per frame; the sources once per block row.
    // A null address ends the frame there: nothing is written through it.
    uint8_t* dstRow = dst->PixelAddress(dx, dy);
    if (dstRow == nullptr) return;
    const ptrdiff_t dstPitch = dst->Pitch();
    const MixWeights weights{moduleState.MulTable.rows[255 - alpha], moduleState.MulTable.rows[alpha], alpha};
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const bool stream = forms.stream;

    if (blockSize == 1) {  // every block one pixel: a blend row by row
        for (int32_t y = 0;;) {
            const uint8_t* const b = srcB->PixelAddress(bx, by + y);  // source B first, then A
            const uint8_t* const a = srcA->PixelAddress(ax, ay + y);
            if (a == nullptr || b == nullptr) break;
            forms.mixRow(dstRow, a, b, rowBytes, weights, stream);
            if (++y >= height) break;
            dstRow += dstPitch;
        }
    } else {
        const MosaicColumns columns = MosaicColumnsOf(width, blockSize);
        const MosaicColumns blockRows = MosaicColumnsOf(height, blockSize);
        for (int32_t y0 = 0;;) {
            const int32_t y1 = BlockEnd(blockRows, y0);
            const uint8_t* a = srcA->PixelAddress(ax, ay + y0);
            const uint8_t* b = srcB->PixelAddress(bx, by + y0);
            if (a == nullptr || b == nullptr) break;
            FillBlockRow(dstRow, dstPitch, y1 - y0, a, b, columns, weights, forms, stream);
            if (y1 >= height) break;
            dstRow += dstPitch * (y1 - y0);
            y0 = y1;
        }
    }
    if (stream) forms.finishStreaming();
}

}  // namespace veilshift
