// The robustness scenarios in the suite: the committed corpus through the test
// process's own module (where leaks can be counted), the scenario checks
// themselves catching planted faults, and the findings of fuzzing runs, each
// as the scenario that showed it.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "Veilshift/form_rules.h"
#include "Veilshift/transitions/crossfade.h"
#include "Veilshift/transitions/mosaic_forms.h"
#include "fuzz/in_process_target.h"
#include "fuzz/scenario.h"
#include "fuzz/scenario_generator.h"

namespace robustness {
namespace {

std::string RunOf(const ScenarioWriter& scenario) {
    InProcessTarget target;
    const std::vector<uint8_t> bytes = scenario.Bytes();
    return RunScenario(bytes.data(), bytes.size(), target);
}

ScenarioWriter ThreeSurfaces(int32_t width, int32_t height) {
    ScenarioWriter w;
    w.Setup(0, 0, 0x2F6A91C3)
        .Surface(width, height, ScenarioWriter::kTight)
        .Surface(width, height, ScenarioWriter::kPadded, 20, 2)
        .Surface(width, height, ScenarioWriter::kBottomUpPadded, 8, 3);
    return w;
}

#if defined(VEILSHIFT_FUZZ_CORPUS)
TEST(RobustnessCorpus, EveryScenarioHoldsAndLeaksNothing) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(VEILSHIFT_FUZZ_CORPUS))
        if (entry.is_regular_file()) files.push_back(entry.path());
    ASSERT_GE(files.size(), 50u);
    InProcessTarget target;  // one host for all, a fresh module each
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(RunScenario(bytes.data(), bytes.size(), target), "") << file.filename().string();
    }
}
#endif

// A module that misbehaves after each frame in one planted way, to show that
// the checks see it.
class Planted final : public ModuleUnderTest {
public:
    enum Fault { kStrayPixel, kSourcePixel, kGuardByte, kLeak, kLastRowGuardByte };
    explicit Planted(Fault fault) : fault_(fault) {}

    refhost::Host& PrepareHost(bool c, bool p, bool x) override { return *(host_ = &inner_.PrepareHost(c, p, x)); }
    void Load() override { inner_.Load(); }
    veilshift::PluginInterface* Plugin() override { return inner_.Plugin(); }
    bool Begin(int32_t d, int32_t dx, int32_t dy, int32_t a, int32_t ax, int32_t ay, int32_t b, int32_t bx,
               int32_t by, int32_t w, int32_t h, int32_t e) override {
        return inner_.Begin(d, dx, dy, a, ax, ay, b, bx, by, w, h, e);
    }
    void Draw(int32_t progress, int32_t total) override {
        inner_.Draw(progress, total);
        refhost::TestSurface& dst = *host_->Surface(1);
        if (fault_ == kStrayPixel) dst.SetPixel(dst.PixelWidth() - 1, dst.PixelHeight() - 1, {1, 2, 3});
        if (fault_ == kSourcePixel) host_->Surface(2)->SetPixel(0, 0, {9, 9, 9});
        if (fault_ == kGuardByte) dst.At(dst.PixelWidth() - 1, 0)[3] ^= 0xFF;  // just past the row
        if (fault_ == kLastRowGuardByte) dst.At(dst.PixelWidth() - 1, dst.PixelHeight() - 1)[3] ^= 0xFF;
    }
    void End() override { inner_.End(); }
    void Unload() override { inner_.Unload(); }
    int64_t Outstanding() const override { return inner_.Outstanding() + (fault_ == kLeak ? 1 : 0); }
    bool StoredRect(int32_t rect[8]) const override { return inner_.StoredRect(rect); }

private:
    Fault fault_;
    InProcessTarget inner_;
    refhost::Host* host_ = nullptr;
};

TEST(RobustnessChecks, SeePixelsGuardsAndLeaksAMisbehavingModuleTouches) {
    // The rectangle leaves the destination's last column and row alone; the
    // destination's rows are padded so that a byte past a row is a guard byte.
    ScenarioWriter scenario;
    scenario.Setup(0, 0, 1)
        .Surface(16, 12, ScenarioWriter::kPadded, 4)
        .Surface(16, 12, ScenarioWriter::kTight)
        .Surface(16, 12, ScenarioWriter::kBottomUp)
        .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 15, 11, 1)
        .Draw(1, 4);
    const std::vector<uint8_t> bytes = scenario.Bytes();
    const std::pair<Planted::Fault, const char*> cases[] = {{Planted::kStrayPixel, "changed outside"},
                                                            {Planted::kSourcePixel, "of surface 2 changed"},
                                                            {Planted::kGuardByte, "guard bytes"},
                                                            {Planted::kLeak, "leaked"}};
    for (const auto& [fault, expected] : cases) {
        Planted module(fault);
        const std::string failure = RunScenario(bytes.data(), bytes.size(), module);
        EXPECT_NE(failure.find(expected), std::string::npos) << fault << ": " << failure;
    }
    InProcessTarget honest;
    EXPECT_EQ(RunScenario(bytes.data(), bytes.size(), honest), "");
}

