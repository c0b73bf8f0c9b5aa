// The ripple's processor forms, the direct walk's and the fused passes', called
// directly with shift tables of our own:
// random moves far past every edge (the terms of a pixel that is not drawn may
// lie anywhere), columns that alternate so that no two neighbours read the
// same source row, and source rectangles that end exactly where readable
// memory ends, so that a form reading a byte past the last pixel of a source
// row faults.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Veilshift/module_state.h"
#include "Veilshift/transitions/ripple_forms.h"
#include "effects_2d_support.h"
#include "fenced_buffer.h"

namespace effects2d {
namespace {

struct RippleForm {
    const char* name;
    veilshift::RippleFn fill;
};

// The fused forms with a block of their own for every frame.
template <veilshift::RipplePassesFn kPasses>
void WithPassBlock(const veilshift::RippleFrame& frame) {
    std::vector<uint8_t> block(veilshift::RipplePassBytes(frame.width, frame.height));
    ASSERT_FALSE(block.empty());
    kPasses(frame, veilshift::CarveRipplePassBuffers(block.data(), frame.width, frame.height));
}

std::vector<RippleForm> AllRippleForms() {
    std::vector<RippleForm> forms = {{"scalar", veilshift::Ripple_Scalar},
                                     {"fused_scalar", WithPassBlock<veilshift::RippleFused_Scalar>}};
#if VEILSHIFT_WIDE_FORMS
    const veilshift::ProcessorFeatures features = veilshift::DetectProcessorFeatures();
    if (features.sse2) {
        forms.push_back({"fused_sse2", WithPassBlock<veilshift::RippleFused_Sse2>});
    }
    if (features.avx2) {
        forms.push_back({"avx2", veilshift::Ripple_Avx2});
        forms.push_back({"fused_avx2", WithPassBlock<veilshift::RippleFused_Avx2>});
        forms.push_back({"fused_avx2_loads", WithPassBlock<veilshift::RippleFused_Avx2Loads>});
    }
#endif
    return forms;
}

struct Tables {
    std::vector<int32_t> columns, rows;
};

// Rectangles given by their first pixel and pitch, so that any memory can serve.
struct View {
    uint8_t* dst;
    const uint8_t* a;
    const uint8_t* b;
    ptrdiff_t dstPitch, aPitch, bPitch;
    int32_t width, height;
};

veilshift::RippleFrame FrameOf(const View& v, const Tables& t, int32_t alpha) {
    const veilshift::MulTableStorage& MulTable = veilshift::moduleState.MulTable;
    return {v.dst,
            v.a,
            v.b,
            v.dstPitch,
            v.aPitch,
            v.bPitch,
            v.width,
            v.height,
            t.columns.data(),
            t.rows.data(),
            {MulTable.rows[255 - alpha], MulTable.rows[alpha], alpha}};
}

// The rectangle as it must be after the frame: mixed where the moved position
// lies inside, unchanged elsewhere.
std::vector<uint8_t> ExpectedRect(const View& v, const Tables& t, int32_t alpha) {
    std::vector<uint8_t> out;
    for (int32_t j = 0; j < v.height; ++j)
        for (int32_t i = 0; i < v.width; ++i) {
            const int64_t u = int64_t{i} + t.rows[static_cast<size_t>(j)];
            const int64_t w = int64_t{j} + t.columns[static_cast<size_t>(i)];
            const uint8_t* d = v.dst + j * v.dstPitch + i * 3;
            for (int k = 0; k < 3; ++k) {
                if (u < 0 || u >= v.width || w < 0 || w >= v.height) {
                    out.push_back(d[k]);
                } else {
                    const ptrdiff_t pu = static_cast<ptrdiff_t>(u) * 3 + k;
                    out.push_back(MixModel(v.a[w * v.aPitch + pu], v.b[w * v.bPitch + pu], alpha));
                }
            }
        }
    return out;
}

std::vector<uint8_t> RectBytes(const View& v) {
    std::vector<uint8_t> out;
    for (int32_t j = 0; j < v.height; ++j)
        out.insert(out.end(), v.dst + j * v.dstPitch, v.dst + j * v.dstPitch + v.width * 3);
    return out;
}

View ViewOf(Stage& s) {
    const Rect& r = s.rect;
    return {s.dst->At(r.dx, r.dy),
            s.srcA->At(r.ax, r.ay),
            s.srcB->At(r.bx, r.by),
            s.dst->RowPitch(),
            s.srcA->RowPitch(),
            s.srcB->RowPitch(),
            r.width,
            r.height};
}

class RippleFormsDirect : public ::testing::TestWithParam<RippleForm> {
protected:
    void SetUp() override { ASSERT_TRUE(table.Built()); }
    MulTableScope table;
};

TEST_P(RippleFormsDirect, RandomMovesNearAndFarPastEveryEdge) {
    std::mt19937 rng(3);
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1000000, 1000000, INT32_MAX - 1, INT32_MAX};
    for (int round = 0; round < 24; ++round) {
        const int32_t width = 1 + static_cast<int32_t>(rng() % 300), height = 1 + static_cast<int32_t>(rng() % 40);
        Stage s({static_cast<int32_t>(rng() % 4), static_cast<int32_t>(rng() % 4), static_cast<int32_t>(rng() % 4),
                 static_cast<int32_t>(rng() % 4), static_cast<int32_t>(rng() % 4), static_cast<int32_t>(rng() % 4),
                 width, height},
                static_cast<uint32_t>(round) + 200);
        const int32_t reach = round % 3 == 0 ? 2 : (round % 3 == 1 ? 12 : 60);
        Tables t{std::vector<int32_t>(static_cast<size_t>(width)), std::vector<int32_t>(static_cast<size_t>(height))};
        auto shift = [&] {
            if (rng() % 40 == 0) return extremes[rng() % 6];
            return static_cast<int32_t>(rng() % (2 * reach + 1)) - reach;
        };
        for (int32_t& c : t.columns) c = shift();
        for (int32_t& r : t.rows) r = shift();
        const int32_t alpha = round % 4 == 0 ? 0 : static_cast<int32_t>(rng() % 255);
        const View v = ViewOf(s);
        const std::vector<uint8_t> expected = ExpectedRect(v, t, alpha);
        const std::vector<uint8_t> a = s.srcA->Snapshot(), b = s.srcB->Snapshot();
        GetParam().fill(FrameOf(v, t, alpha));
        EXPECT_EQ(RectBytes(v), expected) << "round " << round << " " << width << "x" << height;
        EXPECT_EQ(s.srcA->Snapshot(), a);
        EXPECT_EQ(s.srcB->Snapshot(), b);
        EXPECT_TRUE(s.GuardsIntact());
    }
}

// Neighbouring columns alternate between two rows, every row moves by the
// same amount: the vector groups are all inside apart from the edges.
TEST_P(RippleFormsDirect, AlternatingColumnsAndWholeRowMoves) {
    for (int32_t move : {-70, -9, -1, 0, 1, 8, 69}) {
        Stage s({1, 2, 3, 1, 2, 3, 203, 17}, 300 + static_cast<uint32_t>(move + 100));
        Tables t{std::vector<int32_t>(203), std::vector<int32_t>(17, move)};
        for (size_t i = 0; i < t.columns.size(); ++i) t.columns[i] = (i % 2 == 0) ? 0 : -3;
        const View v = ViewOf(s);
        const std::vector<uint8_t> expected = ExpectedRect(v, t, 150);
        GetParam().fill(FrameOf(v, t, 150));
        EXPECT_EQ(RectBytes(v), expected) << move;
        EXPECT_TRUE(s.GuardsIntact());
    }
}

// Packed source pixels whose last byte is the last readable byte: an
// inaccessible page follows.
TEST_P(RippleFormsDirect, NeverReadsPastTheLastPixelOfASource) {
    const int32_t width = 157, height = 23;
    std::mt19937 rngA(1), rngB(2);
    veilshift::test::FencedRows a(width, height, width * 3, veilshift::test::Fence::kAfter, rngA);
    veilshift::test::FencedRows b(width, height, width * 3, veilshift::test::Fence::kAfter, rngB);
    ASSERT_TRUE(a.memory.Fenced() && b.memory.Fenced());
    std::vector<uint8_t> dst(static_cast<size_t>(width) * 3 * height, 0x11);
    const View v{dst.data(), a.Pixel(0, 0), b.Pixel(0, 0), width * 3, width * 3, width * 3, width, height};
    // Every row moves so that each column in turn reads the last source column;
    // alternating column moves keep the strips from reading whole runs.
    for (int32_t move = -8; move <= 8; ++move) {
        Tables t{std::vector<int32_t>(width), std::vector<int32_t>(height)};
        for (int32_t i = 0; i < width; ++i) t.columns[static_cast<size_t>(i)] = (i % 2 == 0) ? 0 : 1;
        for (int32_t j = 0; j < height; ++j) t.rows[static_cast<size_t>(j)] = move + (j % 3);
        const std::vector<uint8_t> expected = ExpectedRect(v, t, 99);
        GetParam().fill(FrameOf(v, t, 99));
        EXPECT_EQ(RectBytes(v), expected) << move;
    }
}

// The passes in the widest code the processor has, with gathers only where
// they are fast; the direct walk in AVX2 code or scalar code, and in scalar
// code wherever the destination may share bytes with a source.
TEST(ChooseRipple, WidestFormOrOnePictureForSharedBytes) {
    using veilshift::ProcessorFeatures;
    const ProcessorFeatures none{true, true, false, false}, sse2{true, true, true, false}, avx2{true, true, true, true},
        slowGathers{true, true, true, true, false};
    EXPECT_EQ(veilshift::ChooseRipple(slowGathers, true), veilshift::Ripple_Scalar);
    for (const ProcessorFeatures& features : {none, sse2, avx2})
        EXPECT_EQ(veilshift::ChooseRipple(features, true), veilshift::Ripple_Scalar);
    EXPECT_EQ(veilshift::ChooseRipple(none, false), veilshift::Ripple_Scalar);
    EXPECT_EQ(veilshift::ChooseRipple(sse2, false), veilshift::Ripple_Scalar);
    EXPECT_EQ(veilshift::ChooseRipplePasses(none), veilshift::RippleFused_Scalar);
#if VEILSHIFT_WIDE_FORMS
    EXPECT_EQ(veilshift::ChooseRipple(avx2, false), veilshift::Ripple_Avx2);
    EXPECT_EQ(veilshift::ChooseRipplePasses(sse2), veilshift::RippleFused_Sse2);
    EXPECT_EQ(veilshift::ChooseRipplePasses(avx2), veilshift::RippleFused_Avx2);
    EXPECT_EQ(veilshift::ChooseRipplePasses(slowGathers), veilshift::RippleFused_Avx2Loads);
    EXPECT_EQ(veilshift::ChooseRipple(slowGathers, false), veilshift::Ripple_Avx2);  // it reads without gathers
#else
    EXPECT_EQ(veilshift::ChooseRipple(avx2, false), veilshift::Ripple_Scalar);
    EXPECT_EQ(veilshift::ChooseRipplePasses(avx2), veilshift::RippleFused_Scalar);
#endif
}

INSTANTIATE_TEST_SUITE_P(Forms, RippleFormsDirect, ::testing::ValuesIn(AllRippleForms()),
                         [](const ::testing::TestParamInfo<RippleForm>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace effects2d
