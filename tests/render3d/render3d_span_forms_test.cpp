// The span forms: the scalar form against a model of its own arithmetic, every
// vector form the processor has against the scalar form on the same random
// spans (depth cells and pixels to the bit, nothing outside the span touched),
// the vector forms' texel reads confined to the slot, and the chooser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "Veilshift/platform/fpu_precision.h"
#include "Veilshift/render3d/span_fill.h"
#include "Veilshift/render3d/soft_renderer.h"
#include "Veilshift/startup_settings.h"
#include "Veilshift/transition_forms.h"
#include "fenced_buffer.h"
#include "bit_pins.h"

namespace veilshift {
namespace {

using test::FloatBits;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr int32_t kGuard = 19;  // cells and pixels either side of a span
constexpr uint8_t kGuardByte = 0xC5;
const float kGuardCell = -1234.5f;

// A texture slot inside a padded surface, optionally bottom-up, texels random;
// the surface's last byte is followed by an inaccessible page.
struct Texture {
    test::FencedBuffer bytes;
    SpanTexture slot;
    Texture(std::mt19937& random, int32_t width, int32_t height, int32_t padding, bool bottomUp)
        : bytes(static_cast<size_t>(width * 3 + padding) * static_cast<size_t>(height)) {
        const int32_t stride = width * 3 + padding;
        for (size_t i = 0; i < bytes.size(); ++i) bytes.data()[i] = static_cast<uint8_t>(random());
        const uint8_t* first = bottomUp ? bytes.data() + static_cast<ptrdiff_t>(height - 1) * stride : bytes.data();
        slot = {first, bottomUp ? -stride : stride, width - 1, height - 1};
    }
};

// The cells and pixels of one span with guards either side.
struct Target {
    std::vector<float> cells;
    std::vector<uint8_t> pixels;
    explicit Target(int32_t count)
        : cells(static_cast<size_t>(count + 2 * kGuard), kGuardCell),
          pixels(static_cast<size_t>(count + 2 * kGuard) * 3, kGuardByte) {}
    float* Depth() { return cells.data() + kGuard; }
    uint8_t* Pixels() { return pixels.data() + kGuard * 3; }
    bool GuardsIntact(int32_t count) const {
        for (int32_t i = 0; i < kGuard; ++i) {
            if (FloatBits(cells[static_cast<size_t>(i)]) != FloatBits(kGuardCell)) return false;
            if (FloatBits(cells[static_cast<size_t>(kGuard + count + i)]) != FloatBits(kGuardCell)) return false;
        }
        for (int32_t i = 0; i < kGuard * 3; ++i) {
            if (pixels[static_cast<size_t>(i)] != kGuardByte) return false;
            if (pixels[static_cast<size_t>((kGuard + count) * 3 + i)] != kGuardByte) return false;
        }
        return true;
    }
};

// Spans of one triangle part: mostly what the shatter draws (1/z around 1e-3,
// texture coordinates sweeping across and past the slot), sometimes wild.
struct Part {
    SpanGradient d;
    std::vector<Span> spans;
};

float RandomOneOverZ(std::mt19937& random) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    return (random() % 4 == 0) ? unit(random) * 2.0f : 1e-3f * (0.25f + unit(random));
}

SpanGradient RandomGradient(std::mt19937& random) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float iz = RandomOneOverZ(random);
    SpanGradient d{(random() % 3 == 0) ? 0.0f : iz * (unit(random) - 0.5f) * 0.02f,
                   (unit(random) - 0.3f) * 3.0f * iz, (unit(random) - 0.5f) * 2.0f * iz};
    if (random() % 10 == 0) {
        const float specials[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, 1e-40f, 3e38f};
        float* fields[] = {&d.dIz, &d.dUz, &d.dVz};
        *fields[random() % 3] = specials[random() % std::size(specials)];
    }
    return d;
}

