// The ripple's fused passes: the layout of their block and the scalar form.
#include <cstring>

#include "ripple_forms.h"
#include "ripple_fused.h"

namespace veilshift {
namespace {

constexpr uint64_t kCacheLine = 64;

constexpr uint64_t RoundUpToLine(uint64_t bytes) { return (bytes + kCacheLine - 1) / kCacheLine * kCacheLine; }

// Offsets from the block's first cache line.
struct PassLayout {
    uint64_t mixedPitch, columnShifts, rowMoves, bytes;
};

PassLayout LayoutOf(int32_t width, int32_t height) {
    PassLayout layout{};
    // M: rows of width pixels and a spare byte (a word read at the last
    // pixel), an odd number of cache lines apart so that the band of rows a
    // strip reads spreads over every set.
    layout.mixedPitch = RoundUpToLine(static_cast<uint64_t>(width) * 3 + 1);
    if ((layout.mixedPitch / kCacheLine) % 2 == 0) layout.mixedPitch += kCacheLine;
    // The column shifts and M's column terms.
    layout.columnShifts = static_cast<uint64_t>(height) * layout.mixedPitch;
    layout.rowMoves = layout.columnShifts + RoundUpToLine(static_cast<uint64_t>(width) * 8);
    layout.bytes = layout.rowMoves + RoundUpToLine(static_cast<uint64_t>(height) * 4) + kCacheLine;
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

// All of it zeroed: the words the passes move carry a byte beyond the pixel
// (M's spare byte after a row's last pixel), which must hold something.
RipplePassBuffers CarveRipplePassBuffers(void* block, int32_t width, int32_t height) {
    const PassLayout layout = LayoutOf(width, height);
    const uintptr_t address = reinterpret_cast<uintptr_t>(block);
    uint8_t* const base = static_cast<uint8_t*>(block) + (kCacheLine - address % kCacheLine) % kCacheLine;
    std::memset(base, 0, static_cast<size_t>(layout.bytes - kCacheLine));
    int32_t* const columnShifts = reinterpret_cast<int32_t*>(base + layout.columnShifts);
    return {base, columnShifts, reinterpret_cast<int32_t*>(base + layout.rowMoves),
            static_cast<ptrdiff_t>(layout.mixedPitch), columnShifts + width};
}

void RippleFused_Scalar(const RippleFrame& frame, const RipplePassBuffers& buffers) {
    RunFusedPasses<ScalarFusedRows>(frame, buffers, MixRow_Scalar);
}

}  // namespace veilshift
