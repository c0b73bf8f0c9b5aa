// Effect 6: block sizes over the transition, the centre-anchored block grid,
// exact frames against a per-pixel model, the host calls, and whole sessions.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Veilshift/frame_math.h"
#include "Veilshift/transitions/mosaic.h"
#include "Veilshift/transitions/mosaic_forms.h"
#include "Veilshift/transition_forms.h"
#include "effects_2d_support.h"
#include "session_fixture.h"

namespace effects2d {
namespace {

using veilshift::MosaicBlockSize;
using veilshift::MosaicRect;

// The left (top) edge of the block holding position p: edges lie at 0 and at
// every position congruent to extent / 2 modulo the block size.
int32_t BlockStart(int32_t p, int32_t extent, int32_t blockSize) {
    const int32_t r = ((p - extent / 2) % blockSize + blockSize) % blockSize;
    return p - r < 0 ? 0 : p - r;
}

// Every pixel shows the mix of its block's top-left samples.
PixelModel MosaicModel(const Stage& s, int32_t blockSize, int32_t alpha) {
    return [&s, blockSize, alpha](int32_t x, int32_t y, Rgb& colour) {
        const Rect& r = s.rect;
        const int32_t x0 = BlockStart(x, r.width, blockSize), y0 = BlockStart(y, r.height, blockSize);
        const Rgb a = s.srcA->GetPixel(r.ax + x0, r.ay + y0), b = s.srcB->GetPixel(r.bx + x0, r.by + y0);
        for (int k = 0; k < 3; ++k) colour[k] = MixModel(a[k], b[k], alpha);
        return true;
    };
}

void Draw(Stage& s, int32_t blockSize, int32_t alpha) {
    const Rect& r = s.rect;
    MosaicRect(s.dst.get(), r.dx, r.dy, s.srcA.get(), r.ax, r.ay, s.srcB.get(), r.bx, r.by, r.width, r.height,
               blockSize, alpha, veilshift::ChooseTransitionForms(6, r.width, r.height).mosaic);
}

// One frame on a fresh stage, checked against the per-pixel model: the
// rectangle as modelled (at block 1 and alpha 0 exactly source A), the
// sources untouched, the guards whole.
void ExpectFrameMatchesModel(const Rect& rect, uint32_t seed, int32_t blockSize, int32_t alpha) {
    Stage s(rect, seed);
    const std::vector<uint8_t> a = s.srcA->Snapshot(), b = s.srcB->Snapshot();
    const std::vector<uint8_t> expected = ExpectedPicture(*s.dst, s.dst->Snapshot(), rect.dx, rect.dy, rect.width,
                                                          rect.height, MosaicModel(s, blockSize, alpha));
    Draw(s, blockSize, alpha);
    EXPECT_TRUE(SamePicture(*s.dst, expected)) << rect.width << "x" << rect.height << " block " << blockSize
                                                << " alpha " << alpha;
    EXPECT_EQ(s.srcA->Snapshot(), a);
    EXPECT_EQ(s.srcB->Snapshot(), b);
    EXPECT_TRUE(s.GuardsIntact());
    if (alpha == 0 && blockSize == 1) {
        EXPECT_TRUE(s.dst->RectEquals(rect.dx, rect.dy, *s.srcA, rect.ax, rect.ay, rect.width, rect.height));
    }
}

class Mosaic : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(table.Built()); }
    MulTableScope table;
};

TEST(MosaicBlockSizes, GrowsToMidTransitionAndShrinksBack) {
    const std::vector<std::pair<int32_t, std::vector<int32_t>>> examples = {
        {2, {1, 97}},
        {3, {1, 193, 97}},
        {4, {1, 49, 97, 49}},
        {10, {1, 19, 39, 57, 77, 97, 77, 57, 39, 19}},
    };
    for (const auto& [total, sizes] : examples) {
        std::vector<int32_t> got;
        for (int32_t p = 0; p < total; ++p) got.push_back(MosaicBlockSize(p, total));
        EXPECT_EQ(got, sizes) << total;
    }
    int32_t largest = 0;
    for (int32_t p = 0; p < 61; ++p) largest = std::max(largest, MosaicBlockSize(p, 61));
    EXPECT_EQ(largest, 99);
}

