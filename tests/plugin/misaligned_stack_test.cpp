// A host built by an older compiler calls with the stack aligned to 4 bytes
// only. Every export and every operation of the plug-in object, called with
// the stack pointer 4 mod 16 at entry, must draw exactly what it draws when
// called with an aligned stack: the shipped DLL, and the test process's own
// copy of the module in each processor form. 32-bit Windows only.
#include <gtest/gtest.h>

#if defined(_WIN32) && defined(__i386__)

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Veilshift/effect_plugin.h"
#include "Veilshift/host_interfaces.h"
#include "host/in_process_module.h"
#include "host/reference_host.h"
#include "host/misaligned_call.h"
#include "processor_forms.h"

// The stack pointer at its own entry: the address of its return address.
extern "C" uint32_t VsStackAtEntry();
__asm__(
    ".text\n"
    ".globl _VsStackAtEntry\n"
    "_VsStackAtEntry:\n"
    "  movl %esp, %eax\n"
    "  ret\n");

namespace {

using veilshift::BeginFn;
using veilshift::CreateInterfaceFn;
using veilshift::DrawFn;
using veilshift::EndFn;
using veilshift::Guid;
using veilshift::PluginInterface;
using veilshift::test::AvailableFormsAndGathers;
using veilshift::test::ProcessorForm;

uint32_t Word(int32_t value) { return static_cast<uint32_t>(value); }
uint32_t Word(uint32_t value) { return value; }
uint32_t Word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

// Calls `fn` through the thunk, ECX = `self`, with 32-bit arguments.
template <typename... Args>
uint32_t Misaligned(const void* fn, const void* self, Args... args) {
    const uint32_t words[] = {Word(args)..., 0};
    return refhost::CallWithStackAt4Mod16(fn, const_cast<void*>(self), words, sizeof...(Args));
}

template <typename Fn>
const void* Code(Fn fn) {
    return reinterpret_cast<const void*>(fn);
}

// The function at `slot` of the object's table of operations.
const void* Operation(const void* object, int slot) { return (*static_cast<void* const* const*>(object))[slot]; }

// Where an entry through the thunk sits relative to a 16-byte boundary.
uint32_t EntryOffset(uint32_t entryStack) { return entryStack % 16; }

// ---------------------------------------------------------------------------
// The thunk itself.

uint32_t seenWords[16];
uint32_t seenCount;
const void* seenThis;
uint32_t seenEntry;

// cdecl with a variable count: the caller removes the arguments.
extern "C" uint32_t TakeWords(uint32_t count, ...) {
    seenEntry = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_frame_address(0))) + 4;
    va_list list;
    va_start(list, count);
    seenCount = count;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < count && i < 16; ++i) sum += (seenWords[i] = va_arg(list, uint32_t)) * (i + 1);
    va_end(list);
    return sum;
}

// thiscall: `this` in ECX, the callee removes the arguments.
class Probe {
public:
    virtual uint32_t VS_THISCALL Take(uint32_t a, uint32_t b, uint32_t c) {
        seenEntry = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_frame_address(0))) + 4;
        seenThis = this;
        return a * 10000 + b * 100 + c;
    }
    virtual ~Probe() = default;
};

TEST(MisalignedCall, EntersAt4Mod16WhateverTheArgumentCount) {
    const uint32_t words[13] = {};
    for (uint32_t count = 0; count <= 13; ++count) {
        const uint32_t entry = refhost::CallWithStackAt4Mod16(Code(VsStackAtEntry), nullptr, words, count);
        EXPECT_EQ(EntryOffset(entry), 4u) << count << " arguments";
        EXPECT_EQ(entry, refhost::LastMisalignedCallStack - 4) << count << " arguments";
    }
}

TEST(MisalignedCall, PassesArgumentsAndThisAndRestoresTheStackForBothConventions) {
    // Were the stack not put back after a callee that pops, the thunk's own
    // return (and this function's) would go astray.
    for (int round = 0; round < 100; ++round) {
        seenEntry = 0;
        EXPECT_EQ(Misaligned(Code(TakeWords), nullptr, 3u, 7u, 0xFFFFFFFFu, 5u), 7u + 2u * 0xFFFFFFFFu + 15u);
        EXPECT_EQ(seenCount, 3u);
        EXPECT_EQ(seenWords[0], 7u);
        EXPECT_EQ(seenWords[1], 0xFFFFFFFFu);
        EXPECT_EQ(seenWords[2], 5u);
        EXPECT_EQ(EntryOffset(seenEntry), 4u);

        Probe probe;
        seenEntry = 0;
        EXPECT_EQ(Misaligned(Operation(&probe, 0), &probe, 1u, 2u, 3u), 10203u);
        EXPECT_EQ(seenThis, &probe);
        EXPECT_EQ(EntryOffset(seenEntry), 4u);
    }
}

