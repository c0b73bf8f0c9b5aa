// The ripple crossfade: two shift tables per frame, then a per-pixel blend.
#include "ripple.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "../effect_plugin.h"
#include "../frame_math.h"
#include "../memory.h"
#include "../mul_table.h"
#include "../platform/fpu_precision.h"
#include "../form_rules.h"
#include "ripple_forms.h"
#include "ripple_strips.h"

namespace veilshift {
namespace {

// The degrees-to-radians factor is a single-precision constant widened to
// double: 0.01745329238474369, not pi / 180. Keeping the float matters: it
// decides which near-integer products truncate up or down.
constexpr double kDegreesToRadians = static_cast<double>(0.017453292f);
constexpr double kOneWave = static_cast<double>(1.0f);

// amp * sin(((offset * 360) * waves / width) * factor), in this order.
inline int32_t WaveShift(int64_t offset, double waves, double widthDivisor, double amp) {
    double angle = static_cast<double>(offset * 360);  // exact: |offset| < 2^31
    angle = angle * waves;
    angle = angle / widthDivisor;
    angle = angle * kDegreesToRadians;
    const double sine = platform::RoundToDouble(std::sin(angle));
    return platform::TruncateToInt32(amp * sine);
}

VS_PRECISION_BOUNDARY RippleWave WaveOf(int32_t width, int32_t progress, int32_t total) {
    const RiseFall position = FrameRiseFall(progress, total);
    if (position.halfTotal == 0) return {0, kOneWave};
    // At most 2 * (width / 16): fits.
    const int32_t amp = static_cast<int32_t>(ScaleRiseFall(std::max(width, 0) / 16, position));
    // 16 * q is exact in a double; the quotient is the one real division.
    const double waves =
        static_cast<double>(int64_t{16} * position.q) / static_cast<double>(position.halfTotal) + kOneWave;
    return {amp, waves};
}

VS_PRECISION_BOUNDARY void FillShifts(int32_t width, int32_t height, int32_t progress, int32_t total,
                                      int32_t* columnShift, int32_t* rowShift) {
    const RippleWave wave = WaveOf(width, progress, total);
    if (wave.amp == 0) {  // also every width below 16: amp * sin is 0 (or -0) throughout
        std::fill(columnShift, columnShift + std::max(width, 0), 0);
        std::fill(rowShift, rowShift + std::max(height, 0), 0);
        return;
    }
    const double amp = wave.amp;
    const double widthDivisor = width;
    for (int32_t i = 0; i < width; ++i)
        columnShift[i] = WaveShift(int64_t{i} - width / 2, wave.waves, widthDivisor, amp);
    // A row as far from the centre as some column moves as that column does
    // (the same wave at the same offset), without a sine of its own.
    for (int32_t j = 0; j < height; ++j) {
        const int64_t offset = int64_t{j} - height / 2;
        const int64_t column = offset + width / 2;
        rowShift[j] = column >= 0 && column < width ? columnShift[column]
                                                    : WaveShift(offset, wave.waves, widthDivisor, amp);
    }
}

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

}  // namespace

RippleWave RippleWaveOf(int32_t width, int32_t progress, int32_t total) {
    platform::FpuDoublePrecision precision;
    return WaveOf(width, progress, total);
}

void ComputeRippleShifts(int32_t width, int32_t height, int32_t progress, int32_t total, int32_t* columnShift,
                         int32_t* rowShift) {
    platform::FpuDoublePrecision precision;
    FillShifts(width, height, progress, total, columnShift, rowShift);
}

namespace {

// One strip of the scalar form: the pixels one at a time through MulTable.
// With one pitch for both sources (the usual case) one table of column terms
// serves both: the 32-bit build has few registers to spare.
template <bool kOnePitch>
void MixStrip_Scalar(const RippleFrame& frame, const RippleStrip& s) {
    const StripFrame f(frame);
    size_t termsA[kRippleMaxStripColumns];
    size_t termsB[kOnePitch ? 1 : kRippleMaxStripColumns];
    FillColumnTerms(f.columnShift, s, f.aPitch, termsA);
    if (!kOnePitch) FillColumnTerms(f.columnShift, s, f.bPitch, termsB);
    for (int32_t j = 0; j < f.height; ++j) {
        // Rows none of whose columns reach back into the rectangle, and rows all of whose columns do.
        if (s.highestShift < -j || s.lowestShift >= f.height - j) continue;
        const bool allInside = s.lowestShift >= -j && s.highestShift < f.height - j;
        const int32_t move = f.rowShift[j];
        const ColumnSpan span = ShiftedColumns(s.first, s.end, move, f.width);
        const size_t rowA = RowTerm(j, f.aPitch, s.first, move);
        const size_t rowB = kOnePitch ? rowA : RowTerm(j, f.bPitch, s.first, move);
        uint8_t* out = f.dst + j * f.dstPitch + ptrdiff_t{span.begin} * 3;
        for (int32_t k = span.begin - s.first; k < span.end - s.first; ++k, out += 3) {
            if (!allInside && !SourceRowInside(f.columnShift[s.first + k], j, f.height)) continue;
            const size_t termA = termsA[k];
            const size_t termB = kOnePitch ? termA : termsB[k];
            MixPixel(out, SourcePixel(f.a, rowA, termA), SourcePixel(f.b, rowB, termB), f.rowA, f.rowB);
        }
    }
}

}  // namespace

void Ripple_Scalar(const RippleFrame& frame) {
    if (frame.aPitch == frame.bPitch)
        WalkStrips(frame, MixRow_Scalar, [&](const RippleStrip& strip) { MixStrip_Scalar<true>(frame, strip); });
    else
        WalkStrips(frame, MixRow_Scalar, [&](const RippleStrip& strip) { MixStrip_Scalar<false>(frame, strip); });
}

namespace {

// Whether the rows of two rectangles may share a byte: their spans of
// addresses, first row to last, overlap. Computed on the addresses as numbers.
struct AddressSpan {
    uintptr_t first, last;  // the lowest and the highest byte
};
AddressSpan SpanOf(const uint8_t* start, ptrdiff_t pitch, int32_t height, int32_t width) {
    const uintptr_t row0 = reinterpret_cast<uintptr_t>(start);
    const uintptr_t step = pitch < 0 ? uintptr_t{0} - static_cast<uintptr_t>(pitch) : static_cast<uintptr_t>(pitch);
    const uintptr_t reach = static_cast<uintptr_t>(height - 1) * step;
    const uintptr_t endOfRow0 = row0 + static_cast<uintptr_t>(width) * 3u - 1u;
    return pitch < 0 ? AddressSpan{row0 - reach, endOfRow0} : AddressSpan{row0, endOfRow0 + reach};
}
bool SpansMeet(AddressSpan p, AddressSpan q) { return p.first <= q.last && q.first <= p.last; }

bool DestinationMeetsSource(const RippleFrame& f) {
    const AddressSpan dst = SpanOf(f.dst, f.dstPitch, f.height, f.width);
    return SpansMeet(dst, SpanOf(f.a, f.aPitch, f.height, f.width)) ||
           SpansMeet(dst, SpanOf(f.b, f.bPitch, f.height, f.width));
}

// Where the columns' shifts lie this close together the direct walk's strips
// read few source rows each, and it is faster than the two passes.
constexpr int64_t kDirectWalkSpread = 16;

bool ColumnsMoveClose(const int32_t* columnShift, int32_t width) {
    const auto [lowest, highest] = std::minmax_element(columnShift, columnShift + width);
    return int64_t{*highest} - *lowest <= kDirectWalkSpread;
}

void DrawWithTables(RippleFrame frame, int32_t progress, int32_t total, int32_t* columnShift, int32_t* rowShift,
                    const RipplePassBuffers* passes) {
    ComputeRippleShifts(frame.width, frame.height, progress, total, columnShift, rowShift);
    frame.columnShift = columnShift;
    frame.rowShift = rowShift;
    const ProcessorFeatures features = CurrentFormSettings().features;
    const bool meets = DestinationMeetsSource(frame);
    if (passes != nullptr && (meets || !ColumnsMoveClose(columnShift, frame.width)))
        ChooseRipplePasses(features)(frame, *passes);
    else
        ChooseRipple(features, meets)(frame);
}

}  // namespace

void RippleRect(HostSurface* dst, int32_t dx, int32_t dy, HostSurface* srcA, int32_t ax, int32_t ay,
                HostSurface* srcB, int32_t bx, int32_t by, int32_t width, int32_t height, int32_t progress,
                int32_t total, const RippleScratch* scratch) {
    // An empty rectangle has no pixel whose address could be asked for.
    if (width < 1 || height < 1 || MulTable.rows == nullptr) return;
    uint8_t* const dstStart = dst->PixelAddress(dx, dy);
    const uint8_t* const bStart = srcB->PixelAddress(bx, by);
    const uint8_t* const aStart = srcA->PixelAddress(ax, ay);
    if (dstStart == nullptr || bStart == nullptr || aStart == nullptr) return;
    const ptrdiff_t dstPitch = dst->Pitch();
    const ptrdiff_t bPitch = srcB->Pitch();
    const ptrdiff_t aPitch = srcA->Pitch();

    const int32_t alpha = FrameAlpha(progress, total);
    const RippleFrame frame{dstStart, aStart, bStart, dstPitch, aPitch, bPitch, width, height, nullptr, nullptr,
                            {MulTable.rows[255 - alpha], MulTable.rows[alpha], alpha}};
    if (scratch != nullptr && (scratch->width != width || scratch->height != height)) scratch = nullptr;
    if (scratch != nullptr && scratch->shifts != nullptr) {
        DrawWithTables(frame, progress, total, scratch->shifts, scratch->shifts + width,
                       scratch->passBlock != nullptr ? &scratch->passes : nullptr);
        return;
    }
    // Declared in allocation order, so rowShift is freed first.
    ShiftTable columnShift(width);
    if (!columnShift.Obtained()) return;
    ShiftTable rowShift(height);
    if (!rowShift.Obtained()) return;
    DrawWithTables(frame, progress, total, columnShift.Entries(), rowShift.Entries(), nullptr);
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

bool PrepareRipple(EffectPlugin& plugin) {
    MakeRippleScratch(plugin.ripple, plugin.params.width, plugin.params.height);
    return true;
}

void ReleaseRipple(EffectPlugin& plugin) { ReleaseRippleScratch(plugin.ripple); }

void DrawRippleFrame(EffectPlugin& plugin, int32_t progress, int32_t total) {
    const TransitionParams& p = plugin.params;
    RippleRect(plugin.dst, p.dx, p.dy, plugin.srcA, p.ax, p.ay, plugin.srcB, p.bx, p.by, p.width, p.height,
               progress, total, &plugin.ripple);
}

}  // namespace veilshift
