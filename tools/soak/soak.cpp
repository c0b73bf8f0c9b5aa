// veilshift-soak: random transitions through the reference host and the shipped
// module, frame after frame, with the process's memory measured once every
// effect has run (the start) and after the last transition (the end).
//
//   veilshift-soak [--frames N] [--seed S] [--size WxH] [--report N] [--effect E] [--form F]
//
// --form sets the module's start-up values for the run: auto (neither, the
// default), scalar, mmx or sse, as the preview tool's --form does.
// Effects, rectangles (inside, across and outside the surfaces' edges), frame
// counts and the odd Begin without End are drawn from the seed. Exit status 0
// when the heap did not grow, no work surface was kept, no guard byte changed
// and the host saw no contract violation.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

#include "Veilshift/effect_catalog.h"
#include "host/reference_host.h"
#include "host/stage.h"
#include "host/startup_switches.h"

namespace {

struct Options {
    int64_t frames = 1000000;
    uint32_t seed = 1;
    int32_t width = 320, height = 240;
    int64_t report = 100000;
    int32_t effect = 0;  // 0: all six at random
    veilshift::StartupValues form;  // auto
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr) return false;
        if (arg == "--frames") o.frames = std::strtoll(value, nullptr, 10);
        else if (arg == "--seed") o.seed = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
        else if (arg == "--report") o.report = std::strtoll(value, nullptr, 10);
        else if (arg == "--effect") o.effect = static_cast<int32_t>(std::strtol(value, nullptr, 10));
        else if (arg == "--form") {
            const std::optional<veilshift::StartupValues> form = refhost::NamedStartupValues(value);
            if (!form) return false;
            o.form = *form;
        }
        else if (arg == "--size") {
            if (std::sscanf(value, "%dx%d", &o.width, &o.height) != 2) return false;
        } else {
            return false;
        }
        ++i;
    }
    return o.frames > 0 && o.width >= 1 && o.height >= 1 && o.width <= 4096 && o.height <= 4096 && o.report > 0;
}

struct Memory {
    long residentKb;    // the process's resident set
    size_t heapInUse;   // bytes handed out by the C allocator (the module's storage included)
};

Memory Measure() {
    Memory m{};
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    m.residentKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
    m.heapInUse = mallinfo2().uordblks;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    // The allocator's per-thread cache keeps freed small blocks, which its
    // statistics count as in use: the run goes without it, so that the heap
    // figures are the blocks really held.
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables == nullptr || std::strstr(tunables, "glibc.malloc.tcache_count=0") == nullptr) {
        setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0", 1);
        execv("/proc/self/exe", argv);  // returns only if that failed: measure as we are
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: veilshift-soak [--frames N] [--seed S] [--size WxH] [--report N] [--effect E] "
                             "[--form auto|scalar|mmx|sse]\n");
        return 2;
    }
    // The module reads them when it connects, at the first Begin.
    const refhost::StartupSwitches switches(options.form);
    const int32_t w = options.width, h = options.height;
    refhost::HostOptions hostOptions;
    hostOptions.logCalls = false;
    refhost::Host host(hostOptions);
    // Source A's rows padded, source B's bottom-up and padded.
    refhost::SetStage(host, {w, h, nullptr, 1}, {w, h, nullptr, 2, w * 3 + 12}, {w, h, nullptr, 3, -(w * 3 + 4)});
    refhost::ComponentControl& platewright = *host.Control(refhost::Component::Platewright);
    refhost::ComponentControl& corvane = *host.Control(refhost::Component::Corvane);

    std::mt19937 random(options.seed);
    auto uniform = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(random); };
    const auto& effects = veilshift::kEffectCatalog;
    const int32_t effectCount = static_cast<int32_t>(std::size(effects));

    int64_t frames = 0, transitions = 0, refused = 0;
    Memory start{};
    bool measured = false;
    bool reportDue = false;
    const auto began = std::chrono::steady_clock::now();
    std::printf("soak: %" PRId64 " frames of random transitions on %dx%d surfaces, seed %u\n", options.frames, w, h,
                options.seed);
    while (frames < options.frames) {
        // Every effect once, in order, before the start is measured: the
        // connection, the blend table and each effect's first storage are in.
        int32_t effect = effects[transitions < effectCount ? transitions : uniform(0, effectCount - 1)].number;
        if (options.effect != 0) effect = options.effect;
        // Mostly inside the surfaces, sometimes across an edge, rarely outside.
        const int32_t rw = uniform(1, w + w / 4), rh = uniform(1, h + h / 4);
        const int32_t dx = uniform(-w / 8, w - 1), dy = uniform(-h / 8, h - 1);
        const int32_t ax = uniform(-w / 8, w - 1), ay = uniform(-h / 8, h - 1);
        const int32_t bx = uniform(-w / 8, w - 1), by = uniform(-h / 8, h - 1);
        corvane.time = static_cast<uint32_t>(random());
        ++transitions;
        if (!refhost::BeginOnStage(host, {dx, dy, ax, ay, bx, by, rw, rh}, effect)) {
            ++refused;  // nothing of the rectangle inside all three surfaces
            continue;
        }
        const int32_t total = uniform(1, 60);
        // Now and then the transition is cut short and the next Begin releases it.
        const int32_t last = uniform(0, 19) == 0 ? uniform(0, total) : total;
        for (int32_t progress = 0; progress <= last && frames < options.frames; ++progress) {
            host.Draw(progress, total);
            ++frames;
            reportDue = reportDue || frames % options.report == 0;
        }
        if (last < total) continue;
        // Measured only between transitions, when the module holds no
        // transition's storage.
        host.End();
        if (!measured && transitions >= 6) {
            start = Measure();
            measured = true;
        }
        if (reportDue) {
            const Memory now = Measure();
            std::printf("  %" PRId64 " frames, %" PRId64 " transitions: resident %ld KB, heap in use %zu bytes\n",
                        frames, transitions, now.residentKb, now.heapInUse);
            reportDue = false;
        }
    }
    host.End();
    const Memory end = Measure();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    const int32_t kept = platewright.surfacesCreated - platewright.surfacesReleased;
    const bool intact = host.SurfacesIntact();
    const long long heapGrowth = static_cast<long long>(end.heapInUse) - static_cast<long long>(start.heapInUse);
    std::printf("frames: %" PRId64 " in %.1f s (%.0f per second), transitions: %" PRId64 " (%" PRId64
                " refused: nothing inside)\n",
                frames, seconds, frames / seconds, transitions, refused);
    std::printf("resident: %ld KB at the start, %ld KB at the end (%+ld KB)\n", start.residentKb, end.residentKb,
                end.residentKb - start.residentKb);
    std::printf("heap in use: %zu bytes at the start, %zu bytes at the end (%+lld bytes)\n", start.heapInUse,
                end.heapInUse, heapGrowth);
    std::printf("work surfaces: %d created, %d released; guard bytes %s; host contract violations: %d\n",
                platewright.surfacesCreated, platewright.surfacesReleased, intact ? "intact" : "CHANGED",
                host.Violations());
    const bool ok = heapGrowth <= 0 && kept == 0 && intact && host.Violations() == 0;
    std::printf("%s\n", ok ? "soak: no growth" : "soak: FAILED");
    return ok ? 0 : 1;
}