// ---------------------------------------------------------------------------
// Whole transitions, called aligned and misaligned.

// A fault in code run through the thunk ends the process; this names the test
// and the instruction before it goes.
LONG WINAPI ReportFault(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    char module[MAX_PATH] = "?";
    HMODULE owner = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(record.ExceptionAddress), &owner))
        GetModuleFileNameA(owner, module, sizeof module);
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "exception 0x%08lX at %p in %s during %s.%s\n", record.ExceptionCode,
                 record.ExceptionAddress, module, test ? test->test_suite_name() : "?", test ? test->name() : "?");
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

class FaultReport {
public:
    FaultReport() : previous_(SetUnhandledExceptionFilter(ReportFault)) {}
    ~FaultReport() { SetUnhandledExceptionFilter(previous_); }

private:
    LPTOP_LEVEL_EXCEPTION_FILTER previous_;
};

// The effects the module implements.
constexpr int32_t kEveryEffect[] = {1, 6, 31, 34, 40, 41};
constexpr int32_t kDst = 1, kSrcA = 2, kSrcB = 3;
constexpr int32_t kTotal = 9;
// From the first frame to past the last: an even and an odd half, the last
// drawn frame, the entered picture and a progress beyond the total.
constexpr int32_t kProgress[] = {0, 2, 4, 5, 8, 9, 12};

struct Size {
    int32_t width, height;
};

// The rectangle inside three surfaces a little larger, at different corners of each.
struct Stage {
    int32_t dx = 3, dy = 2, ax = 1, ay = 4, bx = 5, by = 1;
    int32_t width, height;
};

// The module's entry points and the plug-in object's operations, called as an
// aligned host calls them or through the thunk.
class ModuleCalls {
public:
    ModuleCalls(bool misaligned, BeginFn begin, DrawFn draw, EndFn end)
        : misaligned_(misaligned), begin_(begin), draw_(draw), end_(end) {}

    PluginInterface* Create(CreateInterfaceFn create, const Guid* id) {
        if (!misaligned_) return create(id);
        return reinterpret_cast<PluginInterface*>(static_cast<uintptr_t>(Misaligned(Code(create), nullptr, id)));
    }
    void Attach(PluginInterface* plugin) { plugin_ = plugin; }

    // The plug-in's operations at the table positions the binary interface fixes.
    int32_t GetVersion() {
        return misaligned_ ? static_cast<int32_t>(Misaligned(Operation(plugin_, 0), plugin_)) : plugin_->GetVersion();
    }
    int32_t GetFlags() {
        return misaligned_ ? static_cast<int32_t>(Misaligned(Operation(plugin_, 1), plugin_)) : plugin_->GetFlags();
    }
    void SetInterface(const Guid* id, void* ptr) {
        if (misaligned_)
            Misaligned(Operation(plugin_, 2), plugin_, id, ptr);
        else
            plugin_->SetInterface(id, ptr);
    }
    void Idle() {
        if (misaligned_)
            Misaligned(Operation(plugin_, 3), plugin_);
        else
            plugin_->Idle();
    }
    void Notify() {
        if (misaligned_)
            Misaligned(Operation(plugin_, 4), plugin_, 1, 2, 3, 4, 5, 6, 7, 8, 9);
        else
            plugin_->Notify(1, 2, 3, 4, 5, 6, 7, 8, 9);
    }