// A span of `count` pixels; its cells and pixels are set by the caller.
Span RandomSpan(std::mt19937& random, const SpanTexture& t, int32_t count) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float iz = RandomOneOverZ(random);
    const float u0 = (unit(random) * 1.4f - 0.2f) * static_cast<float>(t.lastU + 1);
    const float v0 = (unit(random) * 1.4f - 0.2f) * static_cast<float>(t.lastV + 1);
    // Some of the guard cells count as the row's, which a form may read and
    // store back unchanged. Now and then the row is wide (a form then asks for
    // lines ahead); no form reaches more than seven cells left of a span.
    const int32_t before = random() % 4 == 0 ? 1200 : static_cast<int32_t>(random() % (kGuard + 1));
    const int32_t after = random() % 2 == 0 ? 0 : static_cast<int32_t>(random() % (kGuard + 1));
    Span span{iz, u0 * iz, v0 * iz, count, before, after, nullptr, nullptr};
    if (random() % 10 == 0) {
        const float specials[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, 1e-40f, -1e-3f, 3e38f, 1e-30f};
        float* fields[] = {&span.iz, &span.uz, &span.vz};
        *fields[random() % 3] = specials[random() % std::size(specials)];
    }
    return span;
}

// As DrawSpans runs it: the 32-bit build's x87 unit rounding to single precision.
void FillScalar(const Span* spans, int32_t count, const SpanGradient& d, const SpanTexture& texture) {
    platform::FpuSinglePrecision guard;
    FillSpans_Scalar(spans, count, d, texture);
}

TEST(Render3dSpanForms, ScalarFormComputesEachPixelFromTheSpanStart) {
    std::mt19937 random(11);
    Texture texture(random, 37, 23, 5, false);
    for (int32_t trial = 0; trial < 300; ++trial) {
        const int32_t count = 1 + static_cast<int32_t>(random() % 90);
        const SpanGradient d = RandomGradient(random);
        Span span = RandomSpan(random, texture.slot, count);
        Target target(count);
        for (int32_t i = 0; i < count; ++i) target.Depth()[i] = 0.0f;
        span.depth = target.Depth();
        span.pixels = target.Pixels();
        FillScalar(&span, 1, d, texture.slot);
        ASSERT_TRUE(target.GuardsIntact(count));
        float k = 0.0f;
        for (int32_t i = 0; i < count; ++i, k += 1.0f) {
            // Each operation rounded to single precision on its own (volatile:
            // an x87 result is rounded once more where it is stored, which for
            // one operation on floats gives the single-precision result).
            volatile float kIz = k * d.dIz, kUz = k * d.dUz, kVz = k * d.dVz;
            volatile float iz = span.iz + kIz, uz = span.uz + kUz, vz = span.vz + kVz;
            if (!(iz > 0.0f)) {
                ASSERT_EQ(FloatBits(target.Depth()[i]), 0u) << trial << ' ' << i;
                ASSERT_EQ(target.Pixels()[3 * i], kGuardByte);
                continue;
            }
            volatile float w = 1.0f / iz;
            volatile float u = uz * w, v = vz * w;
            const int32_t iu = std::clamp(NearestInteger(u), 0, texture.slot.lastU);
            const int32_t iv = std::clamp(NearestInteger(v), 0, texture.slot.lastV);
            const uint8_t* texel = texture.slot.texels + iv * texture.slot.pitch + iu * 3;
            ASSERT_EQ(FloatBits(target.Depth()[i]), FloatBits(iz)) << trial << ' ' << i;
            ASSERT_EQ(std::memcmp(target.Pixels() + 3 * i, texel, 3), 0) << trial << ' ' << i;
        }
    }
}

#if VEILSHIFT_WIDE_FORMS
// A part of a piece at rest, parallel to the screen: one 1/z, about a texel
// per pixel across (a little less, as a picture one pixel narrower than the
// screen), the texel row barely moving.
SpanGradient RestGradient(std::mt19937& random, float iz) {
    const float shrink[] = {0.0f, 1.0f / 640.0f, 1.0f / 1920.0f, 3e-3f, -2e-3f};
    const float drift[] = {0.0f, 0.0f, 1e-4f, -3e-4f, 2e-3f};
    return {0.0f, iz * (1.0f - shrink[random() % 5]), iz * drift[random() % 5]};
}

Span RestSpan(std::mt19937& random, const SpanTexture& t, int32_t count, float iz) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float u0 = unit(random) * static_cast<float>(t.lastU + 3) - 2.0f;
    const float v0 = unit(random) * static_cast<float>(t.lastV + 1) - 0.5f;
    const int32_t before = random() % 2 == 0 ? 1500 : static_cast<int32_t>(random() % (kGuard + 1));
    const int32_t after = static_cast<int32_t>(random() % (kGuard + 1));
    return {iz, u0 * iz, v0 * iz, count, before, after, nullptr, nullptr};
}

