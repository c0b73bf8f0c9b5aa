#include "fuzz/scenario.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "host/startup_switches.h"

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

// Sides past the small ones, by the shapes the kernels care about: one less
// than, equal to and one more than their blocks and vector widths (16 and 32
// bytes make 16 and 32 pixels whole groups of either), the mosaic's largest
// block (97) and twice it, and the 8-bit range's edge.
constexpr int32_t kShapedSides[] = {45, 47, 48, 49, 63, 64, 65, 95, 96, 97, 98, 99,
                                    127, 128, 129, 193, 194, 195, 255, 256, 257};
constexpr int32_t kLargeSides[] = {2048, 2047, 1025, 1024, 1023, 640, 480, 513, 512, 511, 387, 320, 385, 300, 291};
static_assert(std::size(kLargeSides) == 247 - 232);
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

// Mostly small sides (1 to 44: every remainder of a row's bytes by the 16-,
// 32- and 64-byte steps of the vector forms), some shaped medium sides,
// rarely large ones. The bytes the fuzzer writes most (runs of 0 and of 255)
// give small sides, and the scenario's surfaces together hold at most
// kMaxPixels (a surface past that loses rows), so that a typical input runs
// in well under a millisecond while the largest surfaces still come up. The
// kernels' streaming stores, which the module starts only on megabytes, come
// up on small rectangles through the tuning byte.
constexpr uint8_t kExactSide = 247;  // an exact side (16 bits) follows
constexpr int64_t kMaxPixels = int64_t{1} << 22;

int32_t DecodeSide(Reader& in) {
    const uint8_t b = in.Byte();
    if (b < 176) return 1 + b % 44;
    if (b < 232) return kShapedSides[(b - 176) % std::size(kShapedSides)];
    if (b < kExactSide) return kLargeSides[b - 232];
    if (b == kExactSide) return 1 + in.U16() % 2048;
    return 1 + b % 44;
}

struct SurfaceShape {
    int32_t number, width, height, pitch;
    uint8_t seed;
};

