// What the benchmarks share: the frame sizes, one set of 24-bit frames per
// size (allocated and filled once, 64-byte aligned, rows packed), the
// request of a processor form and its name, whole sessions through the
// reference host, the names and the ns_per_pixel counter.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Veilshift/form_rules.h"
#include "Veilshift/host_interfaces.h"
#include "Veilshift/startup_settings.h"
#include "host/in_process_module.h"
#include "host/module_forms.h"
#include "host/reference_host.h"
#include "host/stage.h"
#include "host/startup_switches.h"
#include "processor_names.h"

namespace benchsupport {

// What selects a form: the start-up switches "MMX" and "SSE", and the vector
// features allowed (the others masked off). A benchmark selects it with the
// module forms' scope, as connection and the dispatch would:
//   const refhost::ModuleForms selection(request.Values(), request.Allowed());
// and everything is back as it was at the scope's end.
// Kernels with forms with gathers and without (the ripple's passes) take
// `gathers` too: the one or the other whatever the processor's gathers cost.
struct FormRequest {
    bool mmx, sse, sse2, avx2;
    refhost::Gathers gathers = refhost::Gathers::AsDetected;
    veilshift::StartupValues Values() const { return refhost::SwitchValues(mmx, sse); }
    veilshift::ProcessorFeatures Allowed() const { return {true, true, sse2, avx2}; }
};

// The names of the forms the module runs now, by its own rules (form_rules.h):
// the crossfade's "exact-<set>" or "grouped-<set>" for rows of `width` pixels,
// and the instruction set of every other kernel.
inline std::string CrossfadeFormName(int32_t width) {
    return veilshift::EffectFormName(1, width, veilshift::CurrentFormSettings());
}
inline std::string VectorFormName() {
    return veilshift::InstructionSetName(veilshift::DecideVectorSet(veilshift::CurrentFormSettings().features));
}

// Every crossfade form, narrowest first within each arithmetic.
inline const std::vector<FormRequest> kCrossfadeRequests = {
    {false, false, false, false}, {false, false, true, false}, {false, false, true, true},  // exact
    {true, false, false, false},  {true, true, false, false},  {true, false, true, false},
    {true, false, true, true},  // grouped: mmx, sse, sse2, avx2
};
// Every form of the kernels the processor alone decides: scalar, sse2, avx2;
// and for kernels with forms without gathers, AVX2 with gathers and without.
inline const std::vector<FormRequest> kVectorRequests = {
    {false, false, false, false}, {false, false, true, false}, {false, false, true, true}};
inline const std::vector<FormRequest> kGatherRequests = {
    {false, false, false, false},
    {false, false, true, false},
    {false, false, true, true, refhost::Gathers::Used},
    {false, false, true, true, refhost::Gathers::Avoided}};

struct NamedForm {
    std::string name;
    FormRequest request;
};

// The form the module chooses for a kernel on this processor, for the run's
// context (chosen_form:<key>), beside the others a report compares it with;
// several (one per arithmetic) are listed with spaces between them.
inline void PublishChosenForms(const char* key, const std::vector<FormRequest>& settings,
                               const std::function<std::string()>& name) {
    std::string chosen;
    for (const FormRequest& setting : settings) {
        const refhost::ModuleForms selection(setting.Values(), setting.Allowed(), setting.gathers);
        chosen.append(chosen.empty() ? "" : " ").append(name());
    }
    benchmark::AddCustomContext(std::string("chosen_form:") + key, chosen);
}

// The forms this processor runs among `requests`, each named by `name` (called
// with the request selected) and measured once: a request whose feature the
// processor lacks runs a form already listed, or needs a switch connection
// would not set ("MMX" without MMX, "SSE" without SSE). `what` names the
// kernel in the note on standard error; with `key` the form the module
// chooses (every feature allowed, the gathers as the processor decides) goes
// into the run's context.
inline std::vector<NamedForm> DistinctForms(const char* what, const std::vector<FormRequest>& requests,
                                            const std::function<std::string()>& name, const char* key = nullptr) {
    if (key != nullptr) PublishChosenForms(key, {{false, false, true, true}}, name);
    const veilshift::ProcessorFeatures present = veilshift::DetectProcessorFeatures();
    std::vector<NamedForm> forms;
    for (const FormRequest& request : requests) {
        if ((request.mmx && !present.mmx) || (request.sse && !present.sse)) continue;
        std::string formName;
        {
            const refhost::ModuleForms selection(request.Values(), request.Allowed(), request.gathers);
            formName = name();
        }
        bool seen = false;
        for (const NamedForm& form : forms) seen = seen || form.name == formName;
        if (seen) continue;
        forms.push_back({formName, request});
    }
    std::string list;
    for (const NamedForm& form : forms) list.append(list.empty() ? "" : ", ").append(form.name);
    std::fprintf(stderr, "veilshift_bench: %s forms on this processor: %s\n", what, list.c_str());
    return forms;
}

struct FrameSize {
    int32_t width, height;
};
inline constexpr FrameSize kFrameSizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};

