// The ripple's waves: each frame's amplitude and wave count, and the column
// and row shifts, in double precision whatever the x87 unit was left at.
#include <algorithm>
#include <cmath>

#include "../frame_math.h"
#include "../platform/fpu_precision.h"
#include "ripple.h"

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

}  // namespace veilshift
