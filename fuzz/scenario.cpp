// The interpreter of scenarios: a session run call by call against the module,
// every check after every call. The bytes are read by scenario_format.*, the
// surfaces held to what they should be by scenario_checks.*.
#include "fuzz/scenario.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "Veilshift/effect_catalog.h"
#include "fuzz/scenario_checks.h"
#include "fuzz/scenario_format.h"
#include "host/startup_switches.h"

namespace robustness {
namespace {

using refhost::Component;
using refhost::ComponentControl;
using refhost::Host;
using refhost::HostCall;
using refhost::HostOp;
using refhost::TestSurface;

class Run {
public:
    Run(ModuleUnderTest& module, Reader& in, ScenarioStats& stats, Checks checks)
        : module_(module), in_(in), stats_(stats) {
        trace_ = std::getenv("VEILSHIFT_SCENARIO_TRACE") != nullptr;
        everyByte_ = checks == Checks::kEveryByte || trace_;
    }

    std::string Go() {
        const uint8_t setup = in_.Byte();
        const uint8_t faults = in_.Byte();
        const uint32_t time = in_.U32();
        const uint8_t tuning = in_.Byte();
#if !defined(_WIN32)  // the registry is the test suite's to set
        switches_.emplace(ProcessorFormValues(setup >> 6));
#endif
        host_ = &module_.PrepareHost(!(setup & 1), !(setup & 2), !(setup & 4));
        stage_.Attach(*host_);
        const std::string failure = Session(setup, faults, time, tuning);
        stage_.RemoveAll();
        return failure;
    }

private:
    std::string Session(uint8_t setup, uint8_t faults, uint32_t time, uint8_t tuning) {
        const int count = 1 + in_.Byte() % 3;
        int64_t pixels = 0;
        for (int32_t number = 1; number <= count; ++number) {
            const SurfaceShape s = DecodeSurface(in_, number, pixels);
            Trace("surface " + std::to_string(s.number) + ": " + std::to_string(s.width) + " x " +
                  std::to_string(s.height) + ", pitch " + std::to_string(s.pitch));
            stage_.Add(s);
        }
        ApplyFaults(faults, time);

        const Tuning tune = DecodeTuning(tuning);
        if (tuning != 0) Trace("tuning: vectors " + std::to_string(tune.vectors) + ", streaming " +
                               std::to_string(tune.streaming));
        module_.Tune(tune);
        module_.Load();
        loaded_ = true;
        plugin_ = module_.Plugin();
        if (plugin_ == nullptr) return "no plug-in object";
        std::string failure;
        const bool tableFirst = setup & 32;
        if (tableFirst && !(setup & 16)) failure = GiveTable();
        if (failure.empty() && !(setup & 8)) failure = GiveUpdater();
        if (failure.empty() && !tableFirst && !(setup & 16)) failure = GiveTable();

        for (int op = 0; failure.empty() && op < kMaxOperations && !Spent() && !in_.Empty(); ++op)
            failure = Step();
        const std::string unloaded = Unload();
        return failure.empty() ? unloaded : failure;
    }

    // The scenario has drawn all it may (kMaxFrames, kMaxDrawnPixels).
    bool Spent() const { return frames_ >= kMaxFrames || drawnPixels_ >= kMaxDrawnPixels; }

    // The start-up values the module reads when it connects: form 1 "MMX" 0,
    // form 3 "SSE" 1, else neither (MMX follows the processor, SSE stays off).
    static veilshift::StartupValues ProcessorFormValues(int form) {
        veilshift::StartupValues values;
        if (form == 1) values.mmx = {true, 0};
        if (form == 3) values.sse = {true, 1};
        return values;
    }

