// What the crossfade, peer and floor benchmarks share: the frame sizes, one
// set of 24-bit frames per size (allocated and filled once, 64-byte aligned,
// rows packed), the names and the ns_per_pixel counter.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "Veilshift/form_rules.h"
#include "Veilshift/startup_settings.h"

#include "Veilshift/host_interfaces.h"

namespace benchsupport {

// Selects a processor form as connection and the dispatch would: the start-up
// switches, and the processor's features with those not wanted masked off.
// Everything back to "not connected" at the end.
class FormSelection {
public:
    FormSelection(bool mmx, bool sse, bool sse2, bool avx2) {
        veilshift::UseMMX = mmx, veilshift::UseSSE = sse;
        veilshift::RecordProcessorFeatures(veilshift::DetectProcessorFeatures());
        veilshift::MaskProcessorFeatures({true, true, sse2, avx2});
    }
    ~FormSelection() {
        veilshift::UseMMX = veilshift::UseSSE = false;
        veilshift::RecordProcessorFeatures({});
        veilshift::MaskProcessorFeatures({true, true, true, true});
    }
    FormSelection(const FormSelection&) = delete;
    FormSelection& operator=(const FormSelection&) = delete;
};

struct FrameSize {
    int32_t width, height;
};
inline constexpr FrameSize kFrameSizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};

inline std::string SizeName(FrameSize size) {
    return std::to_string(size.width).append("x").append(std::to_string(size.height));
}

// "a/b/c": names built by appending (GCC 12 warns falsely on "literal" + string).
inline std::string BenchName(std::initializer_list<std::string_view> parts) {
    std::string name;
    for (std::string_view part : parts) {
        if (!name.empty()) name += '/';
        name.append(part);
    }
    return name;
}

// Seconds per pixel (the JSON holds seconds; the console shows ns or ps).
inline void CountPerPixel(benchmark::State& state, FrameSize size) {
    state.counters["ns_per_pixel"] =
        benchmark::Counter(static_cast<double>(size.width) * size.height,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// A 24-bit frame with packed rows, as a host surface.
class Frame final : public veilshift::HostSurface {
public:
    Frame(FrameSize size, uint32_t seed)
        : size_(size), bytes_(static_cast<size_t>(size.width) * 3 * static_cast<size_t>(size.height)),
          pixels_(static_cast<uint8_t*>(std::aligned_alloc(64, (bytes_ + 63) / 64 * 64))) {
        uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
        for (size_t i = 0; i < bytes_; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            pixels_.get()[i] = static_cast<uint8_t>(state >> 32);
        }
    }
    void VS_THISCALL Release() override {}
    uint8_t* VS_THISCALL PixelAddress(int32_t x, int32_t y) override {
        return pixels_.get() + static_cast<size_t>(y) * Pitch() + static_cast<size_t>(x) * 3;
    }
    int32_t VS_THISCALL Width() override { return size_.width; }
    int32_t VS_THISCALL Height() override { return size_.height; }
    int32_t VS_THISCALL Pitch() override { return size_.width * 3; }

    uint8_t* Data() { return pixels_.get(); }
    size_t Bytes() const { return bytes_; }

private:
    FrameSize size_;
    size_t bytes_;
    std::unique_ptr<uint8_t, FreeDeleter> pixels_;
};

// Source A, source B and a destination of one size, made on first use and
// kept: every benchmark of that size reads and writes the same bytes.
struct FrameSet {
    explicit FrameSet(FrameSize size) : a(size, 1), b(size, 2), dst(size, 3) {}
    Frame a, b, dst;
};

inline FrameSet& Frames(FrameSize size) {
    static std::map<std::pair<int32_t, int32_t>, std::unique_ptr<FrameSet>> sets;
    std::unique_ptr<FrameSet>& set = sets[{size.width, size.height}];
    if (!set) set = std::make_unique<FrameSet>(size);
    return *set;
}

}  // namespace benchsupport