    bool Begin(const Stage& s, int32_t effect) {
        if (!misaligned_)
            return begin_(kDst, s.dx, s.dy, kSrcA, s.ax, s.ay, kSrcB, s.bx, s.by, s.width, s.height, effect);
        // bool comes back in AL alone.
        return (Misaligned(Code(begin_), nullptr, kDst, s.dx, s.dy, kSrcA, s.ax, s.ay, kSrcB, s.bx, s.by, s.width,
                           s.height, effect) &
                0xFF) != 0;
    }
    void Draw(int32_t progress, int32_t total) {
        if (misaligned_)
            Misaligned(Code(draw_), nullptr, progress, total);
        else
            draw_(progress, total);
    }
    void End() {
        if (misaligned_)
            Misaligned(Code(end_), nullptr);
        else
            end_();
    }

private:
    bool misaligned_;
    BeginFn begin_;
    DrawFn draw_;
    EndFn end_;
    PluginInterface* plugin_ = nullptr;
};

// What a run shows the host: the destination after every Draw and the calls
// the host received (operation and integer arguments; addresses differ from
// run to run).
struct Recording {
    std::vector<std::string> frameNames;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<refhost::HostCall> calls;
};

::testing::AssertionResult SameRecording(const Recording& aligned, const Recording& misaligned) {
    if (aligned.frames.size() != misaligned.frames.size())
        return ::testing::AssertionFailure() << aligned.frames.size() << " frames aligned, "
                                             << misaligned.frames.size() << " misaligned";
    for (size_t i = 0; i < aligned.frames.size(); ++i)
        if (aligned.frames[i] != misaligned.frames[i])
            return ::testing::AssertionFailure() << aligned.frameNames[i] << " differs";
    const size_t count = std::min(aligned.calls.size(), misaligned.calls.size());
    for (size_t i = 0; i < count; ++i) {
        const refhost::HostCall& a = aligned.calls[i];
        const refhost::HostCall& m = misaligned.calls[i];
        if (a.op != m.op || a.argCount != m.argCount ||
            !std::equal(a.args, a.args + a.argCount, m.args))
            return ::testing::AssertionFailure() << "host call " << i << ": " << a << " aligned, " << m
                                                 << " misaligned";
    }
    if (aligned.calls.size() != misaligned.calls.size())
        return ::testing::AssertionFailure() << aligned.calls.size() << " host calls aligned, "
                                             << misaligned.calls.size() << " misaligned";
    return ::testing::AssertionSuccess();
}

// Destination packed, source A padded, source B bottom-up and padded, each
// with its own picture.
Stage SetStage(refhost::Host& host, Size size) {
    Stage s;
    s.width = size.width;
    s.height = size.height;
    host.AddSurface(kDst, s.dx + s.width + 2, s.dy + s.height + 1).FillRandom(1);
    host.AddSurface(kSrcA, s.ax + s.width + 3, s.ay + s.height + 2, (s.ax + s.width + 3) * 3 + 5).FillRandom(2);
    host.AddSurface(kSrcB, s.bx + s.width + 1, s.by + s.height + 3, -((s.bx + s.width + 1) * 3 + 10)).FillRandom(3);
    return s;
}

// Whole transitions of every effect at each size, recorded.
void RunEveryEffect(ModuleCalls& calls, refhost::Host& host, const std::vector<Size>& sizes, Recording& out) {
    for (Size size : sizes) {
        const Stage stage = SetStage(host, size);
        for (int32_t effect : kEveryEffect) {
            ASSERT_TRUE(calls.Begin(stage, effect)) << "effect " << effect;
            for (int32_t progress : kProgress) {
                calls.Draw(progress, kTotal);
                out.frames.push_back(host.Surface(kDst)->Snapshot());
                out.frameNames.push_back("effect " + std::to_string(effect) + " at " + std::to_string(size.width) +
                                         "x" + std::to_string(size.height) + ", frame " + std::to_string(progress) +
                                         "/" + std::to_string(kTotal));
            }
            calls.End();
        }
    }
    out.calls.insert(out.calls.end(), host.Calls().begin(), host.Calls().end());
    EXPECT_TRUE(host.SurfacesIntact());
    EXPECT_EQ(host.Violations(), 0);
}

