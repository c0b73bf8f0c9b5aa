// Whole effect-34 frames through the module and the reference host, at five
// points of the transition; their floor is Floor/copy_depth_clear (the
// background copy and the depth clear every frame makes).
//
// The renderer's span filler takes the widest form the module chose at
// connection (named after it), or, with the start-up value "MMX" at 0, its
// scalar form.
//
// The host logs every call the module makes (four per part of a triangle, up
// to 256 parts a frame); ClearCalls keeps the log from growing. What the log
// itself costs shows beside the logged frame as Local/effect34_unlogged.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "Veilshift/startup_settings.h"
#include "bench_support.h"
#include "host/reference_host.h"

namespace {

using benchsupport::BenchName;
using benchsupport::CountPerPixel;
using benchsupport::FrameSize;

constexpr int32_t kTotal = 100;

// The start-up value "MMX" for the module the host loads; unset again after.
class MmxSwitch {
public:
    explicit MmxSwitch(bool scalar) {
        if (scalar) setenv("TESSARY_STARTUP_MMX", "0", 1);
    }
    ~MmxSwitch() { unsetenv("TESSARY_STARTUP_MMX"); }
};

void Effect34(benchmark::State& state, FrameSize size, int32_t progress, bool logged, bool scalar) {
    const MmxSwitch mmx(scalar);
    refhost::Host host;
    host.AddSurface(1, size.width, size.height);
    host.AddSurface(2, size.width, size.height).FillRandom(1);
    host.AddSurface(3, size.width, size.height).FillRandom(2);
    if (!host.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, size.width, size.height, 34)) {
        state.SkipWithError("Begin failed");
        return;
    }
    // The host appends nothing while its log is nested.
    refhost::CallLog* const log = host.Control(refhost::Component::Pixmill)->log;
    if (!logged) ++log->nesting;
    for (auto _ : state) {
        host.Draw(progress, kTotal);
        host.ClearCalls();
    }
    if (!logged) --log->nesting;
    CountPerPixel(state, size);
    host.End();
}

const bool registered = [] {
    const veilshift::ProcessorFeatures wide = veilshift::DetectProcessorFeatures();
    const char* const widest = wide.avx2 ? "avx2" : wide.sse2 ? "sse2" : nullptr;
    for (const FrameSize size : benchsupport::kFrameSizes) {
        const std::string sizeName = benchsupport::SizeName(size);
        for (const int32_t progress : {0, 25, 50, 75, 99}) {
            const std::string point = "progress" + std::to_string(progress);
            for (const char* form : {"scalar", widest}) {
                if (form == nullptr) continue;
                const bool scalar = form == std::string("scalar");
                benchmark::RegisterBenchmark(BenchName({"Effect34", form, sizeName, point}).c_str(), Effect34, size,
                                             progress, true, scalar)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
        benchmark::RegisterBenchmark(BenchName({"Local", "effect34_unlogged", sizeName, "progress0"}).c_str(),
                                     Effect34, size, 0, false, false)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
