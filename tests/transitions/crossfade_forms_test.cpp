// The crossfade forms against per-byte models of their own arithmetic, the
// form choice, and the host calls made by CrossfadeRect and effect 1.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "Veilshift/effect_plugin.h"
#include "Veilshift/effects/effects.h"
#include "Veilshift/startup_settings.h"
#include "Veilshift/transitions/blend.h"
#include "Veilshift/transitions/crossfade.h"
#include "fenced_buffer.h"
#include "call_recorder.h"
#include "host/test_surface.h"
#include "processor_forms.h"

namespace veilshift {
namespace {

bool Always() { return true; }
#if VEILSHIFT_WIDE_FORMS
bool HasSse2() { return DetectProcessorFeatures().sse2; }
bool HasAvx2() { return DetectProcessorFeatures().avx2; }
#endif

struct Form {
    const char* name;
    CrossfadeFn fn;
    bool grouped;                 // whole 4-pixel groups use the 16-bit lane arithmetic
    bool (*available)() = Always;  // whether this processor can run it
    bool streaming = false;       // run with the vector forms' stores around the cache
};
void PrintTo(const Form& form, std::ostream* os) { *os << form.name; }

// What "MMX" and "SSE" choose for whole groups with no wider form: the MMX and
// SSE forms on x86, the portable grouped code elsewhere.
#if VEILSHIFT_WIDE_FORMS
const CrossfadeFn kGroupedMmx = CrossfadeGrouped_Mmx;
const CrossfadeFn kGroupedSse = CrossfadeGrouped_Sse;
#else
const CrossfadeFn kGroupedMmx = CrossfadeGrouped_Scalar;
const CrossfadeFn kGroupedSse = CrossfadeGrouped_Scalar;
#endif

const Form kForms[] = {
    {"ExactScalar", CrossfadeExact_Scalar, false},
    {"GroupedScalar", CrossfadeGrouped_Scalar, true},
#if VEILSHIFT_WIDE_FORMS
    {"GroupedMmx", CrossfadeGrouped_Mmx, true},
    {"GroupedSse", CrossfadeGrouped_Sse, true},
    // The vector forms, each also with non-temporal stores, which take another
    // path through every row (pieces up to an aligned address).
    {"ExactSse2", CrossfadeExact_Sse2, false, HasSse2},
    {"ExactSse2Streaming", CrossfadeExact_Sse2, false, HasSse2, true},
    {"ExactAvx2", CrossfadeExact_Avx2, false, HasAvx2},
    {"ExactAvx2Streaming", CrossfadeExact_Avx2, false, HasAvx2, true},
    {"GroupedSse2", CrossfadeGrouped_Sse2, true, HasSse2},
    {"GroupedSse2Streaming", CrossfadeGrouped_Sse2, true, HasSse2, true},
    {"GroupedAvx2", CrossfadeGrouped_Avx2, true, HasAvx2},
    {"GroupedAvx2Streaming", CrossfadeGrouped_Avx2, true, HasAvx2, true},
#endif
};

// Calls the form with the streaming threshold the form's entry asks for.
void CallForm(const Form& form, uint8_t* dst, ptrdiff_t dstPitch, const uint8_t* a, ptrdiff_t aPitch, const uint8_t* b,
         ptrdiff_t bPitch, int32_t width, int32_t height, int32_t alpha) {
    form.fn(dst, dstPitch, a, aPitch, b, bPitch, width, height, alpha, form.streaming);
}

size_t GroupedBytes(const Form& form, int32_t width) {
    return form.grouped ? static_cast<size_t>(width / 4) * 12 : 0;
}

// The model of byte `i` of a row.
uint8_t Expected(const Form& form, size_t i, int32_t width, int a, int b, int alpha) {
    return i < GroupedBytes(form, width) ? BlendByteGrouped(a, b, alpha >> 1) : BlendByte(a, b, alpha);
}

// Both models for every (alpha, b, a), computed once: the exhaustive sweep then
// costs one look-up per byte.
struct ModelTables {
    std::vector<uint8_t> scalar, grouped;
    static size_t Index(int alpha, int b) {
        return (static_cast<size_t>(alpha) << 16) | (static_cast<size_t>(b) << 8);
    }
};
const ModelTables& Models() {
    static const ModelTables tables = [] {
        ModelTables t;
        t.scalar.resize(size_t{1} << 24);
        t.grouped.resize(size_t{1} << 24);
        for (int alpha = 0; alpha < 256; ++alpha)
            for (int b = 0; b < 256; ++b)
                for (int a = 0; a < 256; ++a) {
                    t.scalar[ModelTables::Index(alpha, b) + a] = BlendByte(a, b, alpha);
                    t.grouped[ModelTables::Index(alpha, b) + a] = BlendByteGrouped(a, b, alpha >> 1);
                }
        return t;
    }();
    return tables;
}

using test::Fence;
using test::FencedRows;
using refhost::TestSurface;
using test::CallRecorder;
using test::SurfaceCall;

// Pixel memory of one surface, fenced: an over-wide load at a row end faults
// where it happens (ASan catches the same in the unfenced heap blocks).
Fence FenceIf(bool guarded) { return guarded ? Fence::kAfter : Fence::kNone; }

testing::AssertionResult SameBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected) {
    for (size_t i = 0; i < expected.size(); ++i)
        if (actual[i] != expected[i])
            return testing::AssertionFailure()
                   << "byte " << i << " is " << int{actual[i]} << ", expected " << int{expected[i]};
    return testing::AssertionSuccess();
}

// One row of `width` pixels, every A byte `a` and every B byte `b`.
std::vector<uint8_t> RunRow(const Form& form, int32_t width, uint8_t a, uint8_t b, int32_t alpha) {
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> aRow(rowBytes, a), bRow(rowBytes, b), out(rowBytes, 0x5A);
    CallForm(form, out.data(), 0, aRow.data(), 0, bRow.data(), 0, width, 1, alpha);
    return out;
}

class CrossfadeForm : public testing::TestWithParam<Form> {
protected:
    void SetUp() override {
        if (!GetParam().available()) GTEST_SKIP() << GetParam().name << " needs instructions this processor lacks";
    }
};
INSTANTIATE_TEST_SUITE_P(AllForms, CrossfadeForm, testing::ValuesIn(kForms),
                         [](const testing::TestParamInfo<Form>& info) { return std::string(info.param.name); });

// a sweeps the row (byte i holds i & 255); b and alpha sweep the loops. Width
// 87 ends in a 3-pixel tail, 88 in a whole group. The destination row starts
// at b mod 32 bytes into its buffer, so every alignment of it is seen.
TEST_P(CrossfadeForm, EveryByteMatchesModel) {
    const Form& form = GetParam();
    const ModelTables& models = Models();
    std::vector<uint8_t> aRow(88 * 3), bRow(88 * 3), outBuffer(88 * 3 + 32), expected(88 * 3);
    for (size_t i = 0; i < aRow.size(); ++i) aRow[i] = static_cast<uint8_t>(i);
    for (int32_t width : {87, 88}) {
        const size_t rowBytes = static_cast<size_t>(width) * 3;
        const size_t groupedBytes = GroupedBytes(form, width);
        for (int b = 0; b < 256; ++b) {
            std::memset(bRow.data(), b, bRow.size());
            uint8_t* const out = outBuffer.data() + (b & 31);
            for (int alpha = 0; alpha < 256; ++alpha) {
                CallForm(form, out, 0, aRow.data(), 0, bRow.data(), 0, width, 1, alpha);
                const uint8_t* scalar = &models.scalar[ModelTables::Index(alpha, b)];
                const uint8_t* grouped = &models.grouped[ModelTables::Index(alpha, b)];
                for (size_t i = 0; i < rowBytes; ++i) expected[i] = (i < groupedBytes ? grouped : scalar)[i & 255];
                if (std::memcmp(out, expected.data(), rowBytes) != 0) {
                    for (size_t i = 0; i < rowBytes; ++i)
                        ASSERT_EQ(int{out[i]}, int{expected[i]})
                            << "width " << width << " byte " << i << " a " << (i & 255) << " b " << b << " alpha "
                            << alpha;
                }
            }
        }
    }
}

TEST_P(CrossfadeForm, WorkedExamples) {
    const Form& form = GetParam();
    const uint8_t grouped127 = form.grouped ? 125 : 126;

    // a = 0, b = 255, alpha = 127: 126 by the scalar formula, 125 in grouped bytes.
    for (uint8_t byte : RunRow(form, 4, 0, 255, 127)) EXPECT_EQ(byte, grouped127);
    // 5 pixels: one group, then a tail pixel with the full alpha.
    const std::vector<uint8_t> five = RunRow(form, 5, 0, 255, 127);
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(five[i], grouped127) << i;
    for (size_t i = 12; i < 15; ++i) EXPECT_EQ(five[i], 126) << i;

    // The floor: at alpha 1 a falling byte moves, a rising one does not (tail pixel).
    EXPECT_EQ(RunRow(form, 5, 255, 0, 1)[12], 254);
    EXPECT_EQ(RunRow(form, 5, 0, 255, 1)[12], 0);
    if (!form.grouped) {
        EXPECT_EQ(RunRow(form, 1, 255, 0, 1)[0], 254);
        EXPECT_EQ(RunRow(form, 1, 0, 255, 1)[0], 0);
    }
    // The heaviest weight never quite reaches B.
    EXPECT_EQ(RunRow(form, 4, 0, 255, 255)[0], form.grouped ? 253 : 254);
    EXPECT_EQ(RunRow(form, 4, 255, 0, 255)[0], form.grouped ? 1 : 0);

    // alpha 0 copies source A exactly.
    std::mt19937 rng(7);
    FencedRows a(13, 3, 13 * 3 + 5, Fence::kNone, rng), b(13, 3, 13 * 3 + 2, Fence::kNone, rng),
        dst(13, 3, 13 * 3, Fence::kNone, rng);
    CallForm(form, dst.Pixel(0, 0), dst.pitch, a.Pixel(0, 0), a.pitch, b.Pixel(0, 0), b.pitch, 13, 3, 0);
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(dst.Pixel(0, y), a.Pixel(0, y), 13 * 3), 0) << y;
}