// Cells as an earlier piece leaves them: empty, farther, nearer, exactly as
// near as this span's own pixel (the strict test keeps those), or NaN.
void FillCells(std::mt19937& random, float* cells, const Span& span, const SpanGradient& d) {
    const uint32_t style = random() % 4;
    float k = 0.0f;
    for (int32_t i = 0; i < span.count; ++i, k += 1.0f) {
        volatile float product = k * d.dIz;
        volatile float own = span.iz + product;
        switch (style == 0 ? 0 : random() % 6) {
            case 0: cells[i] = 0.0f; break;
            case 1: cells[i] = own * 0.5f; break;
            case 2: cells[i] = own * 2.0f; break;
            case 3: cells[i] = own; break;
            case 4: cells[i] = kNaN; break;
            default: cells[i] = static_cast<float>(random() % 1000) * 1e-5f; break;
        }
    }
}

struct NamedForm {
    const char* name;
    SpanFillFn fill;
    bool available;
};

std::vector<NamedForm> VectorForms() {
    const ProcessorFeatures features = DetectProcessorFeatures();
    return {{"SSE2", FillSpans_Sse2, features.sse2}, {"AVX2", FillSpans_Avx2, features.avx2}};
}

TEST(Render3dSpanForms, VectorFormsGiveTheScalarFormsBits) {
    std::mt19937 random(5);
    int32_t formsRun = 0;
    for (const NamedForm& form : VectorForms()) {
        if (!form.available) continue;
        ++formsRun;
        for (int32_t trial = 0; trial < 2000; ++trial) {
            // Every third part is one of a piece at rest, over a wide slot.
            const bool atRest = trial % 3 == 0;
            // Widths from one texel up (one column, rows packed or not); both row orders.
            const int32_t width = atRest ? 40 + static_cast<int32_t>(random() % 400) : 1 + static_cast<int32_t>(random() % 30);
            const int32_t height = 1 + static_cast<int32_t>(random() % 20);
            Texture texture(random, width, height, static_cast<int32_t>(random() % 7), random() % 3 == 0);
            // One to five rows of one part; lengths around the groups of four
            // and eight, and longer than a chunk.
            const float restIz = RandomOneOverZ(random);
            const SpanGradient d = atRest ? RestGradient(random, restIz) : RandomGradient(random);
            const int32_t rows = 1 + static_cast<int32_t>(random() % 5);
            std::vector<Span> spans;
            std::vector<Target> scalar, vector;
            for (int32_t row = 0; row < rows; ++row) {
                const int32_t count = random() % 4 == 0 ? 60 + static_cast<int32_t>(random() % 200)
                                                        : 1 + static_cast<int32_t>(random() % 40);
                spans.push_back(atRest ? RestSpan(random, texture.slot, count, restIz)
                                       : RandomSpan(random, texture.slot, count));
                scalar.emplace_back(count);
                vector.emplace_back(count);
                FillCells(random, scalar.back().Depth(), spans.back(), d);
                std::memcpy(vector.back().Depth(), scalar.back().Depth(), static_cast<size_t>(count) * sizeof(float));
                for (int32_t i = 0; i < count * 3; ++i)
                    scalar.back().Pixels()[i] = vector.back().Pixels()[i] = static_cast<uint8_t>(i);
            }
            for (int32_t row = 0; row < rows; ++row) {
                spans[row].depth = scalar[row].Depth();
                spans[row].pixels = scalar[row].Pixels();
            }
            FillScalar(spans.data(), rows, d, texture.slot);
            for (int32_t row = 0; row < rows; ++row) {
                spans[row].depth = vector[row].Depth();
                spans[row].pixels = vector[row].Pixels();
            }
            {
                // Under the same guard: rows too short for a group go through the scalar code.
                platform::FpuSinglePrecision guard;
                form.fill(spans.data(), rows, d, texture.slot);
            }

            for (int32_t row = 0; row < rows; ++row) {
                const Target& v = vector[row];
                const Target& s = scalar[row];
                ASSERT_TRUE(v.GuardsIntact(spans[row].count)) << form.name << " trial " << trial << " row " << row;
                ASSERT_EQ(std::memcmp(v.cells.data(), s.cells.data(), s.cells.size() * sizeof(float)), 0)
                    << form.name << " trial " << trial << " row " << row;
                ASSERT_EQ(v.pixels, s.pixels) << form.name << " trial " << trial << " row " << row;
            }
        }
    }
    if (formsRun == 0) GTEST_SKIP() << "no vector form on this processor";
}

