// The mosaic crossfade: one colour per block from two samples, then plain stores.
#include "mosaic.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "../effect_plugin.h"
#include "../frame_math.h"
#include "../mul_table.h"

namespace veilshift {
namespace {

// A block row is expanded into a pattern of this many pixels at a time and
// copied into each of its destination rows: the destination is only written,
// never read back (it may be slow to read), and nothing is allocated.
constexpr int32_t kPatternPixels = 1024;

// The block grid along one axis: edges at every position p with
// 0 < p < extent and p = extent / 2 (mod blockSize), so the first span is the
// cut remainder before the first such edge (or a whole block when that
// remainder is 0) and the last span is cut at the extent.
struct BlockSpans {
    int32_t extent;
    int32_t blockSize;

    int32_t First() const {
        const int32_t cut = (extent / 2) % blockSize;
        return cut > 0 ? cut : std::min(blockSize, extent);
    }
    // The span starting at `start` (< extent); never passes the extent.
    int32_t From(int32_t start) const { return std::min(blockSize, extent - start); }
};

struct Colour {
    uint8_t c0, c1, c2;
};

inline void PutRun(uint8_t* out, int32_t count, Colour c) {
    for (int32_t i = 0; i < count; ++i, out += 3) {
        out[0] = c.c0;
        out[1] = c.c1;
        out[2] = c.c2;
    }
}

// The two weight rows of MulTable: MulTable[255 - alpha] for A, MulTable[alpha]
// for B. Their sum never exceeds 255.
struct Weights {
    const uint8_t* a;
    const uint8_t* b;

    Colour Mix(const uint8_t* pa, const uint8_t* pb) const {
        return {static_cast<uint8_t>(a[pa[0]] + b[pb[0]]), static_cast<uint8_t>(a[pa[1]] + b[pb[1]]),
                static_cast<uint8_t>(a[pa[2]] + b[pb[2]])};
    }
};

// One block row: `rows` destination rows from dstRow on, the block colours
// sampled from the source rows a and b (the block row's top row).
void FillBlockRow(uint8_t* dstRow, ptrdiff_t dstPitch, int32_t rows, const uint8_t* a, const uint8_t* b,
                  BlockSpans columns, Weights weights) {
    if (rows == 1) {  // a single row takes the runs directly
        for (int32_t x0 = 0, span = columns.First();;) {
            const size_t offset = static_cast<size_t>(x0) * 3;
            PutRun(dstRow + offset, span, weights.Mix(a + offset, b + offset));
            x0 += span;
            if (x0 >= columns.extent) return;
            span = columns.From(x0);
        }
    }

    uint8_t pattern[kPatternPixels * 3];
    int32_t patternStart = 0;  // the pattern's first pixel in the row
    int32_t filled = 0;        // pixels held in the pattern
    auto flush = [&] {
        const size_t bytes = static_cast<size_t>(filled) * 3;
        uint8_t* out = dstRow + static_cast<size_t>(patternStart) * 3;
        for (int32_t r = 0;;) {
            std::memcpy(out, pattern, bytes);
            if (++r >= rows) break;
            out += dstPitch;
        }
        patternStart += filled;
        filled = 0;
    };
    for (int32_t x0 = 0, span = columns.First();;) {
        const size_t offset = static_cast<size_t>(x0) * 3;
        const Colour colour = weights.Mix(a + offset, b + offset);
        for (int32_t left = span; left > 0;) {
            const int32_t count = std::min(left, kPatternPixels - filled);
            PutRun(pattern + static_cast<size_t>(filled) * 3, count, colour);
            filled += count;
            left -= count;
            if (filled == kPatternPixels) flush();
        }
        x0 += span;
        if (x0 >= columns.extent) break;
        span = columns.From(x0);
    }
    if (filled > 0) flush();
}

}  // namespace

int32_t MosaicBlockSize(int32_t progress, int32_t total) {
    if (total < 1 || progress < 0 || progress >= total) return 1;
    // At most 2 * 96 (odd totals peak one step past halfTotal), so it fits.
    return static_cast<int32_t>(ScaleRiseFall(96, FrameRiseFall(progress, total))) | 1;
}

void MosaicRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t blockSize,
                int32_t alpha) {
    if (width < 1 || height < 1 || MulTable.rows == nullptr) return;
    if (blockSize < 1) blockSize = 1;
    alpha = std::clamp(alpha, 0, 255);

    // The destination is asked once per frame; the sources once per block row.
    uint8_t* dstRow = dst->PixelAddress(dx, dy);
    const ptrdiff_t dstPitch = dst->Pitch();
    const Weights weights{MulTable.rows[255 - alpha], MulTable.rows[alpha]};
    const BlockSpans columns{width, blockSize};
    const BlockSpans blockRows{height, blockSize};
    for (int32_t y0 = 0, span = blockRows.First();;) {
        const uint8_t* a = srcA->PixelAddress(ax, ay + y0);
        const uint8_t* b = srcB->PixelAddress(bx, by + y0);
        FillBlockRow(dstRow, dstPitch, span, a, b, columns, weights);
        y0 += span;
        if (y0 >= height) break;
        dstRow += dstPitch * span;
        span = blockRows.From(y0);
    }
}

void DrawMosaicFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    if (total < 1 || progress < 0 || progress >= total) return;
    const TransitionParams& p = plugin.params;
    MosaicRect(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width, p.height,
               MosaicBlockSize(progress, total), FrameAlpha(progress, total));
}

}  // namespace veilshift