// Formulas close enough to pass a casual look. Each must disagree with the
// model somewhere, and the form must side with the model there.
using ByteFormula = int (*)(int a, int b, int alpha);
struct NearMiss {
    const char* what;
    bool grouped;  // compared with the lane model (else with the scalar one)
    ByteFormula formula;
};
const NearMiss kNearMisses[] = {
    {"rounds instead of flooring", false, [](int a, int b, int alpha) { return a + ((alpha * (b - a) + 128) >> 8); }},
    {"truncates toward zero", false, [](int a, int b, int alpha) { return a + alpha * (b - a) / 256; }},
    {"divides by 255", false, [](int a, int b, int alpha) { return a + (alpha * (b - a)) / 255; }},
    {"full alpha in grouped bytes", true, [](int a, int b, int alpha) { return a + ((alpha * (b - a)) >> 8); }},
    {"halves alpha rounding up", true,
     [](int a, int b, int alpha) { return a + ((((alpha + 1) >> 1) * (b - a)) >> 7); }},
    {"half alpha with shift 8", true, [](int a, int b, int alpha) { return a + (((alpha >> 1) * (b - a)) >> 8); }},
    {"logical shift (psrlw)", true,
     [](int a, int b, int alpha) {
         const int v = a + static_cast<int>(static_cast<uint16_t>((alpha >> 1) * (b - a)) >> 7);
         return v > 255 ? 255 : v;
     }},
};