    // VEILSHIFT_SCENARIO_TRACE set: each call on standard output, to read a finding.
    void Trace(const std::string& line) const {
        if (!trace_) return;
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    void ApplyFaults(uint8_t bits, uint32_t time) {
        Trace("faults " + std::to_string(bits) + ", time " + std::to_string(time));
        const Component components[3] = {Component::Corvane, Component::Platewright, Component::Pixmill};
        for (int i = 0; i < 3; ++i) {
            ComponentControl* control = host_->Control(components[i]);
            if (control == nullptr) continue;
            control->factoryAnswersNull = bits & (1 << i);
            control->isReady = !(bits & 8);
            control->createSurfaceFails = bits & 16;
            control->timerLookupFails = bits & 32;
            control->time = time;
        }
    }

    int32_t WorkSurfacesHeld() const {
        const ComponentControl* control = host_->Control(Component::Platewright);
        return control == nullptr ? 0 : control->surfacesCreated - control->surfacesReleased;
    }

    // What holds after every call: guards, the components' contract checks, no
    // pixel changed except inside `allowed` on surface `drawn`, calls limited to
    // `onlyReleases` when set.
    std::string Check(const char* call, int32_t drawn, const Clip* allowed, bool onlyReleases,
                      bool everyByte = false) {
        everyByte = everyByte || everyByte_;
        std::ostringstream out;
        if (everyByte && !host_->SurfacesIntact())
            out << "guard bytes around a surface changed";
        else if (host_->Violations() != 0)
            out << host_->Violations() << " contract violation(s) seen by the host";
        else if (std::string pixels = stage_.Compare(everyByte, drawn, allowed); !pixels.empty())
            out << pixels;
        else if (WorkSurfacesHeld() < 0 || WorkSurfacesHeld() > 1)
            out << WorkSurfacesHeld() << " work surfaces held";
        else if (onlyReleases)
            for (const HostCall& c : host_->Calls())
                if (c.op != HostOp::Release) {
                    out << "unexpected host call " << c;
                    break;
                }
        host_->ClearCalls();
        if (out.str().empty()) return {};
        return std::string(call) + ": " + out.str();
    }

    // `withdraw`: the host hands over null in place of the interface.
    std::string GiveTable(bool withdraw = false) {
        Trace(withdraw ? "SetInterface(SurfaceTable, null)" : "SetInterface(SurfaceTable)");
        module_.SetInterface(&veilshift::kSurfaceTableId, withdraw ? nullptr : host_->Table());
        haveTable_ = !withdraw;
        return Check("SetInterface", kNoSurface, nullptr, true);
    }
    std::string GiveUpdater(bool withdraw = false) {
        Trace(withdraw ? "SetInterface(ScreenUpdater, null)" : "SetInterface(ScreenUpdater)");
        module_.SetInterface(&veilshift::kScreenUpdaterId, withdraw ? nullptr : host_->Updater());
        haveUpdater_ = !withdraw;
        return Check("SetInterface", kNoSurface, nullptr, true);
    }

    std::string Step() {
        const uint8_t op = in_.Byte() % 16;
        if (op < kOpDraw) return Begin();
        if (op < kOpFrames) {
            const int32_t total = DecodeTotal(in_);
            return Draw(DecodeProgress(in_, total), total);
        }
        if (op < kOpEnd) {
            const int32_t total = 1 + in_.Byte() % 16;
            for (int32_t progress = 0; progress <= total && !Spent(); ++progress)
                if (std::string failure = Draw(progress, total); !failure.empty()) return failure;
            return {};
        }
        if (op < kOpGiveUpdater) {
            module_.End();
            Trace("End()");
            active_ = false;
            if (WorkSurfacesHeld() != 0) return "End: the work surface was not given back";
            return Check("End", kNoSurface, nullptr, true);
        }
        if (op == kOpGiveUpdater) return GiveUpdater();
        if (op == kOpGiveTable) return GiveTable();
        if (op == kOpOtherInterface) {
            const uint8_t which = in_.Byte();
            if (which % 4 == 1) return GiveUpdater(true);
            if (which % 4 == 2) return GiveTable(true);
            veilshift::Guid other = veilshift::kSurfaceTableId;
            other.data4[7] ^= static_cast<uint8_t>(1 + which % 255);
            module_.SetInterface(&other, nullptr);
            return Check("SetInterface", kNoSurface, nullptr, true);
        }
        const uint8_t bits = in_.Byte();
        ApplyFaults(bits, in_.U32());
        return {};
    }

    std::string Begin() {
        int32_t v[12];
        v[0] = DecodeSurfaceNumber(in_);
        v[1] = DecodeInt(in_, stage_.surfaces);
        v[2] = DecodeInt(in_, stage_.surfaces);
        v[3] = DecodeSurfaceNumber(in_);
        v[4] = DecodeInt(in_, stage_.surfaces);
        v[5] = DecodeInt(in_, stage_.surfaces);
        v[6] = DecodeSurfaceNumber(in_);
        v[7] = DecodeInt(in_, stage_.surfaces);
        v[8] = DecodeInt(in_, stage_.surfaces);
        v[9] = DecodeInt(in_, stage_.surfaces);
        v[10] = DecodeInt(in_, stage_.surfaces);
        v[11] = DecodeEffect(in_);
        const bool started = module_.Begin(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]);
        active_ = started;
        ++stats_.begins;
        stats_.started += started;

        std::ostringstream args;
        for (int i = 0; i < 12; ++i) args << (i ? ", " : "Begin(") << v[i];
        args << ") = " << (started ? "true" : "false");
        const std::string call = args.str();
        Trace(call);
        if (std::string failure = Check(call.c_str(), kNoSurface, nullptr, false); !failure.empty()) return failure;
        if (!started) return {};

        // A started transition: its three surfaces exist, the effect is one the
        // catalog lists, and the stored rectangle is the intersection.
        TestSurface* d = stage_.Find(v[0]);
        TestSurface* a = stage_.Find(v[3]);
        TestSurface* b = stage_.Find(v[6]);
        const bool implemented = veilshift::FindCatalogEntry(v[11]) != nullptr;
        if (d == nullptr || a == nullptr || b == nullptr || !implemented || !haveTable_)
            return call + ": started with a missing surface, effect or surface table";
        clip_ = Clip{};
        clip_.ok = IntersectAxis(v[1], v[4], v[7], v[9], d->PixelWidth(), a->PixelWidth(), b->PixelWidth(), clip_.dx,
                                 clip_.ax, clip_.bx, clip_.width) &&
                   IntersectAxis(v[2], v[5], v[8], v[10], d->PixelHeight(), a->PixelHeight(), b->PixelHeight(),
                                 clip_.dy, clip_.ay, clip_.by, clip_.height);
        if (!clip_.ok) return call + ": started with nothing of the rectangle inside the surfaces";
        int32_t stored[8];
        if (module_.StoredRect(stored)) {
            const int32_t expected[8] = {clip_.dx, clip_.dy, clip_.ax, clip_.ay,
                                         clip_.bx, clip_.by, clip_.width, clip_.height};
            if (std::memcmp(stored, expected, sizeof stored) != 0) return call + ": stored rectangle is not the clip";
        }
        if (WorkSurfacesHeld() != (veilshift::EffectUsesWorkSurface(v[11]) ? 1 : 0))
            return call + ": work surface count wrong";
        dstNumber_ = v[0];
        srcBNumber_ = v[6];
        return {};
    }

