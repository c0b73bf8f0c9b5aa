// The ripple's host edge: the addresses and pitches asked once, the frame's
// shift tables (the transition's scratch, else owned for the frame), then the
// traversal; and the scratch a transition keeps.
#include "ripple.h"

#include <cstddef>

#include "../frame_math.h"
#include "../memory.h"
#include "../module_state.h"

namespace veilshift {
namespace {

// One shift table: owned storage for the frame, freed on every way out.
class ShiftTable {
public:
    explicit ShiftTable(int32_t count) : entries_(AllocateArray<int32_t>(static_cast<size_t>(count))) {}
    ~ShiftTable() { FreeBytes(entries_); }
    ShiftTable(const ShiftTable&) = delete;
    ShiftTable& operator=(const ShiftTable&) = delete;

    bool Obtained() const { return entries_ != nullptr; }
    int32_t* Entries() const { return entries_; }

private:
    int32_t* entries_;
};

void DrawWithTables(RippleFrame frame, int32_t progress, int32_t total, int32_t* columnShift, int32_t* rowShift,
                    const RipplePassBuffers* passes, const RippleForms& forms) {
    ComputeRippleShifts(frame.width, frame.height, progress, total, columnShift, rowShift);
    frame.columnShift = columnShift;
    frame.rowShift = rowShift;
    TraverseRipple(frame, passes, forms);
}

}  // namespace

void RippleRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t progress,
                int32_t total, const RippleForms& forms, const RippleScratch* scratch) {
    // An empty rectangle has no pixel whose address could be asked for.
    if (width < 1 || height < 1 || moduleState.MulTable.rows == nullptr) return;
    uint8_t* const dstStart = dst->PixelAddress(dx, dy);
    const uint8_t* const bStart = srcB->PixelAddress(bx, by);
    const uint8_t* const aStart = srcA->PixelAddress(ax, ay);
    if (dstStart == nullptr || bStart == nullptr || aStart == nullptr) return;
    const ptrdiff_t dstPitch = dst->Pitch();
    const ptrdiff_t bPitch = srcB->Pitch();
    const ptrdiff_t aPitch = srcA->Pitch();

    const int32_t alpha = FrameAlpha(progress, total);
    const RippleFrame frame{dstStart, aStart, bStart, dstPitch, aPitch, bPitch, width, height, nullptr, nullptr,
                            {moduleState.MulTable.rows[255 - alpha], moduleState.MulTable.rows[alpha], alpha}};
    if (scratch != nullptr && (scratch->width != width || scratch->height != height)) scratch = nullptr;
    if (scratch != nullptr && scratch->shifts != nullptr) {
        DrawWithTables(frame, progress, total, scratch->shifts, scratch->shifts + width,
                       scratch->passBlock != nullptr ? &scratch->passes : nullptr, forms);
        return;
    }
    // Declared in allocation order, so rowShift is freed first.
    ShiftTable columnShift(width);
    if (!columnShift.Obtained()) return;
    ShiftTable rowShift(height);
    if (!rowShift.Obtained()) return;
    DrawWithTables(frame, progress, total, columnShift.Entries(), rowShift.Entries(), nullptr, forms);
}

void MakeRippleScratch(RippleScratch& scratch, int32_t width, int32_t height) {
    ReleaseRippleScratch(scratch);
    if (width < 1 || height < 1) return;
    scratch.width = width;
    scratch.height = height;
    scratch.shifts = AllocateArray<int32_t>(size_t{static_cast<uint32_t>(width)} + static_cast<uint32_t>(height));
    const size_t passBytes = RipplePassBytes(width, height);
    if (scratch.shifts == nullptr || passBytes == 0) return;
    scratch.passBlock = AllocateBytes(passBytes);
    if (scratch.passBlock != nullptr) scratch.passes = CarveRipplePassBuffers(scratch.passBlock, width, height);
}

void ReleaseRippleScratch(RippleScratch& scratch) {
    FreeBytes(scratch.passBlock);
    FreeBytes(scratch.shifts);
    scratch = RippleScratch{};
}

}  // namespace veilshift