TEST(CrossfadeModel, NearMissFormulasAreCaught) {
    for (const NearMiss& nearMiss : kNearMisses) {
        SCOPED_TRACE(nearMiss.what);
        bool found = false;
        int wa = 0, wb = 0, walpha = 0;
        for (int alpha = 0; alpha < 256 && !found; ++alpha)
            for (int b = 0; b < 256 && !found; ++b)
                for (int a = 0; a < 256 && !found; ++a) {
                    const uint8_t model =
                        nearMiss.grouped ? BlendByteGrouped(a, b, alpha >> 1) : BlendByte(a, b, alpha);
                    if (static_cast<uint8_t>(nearMiss.formula(a, b, alpha)) != model) {
                        found = true;
                        wa = a, wb = b, walpha = alpha;
                    }
                }
        ASSERT_TRUE(found);
        for (const Form& form : kForms) {
            if (form.grouped != nearMiss.grouped || !form.available()) continue;
            const uint8_t out = RunRow(form, 4, static_cast<uint8_t>(wa), static_cast<uint8_t>(wb), walpha)[0];
            EXPECT_NE(int{out}, static_cast<uint8_t>(nearMiss.formula(wa, wb, walpha)))
                << form.name << " a " << wa << " b " << wb << " alpha " << walpha;
        }
    }
}

