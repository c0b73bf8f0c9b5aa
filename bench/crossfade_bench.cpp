// The crossfade forms on whole frames, beside a streaming floor that moves the
// same bytes (two frames read, one written) without blending them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Veilshift/transitions/crossfade.h"

namespace {

using veilshift::CrossfadeFn;

struct Frames {
    Frames(int32_t width, int32_t height)
        : width(width), height(height), pitch(width * 3), a(Size()), b(Size()), dst(Size()) {
        std::mt19937 rng(1);
        for (size_t i = 0; i < Size(); ++i) a[i] = static_cast<uint8_t>(rng()), b[i] = static_cast<uint8_t>(rng());
    }
    size_t Size() const { return static_cast<size_t>(width) * 3 * height; }
    int32_t width, height;
    ptrdiff_t pitch;
    std::vector<uint8_t> a, b, dst;
};

void Report(benchmark::State& state, const Frames& f) {
    const double pixels = static_cast<double>(f.width) * f.height;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.Size()) * 3);
    state.counters["ns_per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BenchForm(benchmark::State& state, CrossfadeFn form) {
    Frames f(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    int32_t alpha = 0;
    for (auto _ : state) {
        form(f.dst.data(), f.pitch, f.a.data(), f.pitch, f.b.data(), f.pitch, f.width, f.height, alpha);
        alpha = (alpha + 1) % 255;
        benchmark::DoNotOptimize(f.dst.data());
        benchmark::ClobberMemory();
    }
    Report(state, f);
}

// Row by row: A copied into the destination, B summed in 8-byte words.
void BenchFloor(benchmark::State& state) {
    Frames f(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    const size_t rowBytes = static_cast<size_t>(f.width) * 3;
    for (auto _ : state) {
        uint64_t sum = 0;
        for (int32_t y = 0; y < f.height; ++y) {
            const size_t row = static_cast<size_t>(y) * f.pitch;
            std::memcpy(f.dst.data() + row, f.a.data() + row, rowBytes);
            for (size_t i = 0; i + 8 <= rowBytes; i += 8) {
                uint64_t word;
                std::memcpy(&word, f.b.data() + row + i, 8);
                sum += word;
            }
        }
        benchmark::DoNotOptimize(sum);
        benchmark::ClobberMemory();
    }
    Report(state, f);
}

void FrameSizes(benchmark::internal::Benchmark* b) { b->Args({640, 480})->Args({1920, 1080}); }

BENCHMARK(BenchFloor)->Apply(FrameSizes);
BENCHMARK_CAPTURE(BenchForm, Scalar, veilshift::Crossfade_Scalar)->Apply(FrameSizes);
BENCHMARK_CAPTURE(BenchForm, Mmx, veilshift::Crossfade_Mmx)->Apply(FrameSizes);
BENCHMARK_CAPTURE(BenchForm, Sse, veilshift::Crossfade_Sse)->Apply(FrameSizes);

}  // namespace