// The shipped DLL, loaded here and called only through its exports and the
// object CreateInterface hands out; the host supplies the components and surfaces.
class MisalignedDll : public ::testing::Test {
protected:
    void Record(bool misaligned, Recording& out) {
        refhost::HostOptions options;
        options.loadModule = false;
        refhost::Host host(options);
        HMODULE module = LoadLibraryA("Veilshift.dll");
        ASSERT_NE(module, nullptr);
        auto exported = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
        auto create = reinterpret_cast<CreateInterfaceFn>(exported("CreateInterface"));
        ModuleCalls calls(misaligned, reinterpret_cast<BeginFn>(exported("Begin")),
                          reinterpret_cast<DrawFn>(exported("Draw")), reinterpret_cast<EndFn>(exported("End")));
        PluginInterface* plugin = calls.Create(create, &veilshift::kPluginGuid);
        if (plugin != nullptr) {
            calls.Attach(plugin);
            EXPECT_EQ(calls.GetVersion(), 1);
            EXPECT_EQ(calls.GetFlags(), 0);
            calls.SetInterface(&veilshift::kScreenUpdaterId, host.Updater());
            calls.SetInterface(&veilshift::kSurfaceTableId, host.Table());
            calls.Idle();
            calls.Notify();
            RunEveryEffect(calls, host, {{37, 23}, {131, 37}}, out);
            calls.Idle();
        }
        FreeLibrary(module);  // before the components go, as the engine does
        ASSERT_NE(plugin, nullptr);
    }
    FaultReport faults;
};

TEST_F(MisalignedDll, EveryExportAndOperationDrawsTheAlignedFrames) {
    Recording aligned, misaligned;
    ASSERT_NO_FATAL_FAILURE(Record(false, aligned));
    ASSERT_NO_FATAL_FAILURE(Record(true, misaligned));
    EXPECT_EQ(EntryOffset(refhost::LastMisalignedCallStack - 4), 4u);
    EXPECT_TRUE(SameRecording(aligned, misaligned));
}

// The test process's own plug-in, behind stand-ins for the exports. Compiled
// for the baseline, they keep the stack as they find it and hand its
// misalignment on to the module's code.
veilshift::EffectPlugin* inProcessPlugin = nullptr;

extern "C" bool VS_CDECL InProcessBegin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay,
                                        int32_t srcB, int32_t bx, int32_t by, int32_t width, int32_t height,
                                        int32_t effect) {
    return inProcessPlugin->Begin(dst, dx, dy, srcA, ax, ay, srcB, bx, by, width, height, effect);
}
extern "C" void VS_CDECL InProcessDraw(int32_t progress, int32_t total) { inProcessPlugin->Draw(progress, total); }
extern "C" void VS_CDECL InProcessEnd() { inProcessPlugin->End(); }

class MisalignedForms : public ::testing::TestWithParam<ProcessorForm> {
protected:
    // Connects (the first Begin settles the flags), then selects the form.
    void Record(bool misaligned, Recording& out) {
        refhost::HostOptions options;
        options.loadModule = false;
        options.giveScreenUpdater = false;
        options.giveSurfaceTable = false;
        refhost::Host host(options);
        refhost::InProcessModule module;
        inProcessPlugin = &module.Plugin();
        ModuleCalls calls(misaligned, InProcessBegin, InProcessDraw, InProcessEnd);
        calls.Attach(&module.Plugin());
        calls.SetInterface(&veilshift::kScreenUpdaterId, host.Updater());
        calls.SetInterface(&veilshift::kSurfaceTableId, host.Table());
        const Stage connecting = SetStage(host, {4, 4});
        ASSERT_TRUE(calls.Begin(connecting, 1));
        calls.End();
        host.ClearCalls();

        const refhost::ModuleForms form(GetParam().Allowed(), GetParam().gathers);
        RunEveryEffect(calls, host, {{1, 1}, {37, 23}, {131, 37}}, out);
        module.Unload();
        inProcessPlugin = nullptr;
        EXPECT_EQ(module.Outstanding(), 0);
    }
    const refhost::ModuleForms saved{refhost::kEveryFeature};  // the switches as the other tests expect them
    FaultReport faults;
};

TEST_P(MisalignedForms, WholeTransitionsDrawTheAlignedFrames) {
    Recording aligned, misaligned;
    ASSERT_NO_FATAL_FAILURE(Record(false, aligned));
    ASSERT_NO_FATAL_FAILURE(Record(true, misaligned));
    EXPECT_TRUE(SameRecording(aligned, misaligned));
}

INSTANTIATE_TEST_SUITE_P(Forms, MisalignedForms, ::testing::ValuesIn(AvailableFormsAndGathers()),
                         [](const ::testing::TestParamInfo<ProcessorForm>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

#endif
