// Effect 1 (the crossfade's frame drawer) and the blend of effects 40 and 41
// into their work surface, in every processor form this machine has, and
// libyuv's InterpolatePlane on the same bytes (one plane of width * 3 bytes
// per row, the same pitches). Their floor, the streaming pass, is in
// floors_bench.cpp. The form is chosen the way the module chooses it, through
// the module-wide flags; the weight runs through 0 to 254 frame by frame.
#include <benchmark/benchmark.h>
#include <libyuv/planar_functions.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "Veilshift/effect_plugin.h"
#include "Veilshift/frame_math.h"
#include "Veilshift/startup_settings.h"
#include "Veilshift/transitions/crossfade.h"
#include "bench_support.h"

namespace {

using benchsupport::BenchName;
using benchsupport::CountPerPixel;
using benchsupport::FrameSet;
using benchsupport::FrameSize;
using benchsupport::Frames;

struct Form {
    const char* name;
    bool mmx, sse, sse2, avx2;  // the module-wide flags that select it
};

const Form kForms[] = {
    {"scalar", false, false, false, false}, {"mmx", true, false, false, false}, {"sse", true, true, false, false},
    {"sse2", true, false, true, false},      {"avx2", true, true, false, true},
};

bool Available(const Form& form) {
    const veilshift::ProcessorFeatures wide = veilshift::DetectProcessorFeatures();
    return (!form.mmx || veilshift::DetectMMX()) && (!form.sse || veilshift::DetectSSE()) &&
           (!form.sse2 || wide.sse2) && (!form.avx2 || wide.avx2);
}

// "scalar" is the exact arithmetic in the widest code the processor has, as
// with both switches off; the others the grouped arithmetic in that code.
class FlagScope : public benchsupport::FormSelection {
public:
    explicit FlagScope(const Form& form)
        : FormSelection(form.mmx, form.sse, form.sse2 || !form.mmx, form.avx2 || !form.mmx) {}
};

constexpr int32_t kTotal = 255;  // frame p of 255 weighs source B by p
int32_t NextProgress(int32_t progress) { return progress + 1 == kTotal ? 0 : progress + 1; }

void Effect1(benchmark::State& state, Form form, FrameSize size) {
    FrameSet& f = Frames(size);
    FlagScope flags(form);
    veilshift::EffectPlugin plugin;
    plugin.dst = &f.dst, plugin.srcA = &f.a, plugin.srcB = &f.b;
    plugin.params = {};
    plugin.params.effect = 1;
    plugin.params.width = size.width, plugin.params.height = size.height;
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
void AxisBlend(benchmark::State& state, Form form, FrameSize size) {
    FrameSet& f = Frames(size);
    FlagScope flags(form);
    int32_t progress = 0;
    for (auto _ : state) {
        veilshift::CrossfadeRect(&f.dst, 0, 0, &f.a, 0, 0, &f.b, 0, 0, size.width, size.height,
                                 veilshift::FrameAlpha(progress, kTotal));
        progress = NextProgress(progress);
        benchmark::ClobberMemory();
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
    for (const Form& form : kForms) {
        if (!Available(form)) {
            std::fprintf(stderr, "veilshift_bench: this processor cannot run the %s form; not measured\n", form.name);
            continue;
        }
        for (const FrameSize size : benchsupport::kFrameSizes) {
            const std::string sizeName = benchsupport::SizeName(size);
            benchmark::RegisterBenchmark(BenchName({"Effect1", form.name, sizeName}).c_str(), Effect1, form, size)
                ->UseRealTime();
            benchmark::RegisterBenchmark(BenchName({"Effect40", form.name, sizeName}).c_str(), AxisBlend, form, size)
                ->UseRealTime();
            benchmark::RegisterBenchmark(BenchName({"Effect41", form.name, sizeName}).c_str(), AxisBlend, form, size)
                ->UseRealTime();
        }
    }
    for (const FrameSize size : benchsupport::kFrameSizes)
        benchmark::RegisterBenchmark(BenchName({"Peer", "libyuv_interpolate", benchsupport::SizeName(size)}).c_str(),
                                     PeerInterpolate, size)
            ->UseRealTime();
    return true;
}();

}  // namespace
