// Writes the seed corpus: the session scenarios of the test suite, as scenario
// bytes (see scenario.h). Usage: veilshift-fuzz-seeds FOLDER
#include <climits>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/scenario.h"

using robustness::ScenarioWriter;

namespace {

constexpr int32_t kEffects[] = {1, 6, 31, 34, 40, 41};

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

    for (int32_t effect : kEffects) {
        const std::string e = std::to_string(effect);
        // A whole transition, and one on a part of the surfaces with clipping.
        save("effect" + e + "-whole",
             Stage(16, 12).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 12, effect).Frames(8).End());
        save("effect" + e + "-clipped", Stage(40, 30)
                                            .Begin(1, -10, 5, 2, 3, -4, 3, 0, 2, 100, 100, effect)
                                            .Frames(5)
                                            .Draw(9, 5)
                                            .End()
                                            .Draw(1, 2));
        // Tiny surfaces, odd sides, and every surface a different size.
        save("effect" + e + "-one-pixel", Stage(1, 1).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 1, 1, effect).Frames(3));
        save("effect" + e + "-mixed-sizes", ScenarioWriter()
                                                .Setup(0, 0, 7)
                                                .Surface(33, 17, ScenarioWriter::kBottomUp)
                                                .Surface(20, 40, ScenarioWriter::kPadded, 64)
                                                .Surface(64, 9, ScenarioWriter::kTight)
                                                .Begin(1, 2, 1, 2, 0, 3, 3, 5, 0, 64, 64, effect)
                                                .Frames(16)
                                                .Begin(3, 1, 1, 1, 0, 0, 2, 2, 2, 30, 30, effect)
                                                .Frames(7));
        // The other vector forms and the streaming stores, on small rectangles
        // (tuning bits: 1 scalar, 2 up to SSE2; 4 streaming from the first
        // byte, 8 from 4 KiB).
        const std::pair<const char*, uint8_t> tunings[] = {
            {"scalar", 1}, {"sse2", 2}, {"streamed", 4}, {"streamed-4k", 8}, {"sse2-streamed", 6}};
        for (const auto& [name, tuning] : tunings)
            save("effect" + e + "-" + name, ScenarioWriter()
                                                .Setup(0, 0, 7, tuning)
                                                .Surface(45, 33, ScenarioWriter::kBottomUp)
                                                .Surface(37, 40, ScenarioWriter::kPadded, 9)
                                                .Surface(64, 31, ScenarioWriter::kTight)
                                                .Begin(1, 2, 1, 2, 0, 3, 3, 5, 0, 64, 64, effect)
                                                .Frames(5)
                                                .Begin(3, 1, 1, 1, 0, 0, 2, 2, 2, 30, 30, effect)
                                                .Frames(3));
        // Frame counts far beyond the usual range.
        save("effect" + e + "-huge-totals", Stage(24, 16)
                                                .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 24, 16, effect)
                                                .Draw(INT_MAX - 1, INT_MAX)
                                                .Draw(INT_MAX / 2, INT_MAX)
                                                .Draw(8421505, 8421506)
                                                .Draw(0, 1)
                                                .Draw(1, 3)
                                                .Draw(INT_MAX, INT_MAX)
                                                .Draw(INT_MAX, 1)
                                                .End());
        // One surface in two roles.
        save("effect" + e + "-dst-is-a", Stage(20, 20).Begin(1, 4, 4, 1, 0, 0, 3, 0, 0, 12, 12, effect).Frames(4));
        save("effect" + e + "-a-is-b", Stage(20, 20).Begin(1, 0, 0, 2, 2, 2, 2, 6, 6, 12, 12, effect).Frames(4));
        save("effect" + e + "-dst-is-b", Stage(20, 20).Begin(2, 0, 0, 1, 0, 0, 2, 3, 5, 16, 12, effect).Frames(4));
        // Larger pictures, a few frames.
        save("effect" + e + "-320x240", Stage(320, 240)
                                            .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 320, 240, effect)
                                            .Draw(0, 3)
                                            .Draw(1, 3)
                                            .Draw(3, 3));
        save("effect" + e + "-long-rows", ScenarioWriter()
                                              .Setup(0, 0, 99)
                                              .Surface(2048, 2, ScenarioWriter::kBottomUpPadded, 3)
                                              .Surface(2, 2048, ScenarioWriter::kPadded, 5)
                                              .Surface(2047, 3, ScenarioWriter::kTight)
                                              .Begin(1, 0, 0, 3, 0, 0, 3, 0, 0, 2048, 2048, effect)
                                              .Frames(3)
                                              .Begin(2, 0, 0, 2, 0, 1, 2, 1, 0, 2048, 2048, effect)
                                              .Frames(2));
    }

    // The crossfade in each processor form.
    for (uint8_t form : {ScenarioWriter::kFormScalar, ScenarioWriter::kFormMmx, ScenarioWriter::kFormSse})
        save("crossfade-form" + std::to_string(form), Stage(37, 5, static_cast<uint8_t>(form << 6))
                                                          .Begin(1, 1, 0, 2, 0, 0, 3, 2, 1, 35, 4, 1)
                                                          .Frames(6));

    // Begin's own checks.
    save("clip-left", Stage(64, 48).Begin(1, -10, 0, 2, 0, 0, 3, 0, 0, 100, 20, 1).Draw(5, 5));
    save("clip-empty", Stage(64, 48)
                           .Begin(1, 700, 0, 2, 0, 0, 3, 0, 0, 10, 10, 1)
                           .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 0, 10, 1)
                           .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 10, 0, 1)
                           .Draw(1, 2)
                           .Begin(1, -20, 0, 2, 0, 0, 3, 0, 0, 20, 10, 6)
                           .Draw(1, 2));
    save("clip-extremes", Stage(64, 64)
                              .Begin(1, 5, 0, 2, 0, 0, 3, 0, 0, INT_MAX, 10, 31)
                              .Frames(3)
                              .Begin(1, INT_MIN, 0, 2, INT_MAX, 0, 3, 0, 0, INT_MAX, 10, 1)
                              .Begin(1, INT_MIN, INT_MIN, 2, 0, 0, 3, 0, 0, INT_MAX, INT_MAX, 34)
                              .Begin(1, -1, -1, 2, 0, 0, 3, 0, 0, INT_MAX, INT_MAX, 34)
                              .Frames(2)
                              .Begin(1, INT_MAX, INT_MAX, 2, INT_MIN, INT_MIN, 3, -1, -1, INT_MIN, INT_MIN, 40)
                              .Begin(1, 63, 63, 2, 63, 63, 3, 63, 63, 1, 1, 41)
                              .Frames(2));
    save("bad-effects", Stage(32, 32)
                            .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 0)
                            .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 2)
                            .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 42)
                            .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, -1)
                            .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, INT_MIN)
                            .Draw(1, 2)
                            .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 1)
                            .Draw(1, 2));
    save("unresolved-surfaces", Stage(32, 32)
                                    .Begin(9, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 1)
                                    .Begin(1, 0, 0, 9, 0, 0, 3, 0, 0, 32, 32, 42)
                                    .Begin(1, 0, 0, 2, 0, 0, -1, 0, 0, 32, 32, -1)
                                    .Begin(INT_MIN, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 40)
                                    .Draw(1, 2));
    save("draw-edges", Stage(32, 32)
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
                           .End());
    save("work-surface-twice", Stage(32, 32)
                                   .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 32, 32, 40)
                                   .Frames(2)
                                   .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 41)
                                   .Frames(2)
                                   .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 34)
                                   .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 40));
    save("transitions-in-a-row", Stage(48, 32)
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
                                     .Frames(2));

    // The host's side: interfaces and faults. Setup bits: 1, 2, 4 component
    // absent; 8 no ScreenUpdater, 16 no SurfaceTable; 32 table first.
    // Fault bits: 1, 2, 4 factory null; 8 IsReady false; 16 CreateSurface fails;
    // 32 timer lookup fails.
    const std::pair<const char*, uint8_t> absent[] = {
        {"no-corvane", 1}, {"no-platewright", 2}, {"no-pixmill", 4}, {"no-components", 7}};
    for (const auto& [name, bits] : absent)
        save(name, Stage(16, 16, bits).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 1).Draw(0, 2).Begin(
                       1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 40));
    save("interfaces-late", Stage(16, 16, 8 | 16)
                                .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 1)
                                .GiveSurfaceTable()
                                .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 42)
                                .GiveScreenUpdater()
                                .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 1)
                                .Frames(2));
    // The host takes an interface back (null in its place) in mid-session.
    save("interfaces-withdrawn", Stage(16, 16)
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
                                     .Frames(2));
    save("table-first", Stage(16, 16, 32).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 6).Frames(2));
    const std::pair<const char*, uint8_t> faults[] = {{"corvane-null", 1},  {"platewright-null", 2},
                                                      {"pixmill-null", 4},  {"not-ready", 8},
                                                      {"no-work-surface", 16}, {"no-timer", 32}};
    for (const auto& [name, bits] : faults)
        save(std::string("fault-") + name, Stage(16, 16, 0, bits)
                                               .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 40)
                                               .Draw(1, 2)
                                               .Faults(0, 12345)
                                               .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 34)
                                               .Frames(2)
                                               .Faults(bits, 1)
                                               .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, 41)
                                               .Frames(2));
    for (uint32_t time : {0u, 1u, 0xFFFFFFFFu, 0x80000000u})
        save("shatter-time-" + std::to_string(time),
             Stage(64, 48, 0, 0, time).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 64, 48, 34).Frames(6));

    std::printf("%d seed scenarios written to %s\n", written, folder.c_str());
    return 0;
}