    std::string Draw(int32_t progress, int32_t total) {
        std::ostringstream name;
        name << "Draw(" << progress << ", " << total << ")" << (active_ ? "" : " while idle");
        const std::string call = name.str();
        Trace(call);
        module_.Draw(progress, total);
        const bool draws = active_ && progress >= 0 && total >= 1;
        if (!draws) {
            if (!host_->Calls().empty()) return call + ": called the host";
            return Check(call.c_str(), kNoSurface, nullptr, true);
        }
        ++stats_.frames;
        ++frames_;
        drawnPixels_ += int64_t{clip_.width} * clip_.height;
        // Exactly one screen update, the last call, for the clipped rectangle
        // (none while the host has withdrawn its ScreenUpdater).
        const std::vector<HostCall>& calls = host_->Calls();
        int updates = 0;
        for (const HostCall& c : calls) updates += c.op == HostOp::UpdateRect;
        if (!haveUpdater_) {
            if (updates != 0) return call + ": screen update through a withdrawn ScreenUpdater";
        } else {
            if (updates != 1 || calls.back().op != HostOp::UpdateRect)
                return call + ": not one screen update at the end";
            const int32_t expected[5] = {dstNumber_, clip_.dx, clip_.dy, clip_.width, clip_.height};
            if (calls.back().argCount != 5 || std::memcmp(calls.back().args, expected, sizeof expected) != 0)
                return call + ": screen update of another rectangle";
        }
        if (std::string failure = Check(call.c_str(), dstNumber_, &clip_, false); !failure.empty()) return failure;
        // The last frame is source B exactly (unless source B is the destination).
        if (progress >= total && dstNumber_ != srcBNumber_ &&
            !stage_.Find(dstNumber_)->RectEquals(clip_.dx, clip_.dy, *stage_.Find(srcBNumber_), clip_.bx, clip_.by,
                                                 clip_.width, clip_.height))
            return call + ": the last frame is not source B";
        return {};
    }

