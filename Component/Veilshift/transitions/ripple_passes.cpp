// The ripple's two passes: the layout of their block and the scalar form.
#include <algorithm>
#include <cstring>

#include "ripple_forms.h"
#include "ripple_fused.h"
#include "ripple_passes.h"

namespace veilshift {
namespace {

constexpr uint64_t kCacheLine = 64;

constexpr uint64_t RoundUpToLine(uint64_t bytes) { return (bytes + kCacheLine - 1) / kCacheLine * kCacheLine; }

// Offsets from the block's first cache line. Pass 1 writes the same row of
// every strip; with an odd number of cache lines from one strip to the next,
// those rows fall into different sets of the cache.
struct PassLayout {
    uint64_t stripStride, mixedPitch, mixedRow, columnShifts, rowMoves, bytes;
};

PassLayout LayoutOf(int32_t width, int32_t height) {
    PassLayout layout{};
    // The last row of a strip gets 4 bytes after it: the words and groups of
    // pixels stored into D reach up to 4 bytes past their last pixel.
    layout.stripStride = RoundUpToLine(static_cast<uint64_t>(height) * kRipplePassStripRowBytes + 4);
    if ((layout.stripStride / kCacheLine) % 2 == 0) layout.stripStride += kCacheLine;
    const uint64_t strips = (static_cast<uint64_t>(width) + kRipplePassStripColumns - 1) / kRipplePassStripColumns;
    // M in the same bytes: rows of width pixels and a spare byte (a word read
    // at the last pixel), an odd number of cache lines apart so that the band
    // of rows a strip of the fused passes reads spreads over every set.
    layout.mixedPitch = RoundUpToLine(static_cast<uint64_t>(width) * 3 + 1);
    if ((layout.mixedPitch / kCacheLine) % 2 == 0) layout.mixedPitch += kCacheLine;
    layout.mixedRow = std::max(strips * layout.stripStride, static_cast<uint64_t>(height) * layout.mixedPitch);
    // The mixed row and its margins: pixels -width..2 * width - 1, and the byte after.
    layout.columnShifts = layout.mixedRow + RoundUpToLine(static_cast<uint64_t>(width) * 9 + 1);
    // The column shifts, the same negated, and M's column terms.
    layout.rowMoves = layout.columnShifts + RoundUpToLine(static_cast<uint64_t>(width) * 12);
    layout.bytes = layout.rowMoves + RoundUpToLine(static_cast<uint64_t>(height) * 12) + kCacheLine;
    return layout;
}

}  // namespace

size_t RipplePassBytes(int32_t width, int32_t height) {
    if (width < 1 || height < 1) return 0;
    // The image alone is 3 * width * height bytes (below 2^64); the rest adds little.
    if (uint64_t{3} * static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kRipplePassMaxBytes) return 0;
    const uint64_t bytes = LayoutOf(width, height).bytes;
    return bytes > kRipplePassMaxBytes ? 0 : static_cast<size_t>(bytes);
}

// All of it zeroed: the words the passes move carry a byte beyond the pixel,
// which must hold something, and the mixed row's margins are never written again.
RipplePassBuffers CarveRipplePassBuffers(void* block, int32_t width, int32_t height) {
    const PassLayout layout = LayoutOf(width, height);
    const uintptr_t address = reinterpret_cast<uintptr_t>(block);
    uint8_t* const base = static_cast<uint8_t*>(block) + (kCacheLine - address % kCacheLine) % kCacheLine;
    std::memset(base, 0, static_cast<size_t>(layout.bytes - kCacheLine));
    return {base, static_cast<ptrdiff_t>(layout.stripStride), base + layout.mixedRow,
            reinterpret_cast<int32_t*>(base + layout.columnShifts),
            reinterpret_cast<int32_t*>(base + layout.columnShifts) + width, reinterpret_cast<int32_t*>(base + layout.rowMoves),
            static_cast<ptrdiff_t>(layout.mixedPitch), reinterpret_cast<int32_t*>(base + layout.columnShifts) + 2 * width};
}

void RipplePasses_Scalar(const RippleFrame& frame, const RipplePassBuffers& buffers) {
    RunRipplePasses<ScalarPasses>(frame, buffers, MixRow_Scalar);
}

void RippleFused_Scalar(const RippleFrame& frame, const RipplePassBuffers& buffers) {
    RunFusedPasses<ScalarFusedRows>(frame, buffers, MixRow_Scalar);
}

}  // namespace veilshift