// A model-free check of the grouped arithmetic: even weights agree with the
// scalar form exactly; odd ones may land one step nearer A, never further.
TEST(CrossfadeModel, GroupedFormsStayWithinOneStepTowardsA) {
    std::mt19937 rng(11);
    const int32_t width = 37;
    const size_t rowBytes = width * 3, groupedBytes = (width / 4) * 12;
    std::vector<uint8_t> a(rowBytes), b(rowBytes), scalar(rowBytes), mmx(rowBytes), sse(rowBytes);
    for (int alpha = 0; alpha < 256; ++alpha)
        for (int round = 0; round < 16; ++round) {
            for (size_t i = 0; i < rowBytes; ++i)
                a[i] = static_cast<uint8_t>(rng()), b[i] = static_cast<uint8_t>(rng());
            CrossfadeExact_Scalar(scalar.data(), 0, a.data(), 0, b.data(), 0, width, 1, alpha, false);
            kGroupedMmx(mmx.data(), 0, a.data(), 0, b.data(), 0, width, 1, alpha, false);
            kGroupedSse(sse.data(), 0, a.data(), 0, b.data(), 0, width, 1, alpha, false);
            ASSERT_EQ(mmx, sse) << alpha;
            for (const Form& form : kForms) {
                if (!form.grouped || !form.available()) continue;
                std::vector<uint8_t> other(rowBytes);
                CallForm(form, other.data(), 0, a.data(), 0, b.data(), 0, width, 1, alpha);
                ASSERT_EQ(other, mmx) << form.name << " alpha " << alpha;
            }
            for (size_t i = 0; i < rowBytes; ++i) {
                const int s = scalar[i], g = mmx[i];
                if (i >= groupedBytes || alpha % 2 == 0) {
                    ASSERT_EQ(g, s) << "alpha " << alpha << " byte " << i;
                } else if (g != s) {
                    ASSERT_EQ(std::abs(g - s), 1) << "alpha " << alpha << " byte " << i;
                    ASSERT_LT(std::abs(g - a[i]), std::abs(s - a[i])) << "alpha " << alpha << " byte " << i;
                }
            }
        }
}

