// Frame times of the 32-bit DLL, run under Wine (which runs the code directly).
// Google Benchmark has no build for this target, so this is a small timing
// loop with the same names and the same ns_per_pixel counter, printing the
// median of its repetitions either as a table or as Google Benchmark's JSON.
//
// Every effect is driven through the reference host exactly as the engine
// drives it (Begin once, Draw per frame), so a Draw includes the host's own
// work: its Copy for effect 34 and its CopyAxisX / CopyAxisY for effects 40 and
// 41 (named .../draw for that reason). The repetitions of all benchmarks are
// interleaved in rounds, each round on freshly loaded modules (see Measure).
//
// A user chooses only the start-up values "MMX" and "SSE"; the processor's
// features choose the rest, and this program cannot mask them. So it sets each
// of the three settings (both off, "MMX", "MMX" and "SSE") in turn, works out
// the form the module then runs by the module's own rules (form_rules.h,
// from the same CPUID the module reads) and names the benchmark after it:
// exact-<set> or grouped-<set> for the crossfade (effects 1, 40, 41), the
// instruction set for the others. A setting whose form was already measured is
// skipped, so the DLL shows the widest form of each arithmetic.
//
//   veilshift_win32_bench [--format=json|console] [--repetitions=N] [--min-time=S] [--filter=REGEX]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Veilshift/effect_catalog.h"
#include "Veilshift/form_rules.h"
#include "Veilshift/startup_settings.h"
#include "host/reference_host.h"
#include "../processor_names.h"
#include "host/startup_switches.h"
#include "../stream_floor.h"

namespace {

// The start-up values "MMX" and "SSE" a user can set: both off, "MMX", "MMX" and "SSE".
const veilshift::StartupValues kSettings[] = {refhost::SwitchValues(false, false), refhost::SwitchValues(true, false),
                                              refhost::SwitchValues(true, true)};

// The form the module runs for this effect, rectangle width and setting, by
// the module's own start-up rule.
std::string FormName(int32_t effect, int32_t width, const veilshift::StartupValues& setting,
                     const veilshift::ProcessorFeatures& features) {
    return veilshift::EffectFormName(effect, width, veilshift::DecideFormSettings(setting, features));
}

struct Size {
    int32_t width, height;
};
const Size kSizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};

std::string SizeName(Size s) { return std::to_string(s.width).append("x").append(std::to_string(s.height)); }

struct Options {
    bool json = false;
    int repetitions = 9;
    double minTime = 0.1;  // seconds per repetition
    std::regex filter{".*"};
};

struct Result {
    std::string name;
    Size size;
    double secondsPerFrame;  // median of the repetitions
    int64_t iterations;      // of one repetition
};

// What a group of benchmarks draws: made anew for every round (a freshly
// loaded module, or fresh buffers for the floors), then one frame of the
// benchmark `param` names per call.
class Runner {
public:
    virtual ~Runner() = default;
    virtual bool Ready() const { return true; }
    virtual void Frame(int32_t param) = 0;
};

struct Bench {
    std::string name;
    int32_t param;  // a frame of 100 (-1: every frame of 255 in turn), or a floor
};
// Benchmarks that share a session (one effect, size and setting) or buffers
// (the floors of one size). Sessions are made sparingly, one per group and
// round: with one per benchmark and repetition, this program aborted under
// Wine after some 550 of them (each reference host loads the engine's test
// components anew, and something of every load stays behind).
struct Group {
    Size size;
    std::vector<Bench> benches;
    std::function<std::unique_ptr<Runner>()> make;
};

// A host with destination 1, sources 2 and 3 of one size, and the effect begun.
struct Stage {
    Stage(Size size, int32_t effect) {
        host.AddSurface(1, size.width, size.height).FillRandom(1);
        host.AddSurface(2, size.width, size.height).FillRandom(2);
        host.AddSurface(3, size.width, size.height).FillRandom(3);
        begun = host.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, size.width, size.height, effect);
    }
    ~Stage() {
        if (begun) host.End();
    }
    refhost::Host host;
    bool begun = false;
};

// One effect's session: a fixed frame of 100 (progress >= 0), or every frame
// of 255 in turn.
class EffectRunner final : public Runner {
public:
    EffectRunner(Size size, int32_t effect, const veilshift::StartupValues& setting) {
        // The module reads the values at its first Begin, when it connects;
        // the test suite sets the same key around its own Begins.
        const refhost::StartupSwitches switches(setting);
        stage_ = std::make_unique<Stage>(size, effect);
    }
    bool Ready() const override { return stage_->begun; }
    void Frame(int32_t progress) override {
        refhost::Host& host = stage_->host;
        if (progress >= 0) {
            host.Draw(progress, 100);
        } else {
            host.Draw(frame_, 255);
            frame_ = frame_ + 1 == 255 ? 0 : frame_ + 1;
        }
        host.ClearCalls();
    }

private:
    std::unique_ptr<Stage> stage_;
    int32_t frame_ = 0;
};