inline std::string SizeName(FrameSize size) {
    return std::to_string(size.width).append("x").append(std::to_string(size.height));
}

// "a/b/c": names built by appending (GCC 12 warns falsely on "literal" + string).
inline std::string BenchName(std::initializer_list<std::string_view> parts) {
    std::string name;
    for (std::string_view part : parts) {
        if (!name.empty()) name += '/';
        name.append(part);
    }
    return name;
}

// Seconds per pixel (the JSON holds seconds; the console shows ns or ps).
inline void CountPerPixel(benchmark::State& state, FrameSize size) {
    state.counters["ns_per_pixel"] =
        benchmark::Counter(static_cast<double>(size.width) * size.height,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// A 24-bit frame with packed rows, as a host surface.
class Frame final : public veilshift::HostSurface {
public:
    Frame(FrameSize size, uint32_t seed)
        : size_(size), bytes_(static_cast<size_t>(size.width) * 3 * static_cast<size_t>(size.height)),
          pixels_(static_cast<uint8_t*>(std::aligned_alloc(64, (bytes_ + 63) / 64 * 64))) {
        uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
        for (size_t i = 0; i < bytes_; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            pixels_.get()[i] = static_cast<uint8_t>(state >> 32);
        }
    }
    void VS_THISCALL Release() override {}
    uint8_t* VS_THISCALL PixelAddress(int32_t x, int32_t y) override {
        return pixels_.get() + static_cast<size_t>(y) * Pitch() + static_cast<size_t>(x) * 3;
    }
    int32_t VS_THISCALL Width() override { return size_.width; }
    int32_t VS_THISCALL Height() override { return size_.height; }
    int32_t VS_THISCALL Pitch() override { return size_.width * 3; }

    uint8_t* Data() { return pixels_.get(); }
    size_t Bytes() const { return bytes_; }

private:
    FrameSize size_;
    size_t bytes_;
    std::unique_ptr<uint8_t, FreeDeleter> pixels_;
};

// Source A, source B and a destination of one size, made on first use and
// kept: every benchmark of that size reads and writes the same bytes.
struct FrameSet {
    explicit FrameSet(FrameSize size) : a(size, 1), b(size, 2), dst(size, 3) {}
    Frame a, b, dst;
};

inline FrameSet& Frames(FrameSize size) {
    static std::map<std::pair<int32_t, int32_t>, std::unique_ptr<FrameSet>> sets;
    std::unique_ptr<FrameSet>& set = sets[{size.width, size.height}];
    if (!set) set = std::make_unique<FrameSet>(size);
    return *set;
}

// A session as the engine runs one: the reference host's components and
// surfaces (destination 1, sources 2 and 3), the test process's own copy of the
// module, so that a scope's feature mask reaches it, Begin once and Draw per
// frame. Made within the start-up switches' scope of the form, whose values
// the module reads when it connects. With `logged` the host logs every call,
// as the DLL's timing program does, and the log is cleared after every frame.
class Session {
public:
    Session(FrameSize size, int32_t effect, bool logged = true) : host_(Options(logged)) {
        const int32_t w = size.width, h = size.height;
        refhost::SetStage(host_, {w, h, nullptr, 1}, {w, h, nullptr, 2}, {w, h, nullptr, 3});
        module_.Plugin().SetInterface(&veilshift::kScreenUpdaterId, host_.Updater());
        module_.Plugin().SetInterface(&veilshift::kSurfaceTableId, host_.Table());
        begun_ = refhost::BeginOnStage(module_.Plugin(), refhost::SameCorner(0, 0, w, h), effect);
    }
    ~Session() {
        if (begun_) module_.Plugin().End();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Begun() const { return begun_; }
    void Draw(int32_t progress, int32_t total) {
        module_.Plugin().Draw(progress, total);
        host_.ClearCalls();
    }

private:
    static refhost::HostOptions Options(bool logged) {
        refhost::HostOptions options;
        options.loadModule = false;
        options.logCalls = logged;
        return options;
    }

    refhost::Host host_;  // made first and gone last: the module is unloaded before the components
    refhost::InProcessModule module_;
    bool begun_ = false;
};

}  // namespace benchsupport
