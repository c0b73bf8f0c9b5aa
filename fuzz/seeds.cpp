// Writes the seed corpus: the session scenarios of the test suite, as scenario
// bytes (see scenario.h). Usage: veilshift-fuzz-seeds FOLDER
//
// The seeds are tables: those written once for every effect (named
// "effect<N>-<name>"), those of the crossfade's forms, of Begin's and Draw's
// own checks, and of the host's side (components absent, interfaces late or
// withdrawn, faults, the timer's answers).
#include <climits>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Veilshift/effect_catalog.h"
#include "fuzz/scenario.h"

using robustness::ScenarioWriter;

namespace {

// Destination packed, A padded, B bottom-up and padded, as the session tests set them.
ScenarioWriter Stage(int32_t width, int32_t height, uint8_t setup = 0, uint8_t faults = 0,
                     uint32_t time = 0x2F6A91C3) {
    ScenarioWriter w;
    w.Setup(setup, faults, time)
        .Surface(width, height, ScenarioWriter::kTight, 1, 1)
        .Surface(width, height, ScenarioWriter::kPadded, 20, 2)
        .Surface(width, height, ScenarioWriter::kBottomUpPadded, 8, 3);
    return w;
}

// Three surfaces of different sizes and pitches (1 bottom-up, 2 padded, 3
// packed) and two transitions on them, with the tuning byte.
struct MixedShape {
    int32_t sides[3][2];
    uint8_t padding;  // surface 2's
    uint8_t frames[2];
};
constexpr MixedShape kMixedSizes{{{33, 17}, {20, 40}, {64, 9}}, 64, {16, 7}};
constexpr MixedShape kTunedSizes{{{45, 33}, {37, 40}, {64, 31}}, 9, {5, 3}};

ScenarioWriter Mixed(int32_t effect, const MixedShape& m, uint8_t tuning = 0) {
    ScenarioWriter w;
    w.Setup(0, 0, 7, tuning)
        .Surface(m.sides[0][0], m.sides[0][1], ScenarioWriter::kBottomUp)
        .Surface(m.sides[1][0], m.sides[1][1], ScenarioWriter::kPadded, m.padding)
        .Surface(m.sides[2][0], m.sides[2][1], ScenarioWriter::kTight)
        .Begin(1, 2, 1, 2, 0, 3, 3, 5, 0, 64, 64, effect)
        .Frames(m.frames[0])
        .Begin(3, 1, 1, 1, 0, 0, 2, 2, 2, 30, 30, effect)
        .Frames(m.frames[1]);
    return w;
}

// One scenario of an effect.
struct EffectSeed {
    const char* name;
    ScenarioWriter (*make)(int32_t effect);
};

const EffectSeed kEffectSeeds[] = {
    // A whole transition, and one on a part of the surfaces with clipping.
    {"whole", [](int32_t e) { return Stage(16, 12).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 12, e).Frames(8).End(); }},
    {"clipped",
     [](int32_t e) {
         return Stage(40, 30).Begin(1, -10, 5, 2, 3, -4, 3, 0, 2, 100, 100, e).Frames(5).Draw(9, 5).End().Draw(1, 2);
     }},
    // Tiny surfaces, odd sides, and every surface a different size.
    {"one-pixel", [](int32_t e) { return Stage(1, 1).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 1, 1, e).Frames(3); }},
    {"mixed-sizes", [](int32_t e) { return Mixed(e, kMixedSizes); }},
    // The other vector forms and the streaming stores, on small rectangles
    // (tuning bits: 1 scalar, 2 up to SSE2; 4 streaming from the first byte,
    // 8 from 4 KiB).
    {"scalar", [](int32_t e) { return Mixed(e, kTunedSizes, 1); }},
    {"sse2", [](int32_t e) { return Mixed(e, kTunedSizes, 2); }},
    {"streamed", [](int32_t e) { return Mixed(e, kTunedSizes, 4); }},
    {"streamed-4k", [](int32_t e) { return Mixed(e, kTunedSizes, 8); }},
    {"sse2-streamed", [](int32_t e) { return Mixed(e, kTunedSizes, 6); }},
    // Frame counts far beyond the usual range.
    {"huge-totals",
     [](int32_t e) {
         return Stage(24, 16)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 24, 16, e)
             .Draw(INT_MAX - 1, INT_MAX)
             .Draw(INT_MAX / 2, INT_MAX)
             .Draw(8421505, 8421506)
             .Draw(0, 1)
             .Draw(1, 3)
             .Draw(INT_MAX, INT_MAX)
             .Draw(INT_MAX, 1)
             .End();
     }},
    // One surface in two roles.
    {"dst-is-a", [](int32_t e) { return Stage(20, 20).Begin(1, 4, 4, 1, 0, 0, 3, 0, 0, 12, 12, e).Frames(4); }},
    {"a-is-b", [](int32_t e) { return Stage(20, 20).Begin(1, 0, 0, 2, 2, 2, 2, 6, 6, 12, 12, e).Frames(4); }},
    {"dst-is-b", [](int32_t e) { return Stage(20, 20).Begin(2, 0, 0, 1, 0, 0, 2, 3, 5, 16, 12, e).Frames(4); }},
    // Larger pictures, a few frames.
    {"320x240",
     [](int32_t e) {
         return Stage(320, 240).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 320, 240, e).Draw(0, 3).Draw(1, 3).Draw(3, 3);
     }},
    {"long-rows",
     [](int32_t e) {
         ScenarioWriter w;
         w.Setup(0, 0, 99)
             .Surface(2048, 2, ScenarioWriter::kBottomUpPadded, 3)
             .Surface(2, 2048, ScenarioWriter::kPadded, 5)
             .Surface(2047, 3, ScenarioWriter::kTight)
             .Begin(1, 0, 0, 3, 0, 0, 3, 0, 0, 2048, 2048, e)
             .Frames(3)
             .Begin(2, 0, 0, 2, 0, 1, 2, 1, 0, 2048, 2048, e)
             .Frames(2);
         return w;
     }},
};