// A fixed frame of 100, named as in the native suite.
struct FixedFrame {
    int32_t progress;
    std::string label;
};
struct Effect {
    int32_t number;
    std::vector<FixedFrame> frames;  // empty: every frame of 255 in turn
    const char* label;               // of the cycling frames (none: no label)
};

// Every tenth frame of 100: the whole transition; with `firstMoving` also
// frame 1, the shatter's first frame drawn through the renderer (its frame 0
// is a copy of source A).
std::vector<FixedFrame> WholeTransition(bool firstMoving = false) {
    std::vector<FixedFrame> frames;
    for (int32_t progress = 0; progress < 100; progress += 10) {
        frames.push_back({progress, "progress" + std::to_string(progress)});
        if (progress == 0 && firstMoving) frames.push_back({1, "progress1"});
    }
    return frames;
}

// Effect 6's blocks are 1, 19 and 97 pixels at frames 1, 10 and 50 (frame 0
// would be a copy of source A); effect 31 peaks at frame 50.
const Effect kEffects[] = {
    {1, {}, nullptr},
    {6, {{1, "block1"}, {10, "block19"}, {50, "block97"}}, nullptr},
    {31, WholeTransition(), nullptr},
    {34, WholeTransition(true), nullptr},
    {40, {}, "draw"},
    {41, {}, "draw"},
};

void AddEffects(const veilshift::ProcessorFeatures& features, std::vector<Group>& groups) {
    for (const Effect& effect : kEffects)
        for (const Size size : kSizes) {
            std::set<std::string> measured;
            for (const veilshift::StartupValues& setting : kSettings) {
                const std::string form = FormName(effect.number, size.width, setting, features);
                if (!measured.insert(form).second) continue;  // this form is already measured
                std::vector<FixedFrame> frames = effect.frames;
                if (frames.empty()) frames.push_back({-1, effect.label != nullptr ? effect.label : ""});
                const int32_t number = effect.number;
                Group group{size, {}, [=] { return std::unique_ptr<Runner>(new EffectRunner(size, number, setting)); }};
                for (const FixedFrame& fixed : frames) {
                    std::string name = "Effect";
                    name.append(std::to_string(effect.number)).append("/").append(form).append("/");
                    name.append(SizeName(size));
                    if (!fixed.label.empty()) name.append("/").append(fixed.label);
                    group.benches.push_back({name, fixed.progress});
                }
                groups.push_back(std::move(group));
            }
        }
}

// The floors, with the same meaning as in the native suite: plain code, and the
// streaming pass (stream_floor.h) in AVX2 where the processor has it, else SSE2.
enum FloorKind : int32_t { kStream, kStreamNt, kMemcpy, kMemset, kCopyDepthClear };

