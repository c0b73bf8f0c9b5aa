// The row walk's forms: the same spans and the same edges left behind, to the
// bit, whatever the batches the walk is asked for; stepping over rows as
// walking them moves the edges; and the chooser.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "Veilshift/platform/fpu_precision.h"
#include "Veilshift/render3d/span_rows.h"
#include "bit_pins.h"

namespace veilshift {
namespace {

using test::FloatBits;

// A viewport's rows, only addressed: the walk never touches them.
struct Rows {
    static constexpr int32_t kWidth = 53, kHeight = 41;
    std::vector<float> cells = std::vector<float>(static_cast<size_t>(kWidth) * kHeight);
    std::vector<float*> pointers;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(static_cast<size_t>(kWidth + 2) * 3 * kHeight);
    Rows() {
        for (int32_t r = 0; r < kHeight; ++r) pointers.push_back(cells.data() + static_cast<size_t>(r) * kWidth);
    }
    SpanRowTarget Target() { return {pointers.data(), pixels.data(), (kWidth + 2) * 3, kWidth}; }
};

// Edges as DrawTriangles sets them up for a part: mostly across the viewport,
// now and then far left or right of it, crossing, or one pixel wide; 1/z as
// the shatter's pieces have it, turning or parallel to the screen.
SpanState RandomPart(std::mt19937& random) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float w = static_cast<float>(Rows::kWidth);
    SpanState s{};
    const float iz = 1e-3f * (0.25f + unit(random));
    s.dIzDx = random() % 3 == 0 ? 0.0f : iz * (unit(random) - 0.5f) * 0.02f;
    s.dUzDx = (unit(random) - 0.3f) * 3.0f * iz;
    s.dVzDx = (unit(random) - 0.5f) * 2.0f * iz;
    s.dIzDy = iz * (unit(random) - 0.5f) * 0.02f;
    s.dUzDy = (unit(random) - 0.5f) * 2.0f * iz;
    s.dVzDy = (unit(random) - 0.2f) * 3.0f * iz;
    s.leftSlope = (unit(random) - 0.5f) * 6.0f;
    s.rightSlope = (unit(random) - 0.5f) * 6.0f;
    switch (random() % 6) {
        case 0: s.leftX = -unit(random) * 3e6f; break;            // far left: clipped, skipped texels
        case 1: s.leftX = w + unit(random) * 100.0f; break;       // right of the viewport: no span
        case 2: s.leftX = -1e10f; s.leftSlope = 0.0f; break;      // past the rounding's exact range
        default: s.leftX = (unit(random) * 1.4f - 0.2f) * w; break;
    }
    s.rightX = random() % 5 == 0 ? s.leftX + unit(random) : s.leftX + (unit(random) * 1.2f - 0.1f) * w;
    if (random() % 40 == 0) s.rightX = std::numeric_limits<float>::quiet_NaN();  // a corner at no position
    s.leftIzStep = s.leftSlope * s.dIzDx + s.dIzDy;
    s.leftUzStep = s.leftSlope * s.dUzDx + s.dUzDy;
    s.leftVzStep = s.leftSlope * s.dVzDx + s.dVzDy;
    s.leftIz = iz;
    s.leftUz = unit(random) * 30.0f * iz;
    s.leftVz = unit(random) * 20.0f * iz;
    return s;
}

// A part and the rows of it to walk, within the viewport.
struct Case {
    SpanState state;
    int32_t first, end;
};

Case RandomCase(std::mt19937& random) {
    const SpanState s = RandomPart(random);
    const int32_t first = static_cast<int32_t>(random() % Rows::kHeight);
    return {s, first, first + static_cast<int32_t>(random() % (Rows::kHeight - first + 1))};
}

// The edges after stepping over the case's rows.
SpanState Stepped(SpanStepFn step, const Case& c) {
    platform::FpuSinglePrecision guard;
    SpanState s = c.state;
    step(s, c.end - c.first);
    return s;
}

struct Walked {
    std::vector<Span> spans;
    SpanState state;
    int32_t row;
};

// Rows [first, end) in batches of at most `room` spans; the scalar form under
// the guard DrawSpans gives it.
Walked Walk(SpanRowsFn walk, const Case& c, SpanRowTarget target, int32_t room) {
    platform::FpuSinglePrecision guard;
    Walked w{{}, c.state, c.first};
    std::vector<Span> batch(static_cast<size_t>(room));
    while (w.row < c.end) {
        const int32_t n = walk(w.state, w.row, c.end, target, batch.data(), room);
        EXPECT_LE(n, room);
        w.spans.insert(w.spans.end(), batch.begin(), batch.begin() + n);
    }
    return w;
}

void ExpectSameBits(const Walked& a, const Walked& b, int32_t trial) {
    ASSERT_EQ(a.spans.size(), b.spans.size()) << trial;
    for (size_t i = 0; i < a.spans.size(); ++i) {
        const Span& x = a.spans[i];
        const Span& y = b.spans[i];
        ASSERT_EQ(FloatBits(x.iz), FloatBits(y.iz)) << trial << ' ' << i;
        ASSERT_EQ(FloatBits(x.uz), FloatBits(y.uz)) << trial << ' ' << i;
        ASSERT_EQ(FloatBits(x.vz), FloatBits(y.vz)) << trial << ' ' << i;
        ASSERT_EQ(x.count, y.count) << trial << ' ' << i;
        ASSERT_EQ(x.cellsBefore, y.cellsBefore) << trial << ' ' << i;
        ASSERT_EQ(x.cellsAfter, y.cellsAfter) << trial << ' ' << i;
        ASSERT_EQ(x.depth, y.depth) << trial << ' ' << i;
        ASSERT_EQ(x.pixels, y.pixels) << trial << ' ' << i;
    }
    EXPECT_EQ(std::memcmp(&a.state, &b.state, sizeof(SpanState)), 0) << trial;
    EXPECT_EQ(a.row, b.row) << trial;
}

TEST(Render3dSpanRows, SpansStayInTheViewportWhateverTheBatches) {
    Rows rows;
    const SpanRowTarget target = rows.Target();
    std::mt19937 random(17);
    for (int32_t trial = 0; trial < 500; ++trial) {
        const Case c = RandomCase(random);
        const Walked whole = Walk(WalkSpanRows_Scalar, c, target, Rows::kHeight);
        for (const Span& span : whole.spans) {
            ASSERT_GE(span.count, 1);
            ASSERT_GE(span.cellsBefore, 0);
            ASSERT_GE(span.cellsAfter, 0);
            ASSERT_EQ(span.cellsBefore + span.count + span.cellsAfter, Rows::kWidth) << trial;
            const ptrdiff_t cell = span.depth - rows.cells.data();
            ASSERT_EQ(cell % Rows::kWidth, span.cellsBefore) << trial;
            ASSERT_GE(cell / Rows::kWidth, c.first);
            ASSERT_LT(cell / Rows::kWidth, c.end);
        }
        // Where a batch ends changes nothing: the edges carry on from there.
        const int32_t room = 1 + static_cast<int32_t>(random() % 4);
        ASSERT_NO_FATAL_FAILURE(ExpectSameBits(Walk(WalkSpanRows_Scalar, c, target, room), whole, trial));
        // Stepping over the rows leaves the edges where walking them does.
        const SpanState stepped = Stepped(StepSpanRows_Scalar, c);
        ASSERT_EQ(std::memcmp(&stepped, &whole.state, sizeof(SpanState)), 0) << trial;
    }
}

#if VEILSHIFT_WIDE_FORMS
TEST(Render3dSpanRows, Sse2FormGivesTheScalarFormsBits) {
    if (!DetectProcessorFeatures().sse2) GTEST_SKIP() << "no SSE2";
    Rows rows;
    const SpanRowTarget target = rows.Target();
    std::mt19937 random(23);
    for (int32_t trial = 0; trial < 3000; ++trial) {
        const Case c = RandomCase(random);
        const int32_t room = 1 + static_cast<int32_t>(random() % 40);
        ASSERT_NO_FATAL_FAILURE(ExpectSameBits(Walk(WalkSpanRows_Sse2, c, target, room),
                                               Walk(WalkSpanRows_Scalar, c, target, room), trial));
        const SpanState sse2 = Stepped(StepSpanRows_Sse2, c), scalar = Stepped(StepSpanRows_Scalar, c);
        ASSERT_EQ(std::memcmp(&sse2, &scalar, sizeof(SpanState)), 0) << trial;
    }
}

TEST(Render3dSpanRows, ChooserTakesSse2WhereThereIsSse2) {
    EXPECT_EQ(ChooseSpanRows({true, true, false, false}).walk, WalkSpanRows_Scalar);
    EXPECT_EQ(ChooseSpanRows({true, true, false, false}).step, StepSpanRows_Scalar);
    for (const ProcessorFeatures features : {ProcessorFeatures{true, true, true, false}, ProcessorFeatures{true, true, true, true}}) {
        EXPECT_EQ(ChooseSpanRows(features).walk, WalkSpanRows_Sse2);
        EXPECT_EQ(ChooseSpanRows(features).step, StepSpanRows_Sse2);
    }
}
#endif

}  // namespace
}  // namespace veilshift