// Random surfaces: three different pitches, some negative; odd sizes and
// offsets; the destination starts random and every byte of all three buffers is
// compared, so a write outside the rectangle or into a source fails. Each case
// is seeded with its number; rectangles in the surfaces' far corner end at the
// last byte of their buffer.
TEST_P(CrossfadeForm, RandomSurfacesMatchModelAndStayInsideTheRectangle) {
    const Form& form = GetParam();
    std::vector<int32_t> widths;
    for (int32_t w = 1; w <= 8; ++w) widths.push_back(w);
    for (int32_t k : {3, 8, 10, 27})
        for (int32_t r = 0; r < 4; ++r) widths.push_back(4 * k + r);
    const int32_t alphas[] = {0, 1, 127, 128, 254, 255};

    uint32_t caseNumber = 0;
    for (int32_t width : widths)
        for (uint32_t signs = 0; signs < 8; ++signs) {
            SCOPED_TRACE(testing::Message() << "case " << caseNumber << " width " << width << " signs " << signs);
            std::mt19937 rng(caseNumber++);
            auto pick = [&](int32_t lo, int32_t hi) { return static_cast<int32_t>(lo + rng() % (hi - lo + 1)); };
            const int32_t height = pick(1, 5);
            const int32_t alpha = caseNumber % 3 == 0 ? alphas[caseNumber % 6] : pick(0, 255);
            const bool farCorner = caseNumber % 2 == 0;
            const bool guarded = caseNumber % 4 < 2;

            // Each surface: a margin of up to 3 pixels and its own row padding, so
            // that dst pitch < A pitch < B pitch whatever the margins.
            struct Shape { int32_t cols, rows, pitch, x, y; };
            auto shape = [&](int32_t padLo, int32_t padHi, bool negative) {
                Shape s;
                s.cols = width + pick(0, 3);
                s.rows = height + pick(0, 2);
                s.pitch = (s.cols * 3 + pick(padLo, padHi)) * (negative ? -1 : 1);
                s.x = farCorner ? s.cols - width : pick(0, s.cols - width);
                // The far corner in memory is the last row for a top-down surface, the first for a bottom-up one.
                s.y = farCorner ? (negative ? 0 : s.rows - height) : pick(0, s.rows - height);
                return s;
            };
            const Shape ds = shape(1, 7, signs & 1), as = shape(17, 24, signs & 2), bs = shape(34, 49, signs & 4);
            FencedRows dst(ds.cols, ds.rows, ds.pitch, FenceIf(guarded), rng);
            FencedRows a(as.cols, as.rows, as.pitch, FenceIf(guarded), rng);
            FencedRows b(bs.cols, bs.rows, bs.pitch, FenceIf(guarded), rng);
            const std::vector<uint8_t> aBefore = a.Bytes(), bBefore = b.Bytes();

            std::vector<uint8_t> expected = dst.Bytes();
            for (int32_t y = 0; y < height; ++y) {
                const uint8_t* aRow = a.Pixel(as.x, as.y + y);
                const uint8_t* bRow = b.Pixel(bs.x, bs.y + y);
                const size_t at = static_cast<size_t>(dst.Pixel(ds.x, ds.y + y) - dst.memory.data());
                for (size_t i = 0; i < static_cast<size_t>(width) * 3; ++i)
                    expected[at + i] = Expected(form, i, width, aRow[i], bRow[i], alpha);
            }

            CallForm(form, dst.Pixel(ds.x, ds.y), dst.pitch, a.Pixel(as.x, as.y), a.pitch, b.Pixel(bs.x, bs.y), b.pitch,
                width, height, alpha);
            ASSERT_TRUE(SameBytes(dst.Bytes(), expected)) << "destination";
            ASSERT_TRUE(SameBytes(a.Bytes(), aBefore)) << "source A";
            ASSERT_TRUE(SameBytes(b.Bytes(), bBefore)) << "source B";
        }
}

// MMX registers alias the x87 stack: without EMMS the next x87 load overflows
// it and 1 + 1 comes out as NaN. Only real MMX code can fail this (the 32-bit
// build); x86-64 GCC carries __m64 in SSE registers.
TEST_P(CrossfadeForm, LeavesTheX87StackUsable) {
    std::vector<uint8_t> a(64 * 3, 10), b(64 * 3, 200), out(64 * 3);
    CallForm(GetParam(), out.data(), 0, a.data(), 0, b.data(), 0, 64, 1, 100);
    volatile long double x = 1;
    x = x + 1;  // an x87 load, add and store
    const long double sum = x;
    EXPECT_EQ(sum, 2.0L);
}