    std::string Unload() {
        if (!loaded_) return {};
        module_.Unload();
        loaded_ = false;
        if (WorkSurfacesHeld() != 0) return "unload: a work surface was never given back";
        if (module_.Outstanding() > 0) {
            std::ostringstream out;
            out << "unload: " << module_.Outstanding() << " block(s) leaked";
            return out.str();
        }
        return Check("unload", kNoSurface, nullptr, true, /*everyByte=*/true);
    }

    std::optional<refhost::StartupSwitches> switches_;  // for the scenario
    ModuleUnderTest& module_;
    Reader& in_;
    ScenarioStats& stats_;
    Host* host_ = nullptr;
    veilshift::PluginInterface* plugin_ = nullptr;
    Stage stage_;
    bool trace_ = false;
    bool everyByte_ = false;
    int frames_ = 0;  // drawn
    int64_t drawnPixels_ = 0;
    bool haveTable_ = false;    // the plug-in holds this host's interfaces
    bool haveUpdater_ = false;
    bool loaded_ = false;
    bool active_ = false;
    Clip clip_;
    int32_t dstNumber_ = kNoSurface;
    int32_t srcBNumber_ = kNoSurface;
};

}  // namespace

refhost::Host& SharedHost::Prepare(bool corvane, bool platewright, bool pixmill) {
    const bool wanted[3] = {corvane, platewright, pixmill};
    if (host_ != nullptr && std::equal(wanted, wanted + 3, presence_)) {
        for (int32_t number = 1; number <= 3; ++number) host_->RemoveSurface(number);
        for (Component c : {Component::Corvane, Component::Platewright, Component::Pixmill}) {
            ComponentControl* control = host_->Control(c);
            if (control == nullptr) continue;
            refhost::CallLog* log = control->log;
            *control = ComponentControl{};
            control->log = log;
        }
        host_->ClearCalls();
        host_->ResetViolations();
        return *host_;
    }
    host_.reset();
    refhost::HostOptions options = ScenarioHostOptions(corvane, platewright, pixmill);
    options.loadModule = false;
    host_ = std::make_unique<Host>(options);
    std::copy(wanted, wanted + 3, presence_);
    return *host_;
}

std::string RunScenario(const uint8_t* data, size_t size, ModuleUnderTest& module, ScenarioStats* stats,
                        Checks checks) {
    Reader in(data, size);
    ScenarioStats ignored;
    Run run(module, in, stats != nullptr ? *stats : ignored, checks);
    return run.Go();
}

}  // namespace robustness
