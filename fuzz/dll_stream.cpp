// The shipped DLL on its own binary interface: a stream of generated scenarios
// (scenario_generator.h) through the reference host's components, with every
// call into the module made as a host built by an older compiler makes it,
// the stack pointer 4 mod 16 at entry (refhost::CallWithStackAt4Mod16): the
// exports, and every operation of the plug-in object's table. Each scenario
// loads the DLL afresh and frees it at its end; the checks after every call
// are the scenarios' own (guards, pixels outside the rectangle, work surfaces
// given back). 32-bit Windows only, run under Wine.
//
// Usage: veilshift-dll-stream [--seed S] [--count N] [--save FOLDER]
// Prints what the scenarios did and exits 0 when every check held; a failing
// scenario is written to FOLDER (default: the current folder) as
// dll-stream-SEED-INDEX, which veilshift-replay and the fuzzer read, and the
// run stops there. A fault in the module writes the scenario the same way.
#include <windows.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/scenario.h"
#include "fuzz/scenario_generator.h"
#include "host/misaligned_call.h"

namespace {

using veilshift::Guid;
using veilshift::PluginInterface;

uint32_t Word(int32_t value) { return static_cast<uint32_t>(value); }
uint32_t Word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

// Calls `fn` through the thunk, ECX = `self`, with 32-bit arguments.
template <typename... Args>
uint32_t Misaligned(const void* fn, const void* self, Args... args) {
    const uint32_t words[] = {Word(args)..., 0};
    return refhost::CallWithStackAt4Mod16(fn, const_cast<void*>(self), words, sizeof...(Args));
}

// The operation at `slot` of the object's table (host_interfaces.h fixes the order).
const void* Operation(const void* object, int slot) { return (*static_cast<void* const* const*>(object))[slot]; }
enum Slot { kGetVersion = 0, kGetFlags = 1, kSetInterface = 2, kIdle = 3, kNotify = 4 };

class MisalignedDll final : public robustness::ModuleUnderTest {
public:
    refhost::Host& PrepareHost(bool corvane, bool platewright, bool pixmill) override {
        return host_.Prepare(corvane, platewright, pixmill);
    }

    void Load() override {
        module_ = LoadLibraryA("Veilshift.dll");
        if (module_ == nullptr) {
            problem_ = "Veilshift.dll: error " + std::to_string(GetLastError());
            return;
        }
        create_ = Export("CreateInterface");
        begin_ = Export("Begin");
        draw_ = Export("Draw");
        end_ = Export("End");
        plugin_ = create_ == nullptr ? nullptr
                                     : reinterpret_cast<PluginInterface*>(static_cast<uintptr_t>(
                                           Misaligned(create_, nullptr, &veilshift::kPluginGuid)));
        if (plugin_ == nullptr) return;
        // The operations the engine calls outside a session.
        const int32_t version = static_cast<int32_t>(Misaligned(Operation(plugin_, kGetVersion), plugin_));
        const int32_t flags = static_cast<int32_t>(Misaligned(Operation(plugin_, kGetFlags), plugin_));
        if (version != 1 || flags != 0)
            problem_ = "GetVersion " + std::to_string(version) + ", GetFlags " + std::to_string(flags);
        Misaligned(Operation(plugin_, kIdle), plugin_);
        Misaligned(Operation(plugin_, kNotify), plugin_, 1, 2, 3, 4, 5, 6, 7, 8, 9);
    }

    PluginInterface* Plugin() override { return plugin_; }

    void SetInterface(const Guid* id, void* ptr) override {
        Misaligned(Operation(plugin_, kSetInterface), plugin_, id, ptr);
    }

    bool Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay, int32_t srcB, int32_t bx,
               int32_t by, int32_t width, int32_t height, int32_t effect) override {
        // bool comes back in AL alone.
        return (Misaligned(begin_, nullptr, dst, dx, dy, srcA, ax, ay, srcB, bx, by, width, height, effect) & 0xFF) !=
               0;
    }
    void Draw(int32_t progress, int32_t total) override { Misaligned(draw_, nullptr, progress, total); }
    void End() override { Misaligned(end_, nullptr); }

    void Unload() override {
        if (plugin_ != nullptr) Misaligned(Operation(plugin_, kIdle), plugin_);
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = nullptr;
        plugin_ = nullptr;
    }

