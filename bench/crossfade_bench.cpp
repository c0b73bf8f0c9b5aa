// Effect 1 (the crossfade's frame drawer) and the blend of effects 40 and 41
// into their work surface, in every processor form this machine has, and
// libyuv's InterpolatePlane on the same bytes (one plane of width * 3 bytes
// per row, the same pitches). Their floor, the streaming pass, is in
// floors_bench.cpp. The weight runs through 0 to 254 frame by frame.
//
// A form is selected as the module selects it, through the start-up switches
// and the processor's features (the others masked off), and named by the
// module's own rules: exact-scalar, exact-sse2, exact-avx2 (the exact
// arithmetic, as with "MMX" and "SSE" off), grouped-mmx, grouped-sse,
// grouped-sse2, grouped-avx2 (the grouped arithmetic, as "MMX" allows).
//
// Effects 40 and 41 are also measured as whole frames (.../draw: a Draw through
// the reference host, the host's CopyAxisX / CopyAxisY included) in the widest
// form of each arithmetic, as the DLL's timing program measures them.
#include <benchmark/benchmark.h>
#include <libyuv/planar_functions.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Veilshift/effect_plugin.h"
#include "Veilshift/effects/effects.h"
#include "Veilshift/frame_math.h"
#include "Veilshift/transitions/crossfade.h"
#include "bench_support.h"

namespace {

using benchsupport::BenchName;
using benchsupport::CountPerPixel;
using benchsupport::FormRequest;
using benchsupport::FrameSet;
using benchsupport::FrameSize;
using benchsupport::Frames;
using benchsupport::NamedForm;

constexpr int32_t kTotal = 255;  // frame p of 255 weighs source B by p
int32_t NextProgress(int32_t progress) { return progress + 1 == kTotal ? 0 : progress + 1; }

void Effect1(benchmark::State& state, FormRequest form, FrameSize size) {
    FrameSet& f = Frames(size);
    const refhost::ModuleForms selection(form.Values(), form.Allowed());
    veilshift::EffectPlugin plugin;
    plugin.dst = &f.dst, plugin.srcA = &f.a, plugin.srcB = &f.b;
    plugin.params = {};
    plugin.params.effect = 1;
    plugin.params.width = size.width, plugin.params.height = size.height;
    plugin.forms = veilshift::ChooseTransitionForms(1, size.width, size.height);
    int32_t progress = 0;
    for (auto _ : state) {
        veilshift::DrawCrossfadeFrame(plugin, progress, kTotal);
        progress = NextProgress(progress);
        benchmark::ClobberMemory();
    }
    plugin.dst = plugin.srcA = plugin.srcB = nullptr;  // borrowed
    CountPerPixel(state, size);
}

// Effects 40 and 41 blend into their work surface exactly alike; moving the
// work surface into the destination is the host's CopyAxisX / CopyAxisY.
void AxisBlend(benchmark::State& state, FormRequest form, FrameSize size) {
    FrameSet& f = Frames(size);
    const refhost::ModuleForms selection(form.Values(), form.Allowed());
    const veilshift::CrossfadeForm blend = veilshift::ChooseTransitionForms(40, size.width, size.height).crossfade;
    int32_t progress = 0;
    for (auto _ : state) {
        veilshift::CrossfadeRect(&f.dst, 0, 0, &f.a, 0, 0, &f.b, 0, 0, size.width, size.height,
                                 veilshift::FrameAlpha(progress, kTotal), blend);
        progress = NextProgress(progress);
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

// A whole frame of effect 40 or 41, every frame of 255 in turn.
void AxisDraw(benchmark::State& state, FormRequest form, FrameSize size, int32_t effect, std::string name) {
    const refhost::ModuleForms selection(form.Values(), form.Allowed());
    benchsupport::Session session(size, effect);
    if (!session.Begun()) return state.SkipWithError("Begin failed");
    if (benchsupport::CrossfadeFormName(size.width) != name) return state.SkipWithError("another form runs");
    int32_t progress = 0;
    for (auto _ : state) {
        session.Draw(progress, kTotal);
        progress = NextProgress(progress);
    }
    CountPerPixel(state, size);
}

void PeerInterpolate(benchmark::State& state, FrameSize size) {
    FrameSet& f = Frames(size);
    const int pitch = size.width * 3;
    int32_t progress = 0;
    for (auto _ : state) {
        libyuv::InterpolatePlane(f.a.Data(), pitch, f.b.Data(), pitch, f.dst.Data(), pitch, size.width * 3,
                                 size.height, veilshift::FrameAlpha(progress, kTotal));
        progress = NextProgress(progress);
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

const bool registered = [] {
    // Every frame size is at least 4 pixels wide: the width does not change the form.
    const int32_t width = benchsupport::kFrameSizes[0].width;
    const auto formName = [&] { return benchsupport::CrossfadeFormName(width); };
    const std::vector<NamedForm> forms =
        benchsupport::DistinctForms("crossfade", benchsupport::kCrossfadeRequests, formName);
    // The module's choice for each arithmetic: both switches off, both on.
    for (const char* effect : {"Effect1", "Effect40", "Effect41"})
        benchsupport::PublishChosenForms(effect, {{false, false, true, true}, {true, true, true, true}}, formName);
    for (const FrameSize size : benchsupport::kFrameSizes) {
        const std::string sizeName = benchsupport::SizeName(size);
        for (const NamedForm& form : forms) {
            benchmark::RegisterBenchmark(BenchName({"Effect1", form.name, sizeName}).c_str(), Effect1, form.request,
                                         size)
                ->UseRealTime();
            benchmark::RegisterBenchmark(BenchName({"Effect40", form.name, sizeName}).c_str(), AxisBlend,
                                         form.request, size)
                ->UseRealTime();
            benchmark::RegisterBenchmark(BenchName({"Effect41", form.name, sizeName}).c_str(), AxisBlend,
                                         form.request, size)
                ->UseRealTime();
        }
        // The widest form of each arithmetic: the last of its kind in the list.
        for (const char* arithmetic : {"exact-", "grouped-"}) {
            const NamedForm* widest = nullptr;
            for (const NamedForm& form : forms)
                if (form.name.rfind(arithmetic, 0) == 0) widest = &form;
            if (widest == nullptr) continue;
            for (const int32_t effect : {40, 41})
                benchmark::RegisterBenchmark(
                    BenchName({"Effect" + std::to_string(effect), widest->name, sizeName, "draw"}).c_str(), AxisDraw,
                    widest->request, size, effect, widest->name)
                    ->UseRealTime();
        }
        benchmark::RegisterBenchmark(BenchName({"Peer", "libyuv_interpolate", sizeName}).c_str(), PeerInterpolate,
                                     size)
            ->UseRealTime();
    }
    return true;
}();

}  // namespace
