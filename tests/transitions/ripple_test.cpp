// Effect 31: the shift tables (worked examples, the formula entry by entry, the
// same bits in every build and x87 precision), exact frames against a per-pixel
// model with and without the transition's scratch, allocation failure, one
// surface in several roles, the host calls, and whole sessions.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Veilshift/frame_math.h"
#include "Veilshift/memory.h"
#include "Veilshift/platform/fpu_precision.h"
#include "Veilshift/transition_forms.h"
#include "Veilshift/transitions/ripple.h"
#include "effects_2d_support.h"
#include "session_fixture.h"

namespace effects2d {
namespace {

using veilshift::ComputeRippleShifts;
using veilshift::RippleRect;
using veilshift::RippleWaveOf;

struct Shifts {
    std::vector<int32_t> columns, rows;
};

Shifts Compute(int32_t width, int32_t height, int32_t progress, int32_t total) {
    Shifts s{std::vector<int32_t>(static_cast<size_t>(width), 12345),
             std::vector<int32_t>(static_cast<size_t>(height), 12345)};
    ComputeRippleShifts(width, height, progress, total, s.columns.data(), s.rows.data());
    return s;
}

std::vector<int32_t> Prefix(const std::vector<int32_t>& v, size_t n) { return {v.begin(), v.begin() + n}; }

// The displacement of the column (or row) `offset` pixels from the centre,
// evaluated from the frame counters alone.
VS_PRECISION_BOUNDARY int32_t ModelShiftUnguarded(int32_t offset, int32_t width, int32_t progress, int32_t total) {
    const int32_t halfTotal = total / 2;
    if (halfTotal == 0) return 0;
    const int64_t q = progress < halfTotal ? progress : int64_t{total} - progress;
    const int64_t amp = (width / 16) * q / halfTotal;
    const double waves = static_cast<double>(16 * q) / halfTotal + 1.0;
    const double angle = static_cast<double>(int64_t{offset} * 360) * waves / width * static_cast<double>(0.017453292f);
    volatile double sine = std::sin(angle);  // a double, also where the sine came back wider
    return static_cast<int32_t>(static_cast<double>(amp) * sine);
}

int32_t ModelShift(int32_t offset, int32_t width, int32_t progress, int32_t total) {
    veilshift::platform::FpuDoublePrecision precision;
    return ModelShiftUnguarded(offset, width, progress, total);
}

TEST(RippleShifts, WorkedExamplesAt640x480Over60Frames) {
    veilshift::RippleWave wave = RippleWaveOf(640, 15, 60);
    EXPECT_EQ(wave.amp, 20);
    EXPECT_EQ(wave.waves, 9.0);
    Shifts s = Compute(640, 480, 15, 60);
    EXPECT_EQ(Prefix(s.columns, 6), (std::vector<int32_t>{0, -1, -3, -5, -6, -8}));
    EXPECT_EQ(*std::min_element(s.columns.begin(), s.columns.end()), -19);
    EXPECT_EQ(*std::max_element(s.columns.begin(), s.columns.end()), 19);

    wave = RippleWaveOf(640, 30, 60);
    EXPECT_EQ(wave.amp, 40);
    EXPECT_EQ(wave.waves, 17.0);
    s = Compute(640, 480, 30, 60);
    EXPECT_EQ(Prefix(s.columns, 6), (std::vector<int32_t>{0, -6, -13, -19, -24, -29}));
    EXPECT_EQ(*std::min_element(s.columns.begin(), s.columns.end()), -39);
    EXPECT_EQ(*std::max_element(s.columns.begin(), s.columns.end()), 39);
    // Rows share the columns' wavelength: the row table is the column table's middle.
    EXPECT_EQ(std::vector<int32_t>(s.columns.begin() + 80, s.columns.begin() + 560), s.rows);

    wave = RippleWaveOf(640, 59, 60);
    EXPECT_EQ(wave.amp, 1);
    EXPECT_EQ(wave.waves, 16.0 / 30.0 + 1.0);
    s = Compute(640, 480, 59, 60);
    EXPECT_EQ(s.columns, std::vector<int32_t>(640, 0));
    EXPECT_EQ(s.rows, std::vector<int32_t>(480, 0));

    // The centre column and row never move; frames p and total - p share their tables.
    for (int32_t p = 0; p < 60; ++p) {
        s = Compute(640, 480, p, 60);
        EXPECT_EQ(s.columns[320], 0) << p;
        EXPECT_EQ(s.rows[240], 0) << p;
        if (p >= 1 && p < 30) {
            Shifts mirror = Compute(640, 480, 60 - p, 60);
            EXPECT_EQ(mirror.columns, s.columns) << p;
            EXPECT_EQ(mirror.rows, s.rows) << p;
        }
    }
}

TEST(RippleShifts, OddTotalsPeakPastTheMiddleAndSmallCasesStayFlat) {
    veilshift::RippleWave wave = RippleWaveOf(640, 1, 3);
    EXPECT_EQ(wave.amp, 80);
    EXPECT_EQ(wave.waves, 33.0);
    Shifts s = Compute(640, 480, 1, 3);
    EXPECT_EQ(*std::max_element(s.columns.begin(), s.columns.end()), 79);

    // Narrower than 16 pixels: no frame ripples.
    for (int32_t p = 0; p < 9; ++p) {
        s = Compute(15, 40, p, 9);
        EXPECT_EQ(s.columns, std::vector<int32_t>(15, 0)) << p;
        EXPECT_EQ(s.rows, std::vector<int32_t>(40, 0)) << p;
    }
    // A one-frame transition: all flat. (Counters that are no frame never get
    // here: Session.DrawOutsideASessionOrWithBadCountersDoesNothing.)
    wave = RippleWaveOf(640, 0, 1);
    EXPECT_EQ(wave.amp, 0);
    EXPECT_EQ(wave.waves, 1.0);
    s = Compute(64, 48, 0, 1);
    EXPECT_EQ(s.columns, std::vector<int32_t>(64, 0));
    EXPECT_EQ(s.rows, std::vector<int32_t>(48, 0));
}

TEST(RippleShifts, HugeFrameCountsFollowTheFormulaWithinTheAmplitude) {
    const int32_t total = INT32_MAX, half = INT32_MAX / 2;
    veilshift::RippleWave wave = RippleWaveOf(640, half, total);  // q = half + 1
    EXPECT_EQ(wave.amp, 40);
    EXPECT_NEAR(wave.waves, 17.0, 1e-6);
    for (int32_t p : {half, 8'421'505, 1'500'000'000, total - 1}) {
        wave = RippleWaveOf(640, p, total);
        EXPECT_GE(wave.amp, 0);
        EXPECT_LE(wave.amp, 40);
        Shifts s = Compute(640, 97, p, total);
        for (int32_t v : s.columns) ASSERT_LE(std::abs(v), wave.amp) << p;
        for (int32_t v : s.rows) ASSERT_LE(std::abs(v), wave.amp) << p;
        EXPECT_EQ(s.columns[100], ModelShift(100 - 320, 640, p, total)) << p;
    }
}

TEST(RippleShifts, EveryEntryMatchesTheFormula) {
    for (auto [width, height] : {std::pair{640, 480}, std::pair{333, 215}, std::pair{17, 301}, std::pair{1001, 3}}) {
        for (int32_t total : {60, 61, 7}) {
            for (int32_t p = 0; p < total; ++p) {
                const Shifts s = Compute(width, height, p, total);
                for (int32_t i = 0; i < width; ++i)
                    ASSERT_EQ(s.columns[i], ModelShift(i - width / 2, width, p, total))
                        << width << "x" << height << " " << p << "/" << total << " column " << i;
                for (int32_t j = 0; j < height; ++j)
                    ASSERT_EQ(s.rows[j], ModelShift(j - height / 2, width, p, total))
                        << width << "x" << height << " " << p << "/" << total << " row " << j;
            }
        }
    }
}

uint32_t TablesFingerprint() {
    uint32_t hash = 2166136261u;
    for (auto [width, height, total] : {std::tuple{640, 480, 60}, std::tuple{333, 215, 61}, std::tuple{1920, 1080, 9}})
        for (int32_t p = 0; p < total; ++p) {
            const Shifts s = Compute(width, height, p, total);
            hash = Fingerprint(Fingerprint(hash, s.columns), s.rows);
        }
    return hash;
}

// Pinned once: the native and the Windows builds must both give it, whatever
// x87 precision and rounding the host left set.
constexpr uint32_t kTablesFingerprint = 2846724808u;

TEST(RippleShifts, TablesAreTheSameInEveryBuild) {
    EXPECT_EQ(TablesFingerprint(), kTablesFingerprint);
#if defined(VEILSHIFT_X87_MATH)
    // Control words a host may leave: 24-bit precision, 53-bit rounding down,
    // 64-bit precision (each of the first two changes the tables without a guard).
    {
        veilshift::platform::FpuPrecision<0x0000> hostLeftSingle;
        EXPECT_EQ(TablesFingerprint(), kTablesFingerprint);
    }
    {
        veilshift::platform::FpuPrecision<0x0600> hostLeftRoundingDown;
        EXPECT_EQ(TablesFingerprint(), kTablesFingerprint);
    }
    {
        veilshift::platform::FpuPrecision<0x0300> hostLeftExtended;
        EXPECT_EQ(TablesFingerprint(), kTablesFingerprint);
    }
#endif
}

// The frame pixel by pixel: displacements evaluated per pixel, the mix from
// the definition of the blend table, unmoved where the position leaves the
// rectangle. The sources are read from `srcA` and `srcB` as they are when the
// model is asked.
PixelModel RippleModel(const TestSurface& srcA, const TestSurface& srcB, const Rect& r, int32_t progress,
                       int32_t total, int32_t* kept) {
    return [&srcA, &srcB, r, progress, total, kept](int32_t i, int32_t j, Rgb& colour) {
        const int64_t u = int64_t{i} + ModelShift(j - r.height / 2, r.width, progress, total);
        const int64_t v = int64_t{j} + ModelShift(i - r.width / 2, r.width, progress, total);
        if (u < 0 || u >= r.width || v < 0 || v >= r.height) {
            ++*kept;
            return false;
        }
        const int32_t alpha = static_cast<int32_t>(int64_t{progress} * 255 / total);
        const Rgb a = srcA.GetPixel(r.ax + static_cast<int32_t>(u), r.ay + static_cast<int32_t>(v));
        const Rgb b = srcB.GetPixel(r.bx + static_cast<int32_t>(u), r.by + static_cast<int32_t>(v));
        for (int k = 0; k < 3; ++k) colour[k] = MixModel(a[k], b[k], alpha);
        return true;
    };
}

PixelModel RippleModel(const Stage& s, int32_t progress, int32_t total, int32_t* kept) {
    return RippleModel(*s.srcA, *s.srcB, s.rect, progress, total, kept);
}

void Draw(Stage& s, int32_t progress, int32_t total, const veilshift::RippleScratch* scratch = nullptr) {
    const Rect& r = s.rect;
    RippleRect(s.dst.get(), r.dx, r.dy, s.srcA.get(), r.ax, r.ay, s.srcB.get(), r.bx, r.by, r.width, r.height,
               progress, total, veilshift::ChooseTransitionForms(31, r.width, r.height).ripple, scratch);
}

// A transition's scratch for the rectangle, as much as storage gives.
class ScratchScope {
public:
    ScratchScope(int32_t width, int32_t height) { veilshift::MakeRippleScratch(scratch, width, height); }
    ~ScratchScope() { veilshift::ReleaseRippleScratch(scratch); }
    ScratchScope(const ScratchScope&) = delete;
    ScratchScope& operator=(const ScratchScope&) = delete;
    veilshift::RippleScratch scratch;
};

// One frame on a fresh stage, checked against the per-pixel model: the
// rectangle as modelled (at progress 0 exactly source A), the sources
// untouched, the guards whole. Returns how many pixels the model kept.
int32_t ExpectFrameMatchesModel(const Rect& rect, uint32_t seed, int32_t progress, int32_t total,
                                const veilshift::RippleScratch* scratch = nullptr) {
    Stage s(rect, seed);
    const std::vector<uint8_t> a = s.srcA->Snapshot(), b = s.srcB->Snapshot();
    int32_t kept = 0;
    const std::vector<uint8_t> expected = ExpectedPicture(*s.dst, s.dst->Snapshot(), rect.dx, rect.dy, rect.width,
                                                          rect.height, RippleModel(s, progress, total, &kept));
    Draw(s, progress, total, scratch);
    EXPECT_TRUE(SamePicture(*s.dst, expected)) << rect.width << "x" << rect.height << " frame " << progress << "/"
                                                << total;
    EXPECT_EQ(s.srcA->Snapshot(), a);
    EXPECT_EQ(s.srcB->Snapshot(), b);
    EXPECT_TRUE(s.GuardsIntact());
    if (progress == 0) {
        EXPECT_TRUE(s.dst->RectEquals(rect.dx, rect.dy, *s.srcA, rect.ax, rect.ay, rect.width, rect.height));
    }
    return kept;
}

class Ripple : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(table.Built()); }
    void TearDown() override { veilshift::FailAllocationsFrom(0); }
    MulTableScope table;
};

TEST_F(Ripple, FramesMatchThePerPixelModelAndTouchNothingElse) {
    struct Case {
        Rect rect;
        int32_t progress, total;
        bool someKept;  // displaced positions leave the rectangle somewhere
    };
    const Case cases[] = {
        {{3, 2, 5, 1, 2, 4, 161, 97}, 0, 60, false},     // an exact copy of A
        {{3, 2, 5, 1, 2, 4, 161, 97}, 15, 60, true},
        {{1, 5, 0, 2, 7, 3, 97, 131}, 1, 3, true},       // odd total: twice the amplitude
        {{0, 0, 4, 4, 1, 0, 203, 57}, 59, 60, false},    // amplitude 0 at 203 wide: flat
        {{2, 1, 3, 3, 4, 2, 15, 41}, 4, 9, false},       // narrow: a plain blend
        {{2, 1, 3, 3, 4, 2, 64, 1}, 2, 5, true},         // one row
        {{2, 1, 3, 3, 4, 2, 1, 33}, 2, 5, false},        // one column
        {{6, 3, 1, 9, 2, 2, 301, 19}, 9, 17, true},      // wider than high: rows move far
    };
    uint32_t seed = 20;
    for (const Case& c : cases) {
        const int32_t kept = ExpectFrameMatchesModel(c.rect, ++seed, c.progress, c.total);
        EXPECT_EQ(kept > 0, c.someKept) << kept;
    }
}

TEST_F(Ripple, AsksThreeAddressesAndThreePitches) {
    CallRecorder recorder;
    const Rect r{3, 2, 5, 1, 2, 4, 40, 23};
    Stage s(r, 30, recorder.Log());
    Draw(s, 3, 8);
    std::vector<std::pair<HostOp, const void*>> ops;
    for (const HostCall& call : recorder.Calls()) ops.push_back({call.op, call.target});
    const std::vector<std::pair<HostOp, const void*>> expected = {
        {HostOp::PixelAddress, s.dst.get()}, {HostOp::PixelAddress, s.srcB.get()},
        {HostOp::PixelAddress, s.srcA.get()}, {HostOp::Pitch, s.dst.get()},
        {HostOp::Pitch, s.srcB.get()},       {HostOp::Pitch, s.srcA.get()}};
    ASSERT_EQ(ops, expected);
    EXPECT_EQ(CallArgs(recorder.Calls()[0]), (std::vector<int32_t>{3, 2}));
    EXPECT_EQ(CallArgs(recorder.Calls()[1]), (std::vector<int32_t>{2, 4}));
    EXPECT_EQ(CallArgs(recorder.Calls()[2]), (std::vector<int32_t>{5, 1}));
    EXPECT_EQ(recorder.Violations(), 0);
}

TEST_F(Ripple, ShiftTableFailureLeavesTheFrameUndrawn) {
    const Rect r{3, 2, 5, 1, 2, 4, 80, 50};
    for (int64_t failing : {1, 2}) {  // columnShift, then rowShift
        Stage s(r, 40);
        const std::vector<uint8_t> before = s.dst->Snapshot();
        veilshift::FailAllocationsFrom(failing);
        Draw(s, 7, 20);
        EXPECT_EQ(veilshift::AllocationCount(), failing);
        veilshift::FailAllocationsFrom(0);
        EXPECT_EQ(s.dst->Snapshot(), before) << failing;
        EXPECT_TRUE(s.GuardsIntact());
        // The next frame draws, with its own two tables.
        Draw(s, 7, 20);
        EXPECT_EQ(veilshift::AllocationCount(), 2);
        EXPECT_NE(s.dst->Snapshot(), before);
    }
}

// Counters that are no frame are Draw's to turn away (see
// Session.DrawOutsideASessionOrWithBadCountersDoesNothing).
TEST_F(Ripple, NothingIsAskedOrDrawnForAnEmptyRectangleOrWithoutTheTable) {
    CallRecorder recorder;
    Stage s({1, 1, 2, 2, 3, 3, 17, 13}, 50, recorder.Log());
    const std::vector<uint8_t> before = s.dst->Snapshot();
    const veilshift::RippleForms forms = veilshift::ChooseTransitionForms(31, 17, 13).ripple;
    for (auto [width, height] : {std::pair{0, 13}, std::pair{17, -2}})
        RippleRect(s.dst.get(), 1, 1, s.srcA.get(), 2, 2, s.srcB.get(), 3, 3, width, height, 1, 5, forms);
    veilshift::ReleaseMulTable();
    RippleRect(s.dst.get(), 1, 1, s.srcA.get(), 2, 2, s.srcB.get(), 3, 3, 17, 13, 1, 5, forms);
    EXPECT_TRUE(recorder.Calls().empty());
    EXPECT_EQ(s.dst->Snapshot(), before);
}

// A scratch in part: without its tables a frame allocates them, without the
// passes' block it is walked directly; the picture is the same.
TEST_F(Ripple, ScratchInPartDrawsTheSameFrames) {
    const Rect r{3, 2, 5, 1, 2, 4, 83, 61};
    const int64_t outstanding = veilshift::OutstandingAllocations();
    for (int64_t failing : {1, 2}) {  // the tables, then the passes' block
        veilshift::FailAllocationsFrom(failing);
        veilshift::RippleScratch scratch;
        veilshift::MakeRippleScratch(scratch, r.width, r.height);
        veilshift::FailAllocationsFrom(0);
        EXPECT_EQ(scratch.shifts != nullptr, failing == 2);
        EXPECT_EQ(scratch.passBlock, nullptr);
        ExpectFrameMatchesModel(r, 70, 30, 60, &scratch);
        EXPECT_EQ(veilshift::AllocationCount(), failing == 1 ? 2 : 0) << failing;
        veilshift::ReleaseRippleScratch(scratch);
        EXPECT_EQ(veilshift::OutstandingAllocations(), outstanding);
    }
}

// The passes' block has a limit: offsets within it fit in 32 bits.
TEST(RipplePassLayout, BlocksOnlyForRectanglesWithinTheLimit) {
    using veilshift::RipplePassBytes;
    EXPECT_EQ(RipplePassBytes(0, 10), 0u);
    EXPECT_EQ(RipplePassBytes(10, -1), 0u);
    EXPECT_EQ(RipplePassBytes(INT32_MAX, INT32_MAX), 0u);
    EXPECT_EQ(RipplePassBytes(INT32_MAX, 1), 0u);
    EXPECT_EQ(RipplePassBytes(1, INT32_MAX), 0u);
    EXPECT_EQ(RipplePassBytes(18919, 18919), 0u);  // just over 1 GiB of image
    EXPECT_GT(RipplePassBytes(16384, 16384), 0u);  // 768 MiB of image
    for (auto [width, height] : {std::pair{1, 1}, std::pair{33, 7}, std::pair{3840, 2160}}) {
        const size_t bytes = RipplePassBytes(width, height);
        EXPECT_GE(bytes, size_t{3} * width * height + size_t{9} * width + size_t{12} * height) << width;
        EXPECT_LE(bytes, veilshift::kRipplePassMaxBytes);
    }
}

// One surface as destination and source, the rectangles overlapping or
// side by side. With the scratch every form draws from the sources as they
// were before the frame; without it every form draws what the scalar walk does.
TEST_F(Ripple, OneSurfaceInSeveralRolesGivesOnePictureInEveryForm) {
    struct Layout {
        const char* name;
        Rect rect;
        bool aShared, bShared, overlaps;
    };
    const Layout layouts[] = {
        {"over A in place", {4, 3, 4, 3, 0, 0, 97, 53}, true, false, true},
        {"over A moved", {7, 5, 2, 1, 1, 2, 97, 53}, true, false, true},
        {"over B moved", {1, 6, 3, 0, 5, 2, 97, 53}, false, true, true},
        {"over both", {3, 0, 0, 4, 6, 2, 97, 53}, true, true, true},
        {"beside A", {0, 0, 100, 3, 2, 2, 97, 53}, true, false, false},
        {"over A, one row, a pixel on", {5, 3, 4, 3, 0, 0, 97, 1}, true, false, true},
    };
    const std::pair<int32_t, int32_t> frames[] = {{30, 60}, {0, 60}, {59, 60}, {1, 3}};
    for (const Layout& layout : layouts)
        for (auto [progress, total] : frames) {
            SCOPED_TRACE(testing::Message() << layout.name << ", frame " << progress << "/" << total);
            const Rect& r = layout.rect;
            auto fresh = [](uint32_t seed) {
                auto surface = std::make_unique<TestSurface>(200, 60, 200 * 3 + 5);
                surface->FillRandom(seed);
                return surface;
            };
            // The shared surface, its picture before the frame, and the other source.
            const std::unique_ptr<TestSurface> before = fresh(80), other = fresh(81);
            int32_t kept = 0;
            const std::vector<uint8_t> expected =
                ExpectedPicture(*before, before->Snapshot(), r.dx, r.dy, r.width, r.height,
                                RippleModel(layout.aShared ? *before : *other, layout.bShared ? *before : *other, r,
                                            progress, total, &kept));
            auto draw = [&](bool withScratch) {
                const std::unique_ptr<TestSurface> shared = fresh(80);
                TestSurface* a = layout.aShared ? shared.get() : other.get();
                TestSurface* b = layout.bShared ? shared.get() : other.get();
                ScratchScope scope(withScratch ? r.width : 0, r.height);
                RippleRect(shared.get(), r.dx, r.dy, a, r.ax, r.ay, b, r.bx, r.by, r.width, r.height, progress, total,
                           veilshift::ChooseTransitionForms(31, r.width, r.height).ripple,
                           withScratch ? &scope.scratch : nullptr);
                EXPECT_TRUE(shared->GuardsIntact());
                return shared->Snapshot();
            };
            std::vector<uint8_t> walked;
            for (const ProcessorForm& form : AvailableFormsAndGathers()) {
                const refhost::StartupSwitches scope(form.Allowed(), form.gathers);
                EXPECT_EQ(draw(true), expected) << form.name;
                const std::vector<uint8_t> direct = draw(false);
                if (walked.empty()) walked = direct;
                EXPECT_EQ(direct, walked) << form.name;
            }
            if (!layout.overlaps) {
                EXPECT_EQ(walked, expected);
            }
            EXPECT_EQ(other->Snapshot(), fresh(81)->Snapshot());
        }
}

// Each processor form draws the frames of the per-pixel model: several
// strips of columns, steep and flat ones, pixels kept at every edge, alpha 0
// with shifted columns, and pitches that differ.
class RippleForms : public ::testing::TestWithParam<ProcessorForm> {
protected:
    void SetUp() override { ASSERT_TRUE(table.Built()); }
    MulTableScope table;
};

TEST_P(RippleForms, FramesMatchThePerPixelModel) {
    const refhost::StartupSwitches scope(GetParam().Allowed(), GetParam().gathers);
    struct Case {
        Rect rect;
        int32_t progress, total;
    };
    const Case cases[] = {
        {{3, 2, 5, 1, 2, 4, 161, 97}, 0, 60},      // a copy of A
        {{3, 2, 5, 1, 2, 4, 161, 97}, 30, 60},     // the peak
        {{1, 5, 0, 2, 7, 3, 263, 131}, 1, 3},      // odd total: twice the amplitude
        {{0, 0, 4, 4, 1, 0, 203, 57}, 59, 60},     // flat but mixed
        {{2, 1, 3, 3, 4, 2, 15, 41}, 4, 9},        // narrow: whole rows
        {{2, 1, 3, 3, 4, 2, 64, 1}, 2, 5},         // one row
        {{2, 1, 3, 3, 4, 2, 1, 33}, 2, 5},         // one column
        {{6, 3, 1, 9, 2, 2, 517, 29}, 9, 17},      // rows move far, strips cut at 517
        {{4, 7, 3, 2, 5, 1, 2417, 12}, 1, 1000},   // alpha 0, shifted columns of one pixel
        {{1, 2, 3, 4, 5, 6, 130, 300}, 25, 49},    // taller than wide
        {{2, 1, 3, 3, 4, 2, 1200, 40}, 30, 60},    // rows move 74 pixels: the mixed row runs that far ahead
        // The direct walk's strips whose columns all move alike, right of
        // column 0: the narrow last strip of a frame wider than one strip
        // (1,024 columns while the columns move within 42 rows of one
        // another, 256 within 170). The passes take only the frames whose
        // columns spread over more than 16 rows.
        {{2, 3, 1, 4, 3, 2, 1027, 24}, 1, 60},     // columns 1024 to 1026 move by -1 row, the others 0 or 1
        {{2, 3, 1, 4, 3, 2, 1027, 24}, 3, 60},     // by 5 rows, the frame's columns within 10 rows
        {{2, 3, 1, 4, 3, 2, 1027, 24}, 5, 60},     // by -8 rows, the frame's columns within 18 rows
        {{1, 1, 2, 0, 0, 2, 513, 40}, 1, 3},       // column 512 alone, by 12 rows
    };
    uint32_t seed = 60;
    for (const Case& c : cases) {
        ExpectFrameMatchesModel(c.rect, ++seed, c.progress, c.total);
        // With a transition's scratch: the two passes, or where the columns move close together the direct walk.
        ScratchScope scope(c.rect.width, c.rect.height);
        ASSERT_NE(scope.scratch.passBlock, nullptr);
        ExpectFrameMatchesModel(c.rect, seed, c.progress, c.total, &scope.scratch);
    }
}

// The passes' block as an earlier transition's storage may leave it: whatever
// it holds, the frames are those of the model (every table in it, the zeros
// around the row moves included, is written afresh for each frame).
TEST_P(RippleForms, PassesDrawTheSameFromADirtyBlock) {
    const refhost::StartupSwitches scope(GetParam().Allowed());
    const Rect rect{3, 2, 5, 1, 2, 4, 161, 97};
    ScratchScope scratch(rect.width, rect.height);
    ASSERT_NE(scratch.scratch.passBlock, nullptr);
    for (int32_t progress : {30, 12}) {
        std::memset(scratch.scratch.passBlock, 0x7F, veilshift::RipplePassBytes(rect.width, rect.height));
        // Columns move past the top and bottom: their moves are read from around the table.
        EXPECT_GT(ExpectFrameMatchesModel(rect, 96, progress, 60, &scratch.scratch), 0);
    }
}

// The scratch's tables serve the frame: nothing is allocated; a scratch made
// for another size is not used.
TEST_P(RippleForms, AFrameWithItsScratchAllocatesNothing) {
    const refhost::StartupSwitches scope(GetParam().Allowed(), GetParam().gathers);
    Stage s({3, 2, 5, 1, 2, 4, 300, 40}, 32);
    ScratchScope scratch(300, 40), otherSize(300, 41);
    veilshift::FailAllocationsFrom(0);
    const int64_t outstanding = veilshift::OutstandingAllocations();
    Draw(s, 6, 12, &scratch.scratch);
    EXPECT_EQ(veilshift::AllocationCount(), 0);
    Draw(s, 7, 12, &otherSize.scratch);
    EXPECT_EQ(veilshift::AllocationCount(), 2);
    EXPECT_EQ(veilshift::OutstandingAllocations(), outstanding);
}

TEST_P(RippleForms, AsksThreeAddressesAndThreePitchesAndAllocatesTwoTables) {
    const refhost::StartupSwitches scope(GetParam().Allowed(), GetParam().gathers);
    CallRecorder recorder;
    Stage s({3, 2, 5, 1, 2, 4, 300, 40}, 31, recorder.Log());
    veilshift::FailAllocationsFrom(0);
    const int64_t outstanding = veilshift::OutstandingAllocations();
    Draw(s, 6, 12);
    EXPECT_EQ(recorder.Calls().size(), 6u);
    EXPECT_EQ(veilshift::AllocationCount(), 2);
    EXPECT_EQ(veilshift::OutstandingAllocations(), outstanding);
}

INSTANTIATE_TEST_SUITE_P(Forms, RippleForms, ::testing::ValuesIn(AvailableFormsAndGathers()),
                         [](const ::testing::TestParamInfo<ProcessorForm>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace effects2d

namespace effects2d {

std::vector<uint8_t> RippleSessionFrame(refhost::Host& host, const Rect& r, int32_t progress, int32_t total) {
    const TestSurface& dst = *host.Surface(sessiontest::kDst);
    int32_t kept = 0;
    return ExpectedPicture(dst, dst.Snapshot(), r.dx, r.dy, r.width, r.height,
                           RippleModel(*host.Surface(sessiontest::kSrcA), *host.Surface(sessiontest::kSrcB), r,
                                       progress, total, &kept));
}

}  // namespace effects2d

namespace sessiontest {
namespace {

// Whole transitions through the module's exports (and effect_sessions_test.cpp).
class RippleSession : public SessionTest {};

TEST_F(RippleSession, EveryFrameMatchesTheModelAndEndsOnSourceB) {
    AddUnevenStage(157, 93, 21);
    BEGIN_OR_SKIP({.dx = 9, .dy = 4, .ax = 3, .ay = 5, .bx = 1, .by = 7, .width = 141, .height = 83, .effect = 31});
    const effects2d::Rect r{9, 4, 3, 5, 1, 7, 141, 83};
    const int32_t total = 9;
    for (int32_t progress = 0; progress < total; ++progress) {
        std::vector<uint8_t> expected = effects2d::RippleSessionFrame(*host, r, progress, total);
        host->ClearCalls();
        host->Draw(progress, total);
        EXPECT_TRUE(effects2d::SamePicture(Dst(), expected)) << "frame " << progress;
        EXPECT_EQ(host->Ops(), (std::vector<HostOp>{HostOp::PixelAddress, HostOp::PixelAddress, HostOp::PixelAddress,
                                                    HostOp::Pitch, HostOp::Pitch, HostOp::Pitch, HostOp::UpdateRect}));
    }
    host->Draw(total, total);
    EXPECT_TRUE(Dst().RectEquals(9, 4, SrcB(), 1, 7, 141, 83));
}

}  // namespace
}  // namespace sessiontest