// A slot whose first byte follows an unreadable page, or whose last byte is
// followed by one: a form reading one byte outside the slot faults here.
TEST(Render3dSpanForms, VectorFormsReadOnlyInsideTheSlot) {
    // One whole page: fenced on both sides.
    const size_t page = test::FencedBuffer::PageSize();
    test::FencedBuffer region(page);
    ASSERT_TRUE(region.Fenced());
    ASSERT_EQ(reinterpret_cast<uintptr_t>(region.data()) % page, 0u);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(region.end()) % page, 0u);
    std::mt19937 random(3);
    for (uint8_t* b = region.data(); b < region.end(); ++b) *b = static_cast<uint8_t>(random());
    // Rows packed, no padding; five texels across, and one (every lane in the last column).
    for (const int32_t width : {5, 1}) {
        const int32_t height = width == 5 ? 4 : 9, stride = width * 3;
        const size_t slotBytes = static_cast<size_t>(stride * height);
        uint8_t* const atStart = region.data();
        uint8_t* const atEnd = region.end() - slotBytes;
        const SpanTexture placements[] = {
            {atStart, stride, width - 1, height - 1},
            {atEnd, stride, width - 1, height - 1},
            {atStart + (height - 1) * stride, -stride, width - 1, height - 1},  // bottom-up
            {atEnd + (height - 1) * stride, -stride, width - 1, height - 1},
        };
        for (const NamedForm& form : VectorForms()) {
            if (!form.available) continue;
            for (const SpanTexture& slot : placements) {
                for (int32_t trial = 0; trial < 400; ++trial) {
                    const int32_t count = 1 + static_cast<int32_t>(random() % 40);
                    Span span = RandomSpan(random, slot, count);
                    // Sweep past both edges so the corner texels are read.
                    span.iz = 1e-3f;
                    span.uz = span.iz * (trial % 2 == 0 ? -3.0f : 9.0f);
                    span.vz = span.iz * static_cast<float>(trial % 11 - 2);
                    const float dv = trial % 5 == 0 ? 0.3f : 0.0f;
                    const SpanGradient d{trial % 3 == 0 ? 0.0f : 1e-6f, span.iz * (trial % 2 == 0 ? 0.5f : -0.5f),
                                         span.iz * dv};
                    Target target(count);
                    for (int32_t i = 0; i < count; ++i) target.Depth()[i] = 0.0f;
                    span.depth = target.Depth();
                    span.pixels = target.Pixels();
                    form.fill(&span, 1, d, slot);
                    ASSERT_TRUE(target.GuardsIntact(count)) << form.name;
                }
            }
        }
    }
}

ProcessorFeatures Vector(bool sse2, bool avx2) { return {true, true, sse2, avx2}; }


// The span form one DrawSpans call gets on a processor with `features`.
SpanFillFn ChooseSpanFill(const SpanTexture& texture, bool texelsMeetPixels, const ProcessorFeatures& features) {
    return SelectSpanFill(ChooseSpanFillForms(features), texture, texelsMeetPixels);
}