// An integer of Begin, biased toward the edges: 0, +-1, the extremes, the
// surfaces' sides +-1, small values of either sign.
int32_t DecodeInt(Reader& in, const std::vector<SurfaceShape>& surfaces) {
    const uint8_t selector = in.Byte() % 20;
    auto side = [&](uint8_t pick) -> int64_t {
        const SurfaceShape& s = surfaces[pick % surfaces.size()];
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

// ---- What the surfaces should hold -----------------------------------------------

constexpr int32_t kNoSurface = INT32_MIN;
constexpr size_t kGuard = TestSurface::kGuardBytes;

// The first byte at which two blocks differ, or `size`. A loop of its own:
// memcmp is intercepted by the sanitizers, and the fuzzer traces every call.
// Words are read one at a time, as plain loads (a longer memcpy becomes a
// call under AddressSanitizer), and unchecked: the loop reads only the ranges
// its callers were given, which lie inside a surface's block and the block
// it is compared with, and the sanitizers' checks of every word made it a
// seventh of the fuzzer's time. The copies that refresh those blocks stay
// checked.
#if defined(__clang__) || defined(__GNUC__)
#define VS_UNCHECKED_LOADS __attribute__((no_sanitize("address", "undefined")))
#else
#define VS_UNCHECKED_LOADS
#endif

VS_UNCHECKED_LOADS inline uint64_t Word(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

VS_UNCHECKED_LOADS size_t FirstDifference(const uint8_t* a, const uint8_t* b, size_t size) {
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
        if (((Word(a + i) ^ Word(b + i)) | (Word(a + i + 8) ^ Word(b + i + 8)) | (Word(a + i + 16) ^ Word(b + i + 16)) |
             (Word(a + i + 24) ^ Word(b + i + 24))) != 0)
            break;
    for (; i < size; ++i)
        if (a[i] != b[i]) return i;
    return size;
}

// Pictures are cut from one block of noise, made once: every row from its own
// place in it (by the surface's seed and the row), so that rows hardly ever
// agree and a copy from a wrong row or surface shows. Equal seeds give equal
// pictures.
constexpr size_t kNoisePlaces = size_t{1} << 16;
const uint8_t* Noise() {
    static const std::vector<uint8_t> noise = [] {
        std::vector<uint8_t> bytes(kNoisePlaces + 2048 * 3);
        uint64_t state = 0x9E3779B97F4A7C15u;
        for (uint8_t& byte : bytes) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<uint8_t>(state >> 32);
        }
        return bytes;
    }();
    return noise.data();
}

void Fill(TestSurface& surface, uint8_t seed) {
    const size_t row = static_cast<size_t>(surface.PixelWidth()) * 3;
    for (int32_t y = 0; y < surface.PixelHeight(); ++y) {
        uint32_t h = (uint32_t{seed} + 1) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u;
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 12;
        std::memcpy(surface.At(0, y), Noise() + h % kNoisePlaces, row);
    }
}

// A surface as the checks see it: its whole block (the guard before, the rows
// with their padding, the guard after: test_surface.h) and what the block
// should hold, kept in buffers that outlive the scenario so that the next one
// reuses them.
struct Image {
    SurfaceShape shape{};
    TestSurface* surface = nullptr;
    const uint8_t* block = nullptr;
    size_t stride = 0, rowBytes = 0, size = 0;
    bool bottomUp = false;
    std::vector<uint8_t>* expected = nullptr;

    size_t RowOffset(int32_t y) const {
        return kGuard + static_cast<size_t>(bottomUp ? shape.height - 1 - y : y) * stride;
    }
};

// Blocks this small are compared whole after every call, sampled or not.
constexpr size_t kWholeBelow = 1024;
// Rows of every surface compared after each call, besides the guards and the
// rows around a drawn rectangle.
constexpr int kSampledRows = 2;

class Stage {
public:
    std::vector<SurfaceShape> surfaces;

    void Attach(Host& host) { host_ = &host; }
    TestSurface* Find(int32_t number) const { return host_->Surface(number); }

    void Add(const SurfaceShape& shape) {
        static std::vector<uint8_t> buffers[3];
        TestSurface& surface = host_->AddSurface(shape.number, shape.width, shape.height, shape.pitch);
        Fill(surface, shape.seed);
        Image image;
        image.shape = shape;
        image.surface = &surface;
        image.bottomUp = surface.RowPitch() < 0;
        image.stride = static_cast<size_t>(image.bottomUp ? -int64_t{surface.RowPitch()} : surface.RowPitch());
        image.rowBytes = static_cast<size_t>(shape.width) * 3;
        image.size = image.stride * static_cast<size_t>(shape.height) + 2 * kGuard;
        image.block = surface.At(0, image.bottomUp ? shape.height - 1 : 0) - kGuard;
        image.expected = &buffers[images_.size() % 3];
        image.expected->assign(image.block, image.block + image.size);
        images_.push_back(image);
        surfaces.push_back(shape);
    }

    void RemoveAll() {
        for (const Image& image : images_) host_->RemoveSurface(image.shape.number);
        images_.clear();
    }

    // Every byte of every block as expected, apart from the pixels of
    // `allowed` on surface `drawn`, which become what is expected from now on;
    // with `everyByte` false only the sample (see Checks).
    std::string Compare(bool everyByte, int32_t drawn, const Clip* allowed) {
        for (Image& image : images_) {
            const Clip* mine = allowed != nullptr && image.shape.number == drawn ? allowed : nullptr;
            std::string failure = everyByte || image.size < kWholeBelow ? CompareWhole(image, mine)
                                                                        : CompareSample(image, mine);
            if (!failure.empty()) return failure;
        }
        return {};
    }

private:
    std::string CompareWhole(Image& image, const Clip* allowed) {
        if (std::string failure = CompareBytes(image, 0, kGuard); !failure.empty()) return failure;
        for (int32_t y = 0; y < image.shape.height; ++y)
            if (std::string failure = CompareRow(image, y, allowed); !failure.empty()) return failure;
        return CompareBytes(image, image.size - kGuard, image.size);
    }

    std::string CompareSample(Image& image, const Clip* allowed) {
        if (std::string failure = CompareBytes(image, 0, kGuard); !failure.empty()) return failure;
        if (std::string failure = CompareBytes(image, image.size - kGuard, image.size); !failure.empty())
            return failure;
        if (allowed != nullptr) {
            // The rectangle's rows (which become what is expected) and one more on either side.
            const int32_t from = std::max(allowed->dy - 1, 0);
            const int32_t to = std::min(allowed->dy + allowed->height, image.shape.height - 1);
            for (int32_t y = from; y <= to; ++y)
                if (std::string failure = CompareRow(image, y, allowed); !failure.empty()) return failure;
        }
        for (int i = 0; i < kSampledRows; ++i) {
            sample_ = sample_ * 6364136223846793005u + 1442695040888963407u;
            const int32_t y = static_cast<int32_t>((sample_ >> 33) % static_cast<uint64_t>(image.shape.height));
            if (std::string failure = CompareRow(image, y, allowed); !failure.empty()) return failure;
        }
        return {};
    }

    // Row y with its padding; the part inside `allowed` is taken as it is.
    std::string CompareRow(Image& image, int32_t y, const Clip* allowed) {
        const size_t row = image.RowOffset(y);
        if (allowed == nullptr || y < allowed->dy || y - allowed->dy >= allowed->height)
            return CompareBytes(image, row, row + image.stride);
        const size_t from = row + static_cast<size_t>(allowed->dx) * 3;
        const size_t to = from + static_cast<size_t>(allowed->width) * 3;
        if (std::string failure = CompareBytes(image, row, from); !failure.empty()) return failure;
        if (std::string failure = CompareBytes(image, to, row + image.stride); !failure.empty()) return failure;
        std::memcpy(image.expected->data() + from, image.block + from, to - from);
        return {};
    }

    std::string CompareBytes(const Image& image, size_t from, size_t to) const {
        const size_t at = from + FirstDifference(image.block + from, image.expected->data() + from, to - from);
        if (at == to) return {};
        std::ostringstream out;
        const bool guard = at < kGuard || at >= image.size - kGuard || (at - kGuard) % image.stride >= image.rowBytes;
        if (guard) {
            out << "guard bytes around surface " << image.shape.number << " changed (byte " << at << ")";
        } else {
            const size_t memoryRow = (at - kGuard) / image.stride;
            const size_t y = image.bottomUp ? static_cast<size_t>(image.shape.height) - 1 - memoryRow : memoryRow;
            out << "pixel (" << (at - kGuard) % image.stride / 3 << ", " << y << ") of surface " << image.shape.number
                << " changed outside the destination rectangle";
        }
        return out.str();
    }

    Host* host_ = nullptr;
    std::vector<Image> images_;
    uint64_t sample_ = 0;
};

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
        for (int i = 0; i < count; ++i) {
            SurfaceShape s{};
            s.number = i + 1;
            s.width = DecodeSide(in_);
            s.height = DecodeSide(in_);
            const int64_t room = std::max<int64_t>(kMaxPixels - pixels, s.width);
            s.height = static_cast<int32_t>(std::min<int64_t>(s.height, room / s.width));
            pixels += int64_t{s.width} * s.height;
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
            stage_.Add(s);
        }
        ApplyFaults(faults, time);

        Tuning tune;
        const uint8_t vectors = tuning & 3, streaming = tuning >> 2 & 3;
        if (vectors == Tuning::kScalar || vectors == Tuning::kUpToSse2) tune.vectors = Tuning::Vectors{vectors};
        if (streaming == Tuning::kStreamAll || streaming == Tuning::kStreamFrom4K)
            tune.streaming = Tuning::Streaming{streaming};
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

// ---- Writing scenarios ----------------------------------------------------------

ScenarioWriter& ScenarioWriter::Setup(uint8_t setupBits, uint8_t faultBits, uint32_t time, uint8_t tuningBits) {
    header_ = {setupBits, faultBits};
    for (int i = 0; i < 4; ++i) header_.push_back(static_cast<uint8_t>(time >> (8 * i)));
    header_.push_back(tuningBits);
    return *this;
}

namespace {
void PutSide(std::vector<uint8_t>& out, int32_t side) {
    if (side >= 1 && side <= 44) {
        out.push_back(static_cast<uint8_t>(side - 1));
        return;
    }
    const uint16_t value = static_cast<uint16_t>(side - 1);
    out.insert(out.end(), {kExactSide, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
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

ScenarioWriter& ScenarioWriter::Raw(const uint8_t* bytes, size_t count) {
    ops_.insert(ops_.end(), bytes, bytes + count);
    return *this;
}

std::vector<uint8_t> ScenarioWriter::Bytes() const {
    std::vector<uint8_t> bytes = header_;
    if (bytes.empty()) bytes.assign(7, 0);
    bytes.push_back(static_cast<uint8_t>(std::max(surfaceCount_, 1) - 1));
    bytes.insert(bytes.end(), surfaces_.begin(), surfaces_.end());
    if (surfaceCount_ == 0) bytes.insert(bytes.end(), {0, 0, 0, 0});  // one 1 x 1 surface
    bytes.insert(bytes.end(), ops_.begin(), ops_.end());
    return bytes;
}

}  // namespace robustness