// One scenario of its own.
struct Seed {
    const char* name;
    ScenarioWriter (*make)();
};

const Seed kSessionSeeds[] = {
    // The crossfade in each processor form (setup bits 6-7).
    {"crossfade-form1", [] { return Stage(37, 5, 1 << 6).Begin(1, 1, 0, 2, 0, 0, 3, 2, 1, 35, 4, 1).Frames(6); }},
    {"crossfade-form2", [] { return Stage(37, 5, 2 << 6).Begin(1, 1, 0, 2, 0, 0, 3, 2, 1, 35, 4, 1).Frames(6); }},
    {"crossfade-form3", [] { return Stage(37, 5, 3 << 6).Begin(1, 1, 0, 2, 0, 0, 3, 2, 1, 35, 4, 1).Frames(6); }},
    // Begin's own checks.
    {"clip-left", [] { return Stage(64, 48).Begin(1, -10, 0, 2, 0, 0, 3, 0, 0, 100, 20, 1).Draw(5, 5); }},
    {"clip-empty",
     [] {
         return Stage(64, 48)
             .Begin(1, 700, 0, 2, 0, 0, 3, 0, 0, 10, 10, 1)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 0, 10, 1)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 10, 0, 1)
             .Draw(1, 2)
             .Begin(1, -20, 0, 2, 0, 0, 3, 0, 0, 20, 10, 6)
             .Draw(1, 2);
     }},
    {"clip-extremes",
     [] {
         return Stage(64, 64)
             .Begin(1, 5, 0, 2, 0, 0, 3, 0, 0, INT_MAX, 10, 31)
             .Frames(3)
             .Begin(1, INT_MIN, 0, 2, INT_MAX, 0, 3, 0, 0, INT_MAX, 10, 1)
             .Begin(1, INT_MIN, INT_MIN, 2, 0, 0, 3, 0, 0, INT_MAX, INT_MAX, 34)
             .Begin(1, -1, -1, 2, 0, 0, 3, 0, 0, INT_MAX, INT_MAX, 34)
             .Frames(2)
             .Begin(1, INT_MAX, INT_MAX, 2, INT_MIN, INT_MIN, 3, -1, -1, INT_MIN, INT_MIN, 40)
             .Begin(1, 63, 63, 2, 63, 63, 3, 63, 63, 1, 1, 41)
             .Frames(2);
     }},
    {"bad-effects",
     [] {
         return Stage(32, 32)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 0)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 2)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 42)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, -1)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, INT_MIN)
             .Draw(1, 2)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 1)
             .Draw(1, 2);
     }},
    {"unresolved-surfaces",
     [] {
         return Stage(32, 32)
             .Begin(9, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 1)
             .Begin(1, 0, 0, 9, 0, 0, 3, 0, 0, 32, 32, 42)
             .Begin(1, 0, 0, 2, 0, 0, -1, 0, 0, 32, 32, -1)
             .Begin(INT_MIN, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 40)
             .Draw(1, 2);
     }},
    {"draw-edges",
     [] {
         return Stage(32, 32)
             .Draw(1, 2)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 6)
             .Draw(5, 5)
             .Draw(9, 5)
             .Draw(0, 0)
             .Draw(-1, 5)
             .Draw(INT_MIN, INT_MIN)
             .Draw(INT_MAX, INT_MIN)
             .End()
             .Draw(1, 2)
             .End()
             .End();
     }},
    {"work-surface-twice",
     [] {
         return Stage(32, 32)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 40)
             .Frames(2)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 41)
             .Frames(2)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 34)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 40);
     }},
    {"transitions-in-a-row",
     [] {
         return Stage(48, 32)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 48, 32, 34)
             .Frames(4)
             .End()
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 48, 32, 34)
             .Frames(2)
             .Begin(1, 8, 8, 2, 0, 0, 3, 0, 0, 20, 20, 31)
             .Frames(3)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 48, 32, 40)
             .Frames(3)
             .End()
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 48, 32, 1)
             .Frames(2);
     }},
    // The host's side. Setup bits: 1, 2, 4 component absent; 8 no
    // ScreenUpdater, 16 no SurfaceTable; 32 table first.
    {"interfaces-late",
     [] {
         return Stage(16, 16, 8 | 16)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 1)
             .GiveSurfaceTable()
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 42)
             .GiveScreenUpdater()
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 1)
             .Frames(2);
     }},
    // The host takes an interface back (null in its place) in mid-session.
    {"interfaces-withdrawn",
     [] {
         return Stage(16, 16)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 1)
             .Withdraw(true)
             .Draw(1, 4)
             .Draw(4, 4)
             .Withdraw(false)
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 6)
             .Draw(1, 4)
             .End()
             .GiveSurfaceTable()
             .GiveScreenUpdater()
             .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 31)
             .Frames(2);
     }},
    {"table-first", [] { return Stage(16, 16, 32).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 6).Frames(2); }},
};