// Sources A and B and a destination of one size, 64-byte aligned as in the
// native suite, and a float depth buffer of width x height.
class FloorRunner final : public Runner {
public:
    FloorRunner(Size size, benchfloor::StreamFn stream)
        : stream_(stream), bytes_(static_cast<size_t>(size.width) * 3 * static_cast<size_t>(size.height)),
          storage_(bytes_ * 3 + 64),
          depth_(static_cast<size_t>(size.width) * static_cast<size_t>(size.height), 1.0f) {
        uint8_t* base = storage_.data() + ((64 - reinterpret_cast<uintptr_t>(storage_.data()) % 64) % 64);
        a_ = base, b_ = base + bytes_, dst_ = base + 2 * bytes_;
        for (size_t i = 0; i < 2 * bytes_; ++i) base[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    }
    void Frame(int32_t kind) override {
        switch (kind) {
            case kStream: return stream_(dst_, a_, b_, bytes_, false);
            case kStreamNt: return stream_(dst_, a_, b_, bytes_, true);
            case kMemcpy: std::memcpy(dst_, a_, bytes_); return;
            case kMemset: std::memset(dst_, value_++ & 0xFF, bytes_); return;
            case kCopyDepthClear:
                std::memcpy(dst_, b_, bytes_);
                std::fill(depth_.begin(), depth_.end(), 0.0f);
                return;
        }
    }

private:
    benchfloor::StreamFn stream_;
    size_t bytes_;
    std::vector<uint8_t> storage_;
    std::vector<float> depth_;
    uint8_t *a_ = nullptr, *b_ = nullptr, *dst_ = nullptr;
    int value_ = 0;
};

void AddFloors(const veilshift::ProcessorFeatures& features, std::vector<Group>& groups) {
    const benchfloor::StreamFn stream = features.avx2 ? benchfloor::Stream_Avx2 : benchfloor::Stream_Sse2;
    const std::pair<const char*, FloorKind> kinds[] = {
        {"stream", kStream}, {"stream_nt", kStreamNt}, {"memcpy", kMemcpy},
        {"memset", kMemset}, {"copy_depth_clear", kCopyDepthClear},
    };
    for (const Size size : kSizes) {
        Group group{size, {}, [=] { return std::unique_ptr<Runner>(new FloorRunner(size, stream)); }};
        for (const auto& [kind, floor] : kinds) {
            std::string name = "Floor/";
            name.append(kind).append("/").append(SizeName(size));
            group.benches.push_back({name, floor});
        }
        groups.push_back(std::move(group));
    }
}

// The repetitions run in rounds, one repetition of every benchmark a round,
// the groups in a new shuffled order each round after the first: on a shared
// machine each median then spans the same stretch of time as every other,
// floors included, as with the native suite's random interleaving. The first
// round finds the frame count that makes a repetition last at least minTime;
// every repetition times that many frames, after two to warm the caches and
// the page tables. The median over the repetitions of the mean frame time is
// the result.
std::vector<Result> Measure(const Options& options, const std::vector<Group>& groups) {
    using Clock = std::chrono::steady_clock;
    struct Record {
        int64_t iterations = 0;
        std::vector<double> times;
    };
    std::vector<std::vector<Record>> records(groups.size());
    std::vector<bool> failed(groups.size(), false);
    std::vector<size_t> order(groups.size());
    for (size_t g = 0; g < groups.size(); ++g) {
        records[g].resize(groups[g].benches.size());
        order[g] = g;
    }
    std::mt19937 shuffle(20261207);
    for (int round = 0; round < options.repetitions; ++round) {
        if (round > 0) std::shuffle(order.begin(), order.end(), shuffle);
        for (const size_t g : order) {
            if (failed[g]) continue;
            const std::unique_ptr<Runner> runner = groups[g].make();
            if (!runner->Ready()) {
                std::fprintf(stderr, "%s: Begin failed\n", groups[g].benches.front().name.c_str());
                failed[g] = true;
                continue;
            }
            for (size_t b = 0; b < groups[g].benches.size(); ++b) {
                const int32_t param = groups[g].benches[b].param;
                auto timeFrames = [&](int64_t count) {
                    const Clock::time_point start = Clock::now();
                    for (int64_t k = 0; k < count; ++k) runner->Frame(param);
                    return std::chrono::duration<double>(Clock::now() - start).count();
                };
                timeFrames(2);
                int64_t& count = records[g][b].iterations;
                if (count == 0) {
                    count = 1;
                    for (double seconds = timeFrames(1); seconds < options.minTime && count < (int64_t{1} << 30);
                         seconds = timeFrames(count)) {
                        const double factor = seconds > 0 ? 1.2 * options.minTime / seconds : 10.0;
                        const auto grown = static_cast<int64_t>(static_cast<double>(count) * std::min(factor, 10.0));
                        count = std::max(count + 1, grown);
                    }
                }
                records[g][b].times.push_back(timeFrames(count) / static_cast<double>(count));
            }
        }
    }
    std::vector<Result> results;
    for (size_t g = 0; g < groups.size(); ++g)
        for (size_t b = 0; b < groups[g].benches.size(); ++b) {
            std::vector<double>& t = records[g][b].times;
            if (failed[g] || t.empty()) continue;
            std::sort(t.begin(), t.end());
            const size_t m = t.size();
            const double median = m % 2 == 1 ? t[m / 2] : (t[m / 2 - 1] + t[m / 2]) / 2;
            results.push_back({groups[g].benches[b].name, groups[g].size, median, records[g][b].iterations});
        }
    return results;
}

std::string JsonString(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        if (static_cast<unsigned char>(*p) >= 0x20) out += *p;
    }
    return out;
}

double NsPerPixel(const Result& r) { return r.secondsPerFrame * 1e9 / (double(r.size.width) * r.size.height); }

// "mmx, sse, sse2, avx2", those the processor has.
std::string FeatureList(const veilshift::ProcessorFeatures& features) {
    std::string list;
    for (const auto& [present, name] : {std::pair{features.mmx, "mmx"}, std::pair{features.sse, "sse"},
                                        std::pair{features.sse2, "sse2"}, std::pair{features.avx2, "avx2"}})
        if (present) list.append(list.empty() ? "" : ", ").append(name);
    return list;
}

