// The scenario's bytes, in the layout scenario.h describes: the reader, the
// operations' codes, and the decoders that turn bytes into the host's
// surfaces, the module-wide tuning, Begin's integers and the frame counters.
// ScenarioWriter (scenario.h) writes the same layout; both are defined in
// scenario_format.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/scenario.h"

namespace robustness {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return size_ == 0; }
    uint8_t Byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
        return value;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }

private:
    const uint8_t* data_;
    size_t size_;
};

enum Op : uint8_t {
    kOpBegin = 0,       // 0-3
    kOpDraw = 4,        // 4-7
    kOpFrames = 8,      // 8-9
    kOpEnd = 10,        // 10-11
    kOpGiveUpdater = 12,
    kOpGiveTable = 13,
    kOpOtherInterface = 14,
    kOpFaults = 15,
};

struct SurfaceShape {
    int32_t number, width, height, pitch;
    uint8_t seed;
};

// The pixels the scenario's surfaces hold together at most: a surface past
// that loses rows (DecodeSurface).
inline constexpr int64_t kMaxPixels = int64_t{1} << 22;

// Surface `number`: its sides, pitch form and picture seed; `pixels` counts
// the pixels of the surfaces decoded so far, this one's added.
SurfaceShape DecodeSurface(Reader& in, int32_t number, int64_t& pixels);
// The tuning byte.
Tuning DecodeTuning(uint8_t bits);
// An integer of Begin, biased toward the edges: 0, +-1, the extremes, the
// surfaces' sides +-1, small values of either sign.
int32_t DecodeInt(Reader& in, const std::vector<SurfaceShape>& surfaces);
int32_t DecodeSurfaceNumber(Reader& in);
int32_t DecodeEffect(Reader& in);
int32_t DecodeTotal(Reader& in);
int32_t DecodeProgress(Reader& in, int32_t total);

}  // namespace robustness
