#include "fuzz/scenario_format.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace robustness {
namespace {

// Sides past the small ones, by the shapes the kernels care about: one less
// than, equal to and one more than their blocks and vector widths (16 and 32
// bytes make 16 and 32 pixels whole groups of either), the mosaic's largest
// block (97) and twice it, and the 8-bit range's edge.
constexpr int32_t kShapedSides[] = {45, 47, 48, 49, 63, 64, 65, 95, 96, 97, 98, 99,
                                    127, 128, 129, 193, 194, 195, 255, 256, 257};
constexpr int32_t kLargeSides[] = {2048, 2047, 1025, 1024, 1023, 640, 480, 513, 512, 511, 387, 320, 385, 300, 291};
static_assert(std::size(kLargeSides) == 247 - 232);
// The format's own list of the implemented effects (a byte below 216 picks
// one), apart from the catalog so that a corpus reads the same scenarios
// whatever the catalog gains.
constexpr int32_t kEffects[] = {1, 6, 31, 34, 40, 41};
constexpr int32_t kOtherEffects[] = {0, 2, 5, 7, 30, 32, 33, 35, 39, 42, -1, INT32_MIN, INT32_MAX, 255, 256, 1000};

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

int32_t DecodeSide(Reader& in) {
    const uint8_t b = in.Byte();
    if (b < 176) return 1 + b % 44;
    if (b < 232) return kShapedSides[(b - 176) % std::size(kShapedSides)];
    if (b < kExactSide) return kLargeSides[b - 232];
    if (b == kExactSide) return 1 + in.U16() % 2048;
    return 1 + b % 44;
}

int32_t Wrap(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

}  // namespace

SurfaceShape DecodeSurface(Reader& in, int32_t number, int64_t& pixels) {
    SurfaceShape s{};
    s.number = number;
    s.width = DecodeSide(in);
    s.height = DecodeSide(in);
    const int64_t room = std::max<int64_t>(kMaxPixels - pixels, s.width);
    s.height = static_cast<int32_t>(std::min<int64_t>(s.height, room / s.width));
    pixels += int64_t{s.width} * s.height;
    const uint8_t pitch = in.Byte();
    const int32_t padded = s.width * 3 + 1 + (pitch >> 2);
    switch (pitch & 3) {
        case 0: s.pitch = 0; break;
        case 1: s.pitch = padded; break;
        case 2: s.pitch = -s.width * 3; break;
        default: s.pitch = -padded; break;
    }
    s.seed = in.Byte();
    return s;
}

Tuning DecodeTuning(uint8_t bits) {
    Tuning tune;
    const uint8_t vectors = bits & 3, streaming = bits >> 2 & 3;
    if (vectors == Tuning::kScalar || vectors == Tuning::kUpToSse2) tune.vectors = Tuning::Vectors{vectors};
    if (streaming == Tuning::kStreamAll || streaming == Tuning::kStreamFrom4K)
        tune.streaming = Tuning::Streaming{streaming};
    return tune;
}

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
