// The mosaic, ripple and axis crossfades on whole frames, beside a plain copy
// of the same rectangle (the floor: every destination byte written once from
// one source). The axis effects' own work is the blend into the work surface;
// the host's CopyAxisX / CopyAxisY is not the module's and is not measured.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Veilshift/host_interfaces.h"
#include "Veilshift/mul_table.h"
#include "Veilshift/startup_settings.h"
#include "Veilshift/transitions/crossfade.h"
#include "Veilshift/transitions/mosaic.h"
#include "Veilshift/transitions/ripple.h"

namespace {

// A packed 24-bit surface with random pixels.
class BenchSurface final : public veilshift::HostSurface {
public:
    BenchSurface(int32_t width, int32_t height, uint32_t seed)
        : width_(width), height_(height), pixels_(static_cast<size_t>(width) * 3 * static_cast<size_t>(height)) {
        std::mt19937 rng(seed);
        for (uint8_t& byte : pixels_) byte = static_cast<uint8_t>(rng());
    }
    void VS_THISCALL Release() override {}
    uint8_t* VS_THISCALL PixelAddress(int32_t x, int32_t y) override {
        return pixels_.data() + static_cast<size_t>(y) * Row() + static_cast<size_t>(x) * 3;
    }
    int32_t VS_THISCALL Width() override { return width_; }
    int32_t VS_THISCALL Height() override { return height_; }
    int32_t VS_THISCALL Pitch() override { return static_cast<int32_t>(Row()); }

private:
    size_t Row() const { return static_cast<size_t>(width_) * 3; }
    int32_t width_, height_;
    std::vector<uint8_t> pixels_;
};

struct Stage {
    explicit Stage(const benchmark::State& state)
        : width(static_cast<int32_t>(state.range(0))),
          height(static_cast<int32_t>(state.range(1))),
          dst(width, height, 1),
          a(width, height, 2),
          b(width, height, 3) {
        static const bool tableBuilt = veilshift::BuildMulTable();
        static_cast<void>(tableBuilt);
    }
    int32_t width, height;
    BenchSurface dst, a, b;
};

void Report(benchmark::State& state, const Stage& s) {
    const double pixels = static_cast<double>(s.width) * s.height;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pixels) * 3);
    state.counters["per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BenchCopyFloor(benchmark::State& state) {
    Stage s(state);
    const size_t rowBytes = static_cast<size_t>(s.width) * 3;
    for (auto _ : state) {
        for (int32_t y = 0; y < s.height; ++y) std::memcpy(s.dst.PixelAddress(0, y), s.a.PixelAddress(0, y), rowBytes);
        benchmark::ClobberMemory();
    }
    Report(state, s);
}

// range(2): the block size (1 at the ends of the transition, 97 in the middle).
void BenchMosaic(benchmark::State& state) {
    Stage s(state);
    const int32_t blockSize = static_cast<int32_t>(state.range(2));
    for (auto _ : state) {
        veilshift::MosaicRect(&s.dst, 0, 0, &s.a, 0, 0, &s.b, 0, 0, s.width, s.height, blockSize, 100);
        benchmark::ClobberMemory();
    }
    Report(state, s);
}

// range(2): progress of 60 frames (0: flat, 15: a quarter, 30: the peak).
void BenchRipple(benchmark::State& state) {
    Stage s(state);
    const int32_t progress = static_cast<int32_t>(state.range(2));
    for (auto _ : state) {
        veilshift::RippleRect(&s.dst, 0, 0, &s.a, 0, 0, &s.b, 0, 0, s.width, s.height, progress, 60);
        benchmark::ClobberMemory();
    }
    Report(state, s);
}

// The axis effects' blend into their work surface, with the forms the
// processor offers (as a host without start-up values gets them).
void BenchAxisBlend(benchmark::State& state) {
    Stage s(state);
    veilshift::UseMMX = veilshift::DetectMMX();
    veilshift::UseSSE = false;
    int32_t alpha = 0;
    for (auto _ : state) {
        veilshift::CrossfadeRect(&s.dst, 0, 0, &s.a, 0, 0, &s.b, 0, 0, s.width, s.height, alpha);
        alpha = (alpha + 2) % 254;
        benchmark::ClobberMemory();
    }
    Report(state, s);
}

void Sizes(benchmark::internal::Benchmark* b) { b->Args({640, 480})->Args({1920, 1080}); }
void SizesWith(benchmark::internal::Benchmark* b, std::initializer_list<int64_t> thirds) {
    for (int64_t third : thirds) b->Args({640, 480, third})->Args({1920, 1080, third});
}

BENCHMARK(BenchCopyFloor)->Apply(Sizes);
BENCHMARK(BenchMosaic)->Apply([](benchmark::internal::Benchmark* b) { SizesWith(b, {1, 19, 97}); });
BENCHMARK(BenchRipple)->Apply([](benchmark::internal::Benchmark* b) { SizesWith(b, {0, 15, 30}); });
BENCHMARK(BenchAxisBlend)->Apply(Sizes);

}  // namespace
