// The floors the effects are measured against: what moving their bytes costs
// with nothing computed. stream reads two frames and writes one (the byte
// average, AVX2 where the processor has it), stream_nt the same with
// non-temporal stores, memcpy and memset one frame, copy_depth_clear a frame
// copy plus a float depth clear of width x height (the shatter's background).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Veilshift/effect_catalog.h"
#include "bench_support.h"
#include "stream_floor.h"

namespace {

using benchsupport::BenchName;
using benchsupport::CountPerPixel;
using benchsupport::FrameSet;
using benchsupport::FrameSize;
using benchsupport::Frames;

void FloorStream(benchmark::State& state, FrameSize size, bool nt) {
    FrameSet& f = Frames(size);
    const benchfloor::StreamFn stream =
        __builtin_cpu_supports("avx2") ? benchfloor::Stream_Avx2 : benchfloor::Stream_Sse2;
    for (auto _ : state) {
        stream(f.dst.Data(), f.a.Data(), f.b.Data(), f.dst.Bytes(), nt);
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

void FloorMemcpy(benchmark::State& state, FrameSize size) {
    FrameSet& f = Frames(size);
    for (auto _ : state) {
        std::memcpy(f.dst.Data(), f.a.Data(), f.dst.Bytes());
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

void FloorMemset(benchmark::State& state, FrameSize size) {
    FrameSet& f = Frames(size);
    int value = 0;
    for (auto _ : state) {
        std::memset(f.dst.Data(), value++ & 0xFF, f.dst.Bytes());
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

std::vector<float>& DepthOf(FrameSize size) {
    static std::map<std::pair<int32_t, int32_t>, std::vector<float>> depths;
    std::vector<float>& depth = depths[{size.width, size.height}];
    depth.resize(static_cast<size_t>(size.width) * static_cast<size_t>(size.height), 1.0f);
    return depth;
}

void FloorCopyDepthClear(benchmark::State& state, FrameSize size) {
    FrameSet& f = Frames(size);
    std::vector<float>& depth = DepthOf(size);
    for (auto _ : state) {
        std::memcpy(f.dst.Data(), f.b.Data(), f.dst.Bytes());
        std::fill(depth.begin(), depth.end(), 0.0f);
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

const bool registered = [] {
    // The processor every figure of the run belongs to, as the module decodes it.
    const veilshift::ProcessorReport processor = veilshift::DetectProcessorReport();
    benchmark::AddCustomContext("processor", benchnames::ProcessorName(processor.identity));
    benchmark::AddCustomContext("processor_caches", benchnames::CacheNames(processor.caches));
    benchmark::AddCustomContext("processor_gathers", processor.features.fastGather ? "fast" : "slow");
    // Each effect's name from the module's catalog, beside the forms chosen for it.
    for (const veilshift::EffectCatalogEntry& entry : veilshift::kEffectCatalog)
        benchmark::AddCustomContext("effect_name:Effect" + std::to_string(entry.number), entry.name);
    for (const FrameSize size : benchsupport::kFrameSizes) {
        const std::string name = benchsupport::SizeName(size);
        benchmark::RegisterBenchmark(BenchName({"Floor", "stream", name}).c_str(), FloorStream, size, false)
            ->UseRealTime();
        benchmark::RegisterBenchmark(BenchName({"Floor", "stream_nt", name}).c_str(), FloorStream, size, true)
            ->UseRealTime();
        benchmark::RegisterBenchmark(BenchName({"Floor", "memcpy", name}).c_str(), FloorMemcpy, size)->UseRealTime();
        benchmark::RegisterBenchmark(BenchName({"Floor", "memset", name}).c_str(), FloorMemset, size)->UseRealTime();
        benchmark::RegisterBenchmark(BenchName({"Floor", "copy_depth_clear", name}).c_str(), FloorCopyDepthClear,
                                     size)
            ->UseRealTime();
    }
    return true;
}();

}  // namespace