// Sampled checks compare a few rows of a large surface after each call, so
// a stray byte far from the drawn rectangle may show only at unload; checks
// of every byte name the frame that wrote it.
TEST(RobustnessChecks, SampledChecksFindFarFaultsByUnloadAndEveryByteChecksAtTheFrame) {
    ScenarioWriter scenario;
    scenario.Setup(0, 0, 1)
        .Surface(40, 120, ScenarioWriter::kPadded, 4)
        .Surface(40, 120, ScenarioWriter::kTight)
        .Surface(40, 120, ScenarioWriter::kBottomUpPadded)
        .Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 12, 3, 1)
        .Frames(4);
    const std::vector<uint8_t> bytes = scenario.Bytes();
    // Both in the destination's last row, far below the rectangle.
    for (Planted::Fault fault : {Planted::kStrayPixel, Planted::kLastRowGuardByte}) {
        for (Checks checks : {Checks::kSampled, Checks::kEveryByte}) {
            Planted module(fault);
            const std::string failure = RunScenario(bytes.data(), bytes.size(), module, nullptr, checks);
            const std::string expected = fault == Planted::kStrayPixel ? "changed outside" : "guard bytes";
            EXPECT_NE(failure.find(expected), std::string::npos) << fault << ": " << failure;
            if (checks == Checks::kEveryByte) {
                EXPECT_EQ(failure.rfind("Draw(0, ", 0), 0u) << failure;
            }
        }
    }
    InProcessTarget honest;
    EXPECT_EQ(RunScenario(bytes.data(), bytes.size(), honest, nullptr, Checks::kEveryByte), "");
}

// Sides from one pixel to the largest, as the writer puts them: the decoder
// gives the same surfaces (beyond 2^22 pixels in all a surface loses rows).
TEST(RobustnessChecks, WrittenSurfacesAreTheSurfacesDecoded) {
    class Probe final : public ModuleUnderTest {
    public:
        refhost::Host& PrepareHost(bool c, bool p, bool x) override { return *(host_ = &inner_.PrepareHost(c, p, x)); }
        void Load() override { inner_.Load(); }
        veilshift::PluginInterface* Plugin() override { return inner_.Plugin(); }
        bool Begin(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                   int32_t, int32_t) override {
            for (int32_t n = 1; n <= 3; ++n)
                if (const refhost::TestSurface* s = host_->Surface(n))
                    seen.push_back({s->PixelWidth(), s->PixelHeight(), s->RowPitch()});
            return false;
        }
        void Draw(int32_t, int32_t) override {}
        void End() override {}
        void Unload() override { inner_.Unload(); }
        std::vector<std::array<int32_t, 3>> seen;

    private:
        InProcessTarget inner_;
        refhost::Host* host_ = nullptr;
    };
    const std::array<int32_t, 3> cases[][3] = {
        {{1, 1, 3}, {44, 2, 132}, {45, 3, -135}},
        {{97, 257, 97 * 3 + 9}, {2048, 1, 2048 * 3}, {1, 2048, -(1 * 3 + 64)}},
        {{2048, 2048, 2048 * 3}, {1023, 7, 1023 * 3}, {2, 2, 6}},  // no room left: one row each
    };
    const std::array<int32_t, 3> expected[][3] = {
        {{1, 1, 3}, {44, 2, 132}, {45, 3, -135}},
        {{97, 257, 97 * 3 + 9}, {2048, 1, 2048 * 3}, {1, 2048, -(1 * 3 + 64)}},
        {{2048, 2048, 2048 * 3}, {1023, 1, 1023 * 3}, {2, 1, 6}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        ScenarioWriter w;
        w.Setup(0, 0, 1);
        for (const auto& [width, height, pitch] : cases[i]) {
            const int32_t stride = pitch < 0 ? -pitch : pitch;
            const auto form = stride == width * 3 ? (pitch < 0 ? ScenarioWriter::kBottomUp : ScenarioWriter::kTight)
                                                  : (pitch < 0 ? ScenarioWriter::kBottomUpPadded : ScenarioWriter::kPadded);
            w.Surface(width, height, form, static_cast<uint8_t>(stride - width * 3));
        }
        w.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 1, 1, 1);
        Probe probe;
        const std::vector<uint8_t> bytes = w.Bytes();
        EXPECT_EQ(RunScenario(bytes.data(), bytes.size(), probe), "");
        ASSERT_EQ(probe.seen.size(), 3u);
        for (size_t n = 0; n < 3; ++n) EXPECT_EQ(probe.seen[n], expected[i][n]) << "case " << i << ", surface " << n + 1;
    }
}

