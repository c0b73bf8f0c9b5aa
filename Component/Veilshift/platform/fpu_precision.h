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
// of an entry point and do the work in a function marked VS_PRECISION_BOUNDARY
// (below), so no float operation can be scheduled before the control word is set.
#pragma once

#include <cstdint>
#include <type_traits>

#if defined(__i386__) && !defined(__SSE_MATH__)
#define VEILSHIFT_X87_MATH 1
#endif

// The work function behind a guard: `VS_PRECISION_BOUNDARY void single_precision::Draw(...)`.
// Not inlining it is not enough. GCC still analyses a noinline function for its
// callers: it may find it free of side effects (const) and then hoist the call
// out of a loop, or merge it with an identical call made before the guard, so
// that the work runs at the host's precision. (The guard's asm clobbers memory,
// which orders calls that touch memory; a const call touches none.) noipa hides
// the body from every interprocedural analysis, so the call stays where it is
// written, between the two control-word writes. Clang has no such attribute and
// infers the same facts from a noinline body; the module's x87 build is made
// with GCC only, and a clang build for the x87 unit is refused here.
#if defined(__clang__)
#if defined(VEILSHIFT_X87_MATH)
#error "the x87 build needs GCC: its precision guards rely on noipa"
#endif
#define VS_PRECISION_BOUNDARY [[gnu::noinline]]
#else
#define VS_PRECISION_BOUNDARY [[gnu::noipa]]
#endif

namespace veilshift::platform {

#if defined(VEILSHIFT_X87_MATH)

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
//
// A guard inside another that already set the same word (a public entry point
// called from guarded code) only reads the word: loading the control word
// stalls the x87 unit, reading it does not.
template <uint16_t kPrecisionBits>
class FpuPrecision {
public:
    FpuPrecision() : saved_(ReadFpuControlWord()) {
        const uint16_t wanted = static_cast<uint16_t>((saved_ & ~0x0F00u) | kPrecisionBits | 0x003Fu);
        changed_ = wanted != saved_;
        if (changed_) WriteFpuControlWord(wanted);
    }
    ~FpuPrecision() {
        if (!changed_) return;
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
    bool changed_;
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

// A double rounded to double precision and range. A library sine or cosine may
// hand back more bits than a double holds in its x87 register; storing it makes
// the next operation (or the float made from it) see what SSE arithmetic would.
inline double RoundToDouble(double value) {
    volatile double stored = value;
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
inline double RoundToDouble(double value) { return value; }

#endif

// An integer as the nearest float, the same in every build.
inline float IntToFloat(int64_t value) { return RoundToFloat(static_cast<float>(value)); }

// Truncation toward zero held to the int32 range: values from 2^31 up give
// INT32_MAX, values below -2^31 INT32_MIN and NaN 0, so that no conversion is
// undefined. Huge values come from vertices close to the viewer's plane.
template <typename Real>
inline int32_t TruncateToInt32(Real value) {
    static_assert(std::is_same_v<Real, float> || std::is_same_v<Real, double>);
    if (value >= Real(2147483648.0)) return INT32_MAX;
    if (value >= Real(-2147483648.0)) return static_cast<int32_t>(value);
    if (value < Real(-2147483648.0)) return INT32_MIN;
    return 0;  // NaN
}

}  // namespace veilshift::platform
