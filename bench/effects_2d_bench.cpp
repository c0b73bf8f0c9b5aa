// Effects 6 (mosaic) and 31 (ripple) on whole frames, in every processor form
// this machine has: selected as the module selects them (the processor's
// features, the others masked off) and named after the form that runs. Their
// floors (memset and the streaming pass) are in floors_bench.cpp.
//
// The frames are those of a transition of 100 frames, drawn as Draw draws them.
// The mosaic at frame 1 (blocks of 1 pixel: a blend per pixel; frame 0 would be
// a copy of source A), 10 (blocks of 19) and 50 (blocks of 97), named block1,
// block19 and block97. The ripple over the whole transition, every tenth frame
// (progress0 ... progress90; progress0 has no shift and is a copy of source A,
// progress50 is the peak: the largest shifts, 17 waves across), with the
// scratch a transition makes at Begin (made once, outside the timing), and at
// the peak without it as well (progress50_direct: the direct walk, its shift
// tables allocated every frame).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Veilshift/frame_math.h"
#include "Veilshift/module_state.h"
#include "Veilshift/transitions/mosaic.h"
#include "Veilshift/transition_forms.h"
#include "Veilshift/transitions/ripple.h"
#include "Veilshift/transitions/ripple_forms.h"
#include "bench_support.h"

namespace {

using benchsupport::BenchName;
using benchsupport::CountPerPixel;
using benchsupport::FormRequest;
using benchsupport::Frames;
using benchsupport::FrameSet;
using benchsupport::FrameSize;
using benchsupport::NamedForm;

constexpr int32_t kTotal = 100;

// The form, and MulTable as connection builds it (a session of another
// benchmark, unloading its module, frees the table; without it both effects
// draw nothing).
class Selection {
public:
    explicit Selection(const FormRequest& form) : switches_(form.Values(), form.Allowed(), form.gathers) {
        if (veilshift::moduleState.MulTable.rows == nullptr) veilshift::BuildMulTable();
    }
    bool Ready() const { return veilshift::moduleState.MulTable.rows != nullptr; }

private:
    const refhost::ModuleForms switches_;
};

void Mosaic(benchmark::State& state, FormRequest form, FrameSize size, int32_t progress) {
    FrameSet& f = Frames(size);
    const Selection selection(form);
    if (!selection.Ready()) return state.SkipWithError("no MulTable");
    const int32_t blockSize = veilshift::MosaicBlockSize(progress, kTotal);
    const int32_t alpha = veilshift::FrameAlpha(progress, kTotal);
    const veilshift::MosaicForms forms = veilshift::ChooseTransitionForms(6, size.width, size.height).mosaic;
    for (auto _ : state) {
        veilshift::MosaicRect(&f.dst, 0, 0, &f.a, 0, 0, &f.b, 0, 0, size.width, size.height, blockSize, alpha,
                              forms);
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

void Ripple(benchmark::State& state, FormRequest form, FrameSize size, int32_t progress, bool withScratch) {
    FrameSet& f = Frames(size);
    const Selection selection(form);
    if (!selection.Ready()) return state.SkipWithError("no MulTable");
    veilshift::RippleScratch scratch;
    if (withScratch) veilshift::MakeRippleScratch(scratch, size.width, size.height);
    const veilshift::RippleForms forms = veilshift::ChooseTransitionForms(31, size.width, size.height).ripple;
    for (auto _ : state) {
        veilshift::RippleRect(&f.dst, 0, 0, &f.a, 0, 0, &f.b, 0, 0, size.width, size.height, progress, kTotal,
                              forms, withScratch ? &scratch : nullptr);
        benchmark::ClobberMemory();
    }
    veilshift::ReleaseRippleScratch(scratch);
    CountPerPixel(state, size);
}

// The ripple's form (its fused passes): the instruction set the module decides
// (avx2-loads for the AVX2 passes without gathers), unless the ripple has no
// form in it and runs its scalar form there.
std::string RippleFormName() {
    const veilshift::ProcessorFeatures features = veilshift::CurrentFormSettings().features;
    if (veilshift::ChooseRipplePasses(features) == veilshift::ChooseRipplePasses({})) return "scalar";
    return veilshift::EffectFormName(31, 0, veilshift::CurrentFormSettings());
}

const bool registered = [] {
    const std::vector<NamedForm> mosaicForms =
        benchsupport::DistinctForms("mosaic", benchsupport::kVectorRequests, benchsupport::VectorFormName, "Effect6");
    const std::vector<NamedForm> rippleForms =
        benchsupport::DistinctForms("ripple", benchsupport::kGatherRequests, RippleFormName, "Effect31");
    for (const FrameSize size : benchsupport::kFrameSizes) {
        const std::string sizeName = benchsupport::SizeName(size);
        for (const NamedForm& form : mosaicForms)
            for (const auto& [param, progress] :
                 {std::pair{"block1", 1}, std::pair{"block19", 10}, std::pair{"block97", 50}})
                benchmark::RegisterBenchmark(BenchName({"Effect6", form.name, sizeName, param}).c_str(), Mosaic,
                                             form.request, size, progress)
                    ->UseRealTime();
        for (const NamedForm& form : rippleForms) {
            for (int32_t progress = 0; progress < kTotal; progress += kTotal / 10)
                benchmark::RegisterBenchmark(
                    BenchName({"Effect31", form.name, sizeName, "progress" + std::to_string(progress)}).c_str(),
                    Ripple, form.request, size, progress, true)
                    ->UseRealTime();
            benchmark::RegisterBenchmark(BenchName({"Effect31", form.name, sizeName, "progress50_direct"}).c_str(),
                                         Ripple, form.request, size, kTotal / 2, false)
                ->UseRealTime();
        }
    }
    return true;
}();

}  // namespace
