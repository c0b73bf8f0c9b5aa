// Effects 6 (mosaic) and 31 (ripple) on whole frames, in every processor form
// this machine has, chosen the way the module chooses them: through the
// module-wide flags. Their floors (memset and the streaming pass) are in
// floors_bench.cpp.
//
// The mosaic is measured at block sizes 1 (the ends of a transition: a blend
// per pixel), 19 and 97 (mid-transition) with alpha 100; the ripple at its
// peak (frame 30 of 60: the largest shifts, 17 waves across) and at frame 0
// (no shift: a copy of source A), with the scratch a transition makes at Begin
// (made once, outside the timing), and at the peak without it as well
// (peak_direct: the direct walk, shift tables allocated every frame).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>

#include "Veilshift/mul_table.h"
#include "Veilshift/startup_settings.h"
#include "Veilshift/transitions/mosaic.h"
#include "Veilshift/transitions/ripple.h"
#include "bench_support.h"

namespace {

using benchsupport::CountPerPixel;
using benchsupport::Frames;
using benchsupport::FrameSet;
using benchsupport::FrameSize;

struct Form {
    const char* name;
    bool sse2, avx2;  // the module-wide flags that select it
};

bool Available(const Form& form) {
    const veilshift::ProcessorFeatures wide = veilshift::DetectProcessorFeatures();
    return (!form.sse2 || wide.sse2) && (!form.avx2 || wide.avx2);
}

class FlagScope : public benchsupport::FormSelection {
public:
    explicit FlagScope(const Form& form) : FormSelection(true, false, form.sse2, form.avx2) {
        static const bool tableBuilt = veilshift::BuildMulTable();
        static_cast<void>(tableBuilt);
    }
};

void Mosaic(benchmark::State& state, Form form, FrameSize size, int32_t blockSize) {
    FrameSet& f = Frames(size);
    FlagScope flags(form);
    for (auto _ : state) {
        veilshift::MosaicRect(&f.dst, 0, 0, &f.a, 0, 0, &f.b, 0, 0, size.width, size.height, blockSize, 100);
        benchmark::ClobberMemory();
    }
    CountPerPixel(state, size);
}

void Ripple(benchmark::State& state, Form form, FrameSize size, int32_t progress, bool withScratch) {
    FrameSet& f = Frames(size);
    FlagScope flags(form);
    veilshift::RippleScratch scratch;
    if (withScratch) veilshift::MakeRippleScratch(scratch, size.width, size.height);
    for (auto _ : state) {
        veilshift::RippleRect(&f.dst, 0, 0, &f.a, 0, 0, &f.b, 0, 0, size.width, size.height, progress, 60,
                              withScratch ? &scratch : nullptr);
        benchmark::ClobberMemory();
    }
    veilshift::ReleaseRippleScratch(scratch);
    CountPerPixel(state, size);
}

const bool registered = [] {
    const Form mosaicForms[] = {{"scalar", false, false}, {"sse2", true, false}, {"avx2", true, true}};
    const Form rippleForms[] = {{"scalar", false, false}, {"sse2", true, false}, {"avx2", true, true}};
    for (const Form& form : mosaicForms) {
        if (!Available(form)) {
            std::fprintf(stderr, "veilshift_bench: this processor cannot run the %s form; not measured\n", form.name);
            continue;
        }
        for (const FrameSize size : benchsupport::kFrameSizes)
            for (int32_t blockSize : {1, 19, 97}) {
                const std::string name = std::string("Effect6/") + form.name + "/" + benchsupport::SizeName(size) +
                                         "/block" + std::to_string(blockSize);
                benchmark::RegisterBenchmark(name.c_str(), Mosaic, form, size, blockSize)->UseRealTime();
            }
    }
    for (const Form& form : rippleForms) {
        if (!Available(form)) continue;
        for (const FrameSize size : benchsupport::kFrameSizes)
            for (const auto& [param, progress, withScratch] :
                 {std::tuple{"peak", 30, true}, std::tuple{"progress0", 0, true}, std::tuple{"peak_direct", 30, false}}) {
                const std::string name =
                    std::string("Effect31/") + form.name + "/" + benchsupport::SizeName(size) + "/" + param;
                benchmark::RegisterBenchmark(name.c_str(), Ripple, form, size, progress, withScratch)->UseRealTime();
            }
    }
    return true;
}();

}  // namespace
