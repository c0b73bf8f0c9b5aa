#include "fuzz/scenario.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace robustness {
namespace {

using refhost::Component;
using refhost::ComponentControl;
using refhost::Host;
using refhost::HostCall;
using refhost::HostOp;
using refhost::TestSurface;

// ---- Reading the bytes --------------------------------------------------------

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return size_ == 0; }
    uint8_t Byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
        return value;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }

private:
    const uint8_t* data_;
    size_t size_;
};

constexpr int32_t kLargeSides[] = {2048, 2047, 1024, 1023, 640, 480, 513, 512, 511, 320, 257, 256, 255, 129, 128, 127};
constexpr int32_t kEffects[] = {1, 6, 31, 34, 40, 41};
constexpr int32_t kOtherEffects[] = {0, 2, 5, 7, 30, 32, 33, 35, 39, 42, -1, INT32_MIN, INT32_MAX, 255, 256, 1000};

enum Op : uint8_t {
    kOpBegin = 0,       // 0-3
    kOpDraw = 4,        // 4-7
    kOpFrames = 8,      // 8-9
    kOpEnd = 10,        // 10-11
    kOpGiveUpdater = 12,
    kOpGiveTable = 13,
    kOpOtherInterface = 14,
    kOpFaults = 15,
};
constexpr uint8_t kExact = 255;     // selector byte: an exact value follows
constexpr uint8_t kExactInt = 17;   // DecodeInt's selector for an exact 32-bit value
constexpr uint8_t kExactFrame = 10; // frame selectors for an exact 32-bit value

// Mostly small sides (1 to 16), sometimes medium, rarely large (both sides of
// one surface large still more rarely): a typical input runs in well under a
// millisecond while the largest surfaces still come up.
int32_t DecodeSide(Reader& in) {
    const uint8_t b = in.Byte();
    if (b < 200) return 1 + b % 16;
    if (b < 240) return 17 + (b - 200) * 4;
    if (b < 255) return kLargeSides[(b - 240) % std::size(kLargeSides)];
    return 1 + in.U16() % 2048;
}

struct SurfaceSpec {
    int32_t number, width, height, pitch;
    uint8_t seed;
};

// An integer of Begin, biased toward the edges: 0, +-1, the extremes, the
// surfaces' sides +-1, small values of either sign.
int32_t DecodeInt(Reader& in, const std::vector<SurfaceSpec>& surfaces) {
    const uint8_t selector = in.Byte() % 20;
    auto side = [&](uint8_t pick) -> int64_t {
        const SurfaceSpec& s = surfaces[pick % surfaces.size()];
        return (pick >> 2) & 1 ? s.height : s.width;
    };
    switch (selector) {
        case 0: return 0;
        case 1: return 1;
        case 2: return -1;
        case 3: return INT32_MIN;
        case 4: return INT32_MAX;
        case 5: return INT32_MIN + 1;
        case 6: return INT32_MAX - 1;
        case 7: case 8: case 9: {
            const uint8_t pick = in.Byte();
            return static_cast<int32_t>(side(pick) + (pick >> 3) % 3 - 1);
        }
        case 10: return static_cast<int32_t>(-side(in.Byte()));
        case 11: case 12: case 13: case 14: return in.Byte();
        case 15: return -int32_t{in.Byte()};
        case 16: return static_cast<int16_t>(in.U16());
        case kExactInt: return in.I32();
        case 18: return static_cast<int32_t>(side(in.Byte()) / 2);
        default: return INT32_MAX - in.Byte();
    }
}

int32_t DecodeSurfaceNumber(Reader& in) {
    const uint8_t b = in.Byte();
    if (b < 240) return 1 + b % 3;
    static constexpr int32_t kOthers[] = {0, -1, 4, INT32_MIN, INT32_MAX, 99, 1000, -2, 7, 65536, 256, 5, 6, 8, 9};
    if (b == kExact) return in.I32();
    return kOthers[(b - 240) % std::size(kOthers)];
}