TEST(Render3dSpanForms, ChooserTakesTheWidestFormThatCanAddressTheSlot) {
    uint8_t texel[3] = {};
    const SpanTexture usual{texel, 1920 * 3, 1919, 1079};
    EXPECT_EQ(ChooseSpanFill(usual, false, Vector(false, false)), FillSpans_Scalar);
    EXPECT_EQ(ChooseSpanFill(usual, false, Vector(true, false)), FillSpans_Sse2);
    EXPECT_EQ(ChooseSpanFill(usual, false, Vector(true, true)), FillSpans_Avx2);
    EXPECT_EQ(ChooseSpanFill({texel, -1920 * 3, 1919, 1079}, false, Vector(true, true)), FillSpans_Avx2);
    EXPECT_EQ(ChooseSpanFill({texel, 3, 0, 1079}, false, Vector(true, true)), FillSpans_Avx2);  // one texel across
    // Offsets past what a 32-bit lane holds.
    EXPECT_EQ(ChooseSpanFill({texel, 1 << 20, 1919, 4096}, false, Vector(true, true)), FillSpans_Sse2);
    EXPECT_EQ(ChooseSpanFill({texel, -(1 << 20), 1919, 4096}, false, Vector(true, true)), FillSpans_Sse2);
    // The last texel's byte after it at 2^31 - 1 (932 x 2304167 + 3) still fits, one texel more does not.
    EXPECT_EQ(ChooseSpanFill({texel, 932, 0, 2304167}, false, Vector(true, true)), FillSpans_Avx2);
    EXPECT_EQ(ChooseSpanFill({texel, 932, 1, 2304167}, false, Vector(true, true)), FillSpans_Sse2);
    // Last texel indices that are no exact float.
    EXPECT_EQ(ChooseSpanFill({texel, 3, 1 << 24, 0}, false, Vector(true, true)), FillSpans_Scalar);
    EXPECT_EQ(ChooseSpanFill({texel, 3, 1, 1 << 24}, false, Vector(true, false)), FillSpans_Scalar);
    // Texels among the pixels being drawn: the scalar form's order.
    EXPECT_EQ(ChooseSpanFill(usual, true, Vector(true, true)), FillSpans_Scalar);
    // A shatter transition takes the renderer's forms at Begin: the spans filled
    // alike, the rows walked and the matrices multiplied in SSE2 code where the
    // processor has it.
    for (const ProcessorFeatures& features : {Vector(false, false), Vector(true, false), Vector(true, true)}) {
        FormSettings settings;
        settings.features = features;
        const RendererForms forms = ChooseTransitionForms(settings, 34, 1920, 1080).renderer;
        EXPECT_EQ(SelectSpanFill(forms.fill, usual, false), ChooseSpanFill(usual, false, features));
        EXPECT_EQ(forms.rows.walk, features.sse2 ? WalkSpanRows_Sse2 : WalkSpanRows_Scalar);
        EXPECT_EQ(forms.rows.step, features.sse2 ? StepSpanRows_Sse2 : StepSpanRows_Scalar);
        EXPECT_EQ(forms.matrix.multiply, features.sse2 ? MultiplyMatrix_Sse2 : single_precision::MultiplyMatrix);
    }
}
#endif  // VEILSHIFT_WIDE_FORMS

TEST(Render3dSpanForms, TexelsMeetPixelsWhereTheirBytesShareMemory) {
    // A 10 x 8 surface, rows 40 bytes apart; a 4 x 3 slot at (5, 4).
    uint8_t surface[8 * 40] = {};
    const SpanTexture slot{surface + 4 * 40 + 5 * 3, 40, 3, 2};
    // Destination rectangles of the same surface, as (x, y, width, height).
    auto meets = [&](int32_t x, int32_t y, int32_t width, int32_t height) {
        return TexelsMeetPixels(slot, surface + y * 40 + x * 3, 40, width, height);
    };
    EXPECT_TRUE(meets(0, 0, 10, 8));
    EXPECT_TRUE(meets(8, 6, 2, 2));    // the slot's last texel
    EXPECT_FALSE(meets(0, 0, 10, 4));  // the rows above
    EXPECT_FALSE(meets(0, 7, 10, 1));  // the row below
    EXPECT_FALSE(meets(0, 4, 5, 1));   // left of the slot's first row
    EXPECT_FALSE(meets(9, 6, 1, 1));   // right of its last texel
    // Between the slot's rows, outside its columns: counted as meeting (the
    // test is on the span of memory from its first byte to its last).
    EXPECT_TRUE(meets(0, 5, 5, 1));
    // Bottom-up rows give the same bytes.
    const SpanTexture upward{surface + 6 * 40 + 5 * 3, -40, 3, 2};
    EXPECT_TRUE(TexelsMeetPixels(upward, surface + 4 * 40 + 15, 40, 1, 1));
    EXPECT_FALSE(TexelsMeetPixels(upward, surface + 7 * 40, -40, 10, 1));
    EXPECT_TRUE(TexelsMeetPixels(upward, surface + 7 * 40, -40, 10, 2));  // rows 7 and 6
    // Another block of memory altogether.
    uint8_t other[40] = {};
    EXPECT_FALSE(TexelsMeetPixels(slot, other, 40, 10, 1));
}

}  // namespace
}  // namespace veilshift