// A host may name one surface as destination and source: every byte must be
// read before it is overwritten, whatever the pieces and stores of the form.
TEST_P(CrossfadeForm, BlendsInPlaceOverEitherSource) {
    const Form& form = GetParam();
    for (int32_t width : {4, 23, 45, 130})
        for (bool overA : {true, false}) {
            SCOPED_TRACE(testing::Message() << "width " << width << (overA ? " over A" : " over B"));
            std::mt19937 rng(static_cast<uint32_t>(width) * 2 + overA);
            FencedRows shared(width + 3, 4, (width + 3) * 3 + 5, Fence::kAfter, rng);
            FencedRows other(width, 3, -(width * 3 + 2), Fence::kAfter, rng);
            const std::vector<uint8_t> sharedBefore = shared.Bytes();
            std::vector<uint8_t> expected = sharedBefore;
            for (int32_t y = 0; y < 3; ++y) {
                const size_t at = static_cast<size_t>(shared.Pixel(1, 1 + y) - shared.memory.data());
                const uint8_t* o = other.Pixel(0, y);
                for (size_t i = 0; i < static_cast<size_t>(width) * 3; ++i) {
                    const uint8_t s = sharedBefore[at + i];
                    expected[at + i] =
                        overA ? Expected(form, i, width, s, o[i], 99) : Expected(form, i, width, o[i], s, 99);
                }
            }
            uint8_t* const rect = shared.Pixel(1, 1);
            if (overA)
                CallForm(form, rect, shared.pitch, rect, shared.pitch, other.Pixel(0, 0), other.pitch, width, 3, 99);
            else
                CallForm(form, rect, shared.pitch, other.Pixel(0, 0), other.pitch, rect, shared.pitch, width, 3, 99);
            ASSERT_TRUE(SameBytes(shared.Bytes(), expected));
        }
}

// A rectangle without pixels, a side of 0 or below, writes nothing whatever
// the other side is.
TEST_P(CrossfadeForm, EmptyRectanglesWriteNothing) {
    const size_t bytes = 4 * 64 * 3;
    std::vector<uint8_t> a(bytes, 10), b(bytes, 200), out(bytes, 0x5A);
    for (auto [width, height] : {std::pair{0, 4}, std::pair{-5, 4}, std::pair{INT32_MIN, 4}, std::pair{64, 0},
                                 std::pair{64, -2}, std::pair{-5, -2}}) {
        CallForm(GetParam(), out.data(), 64 * 3, a.data(), 64 * 3, b.data(), 64 * 3, width, height, 100);
        ASSERT_EQ(out, std::vector<uint8_t>(bytes, 0x5A)) << width << " x " << height;
    }
}

// The vector forms' lane arithmetic holds for weights of 0 to 255 only; the
// callers never pass others, but the forms must still give their model's bytes.
TEST_P(CrossfadeForm, WeightsOutsideTheRangeStillFollowTheModel) {
    const Form& form = GetParam();
    std::mt19937 rng(17);
    const int32_t width = 41;
    const size_t rowBytes = width * 3;
    std::vector<uint8_t> a(rowBytes), b(rowBytes), out(rowBytes);
    for (int32_t alpha : {-256, -3, -1, 256, 257, 511, 4096}) {
        for (size_t i = 0; i < rowBytes; ++i) a[i] = static_cast<uint8_t>(rng()), b[i] = static_cast<uint8_t>(rng());
        CallForm(form, out.data(), 0, a.data(), 0, b.data(), 0, width, 1, alpha);
        for (size_t i = 0; i < rowBytes; ++i)
            ASSERT_EQ(int{out[i]}, int{Expected(form, i, width, a[i], b[i], alpha)})
                << "alpha " << alpha << " byte " << i;
    }
}

CrossfadeFn Choose(int32_t width, bool mmx, bool sse, bool sse2 = false, bool avx2 = false) {
    FormSettings settings;
    settings.useMmx = mmx, settings.useSse = sse;
    settings.features = {true, true, sse2, avx2};
    return ChooseCrossfade(width, settings);
}

TEST(ChooseCrossfade, PicksSimdOnlyForWholeGroupsAndSseFirst) {
    for (int32_t width : {1, 2, 3, 0, -5})
        for (bool mmx : {false, true})
            for (bool sse : {false, true}) EXPECT_EQ(Choose(width, mmx, sse), CrossfadeExact_Scalar) << width;
    for (int32_t width : {4, 5, 640, INT32_MAX}) {
        EXPECT_EQ(Choose(width, false, false), CrossfadeExact_Scalar) << width;
        EXPECT_EQ(Choose(width, true, false), kGroupedMmx) << width;
        EXPECT_EQ(Choose(width, true, true), kGroupedSse) << width;
        EXPECT_EQ(Choose(width, false, true), kGroupedSse) << width;
    }
}

// The switches choose the arithmetic, the processor the widest code for it:
// the grouped bytes only where "MMX" allows them, the exact bytes for rows
// without a whole group and where the switches are off.
TEST(ChooseCrossfade, WiderFormsServeTheArithmeticTheSwitchesChose) {
    for (bool sse2 : {false, true})
        for (bool avx2 : {false, true}) {
            SCOPED_TRACE(testing::Message() << "sse2 " << sse2 << " avx2 " << avx2);
#if VEILSHIFT_WIDE_FORMS
            const CrossfadeFn grouped = avx2 ? CrossfadeGrouped_Avx2 : sse2 ? CrossfadeGrouped_Sse2 : nullptr;
            const CrossfadeFn exact = avx2 ? CrossfadeExact_Avx2 : sse2 ? CrossfadeExact_Sse2 : CrossfadeExact_Scalar;
#else
            const CrossfadeFn grouped = nullptr;  // a build without x86 vector forms ignores the features
            const CrossfadeFn exact = CrossfadeExact_Scalar;
#endif
            EXPECT_EQ(Choose(3, true, true, sse2, avx2), exact);
            EXPECT_EQ(Choose(640, false, false, sse2, avx2), exact);
            EXPECT_EQ(Choose(640, true, false, sse2, avx2), grouped ? grouped : kGroupedMmx);
            EXPECT_EQ(Choose(640, true, true, sse2, avx2), grouped ? grouped : kGroupedSse);
            EXPECT_EQ(Choose(4, false, true, sse2, avx2), grouped ? grouped : kGroupedSse);
        }
}

TEST(CrossfadeRect, AsksForAddressesThenPitchesAndFollowsTheFlags) {
    CallRecorder log;
    TestSurface dst(9, 4, 9 * 3 + 4, log.Log()), a(8, 5, -(8 * 3 + 9), log.Log()), b(7, 6, 7 * 3 + 1, log.Log());
    a.Fill({0, 0, 0});
    b.Fill({255, 255, 255});

    struct Case { bool mmx, sse, sse2, avx2; int32_t width; uint8_t grouped; };
    // a = 0, b = 255, alpha = 127: the grouped forms give 125, the scalar one 126.
    for (const Case& c : {Case{false, false, false, false, 5, 126}, Case{true, false, false, false, 5, 125},
                          Case{true, true, false, false, 5, 125}, Case{true, true, false, false, 3, 126},
                          Case{false, false, false, false, 3, 126}, Case{true, false, true, false, 5, 125},
                          Case{true, true, true, true, 5, 125}, Case{false, false, true, true, 5, 126},
                          Case{true, true, true, true, 3, 126}}) {
        SCOPED_TRACE(testing::Message() << "mmx " << c.mmx << " sse " << c.sse << " sse2 " << c.sse2 << " avx2 "
                                        << c.avx2 << " width " << c.width);
#if VEILSHIFT_WIDE_FORMS
        if (c.avx2 && !HasAvx2()) continue;
#endif
        const refhost::ModuleForms flags(refhost::SwitchValues(c.mmx, c.sse), {true, true, c.sse2, c.avx2});
        dst.Fill({7, 7, 7});
        log.Clear();
        CrossfadeRect(&dst, 3, 1, &a, 2, 2, &b, 1, 0, c.width, 3, 127,
                      veilshift::ChooseTransitionForms(1, c.width, 3).crossfade);
        EXPECT_EQ(log.SurfaceCalls(), (std::vector<SurfaceCall>{{&dst, 'A', 3, 1}, {&a, 'A', 2, 2}, {&b, 'A', 1, 0},
                                                                {&dst, 'P', 0, 0}, {&a, 'P', 0, 0}, {&b, 'P', 0, 0}}));
        for (int32_t y = 0; y < dst.PixelHeight(); ++y)
            for (int32_t x = 0; x < dst.PixelWidth(); ++x) {
                const bool inside = x >= 3 && x < 3 + c.width && y >= 1 && y < 4;
                const uint8_t want = !inside ? 7 : (x < 3 + c.width / 4 * 4 ? c.grouped : 126);
                for (int k = 0; k < 3; ++k) ASSERT_EQ(dst.At(x, y)[k], want) << x << "," << y;
            }
    }

    // An empty rectangle asks the host for nothing.
    log.Clear();
    const veilshift::CrossfadeForm form = veilshift::ChooseTransitionForms(1, 3, 3).crossfade;
    CrossfadeRect(&dst, 0, 0, &a, 0, 0, &b, 0, 0, 0, 3, 127, form);
    CrossfadeRect(&dst, 0, 0, &a, 0, 0, &b, 0, 0, 3, 0, 127, form);
    EXPECT_TRUE(log.Calls().empty());
    EXPECT_EQ(log.Violations(), 0);
    EXPECT_TRUE(dst.GuardsIntact() && a.GuardsIntact() && b.GuardsIntact());
}