// The tuning byte: every effect whole under every vector form and streaming
// choice, and the module-wide settings put back afterwards.
TEST(RobustnessChecks, TunedSessionsHoldAndLeaveTheModuleAsTheyFoundIt) {
    for (uint8_t tuning : {1, 2, 4, 8, 6, 9}) {
        for (int32_t effect : {1, 6, 31, 34, 40, 41}) {
            ScenarioWriter s;
            s.Setup(0, 0, 0x2F6A91C3, tuning)
                .Surface(45, 33, ScenarioWriter::kTight)
                .Surface(47, 40, ScenarioWriter::kPadded, 20, 2)
                .Surface(64, 31, ScenarioWriter::kBottomUpPadded, 8, 3);
            s.Begin(1, 1, 2, 2, 0, 1, 3, 3, 0, 44, 29, effect).Frames(4).End();
            EXPECT_EQ(RunOf(s), "") << "effect " << effect << ", tuning " << int{tuning};
        }
    }
    EXPECT_EQ(veilshift::moduleState.hooks.streamingBytes, veilshift::kStreamingByCaches);
    veilshift::moduleState.settled.features = veilshift::DetectProcessorFeatures();
    const veilshift::ProcessorFeatures allowed = veilshift::CurrentFormSettings().features;
    EXPECT_EQ(allowed.sse2, veilshift::DetectProcessorFeatures().sse2);
    EXPECT_EQ(allowed.avx2, veilshift::DetectProcessorFeatures().avx2);
}

// The generated stream the DLL replays under Windows (veilshift-dll-stream),
// here through the test process's own module, where leaks are counted: every
// scenario holds, and enough of them start transitions and draw frames for
// the stream to test the drawing at all.
TEST(RobustnessGenerated, AStreamOfScenariosHoldsAndDraws) {
    ScenarioGenerator generator(1);
    InProcessTarget target(/*quiet=*/true);
    ScenarioStats stats;
    for (int i = 0; i < 300; ++i) {
        const std::vector<uint8_t> bytes = generator.Next();
        ASSERT_EQ(RunScenario(bytes.data(), bytes.size(), target, &stats), "") << "scenario " << i;
    }
    EXPECT_GT(stats.started, stats.begins / 5) << stats.begins << " Begin calls";
    EXPECT_GT(stats.frames, 2000);
}

TEST(RobustnessChecks, WholeSessionsOfEveryEffectHold) {
    for (int32_t effect : {1, 6, 31, 34, 40, 41}) {
        ScenarioWriter s = ThreeSurfaces(23, 17);
        s.Begin(1, -3, 2, 2, 1, -1, 3, 4, 0, 30, 30, effect).Frames(6).Draw(INT_MAX - 1, INT_MAX).End();
        s.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, INT_MAX, INT_MAX, effect).Draw(0, 1).Draw(1, 1);
        EXPECT_EQ(RunOf(s), "") << "effect " << effect;
    }
}

// Findings of the fuzzing runs.

// The host hands over null in place of an interface once the module is
// connected: frames are still drawn (no screen update is asked for), and Begin
// without a SurfaceTable fails instead of calling through null.
TEST(RobustnessFindings, HostWithdrawsItsInterfacesMidSession) {
    for (int32_t effect : {1, 34, 40}) {
        ScenarioWriter s = ThreeSurfaces(16, 16);
        s.Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, effect).Withdraw(true).Draw(1, 4).Draw(4, 4);
        s.Withdraw(false).Begin(1, 0, 0, 2, 0, 0, 3, 0, 0, 16, 16, effect).Draw(1, 4).End();
        s.GiveSurfaceTable().GiveScreenUpdater().Begin(1, 2, 2, 2, 0, 0, 3, 0, 0, 8, 8, effect).Frames(2);
        EXPECT_EQ(RunOf(s), "") << "effect " << effect;
    }
}

// The next two showed only under AddressSanitizer (an overlapping memcpy);
// elsewhere the scenario holds either way.

// Shatter with one surface as destination, source A and source B: the texel
// copy of the renderer's span filler reads and writes overlapping bytes.
TEST(RobustnessFindings, ShatterOnOneSurfaceInAllThreeRoles) {
    ScenarioWriter s;
    s.Setup(0, 0, 1980235783).Surface(320, 169, ScenarioWriter::kTight);
    s.Begin(1, 0, 0, 1, 0, 0, 1, 0, 0, 134234112, INT_MAX - 1, 34).Draw(0, 7).Draw(1, 7);
    EXPECT_EQ(RunOf(s), "");
}

// Ripple with source A the destination itself, one pixel to the side: a row
// copy of a uniform strip read and wrote overlapping bytes.
TEST(RobustnessFindings, RippleFromTheDestinationItself) {
    ScenarioWriter s;
    s.Setup(0, 0, 795513283)
        .Surface(10, 16, ScenarioWriter::kTight)
        .Surface(1, 1, ScenarioWriter::kTight)
        .Surface(11, 16, ScenarioWriter::kBottomUp);
    s.Begin(3, 0, 0, 3, -1, 0, 1, 0, 1, 9, 1, 31).Draw(0, INT_MAX);
    EXPECT_EQ(RunOf(s), "");
}

}  // namespace
}  // namespace robustness