TEST(MosaicBlockSizes, OneFrameAndHugeCountsStayOddAndBounded) {
    EXPECT_EQ(MosaicBlockSize(0, 1), 1);  // the lone frame is a plain blend
    // Beyond 8,421,504 frames the 32-bit products would wrap; the formula holds on.
    const int32_t total = INT32_MAX, half = INT32_MAX / 2;
    EXPECT_EQ(MosaicBlockSize(half, total), 97);
    EXPECT_EQ(MosaicBlockSize(half - 1, total), 95);
    EXPECT_EQ(MosaicBlockSize(total - 1, total), 1);
    EXPECT_EQ(MosaicBlockSize(9'000'000, 18'000'000), 97);
    EXPECT_EQ(MosaicBlockSize(4'500'000, 18'000'000), 49);
    for (int32_t p : {1, 8'421'505, 100'000'000, 1'000'000'000, INT32_MAX - 2}) {
        const int32_t size = MosaicBlockSize(p, total);
        EXPECT_TRUE(size >= 1 && size <= 97 && size % 2 == 1) << p;
        EXPECT_EQ(veilshift::FrameAlpha(p, total), static_cast<int32_t>(int64_t{p} * 255 / total)) << p;
    }
    // Counters that are no frame never get here: Draw turns them away
    // (Session.DrawOutsideASessionOrWithBadCountersDoesNothing).
}

// The grid read back from a frame: with alpha 0 every pixel shows source A's
// block corner, and A's pixels name their own position.
std::vector<std::pair<int32_t, int32_t>> DrawnSpans(int32_t width, int32_t height, int32_t blockSize, bool across) {
    Stage s({2, 1, 1, 3, 0, 0, width, height}, 5);
    for (int32_t y = 0; y < s.srcA->PixelHeight(); ++y)
        for (int32_t x = 0; x < s.srcA->PixelWidth(); ++x)
            s.srcA->SetPixel(x, y, {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 0x5A});
    Draw(s, blockSize, 0);
    std::vector<std::pair<int32_t, int32_t>> spans;
    const int32_t extent = across ? width : height;
    for (int32_t p = 0; p < extent; ++p) {
        const Rgb c = across ? s.dst->GetPixel(2 + p, 1 + height - 1) : s.dst->GetPixel(2 + width - 1, 1 + p);
        const int32_t start = (across ? c[0] - 1 : c[1] - 3);
        if (spans.empty() || spans.back().first != start) spans.push_back({start, start});
        spans.back().second = p + 1;
    }
    return spans;
}

TEST_F(Mosaic, GridIsAnchoredAtTheCentreWithCutEdges) {
    // width 100, block 7: rx = 1, sixteen columns, an edge at x = 50.
    auto columns = DrawnSpans(100, 9, 7, true);
    ASSERT_EQ(columns.size(), 16u);
    EXPECT_EQ(columns.front(), std::make_pair(0, 1));
    EXPECT_EQ(columns[1], std::make_pair(1, 8));
    EXPECT_EQ(columns[14], std::make_pair(92, 99));
    EXPECT_EQ(columns.back(), std::make_pair(99, 100));
    EXPECT_EQ(columns[8], std::make_pair(50, 57));
    // The same grid down the rows.
    EXPECT_EQ(DrawnSpans(9, 100, 7, false), columns);

    // Half a multiple of the block: no cut first column, a one-pixel last one.
    EXPECT_EQ(DrawnSpans(15, 3, 7, true), (std::vector<std::pair<int32_t, int32_t>>{{0, 7}, {7, 14}, {14, 15}}));
    // A block larger than the rectangle splits it at the centre.
    EXPECT_EQ(DrawnSpans(10, 10, 97, true), (std::vector<std::pair<int32_t, int32_t>>{{0, 5}, {5, 10}}));
    EXPECT_EQ(DrawnSpans(10, 11, 97, false), (std::vector<std::pair<int32_t, int32_t>>{{0, 5}, {5, 11}}));
    // One pixel high: one block row of height 1.
    EXPECT_EQ(DrawnSpans(20, 1, 9, false), (std::vector<std::pair<int32_t, int32_t>>{{0, 1}}));
    EXPECT_EQ(DrawnSpans(1, 1, 97, true), (std::vector<std::pair<int32_t, int32_t>>{{0, 1}}));
}

TEST_F(Mosaic, BlockColourMixesTheTwoCornerSamplesThroughTheTable) {
    Stage s({0, 0, 0, 0, 0, 0, 3, 3}, 9);
    s.srcA->SetPixel(1, 1, {200, 0, 255});  // the corner of the block [1, 3) x [1, 3)
    s.srcB->SetPixel(1, 1, {100, 255, 0});
    Draw(s, 3, 127);
    // 255 - 127 = 128: MulTable[128][200] = 100, MulTable[127][100] = 49.
    EXPECT_EQ(s.dst->GetPixel(2, 2), (Rgb{149, 127, 128}));
    EXPECT_EQ(s.dst->GetPixel(1, 1), s.dst->GetPixel(2, 2));
}

TEST_F(Mosaic, FramesMatchThePerPixelModelAndTouchNothingElse) {
    struct Case {
        Rect rect;
        int32_t blockSize, alpha;
    };
    const Case cases[] = {
        {{3, 2, 5, 1, 2, 4, 61, 37}, 1, 0},         // progress 0: an exact copy of A
        {{3, 2, 5, 1, 2, 4, 61, 37}, 1, 131},       // per-pixel blend
        {{1, 5, 0, 2, 7, 3, 97, 53}, 19, 25},
        {{0, 0, 4, 4, 1, 0, 33, 29}, 97, 127},      // block larger than the rectangle
        {{2, 1, 3, 3, 4, 2, 1, 41}, 7, 200},        // one column
        {{2, 1, 3, 3, 4, 2, 45, 1}, 193, 254},      // one row, odd total's peak size
        {{7, 3, 1, 6, 2, 5, 1301, 9}, 3, 77},       // rows longer than one pattern
        {{7, 3, 1, 6, 2, 5, 2101, 7}, 97, 160},     // blocks cut by the pattern's end
        {{4, 4, 4, 4, 4, 4, 1025, 4}, 1025, 99},    // block rows of two rows, wider than a pattern
    };
    uint32_t seed = 1;
    for (const Case& c : cases) ExpectFrameMatchesModel(c.rect, ++seed, c.blockSize, c.alpha);
}

TEST_F(Mosaic, AsksTheDestinationOnceAndTheSourcesOncePerBlockRow) {
    CallRecorder recorder;
    const Rect r{3, 2, 5, 1, 2, 4, 40, 23};  // block 7: rows [0, 4), [4, 11), [11, 18), [18, 23)
    Stage s(r, 4, recorder.Log());
    Draw(s, 7, 50);
    std::vector<std::pair<HostOp, const void*>> ops;
    std::vector<std::vector<int32_t>> args;
    for (const HostCall& call : recorder.Calls()) {
        ops.push_back({call.op, call.target});
        args.push_back(CallArgs(call));
    }
    std::vector<std::pair<HostOp, const void*>> expectedOps = {{HostOp::PixelAddress, s.dst.get()},
                                                               {HostOp::Pitch, s.dst.get()}};
    std::vector<std::vector<int32_t>> expectedArgs = {{3, 2}, {}};
    for (int32_t y0 : {0, 4, 11, 18}) {
        expectedOps.push_back({HostOp::PixelAddress, s.srcA.get()});
        expectedOps.push_back({HostOp::PixelAddress, s.srcB.get()});
        expectedArgs.push_back({5, 1 + y0});
        expectedArgs.push_back({2, 4 + y0});
    }
    EXPECT_EQ(ops, expectedOps);
    EXPECT_EQ(args, expectedArgs);
    EXPECT_EQ(recorder.Violations(), 0);
}

TEST_F(Mosaic, OutOfRangeArgumentsAreHeldToUsableValues) {
    const Rect r{1, 1, 2, 2, 3, 3, 17, 13};
    for (auto [given, used] : {std::pair{0, 1}, std::pair{-5, 1}, std::pair{INT32_MIN, 1}}) {
        Stage s(r, 6);
        auto expected = ExpectedPicture(*s.dst, s.dst->Snapshot(), 1, 1, 17, 13, MosaicModel(s, used, 90));
        Draw(s, given, 90);
        EXPECT_TRUE(SamePicture(*s.dst, expected)) << given;
    }
    for (auto [given, used] : {std::pair{-1, 0}, std::pair{256, 255}, std::pair{INT32_MAX, 255}}) {
        Stage s(r, 7);
        auto expected = ExpectedPicture(*s.dst, s.dst->Snapshot(), 1, 1, 17, 13, MosaicModel(s, 5, used));
        Draw(s, 5, given);
        EXPECT_TRUE(SamePicture(*s.dst, expected)) << given;
    }
    // An empty rectangle asks nothing and writes nothing.
    CallRecorder recorder;
    Stage s(r, 8, recorder.Log());
    const std::vector<uint8_t> before = s.dst->Snapshot();
    const veilshift::MosaicForms forms = veilshift::ChooseTransitionForms(6, 17, 13).mosaic;
    MosaicRect(s.dst.get(), 1, 1, s.srcA.get(), 2, 2, s.srcB.get(), 3, 3, 0, 13, 5, 9, forms);
    MosaicRect(s.dst.get(), 1, 1, s.srcA.get(), 2, 2, s.srcB.get(), 3, 3, 17, -1, 5, 9, forms);
    MosaicRect(s.dst.get(), 1, 1, s.srcA.get(), 2, 2, s.srcB.get(), 3, 3, 17, 0, 5, 9, forms);
    MosaicRect(s.dst.get(), 1, 1, s.srcA.get(), 2, 2, s.srcB.get(), 3, 3, -4, 13, 5, 9, forms);
    EXPECT_TRUE(recorder.Calls().empty());
    EXPECT_EQ(s.dst->Snapshot(), before);
}

// Each processor form, with plain and with streamed stores, draws the frames
// of the per-pixel model and asks the host exactly what the scalar form asks.
class MosaicForms : public ::testing::TestWithParam<std::tuple<ProcessorForm, bool>> {
protected:
    void SetUp() override { ASSERT_TRUE(table.Built()); }
    MulTableScope table;
    const refhost::ModuleForms saved{refhost::kEveryFeature};  // the streaming threshold back after each test
};

TEST_P(MosaicForms, FramesMatchThePerPixelModel) {
    const auto& [form, streamed] = GetParam();
    const refhost::ModuleForms scope(form.Allowed());
    veilshift::moduleState.hooks.streamingBytes = streamed ? 0 : veilshift::kStreamingByCaches;
    struct Case {
        Rect rect;
        int32_t blockSize, alpha;
    };
    const Case cases[] = {
        {{3, 2, 5, 1, 2, 4, 61, 37}, 1, 0},       {{3, 2, 5, 1, 2, 4, 61, 37}, 1, 255},
        {{3, 2, 5, 1, 2, 4, 63, 9}, 1, 131},      {{1, 1, 0, 2, 7, 3, 1, 5}, 1, 77},
        {{2, 1, 3, 3, 4, 2, 11, 4}, 1, 1},        {{2, 1, 3, 3, 4, 2, 45, 3}, 3, 254},
        {{1, 5, 0, 2, 7, 3, 97, 53}, 19, 25},     {{0, 0, 4, 4, 1, 0, 33, 29}, 97, 127},
        {{7, 3, 1, 6, 2, 5, 2101, 7}, 97, 160},   {{4, 4, 4, 4, 4, 4, 2049, 4}, 1025, 99},
        {{5, 0, 2, 1, 0, 3, 4099, 2}, 5, 200},    {{2, 2, 1, 1, 3, 3, 2047, 3}, 1, 60},
    };
    uint32_t seed = 100;
    for (const Case& c : cases) ExpectFrameMatchesModel(c.rect, ++seed, c.blockSize, c.alpha);
}

TEST_P(MosaicForms, AsksTheHostWhatTheScalarFormAsks) {
    const auto& [form, streamed] = GetParam();
    veilshift::moduleState.hooks.streamingBytes = streamed ? 0 : veilshift::kStreamingByCaches;
    const Rect r{3, 2, 5, 1, 2, 4, 40, 23};
    for (int32_t blockSize : {1, 7}) {
        std::vector<std::vector<int32_t>> calls[2];
        for (int pass = 0; pass < 2; ++pass) {
            const refhost::ModuleForms scope((pass == 0 ? AvailableForms().front() : form).Allowed());
            CallRecorder recorder;
            Stage s(r, 4, recorder.Log());
            Draw(s, blockSize, 50);
            for (const HostCall& call : recorder.Calls()) {
                std::vector<int32_t> entry = CallArgs(call);
                entry.push_back(static_cast<int32_t>(call.op));
                calls[pass].push_back(entry);
            }
            EXPECT_EQ(recorder.Violations(), 0);
        }
        EXPECT_EQ(calls[1], calls[0]) << "block " << blockSize;
        EXPECT_EQ(calls[0].size(), blockSize == 1 ? 2u + 2u * 23u : 2u + 2u * 4u);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, MosaicForms,
                         ::testing::Combine(::testing::ValuesIn(AvailableForms()), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<ProcessorForm, bool>>& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_streamed" : "_cached");
                         });

TEST(MosaicWithoutTable, DrawsNothing) {
    veilshift::ReleaseMulTable();
    Stage s({1, 1, 2, 2, 3, 3, 17, 13}, 10);
    const std::vector<uint8_t> before = s.dst->Snapshot();
    Draw(s, 5, 9);
    EXPECT_EQ(s.dst->Snapshot(), before);
}

}  // namespace
}  // namespace effects2d

