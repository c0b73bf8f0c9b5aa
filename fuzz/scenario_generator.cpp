#include "fuzz/scenario_generator.h"

#include <algorithm>
#include <climits>

#include "Veilshift/effect_catalog.h"
#include "fuzz/scenario.h"

namespace robustness {

namespace {
constexpr int32_t kOtherEffects[] = {0, 2, 33, 42, -1, INT32_MIN, INT32_MAX};
constexpr int32_t kShapedSides[] = {45, 47, 48, 49, 63, 64, 65, 95, 96, 97, 98, 127, 128, 129, 193, 194, 255, 257};
constexpr int32_t kLargeSides[] = {320, 480, 511, 512, 513, 640, 1023, 1024, 2047, 2048};
constexpr int32_t kOddNumbers[] = {0, -1, 4, 9, INT32_MIN, INT32_MAX};
constexpr int32_t kEdgeValues[] = {0, 1, -1, INT32_MIN, INT32_MAX, INT32_MIN + 1, INT32_MAX - 1};
}  // namespace

// splitmix64: every seed, zero included, gives a full-period stream.
uint64_t ScenarioGenerator::Random() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

int32_t ScenarioGenerator::Side() {
    const uint32_t pick = Below(100);
    if (pick < 72) return 1 + static_cast<int32_t>(Below(44));
    if (pick < 92) return kShapedSides[Below(std::size(kShapedSides))];
    if (pick < 98) return 45 + static_cast<int32_t>(Below(256));
    // Large in one direction: the other side of a large surface stays small.
    return kLargeSides[Below(std::size(kLargeSides))];
}

// A corner with `places` positions (1 or more) where the rectangle fits:
// one of them; a few pixels either side of them; anything from far out to
// the edges of the 32-bit range.
int32_t ScenarioGenerator::Coordinate(Fit fit, int32_t places) {
    if (fit == Fit::kFits) return static_cast<int32_t>(Below(static_cast<uint32_t>(places)));
    if (fit == Fit::kNearly) return static_cast<int32_t>(Below(static_cast<uint32_t>(places) + 6)) - 3;
    const uint32_t pick = Below(100);
    if (pick < 50) return static_cast<int32_t>(Below(2 * static_cast<uint32_t>(places) + 16)) - places - 8;
    if (pick < 85) return kEdgeValues[Below(std::size(kEdgeValues))];
    return static_cast<int32_t>(Random());
}

// A rectangle's side where `extent` pixels are free: up to it, a little past
// it (or nothing), anything.
int32_t ScenarioGenerator::Size(Fit fit, int32_t extent) {
    if (fit == Fit::kFits) return 1 + static_cast<int32_t>(Below(static_cast<uint32_t>(extent)));
    if (fit == Fit::kNearly) return static_cast<int32_t>(Below(static_cast<uint32_t>(extent) + 6)) - 1;
    const uint32_t pick = Below(100);
    if (pick < 40) return static_cast<int32_t>(Below(2 * static_cast<uint32_t>(extent) + 8)) - 4;
    if (pick < 85) return kEdgeValues[Below(std::size(kEdgeValues))];
    return static_cast<int32_t>(Random());
}

std::vector<uint8_t> ScenarioGenerator::Session() {
    ScenarioWriter w;
    // Mostly every component present and both interfaces handed over, with no fault.
    uint8_t setup = static_cast<uint8_t>(Random());
    if (Chance(88)) {
        setup = static_cast<uint8_t>(Below(4) << 6);  // the crossfade's form
        if (Chance(20)) setup |= 32;                  // the SurfaceTable first
    }
    const uint8_t faults = Chance(90) ? 0 : static_cast<uint8_t>(Below(64));
    const auto time = static_cast<uint32_t>(Random());
    w.Setup(setup, faults, time, static_cast<uint8_t>(Below(16)));
    const int count = Chance(70) ? 3 : 1 + static_cast<int>(Below(2));
    int32_t widths[4] = {1, 0, 0, 0}, heights[4] = {1, 0, 0, 0};  // by number; [0] the largest
    for (int i = 1; i <= count; ++i) {
        int32_t width = Side();
        int32_t height = Side();
        if (width > 300 && height > 300) height = 1 + static_cast<int32_t>(Below(44));
        widths[i] = width;
        heights[i] = height;
        widths[0] = std::max(widths[0], width);
        heights[0] = std::max(heights[0], height);
        // One draw a statement: the order of arguments' evaluation is the compiler's.
        const auto pitch = static_cast<ScenarioWriter::Pitch>(Below(4));
        const auto padding = static_cast<uint8_t>(1 + Below(64));
        const auto seed = static_cast<uint8_t>(Random());
        w.Surface(width, height, pitch, padding, seed);
    }
    auto number = [&] {
        return Chance(95) ? 1 + static_cast<int32_t>(Below(static_cast<uint32_t>(count)))
                          : kOddNumbers[Below(std::size(kOddNumbers))];
    };
    const int operations = 1 + static_cast<int>(Below(24));
    for (int op = 0; op < operations; ++op) {
        const uint32_t pick = Below(100);
        if (pick < 30) {
            const int32_t effect = Chance(90) ? veilshift::kEffectCatalog[Below(std::size(veilshift::kEffectCatalog))].number
                                              : kOtherEffects[Below(std::size(kOtherEffects))];
            // The rectangle by the smallest surface it names, each corner by
            // its own surface: mostly one that fits, some nearly, a few anything.
            const uint32_t mode = Below(100);
            const Fit fit = mode < 75 ? Fit::kFits : mode < 92 ? Fit::kNearly : Fit::kAnything;
            int32_t numbers[3];
            for (int32_t& n : numbers) n = number();
            int32_t width = INT32_MAX, height = INT32_MAX;
            for (int32_t n : numbers) {
                const int32_t k = n >= 1 && n <= count ? n : 0;
                width = std::min(width, widths[k]);
                height = std::min(height, heights[k]);
            }
            const int32_t rectWidth = Size(fit, width);
            const int32_t rectHeight = Size(fit, height);
            const int32_t placedWidth = std::clamp(rectWidth, 1, width), placedHeight = std::clamp(rectHeight, 1, height);
            int32_t corners[6];
            for (int i = 0; i < 3; ++i) {
                const int32_t k = numbers[i] >= 1 && numbers[i] <= count ? numbers[i] : 0;
                corners[2 * i] = Coordinate(fit, widths[k] - placedWidth + 1);
                corners[2 * i + 1] = Coordinate(fit, heights[k] - placedHeight + 1);
            }
            w.Begin(numbers[0], corners[0], corners[1], numbers[1], corners[2], corners[3], numbers[2], corners[4],
                    corners[5], rectWidth, rectHeight, effect);
            if (Chance(60)) w.Frames(static_cast<uint8_t>(1 + Below(12)));  // mostly a run of frames at once
        } else if (pick < 52) {
            w.Frames(static_cast<uint8_t>(1 + Below(12)));
        } else if (pick < 67) {
            const int32_t total = Chance(70) ? 1 + static_cast<int32_t>(Below(40))
                                             : kEdgeValues[Below(std::size(kEdgeValues))];
            const int64_t progress = Chance(80) ? static_cast<int64_t>(Below(static_cast<uint32_t>(
                                                      std::clamp<int64_t>(int64_t{total} + 3, 1, INT32_MAX)))) - 1
                                                : kEdgeValues[Below(std::size(kEdgeValues))];
            w.Draw(static_cast<int32_t>(progress), total);
        } else if (pick < 77) {
            w.End();
        } else if (pick < 82) {
            w.GiveScreenUpdater();
        } else if (pick < 87) {
            w.GiveSurfaceTable();
        } else if (pick < 91) {
            w.Withdraw(Chance(50));
        } else if (pick < 95) {
            const uint8_t bits = Chance(50) ? 0 : static_cast<uint8_t>(Below(64));
            w.Faults(bits, static_cast<uint32_t>(Random()));
        } else {
            // A few bytes of their own: the decoder's edge values, other ids.
            uint8_t bytes[8];
            const size_t n = 1 + Below(8);
            for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(Random());
            w.Raw(bytes, n);
        }
    }
    return w.Bytes();
}

std::vector<uint8_t> ScenarioGenerator::RandomBytes() {
    std::vector<uint8_t> bytes(7 + Below(200));
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(Random());
    return bytes;
}

std::vector<uint8_t> ScenarioGenerator::Next() { return Chance(85) ? Session() : RandomBytes(); }

}  // namespace robustness
