// Whole effect-34 frames through the module and the reference host, over the
// whole transition: every tenth frame of 100 (progress0 ... progress90) and
// progress1, the first frame the renderer draws (frame 0 is source A copied), in
// every span form the processor has. Their floor is Floor/copy_depth_clear (the
// background copy and the depth clear every frame makes).
//
// The frames run in the test process's own copy of the module, so that the
// feature mask selects the renderer's span filler (named after it: scalar,
// sse2, avx2; the filler takes its scalar form wherever texels meet the pixels
// being drawn, which these surfaces never do).
//
// The host logs every call the module makes (four per part of a triangle, up
// to 256 parts a frame), as the DLL's timing program has it; the log is cleared
// after every frame. What the log itself costs shows beside the logged frame as
// Local/effect34_unlogged.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using benchsupport::BenchName;
using benchsupport::CountPerPixel;
using benchsupport::FormRequest;
using benchsupport::FrameSize;
using benchsupport::NamedForm;

constexpr int32_t kTotal = 100;

void Effect34(benchmark::State& state, FormRequest form, FrameSize size, int32_t progress, bool logged) {
    const refhost::ModuleForms selection(form.Values(), form.Allowed());
    benchsupport::Session session(size, 34, logged);
    if (!session.Begun()) return state.SkipWithError("Begin failed");
    for (auto _ : state) session.Draw(progress, kTotal);
    CountPerPixel(state, size);
}

const bool registered = [] {
    const std::vector<NamedForm> forms =
        benchsupport::DistinctForms("span filler", benchsupport::kVectorRequests, benchsupport::VectorFormName,
                                    "Effect34");
    for (const FrameSize size : benchsupport::kFrameSizes) {
        const std::string sizeName = benchsupport::SizeName(size);
        std::vector<int32_t> points;
        for (int32_t progress = 0; progress < kTotal; progress += kTotal / 10) points.push_back(progress);
        points.insert(points.begin() + 1, 1);
        for (const int32_t progress : points) {
            const std::string point = "progress" + std::to_string(progress);
            for (const NamedForm& form : forms)
                benchmark::RegisterBenchmark(BenchName({"Effect34", form.name, sizeName, point}).c_str(), Effect34,
                                             form.request, size, progress, true)
                    ->UseRealTime()
                    ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(BenchName({"Local", "effect34_unlogged", forms.back().name, sizeName,
                                                "progress0"}).c_str(),
                                     Effect34, forms.back().request, size, 0, false)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace
