// A whole effect-34 frame through the module, beside its floor: the background
// copy of source B plus one float depth clear of the same size.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "host/reference_host.h"

namespace {

void ShatterFrame(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
    const int32_t progress = static_cast<int32_t>(state.range(2));
    refhost::Host host;
    host.AddSurface(1, w, h);
    host.AddSurface(2, w, h).FillRandom(1);
    host.AddSurface(3, w, h).FillRandom(2);
    if (!host.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, w, h, 34)) {
        state.SkipWithError("Begin failed");
        return;
    }
    for (auto _ : state) {
        host.Draw(progress, 100);
        host.ClearCalls();
    }
    state.counters["ns_per_pixel"] =
        benchmark::Counter(static_cast<double>(w) * h, benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
    host.End();
}

void ShatterFloor(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    std::vector<uint8_t> src(w * h * 3, 7), dst(w * h * 3);
    std::vector<float> depth(w * h);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        std::fill(depth.begin(), depth.end(), 0.0f);
        benchmark::DoNotOptimize(dst.data());
        benchmark::DoNotOptimize(depth.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_pixel"] = benchmark::Counter(
        static_cast<double>(w) * h, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(ShatterFrame)
    ->ArgsProduct({{640}, {480}, {0, 25, 50, 75, 99}})
    ->ArgsProduct({{1920}, {1080}, {0, 25, 50, 75, 99}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ShatterFloor)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
