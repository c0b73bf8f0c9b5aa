// Floating-point precision guards for the 32-bit build.
//
// The shipped module computes with the x87 unit, whose precision control is
// whatever the host left: 24, 53 or 64 bits of significand. Every x87
// operation rounds to that width, so a float expression would give different
// bits from host to host, and different bits from the native SSE build. A
// guard sets the precision control (and round-to-nearest) for its scope and
// restores the host's control word when the scope ends; with the unit rounding
// to 24 bits every float operation gives the IEEE single-precision result
// (the one remaining difference: intermediates keep the x87 exponent range, so
// a value beyond about 3.4e38 or below 1.2e-38 is held where SSE would have
// overflowed or gone subnormal).
//
// Where the processor computes floats with SSE (x86-64, or i686 built with
// -mfpmath=sse) the guards are empty: SSE arithmetic is already exact single
// or double precision.
//
// A guard only governs code that runs after its constructor: put it at the top
// of an entry point and do the work in a function that is not inlined into the
// caller, so no float operation can be scheduled before the control word is set.
#pragma once

#include <cstdint>

namespace veilshift::platform {

#if defined(__i386__) && !defined(__SSE_MATH__)
#define VEILSHIFT_X87_MATH 1

inline uint16_t ReadFpuControlWord() {
    uint16_t word;
    __asm__ __volatile__("fnstcw %0" : "=m"(word) : : "memory");
    return word;
}

inline void WriteFpuControlWord(uint16_t word) {
    __asm__ __volatile__("fldcw %0" : : "m"(word) : "memory");
}

// Precision control is bits 8-9 of the control word (00: 24 bits, 10: 53 bits,
// 11: 64 bits), rounding control bits 10-11 (00: to nearest, ties to even).
// Bits 0-5 mask the exceptions: wild vertices make infinities and NaNs on
// purpose, which must not trap even if the host unmasked a trap for itself.
template <uint16_t kPrecisionBits>
class FpuPrecision {
public:
    FpuPrecision() : saved_(ReadFpuControlWord()) {
        WriteFpuControlWord(static_cast<uint16_t>((saved_ & ~0x0F00u) | kPrecisionBits | 0x003Fu));
    }
    ~FpuPrecision() {
        // A flag raised under our masks would trap at the host's next x87
        // instruction once its unmasked word is back. Clearing drops every
        // flag, so it is done only for a host that unmasked an exception.
        if ((saved_ & 0x003Fu) != 0x003Fu) __asm__ __volatile__("fnclex" : : : "memory");
        WriteFpuControlWord(saved_);
    }
    FpuPrecision(const FpuPrecision&) = delete;
    FpuPrecision& operator=(const FpuPrecision&) = delete;

private:
    uint16_t saved_;
};

using FpuSinglePrecision = FpuPrecision<0x0000>;
using FpuDoublePrecision = FpuPrecision<0x0200>;

// A float rounded to single precision and range, as SSE would hold it. Needed
// where a value is born outside the arithmetic the guard governs: an integer
// loaded into the x87 unit is exact to 64 bits, not rounded to the float's 24.
inline float RoundToFloat(float value) {
    volatile float stored = value;
    return stored;
}

#else

class FpuSinglePrecision {
public:
    FpuSinglePrecision() {}
    FpuSinglePrecision(const FpuSinglePrecision&) = delete;
    FpuSinglePrecision& operator=(const FpuSinglePrecision&) = delete;
};
class FpuDoublePrecision {
public:
    FpuDoublePrecision() {}
    FpuDoublePrecision(const FpuDoublePrecision&) = delete;
    FpuDoublePrecision& operator=(const FpuDoublePrecision&) = delete;
};

inline float RoundToFloat(float value) { return value; }

#endif

// An integer as the nearest float, the same in every build.
inline float IntToFloat(int64_t value) { return RoundToFloat(static_cast<float>(value)); }

}  // namespace veilshift::platform