namespace effects2d {

std::vector<uint8_t> MosaicSessionFrame(refhost::Host& host, const Rect& r, int32_t progress, int32_t total) {
    const TestSurface& srcA = *host.Surface(sessiontest::kSrcA);
    const TestSurface& srcB = *host.Surface(sessiontest::kSrcB);
    const TestSurface& dst = *host.Surface(sessiontest::kDst);
    const int32_t blockSize = veilshift::MosaicBlockSize(progress, total);
    const int32_t alpha = veilshift::FrameAlpha(progress, total);
    PixelModel model = [&](int32_t x, int32_t y, Rgb& colour) {
        const int32_t x0 = BlockStart(x, r.width, blockSize);
        const int32_t y0 = BlockStart(y, r.height, blockSize);
        const Rgb a = srcA.GetPixel(r.ax + x0, r.ay + y0), b = srcB.GetPixel(r.bx + x0, r.by + y0);
        for (int k = 0; k < 3; ++k) colour[k] = MixModel(a[k], b[k], alpha);
        return true;
    };
    return ExpectedPicture(dst, dst.Snapshot(), r.dx, r.dy, r.width, r.height, model);
}

}  // namespace effects2d

namespace sessiontest {
namespace {

// Whole transitions through the module's exports (and tests/effects/effect_sessions_test.cpp).
class MosaicSession : public SessionTest {};

TEST_F(MosaicSession, EveryFrameMatchesTheModelAndEndsOnSourceB) {
    AddUnevenStage(157, 93, 11);
    BEGIN_OR_SKIP({.dx = 9, .dy = 4, .ax = 3, .ay = 5, .bx = 1, .by = 7, .width = 141, .height = 83, .effect = 6});
    const effects2d::Rect r{9, 4, 3, 5, 1, 7, 141, 83};
    const int32_t total = 10;
    for (int32_t progress = 0; progress < total; ++progress) {
        std::vector<uint8_t> expected = effects2d::MosaicSessionFrame(*host, r, progress, total);
        host->ClearCalls();
        host->Draw(progress, total);
        EXPECT_TRUE(effects2d::SamePicture(Dst(), expected)) << "frame " << progress;
        EXPECT_EQ(Count(HostOp::UpdateRect), 1);
        EXPECT_EQ(Count(HostOp::Copy), 0);
    }
    host->Draw(total, total);
    EXPECT_TRUE(Dst().RectEquals(9, 4, SrcB(), 1, 7, 141, 83));
}

}  // namespace
}  // namespace sessiontest