// The host's side with one set of bits: components absent (setup bits), or a
// fault (fault bits: 1, 2, 4 factory null; 8 IsReady false; 16 CreateSurface
// fails; 32 timer lookup fails).
struct BitsSeed {
    const char* name;
    uint8_t bits;
};
const BitsSeed kAbsentSeeds[] = {{"no-corvane", 1}, {"no-platewright", 2}, {"no-pixmill", 4}, {"no-components", 7}};
const BitsSeed kFaultSeeds[] = {{"fault-corvane-null", 1}, {"fault-platewright-null", 2},
                                {"fault-pixmill-null", 4}, {"fault-not-ready", 8},
                                {"fault-no-work-surface", 16}, {"fault-no-timer", 32}};

ScenarioWriter Absent(uint8_t bits) {
    return Stage(16, 16, bits)
        .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 1)
        .Draw(0, 2)
        .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 40);
}

ScenarioWriter Faulty(uint8_t bits) {
    return Stage(16, 16, 0, bits)
        .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 40)
        .Draw(1, 2)
        .Faults(0, 12345)
        .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 34)
        .Frames(2)
        .Faults(bits, 1)
        .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 41)
        .Frames(2);
}

// What the host's timer answers, which seeds the shatter.
constexpr uint32_t kShatterTimes[] = {0u, 1u, 0xFFFFFFFFu, 0x80000000u};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veilshift-fuzz-seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    int written = 0;
    auto save = [&](const std::string& name, const ScenarioWriter& w) {
        const std::vector<uint8_t> bytes = w.Bytes();
        std::ofstream(folder + "/seed-" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ++written;
    };

    for (const veilshift::EffectCatalogEntry& effect : veilshift::kEffectCatalog)
        for (const EffectSeed& seed : kEffectSeeds)
            save("effect" + std::to_string(effect.number) + "-" + seed.name, seed.make(effect.number));
    for (const Seed& seed : kSessionSeeds) save(seed.name, seed.make());
    for (const BitsSeed& seed : kAbsentSeeds) save(seed.name, Absent(seed.bits));
    for (const BitsSeed& seed : kFaultSeeds) save(seed.name, Faulty(seed.bits));
    for (uint32_t time : kShatterTimes)
        save("shatter-time-" + std::to_string(time),
             Stage(64, 48, 0, 0, time).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 64, 48, 34).Frames(6));

    std::printf("%d seed scenarios written to %s\n", written, folder.c_str());
    return 0;
}