TEST(DrawCrossfadeFrame, WeighsByProgressOverTotal) {
    CallRecorder log;
    TestSurface dst(4, 3, 0, log.Log()), a(3, 3, 3 * 3 + 2, log.Log()), b(3, 2, 3 * 3 + 5, log.Log());
    a.Fill({255, 255, 255});
    b.Fill({0, 0, 0});
    EffectPlugin plugin;
    plugin.dst = &dst;
    plugin.srcA = &a;
    plugin.srcB = &b;
    plugin.params.dx = 2, plugin.params.dy = 1;
    plugin.params.ax = 1, plugin.params.ay = 2;
    plugin.params.bx = 0, plugin.params.by = 1;
    plugin.params.width = 1, plugin.params.height = 1;
    plugin.forms = veilshift::ChooseTransitionForms(1, 1, 1);

    // a = 255, b = 0: the blended byte is 255 - alpha.
    auto alphaOf = [&](int32_t progress, int32_t total) {
        log.Clear();
        DrawCrossfadeFrame(plugin, progress, total);
        return 255 - int{dst.At(2, 1)[0]};
    };
    EXPECT_EQ(alphaOf(255, 256), 254);
    ASSERT_GE(log.SurfaceCalls().size(), 3u);
    EXPECT_EQ(log.SurfaceCalls().at(0), (SurfaceCall{&dst, 'A', 2, 1}));
    EXPECT_EQ(log.SurfaceCalls().at(1), (SurfaceCall{&a, 'A', 1, 2}));
    EXPECT_EQ(log.SurfaceCalls().at(2), (SurfaceCall{&b, 'A', 0, 1}));
    EXPECT_EQ(alphaOf(0, 3), 0);
    EXPECT_EQ(alphaOf(1, 3), 85);
    EXPECT_EQ(alphaOf(2, 3), 170);
    // Beyond 8,421,504 frames progress * 255 no longer fits 32 bits; the weight still does.
    EXPECT_EQ(alphaOf(8421505, 8421506), 254);
    EXPECT_EQ(alphaOf(INT32_MAX - 1, INT32_MAX), 254);
    EXPECT_EQ(alphaOf(INT32_MAX / 2, INT32_MAX), 127);
    for (int32_t progress : {INT32_MAX - 2, INT32_MAX - 100000, INT32_MAX / 255 * 254}) {
        const int alpha = alphaOf(progress, INT32_MAX);
        EXPECT_GE(alpha, 0) << progress;
        EXPECT_LE(alpha, 254) << progress;
    }
    plugin.dst = plugin.srcA = plugin.srcB = nullptr;
}

}  // namespace
}  // namespace veilshift