int32_t DecodeEffect(Reader& in) {
    const uint8_t b = in.Byte();
    if (b < 216) return kEffects[b % std::size(kEffects)];
    if (b == kExact) return in.I32();
    return kOtherEffects[(b - 216) % std::size(kOtherEffects)];
}

int32_t Wrap(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int32_t DecodeTotal(Reader& in) {
    switch (in.Byte() % 12) {
        case 0: return 0;
        case 1: return 1;
        case 2: return -1;
        case 3: return 2;
        case 4: return INT32_MAX;
        case 5: return INT32_MIN;
        case 6: return INT32_MAX - 1;
        case kExactFrame: return in.I32();
        case 11: return in.U16();
        default: return 1 + in.Byte();
    }
}

int32_t DecodeProgress(Reader& in, int32_t total) {
    const int64_t t = total;
    switch (in.Byte() % 12) {
        case 0: return 0;
        case 1: return Wrap(t - 1);
        case 2: return total;
        case 3: return Wrap(t + 1);
        case 4: return total / 2;
        case 5: return Wrap(t / 2 + 1);
        case 6: return -1;
        case 7: return INT32_MAX;
        case 8: return INT32_MIN;
        case 9: return in.Byte();
        case kExactFrame: return in.I32();
        default: return Wrap(t / 2 - 1);
    }
}

// ---- What the module may do ---------------------------------------------------

// The part of the requested rectangle inside all three surfaces, the corners
// keeping their offsets: worked out as an intersection in destination
// coordinates, independently of the module's step-by-step clip.
struct Clip {
    bool ok = false;
    int32_t dx = 0, dy = 0, ax = 0, ay = 0, bx = 0, by = 0, width = 0, height = 0;
};

bool IntersectAxis(int64_t d, int64_t a, int64_t b, int64_t size, int64_t dExtent, int64_t aExtent, int64_t bExtent,
                   int32_t& outD, int32_t& outA, int32_t& outB, int32_t& outSize) {
    const int64_t aOffset = a - d, bOffset = b - d;
    const int64_t start = std::max({d, int64_t{0}, -aOffset, -bOffset});
    const int64_t end = std::min({d + size, dExtent, aExtent - aOffset, bExtent - bOffset});
    if (end - start <= 0) return false;
    outD = static_cast<int32_t>(start);
    outA = static_cast<int32_t>(start + aOffset);
    outB = static_cast<int32_t>(start + bOffset);
    outSize = static_cast<int32_t>(end - start);
    return true;
}

struct Stage {
    Host* host = nullptr;
    std::vector<SurfaceSpec> surfaces;
    std::vector<std::vector<uint8_t>> pictures;  // what each surface holds, rows packed

    TestSurface* Find(int32_t number) const { return host->Surface(number); }

    void Capture(size_t i) {
        const TestSurface& s = *host->Surface(surfaces[i].number);
        const size_t row = static_cast<size_t>(s.PixelWidth()) * 3;
        pictures[i].resize(row * static_cast<size_t>(s.PixelHeight()));
        for (int32_t y = 0; y < s.PixelHeight(); ++y) std::memcpy(&pictures[i][row * y], s.At(0, y), row);
    }
    void CaptureAll() {
        pictures.resize(surfaces.size());
        for (size_t i = 0; i < surfaces.size(); ++i) Capture(i);
    }

    // Every pixel as captured, apart from `allowed` on surface `drawn`. The
    // captured pictures are brought up to date.
    std::string CompareAll(int32_t drawn, const Clip* allowed) {
        for (size_t i = 0; i < surfaces.size(); ++i) {
            const TestSurface& s = *host->Surface(surfaces[i].number);
            const size_t row = static_cast<size_t>(s.PixelWidth()) * 3;
            const bool mayChange = allowed != nullptr && surfaces[i].number == drawn;
            bool changed = false;
            for (int32_t y = 0; y < s.PixelHeight(); ++y) {
                const uint8_t* now = s.At(0, y);
                const uint8_t* was = &pictures[i][row * y];
                if (std::memcmp(now, was, row) == 0) continue;
                changed = true;
                for (int32_t x = 0; x < s.PixelWidth(); ++x) {
                    if (std::memcmp(now + 3 * x, was + 3 * x, 3) == 0) continue;
                    const bool inside = mayChange && x >= allowed->dx && x - allowed->dx < allowed->width &&
                                        y >= allowed->dy && y - allowed->dy < allowed->height;
                    if (!inside) {
                        std::ostringstream out;
                        out << "pixel (" << x << ", " << y << ") of surface " << surfaces[i].number
                            << " changed outside the destination rectangle";
                        return out.str();
                    }
                }
            }
            if (changed) Capture(i);
        }
        return {};
    }
};

constexpr int32_t kNoSurface = INT32_MIN;

// A varied picture from a seed, eight bytes a step: the large surfaces are
// filled for every scenario that has them.
void Fill(TestSurface& surface, uint8_t seed) {
    uint64_t state = 0x9E3779B97F4A7C15u * (seed + 1u);
    const size_t row = static_cast<size_t>(surface.PixelWidth()) * 3;
    for (int32_t y = 0; y < surface.PixelHeight(); ++y) {
        uint8_t* pixels = surface.At(0, y);
        for (size_t i = 0; i < row; i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(pixels + i, &state, std::min<size_t>(8, row - i));
        }
    }
}

class Run {
public:
    Run(ModuleUnderTest& module, Reader& in, ScenarioStats& stats) : module_(module), in_(in), stats_(stats) {
        trace_ = std::getenv("VEILSHIFT_SCENARIO_TRACE") != nullptr;
    }

    std::string Go() {
        const uint8_t setup = in_.Byte();
        const uint8_t faults = in_.Byte();
        const uint32_t time = in_.U32();
        SetProcessorForm(setup >> 6);
        host_ = &module_.PrepareHost(!(setup & 1), !(setup & 2), !(setup & 4));
        stage_.host = host_;
        const int count = 1 + in_.Byte() % 3;
        for (int i = 0; i < count; ++i) {
            SurfaceSpec s{};
            s.number = i + 1;
            s.width = DecodeSide(in_);
            s.height = DecodeSide(in_);
            const uint8_t pitch = in_.Byte();
            const int32_t padded = s.width * 3 + 1 + (pitch >> 2);
            switch (pitch & 3) {
                case 0: s.pitch = 0; break;
                case 1: s.pitch = padded; break;
                case 2: s.pitch = -s.width * 3; break;
                default: s.pitch = -padded; break;
            }
            s.seed = in_.Byte();
            Trace("surface " + std::to_string(s.number) + ": " + std::to_string(s.width) + " x " +
                  std::to_string(s.height) + ", pitch " + std::to_string(s.pitch));
            Fill(host_->AddSurface(s.number, s.width, s.height, s.pitch), s.seed);
            stage_.surfaces.push_back(s);
        }
        stage_.CaptureAll();
        ApplyFaults(faults, time);

        module_.Load();
        loaded_ = true;
        plugin_ = module_.Plugin();
        if (plugin_ == nullptr) return "no plug-in object";
        std::string failure;
        const bool tableFirst = setup & 32;
        if (tableFirst && !(setup & 16)) failure = GiveTable();
        if (failure.empty() && !(setup & 8)) failure = GiveUpdater();
        if (failure.empty() && !tableFirst && !(setup & 16)) failure = GiveTable();

        for (int op = 0; failure.empty() && op < kMaxOperations && !in_.Empty(); ++op) failure = Step();
        const std::string unloaded = Unload();
        return failure.empty() ? unloaded : failure;
    }

private:
    static void SetProcessorForm(int form) {
#if defined(_WIN32)
        (void)form;  // the registry is the test suite's to set
#else
        unsetenv("TESSARY_STARTUP_MMX");
        unsetenv("TESSARY_STARTUP_SSE");
        if (form == 1) setenv("TESSARY_STARTUP_MMX", "0", 1);
        if (form == 3) setenv("TESSARY_STARTUP_SSE", "1", 1);
        // form 2: MMX follows the processor, SSE stays off
#endif
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
    std::string Check(const char* call, int32_t drawn, const Clip* allowed, bool onlyReleases) {
        std::ostringstream out;
        if (!host_->SurfacesIntact())
            out << "guard bytes around a surface changed";
        else if (host_->Violations() != 0)
            out << host_->Violations() << " contract violation(s) seen by the host";
        else if (std::string pixels = stage_.CompareAll(drawn, allowed); !pixels.empty())
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
        plugin_->SetInterface(&veilshift::kSurfaceTableId, withdraw ? nullptr : host_->Table());
        haveTable_ = !withdraw;
        return Check("SetInterface", kNoSurface, nullptr, true);
    }
    std::string GiveUpdater(bool withdraw = false) {
        Trace(withdraw ? "SetInterface(ScreenUpdater, null)" : "SetInterface(ScreenUpdater)");
        plugin_->SetInterface(&veilshift::kScreenUpdaterId, withdraw ? nullptr : host_->Updater());
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
            for (int32_t progress = 0; progress <= total; ++progress)
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
            plugin_->SetInterface(&other, nullptr);
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

        // A started transition: its three surfaces exist, the effect is one of
        // the six, and the stored rectangle is the intersection.
        TestSurface* d = stage_.Find(v[0]);
        TestSurface* a = stage_.Find(v[3]);
        TestSurface* b = stage_.Find(v[6]);
        const bool implemented = std::find(std::begin(kEffects), std::end(kEffects), v[11]) != std::end(kEffects);
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
        const bool workEffect = v[11] == 40 || v[11] == 41;
        if (WorkSurfacesHeld() != (workEffect ? 1 : 0)) return call + ": work surface count wrong";
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
        return Check("unload", kNoSurface, nullptr, true);
    }

    ModuleUnderTest& module_;
    Reader& in_;
    ScenarioStats& stats_;
    Host* host_ = nullptr;
    veilshift::PluginInterface* plugin_ = nullptr;
    Stage stage_;
    bool trace_ = false;
    bool haveTable_ = false;    // the plug-in holds this host's interfaces
    bool haveUpdater_ = false;
    bool loaded_ = false;
    bool active_ = false;
    Clip clip_;
    int32_t dstNumber_ = kNoSurface;
    int32_t srcBNumber_ = kNoSurface;
};

}  // namespace

std::string RunScenario(const uint8_t* data, size_t size, ModuleUnderTest& module, ScenarioStats* stats) {
    Reader in(data, size);
    ScenarioStats ignored;
    Run run(module, in, stats != nullptr ? *stats : ignored);
    return run.Go();
}

// ---- Writing scenarios ----------------------------------------------------------

ScenarioWriter& ScenarioWriter::Setup(uint8_t setupBits, uint8_t faultBits, uint32_t time) {
    header_ = {setupBits, faultBits};
    for (int i = 0; i < 4; ++i) header_.push_back(static_cast<uint8_t>(time >> (8 * i)));
    return *this;
}

namespace {
void PutSide(std::vector<uint8_t>& out, int32_t side) {
    if (side >= 1 && side <= 16) {
        out.push_back(static_cast<uint8_t>(side - 1));
        return;
    }
    const uint16_t value = static_cast<uint16_t>(side - 1);
    out.insert(out.end(), {uint8_t{255}, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}
void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

ScenarioWriter& ScenarioWriter::Surface(int32_t width, int32_t height, Pitch pitch, uint8_t padding, uint8_t seed) {
    ++surfaceCount_;
    PutSide(surfaces_, width);
    PutSide(surfaces_, height);
    const uint8_t extra = static_cast<uint8_t>(std::clamp<int>(padding, 1, 64) - 1);
    surfaces_.push_back(static_cast<uint8_t>(extra << 2 | pitch));
    surfaces_.push_back(seed);
    return *this;
}

void ScenarioWriter::Int(int32_t value) {
    ops_.push_back(kExactInt);
    PutU32(ops_, static_cast<uint32_t>(value));
}

ScenarioWriter& ScenarioWriter::Begin(int32_t dst, int32_t dx, int32_t dy, int32_t srcA, int32_t ax, int32_t ay,
                                      int32_t srcB, int32_t bx, int32_t by, int32_t width, int32_t height,
                                      int32_t effect) {
    ops_.push_back(kOpBegin);
    auto number = [&](int32_t n) {
        if (n >= 1 && n <= 3) {
            ops_.push_back(static_cast<uint8_t>(n - 1));
        } else {
            ops_.push_back(kExact);
            PutU32(ops_, static_cast<uint32_t>(n));
        }
    };
    number(dst);
    Int(dx);
    Int(dy);
    number(srcA);
    Int(ax);
    Int(ay);
    number(srcB);
    Int(bx);
    Int(by);
    Int(width);
    Int(height);
    const auto* known = std::find(std::begin(kEffects), std::end(kEffects), effect);
    if (known != std::end(kEffects)) {
        ops_.push_back(static_cast<uint8_t>(known - std::begin(kEffects)));
    } else {
        ops_.push_back(kExact);
        PutU32(ops_, static_cast<uint32_t>(effect));
    }
    return *this;
}

ScenarioWriter& ScenarioWriter::Draw(int32_t progress, int32_t total) {
    ops_.push_back(kOpDraw);
    ops_.push_back(kExactFrame);
    PutU32(ops_, static_cast<uint32_t>(total));
    ops_.push_back(kExactFrame);
    PutU32(ops_, static_cast<uint32_t>(progress));
    return *this;
}

ScenarioWriter& ScenarioWriter::Frames(uint8_t total) {
    ops_.push_back(kOpFrames);
    ops_.push_back(static_cast<uint8_t>((std::clamp<int>(total, 1, 16) - 1)));
    return *this;
}

ScenarioWriter& ScenarioWriter::End() {
    ops_.push_back(kOpEnd);
    return *this;
}

ScenarioWriter& ScenarioWriter::GiveScreenUpdater() {
    ops_.push_back(kOpGiveUpdater);
    return *this;
}

ScenarioWriter& ScenarioWriter::GiveSurfaceTable() {
    ops_.push_back(kOpGiveTable);
    return *this;
}

ScenarioWriter& ScenarioWriter::Withdraw(bool updater) {
    ops_.push_back(kOpOtherInterface);
    ops_.push_back(updater ? 1 : 2);
    return *this;
}

ScenarioWriter& ScenarioWriter::Faults(uint8_t faultBits, uint32_t time) {
    ops_.push_back(kOpFaults);
    ops_.push_back(faultBits);
    PutU32(ops_, time);
    return *this;
}

std::vector<uint8_t> ScenarioWriter::Bytes() const {
    std::vector<uint8_t> bytes = header_;
    if (bytes.empty()) bytes.assign(6, 0);
    bytes.push_back(static_cast<uint8_t>(std::max(surfaceCount_, 1) - 1));
    bytes.insert(bytes.end(), surfaces_.begin(), surfaces_.end());
    if (surfaceCount_ == 0) bytes.insert(bytes.end(), {0, 0, 0, 0});  // one 1 x 1 surface
    bytes.insert(bytes.end(), ops_.begin(), ops_.end());
    return bytes;
}

}  // namespace robustness