    // What went wrong outside the scenario's own checks, once; empty if nothing.
    std::string TakeProblem() { return std::exchange(problem_, {}); }

private:
    const void* Export(const char* name) {
        const void* address = reinterpret_cast<const void*>(GetProcAddress(module_, name));
        if (address == nullptr) problem_ = std::string("no export ") + name;
        return address;
    }

    robustness::SharedHost host_;
    HMODULE module_ = nullptr;
    const void* create_ = nullptr;
    const void* begin_ = nullptr;
    const void* draw_ = nullptr;
    const void* end_ = nullptr;
    PluginInterface* plugin_ = nullptr;
    std::string problem_;
};

// The scenario running, for the fault report.
const std::vector<uint8_t>* running = nullptr;
std::string runningName;

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

LONG WINAPI ReportFault(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    std::fprintf(stderr, "veilshift-dll-stream: exception 0x%08lX at %p in %s\n", record.ExceptionCode,
                 record.ExceptionAddress, runningName.c_str());
    if (running != nullptr && Save(runningName, *running))
        std::fprintf(stderr, "veilshift-dll-stream: scenario written to %s\n", runningName.c_str());
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Which components a scenario has: all of them for the first three quarters of
// the stream, then each other set in turn for an equal share, so that the
// host (and its components) is loaded only eight times in a run.
uint8_t Absent(uint64_t index, uint64_t count) {
    const uint64_t allPresent = count - count / 4;
    if (index < allPresent) return 0;
    return static_cast<uint8_t>(1 + (index - allPresent) * 7 / (count - allPresent));
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t seed = 1, count = 1000;
    std::string folder = ".";
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--seed") == 0 && hasValue) {
            seed = std::strtoull(argv[++i], nullptr, 0);
        } else if (std::strcmp(argv[i], "--count") == 0 && hasValue) {
            count = std::strtoull(argv[++i], nullptr, 0);
        } else if (std::strcmp(argv[i], "--save") == 0 && hasValue) {
            folder = argv[++i];
        } else {
            std::fprintf(stderr, "usage: veilshift-dll-stream [--seed S] [--count N] [--save FOLDER]\n");
            return 2;
        }
    }
    SetUnhandledExceptionFilter(ReportFault);

    const auto start = std::chrono::steady_clock::now();
    robustness::ScenarioGenerator generator(seed);
    robustness::ScenarioStats stats;
    MisalignedDll module;
    for (uint64_t index = 0; index < count; ++index) {
        std::vector<uint8_t> bytes = generator.Next();
        bytes[0] = static_cast<uint8_t>((bytes[0] & ~7u) | Absent(index, count));
        runningName = folder + "/dll-stream-" + std::to_string(seed) + "-" + std::to_string(index);
        running = &bytes;
        std::string failure;
        try {
            failure = robustness::RunScenario(bytes.data(), bytes.size(), module, &stats);
        } catch (const std::exception& e) {
            failure = std::string("host: ") + e.what();
        }
        if (const std::string problem = module.TakeProblem(); !problem.empty())
            failure = failure.empty() ? problem : failure + " (" + problem + ")";
        running = nullptr;
        if (!failure.empty()) {
            const bool saved = Save(runningName, bytes);
            std::printf("FAILED scenario %" PRIu64 " of seed %" PRIu64 ": %s\n%s %s\n", index, seed, failure.c_str(),
                        saved ? "written to" : "could not write", runningName.c_str());
            return 1;
        }
    }
    // The thunk's own record of the last call: the callee entered at 4 mod 16.
    if ((refhost::LastMisalignedCallStack - 4) % 16 != 4) {
        std::printf("FAILED: the last call into the module entered at %u mod 16\n",
                    static_cast<unsigned>((refhost::LastMisalignedCallStack - 4) % 16));
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%" PRIu64 " scenarios of seed %" PRIu64 " in %.1f s, every call with the stack at 4 mod 16: %lld Begin "
                "calls (%lld transitions started), %lld frames drawn, every check after every call held\n",
                count, seed, seconds, static_cast<long long>(stats.begins), static_cast<long long>(stats.started),
                static_cast<long long>(stats.frames));
    return 0;
}