void PrintJson(const std::vector<Result>& results, const char* executable, const veilshift::ProcessorReport& processor) {
    const veilshift::ProcessorFeatures& features = processor.features;
    const std::string identity = benchnames::ProcessorName(processor.identity);
    const std::string caches = benchnames::CacheNames(processor.caches);
    char date[64];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", std::gmtime(&now));
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    std::printf("{\n  \"context\": {\n    \"date\": \"%sZ\",\n    \"executable\": \"%s\",\n    \"num_cpus\": %lu,\n"
                "    \"library_build_type\": \"release\",\n    \"build\": \"win32 (i686) under Wine\",\n"
                "    \"processor_features\": \"%s\",\n    \"processor\": \"%s\",\n"
                "    \"processor_caches\": \"%s\",\n    \"processor_gathers\": \"%s\"",
                date, JsonString(executable).c_str(), static_cast<unsigned long>(info.dwNumberOfProcessors),
                FeatureList(features).c_str(), identity.c_str(), caches.c_str(), features.fastGather ? "fast" : "slow");
    // Each effect's name from the module's catalog.
    for (const veilshift::EffectCatalogEntry& entry : veilshift::kEffectCatalog)
        std::printf(",\n    \"effect_name:Effect%d\": \"%s\"", static_cast<int>(entry.number),
                    JsonString(entry.name).c_str());
    std::printf("\n  },\n  \"benchmarks\": [\n");
    for (size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        // ns_per_pixel holds seconds per pixel, as Google Benchmark's inverted rate counter does.
        std::printf("    {\"name\": \"%s_median\", \"run_name\": \"%s\", \"run_type\": \"aggregate\", "
                    "\"aggregate_name\": \"median\", \"iterations\": %lld, \"real_time\": %.6f, \"time_unit\": "
                    "\"ns\", \"ns_per_pixel\": %.6e}%s\n",
                    r.name.c_str(), r.name.c_str(), static_cast<long long>(r.iterations), r.secondsPerFrame * 1e9,
                    NsPerPixel(r) * 1e-9, i + 1 < results.size() ? "," : "");
    }
    std::printf("  ]\n}\n");
}

void PrintTable(const std::vector<Result>& results, const veilshift::ProcessorReport& processor) {
    std::printf("processor: %s; %s; gathers %s\n", benchnames::ProcessorName(processor.identity).c_str(),
                benchnames::CacheNames(processor.caches).c_str(), processor.features.fastGather ? "fast" : "slow");
    std::printf("%-44s %12s %14s\n", "Benchmark", "ms/frame", "ns_per_pixel");
    for (const Result& r : results)
        std::printf("%-44s %12.3f %14.3f\n", r.name.c_str(), r.secondsPerFrame * 1e3, NsPerPixel(r));
}

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* prefix) -> const char* {
            const size_t n = std::strlen(prefix);
            return arg.compare(0, n, prefix) == 0 ? argv[i] + n : nullptr;
        };
        if (const char* v = value("--format=")) {
            options.json = std::strcmp(v, "json") == 0;
            if (!options.json && std::strcmp(v, "console") != 0) return false;
        } else if (const char* v = value("--repetitions=")) {
            options.repetitions = std::atoi(v);
            if (options.repetitions < 1) return false;
        } else if (const char* v = value("--min-time=")) {
            options.minTime = std::atof(v);
            if (!(options.minTime > 0)) return false;
        } else if (const char* v = value("--filter=")) {
            options.filter = std::regex(v);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (!Parse(argc, argv, options)) {
            std::fprintf(stderr,
                         "usage: %s [--format=json|console] [--repetitions=N] [--min-time=S] [--filter=REGEX]\n",
                         argv[0]);
            return 2;
        }
        const veilshift::ProcessorReport processor = veilshift::DetectProcessorReport();
        const veilshift::ProcessorFeatures& features = processor.features;
        std::vector<Group> all, groups;
        AddEffects(features, all);
        AddFloors(features, all);
        for (Group& group : all) {
            std::vector<Bench> chosen;
            for (const Bench& bench : group.benches)
                if (std::regex_search(bench.name, options.filter)) chosen.push_back(bench);
            group.benches = std::move(chosen);
            if (!group.benches.empty()) groups.push_back(std::move(group));
        }
        const std::vector<Result> results = Measure(options, groups);
        if (options.json)
            PrintJson(results, argv[0], processor);
        else
            PrintTable(results, processor);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
