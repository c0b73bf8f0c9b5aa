// The row forms and the mosaic's block patterns against MulTable: the 16-bit
// multiplier for every weight and byte, every form's row mix for every
// (alpha, a, b), plain and streamed stores at every alignment and length
// without a byte outside, and block patterns against the scalar form. Rows
// that end where readable memory ends make a form reading past them fault.
#include "Veilshift/transitions/mix_rows.h"
#include "Veilshift/transitions/mosaic_forms.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Veilshift/module_state.h"
#include "effects_2d_support.h"
#include "fenced_buffer.h"

namespace effects2d {
namespace {

using veilshift::MixWeights;
using veilshift::MosaicColumns;
const veilshift::MulTableStorage& MulTable = veilshift::moduleState.MulTable;
using veilshift::test::FencedBuffer;

struct RowForms {
    const char* name;
    veilshift::MixRowFn mixRow;
    veilshift::CopyRowFn copyRow;
    veilshift::MosaicPatternFn pattern;
};

std::vector<RowForms> AllRowForms() {
    std::vector<RowForms> forms = {
        {"scalar", veilshift::MixRow_Scalar, veilshift::CopyRow_Scalar, veilshift::MosaicPattern_Scalar}};
#if VEILSHIFT_WIDE_FORMS
    const veilshift::ProcessorFeatures wide = veilshift::DetectProcessorFeatures();
    if (wide.sse2)
        forms.push_back({"sse2", veilshift::MixRow_Sse2, veilshift::CopyRow_Sse2, veilshift::MosaicPattern_Scalar});
    if (wide.avx2)
        forms.push_back({"avx2", veilshift::MixRow_Avx2, veilshift::CopyRow_Avx2, veilshift::MosaicPattern_Avx2});
#endif
    return forms;
}

MixWeights WeightsFor(int32_t alpha) { return {MulTable.rows[255 - alpha], MulTable.rows[alpha], alpha}; }

class MosaicRowForms : public ::testing::TestWithParam<RowForms> {
protected:
    void SetUp() override { ASSERT_TRUE(table.Built()); }
    MulTableScope table;
};

TEST(MosaicMultiplier, EqualsTheTableForEveryWeightBelow255AndEveryByte) {
    MulTableScope table;
    ASSERT_TRUE(table.Built());
    for (int32_t w = 0; w <= 254; ++w) {
        const uint32_t m = veilshift::MixMultiplier(w);
        ASSERT_LE(m, 65535u) << w;  // fits a 16-bit lane
        for (uint32_t x = 0; x < 256; ++x) ASSERT_EQ((x * m) >> 16, MulTable.rows[w][x]) << w << " " << x;
    }
    // 255 needs 65536; the 16-bit stand-in 65535 loses one on every byte but 0,
    // which is why the forms copy a source for alpha 0 and 255.
    EXPECT_EQ(veilshift::MixMultiplier(255), 65536u);
    EXPECT_EQ((200u * 65535u) >> 16, 199u);
    // The multiplier rounded down instead of up is wrong as early as weight 1.
    EXPECT_NE((255u * (65536u * 1u / 255u)) >> 16, uint32_t{MulTable.rows[1][255]});
}

// Row byte k holds a = k & 255 and b = k >> 8: all 65,536 pairs in one row.
TEST_P(MosaicRowForms, MixEveryPairAtEveryAlpha) {
    FencedBuffer a(65536), b(65536), out(65536);
    for (size_t k = 0; k < a.size(); ++k) a[k] = static_cast<uint8_t>(k), b[k] = static_cast<uint8_t>(k >> 8);
    for (int32_t alpha = 0; alpha <= 255; ++alpha) {
        GetParam().mixRow(out.data(), a.data(), b.data(), out.size(), WeightsFor(alpha), false);
        for (size_t k = 0; k < out.size(); ++k)
            ASSERT_EQ(out[k], MulTable.rows[255 - alpha][a[k]] + MulTable.rows[alpha][b[k]])
                << "alpha " << alpha << " a " << int{a[k]} << " b " << int{b[k]};
    }
}

// Every length up to 100 at every destination alignment within 32 bytes,
// plain and streamed: exactly the row's bytes change.
TEST_P(MosaicRowForms, MixAndCopyWriteExactlyTheRowAtAnyAlignment) {
    std::mt19937 rng(7);
    std::vector<uint8_t> a(200), b(200);
    for (uint8_t& v : a) v = static_cast<uint8_t>(rng());
    for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
    alignas(64) uint8_t buffer[256];
    for (bool stream : {false, true})
        for (int32_t alpha : {0, 1, 100, 254, 255})
            for (size_t length = 0; length <= 100; ++length)
                for (size_t offset = 0; offset < 32; ++offset) {
                    std::fill(std::begin(buffer), std::end(buffer), uint8_t{0xA5});
                    const size_t sourceOffset = (offset * 7) % 29;
                    uint8_t* dst = buffer + 64 + offset;
                    GetParam().mixRow(dst, a.data() + sourceOffset, b.data() + sourceOffset, length, WeightsFor(alpha),
                                      stream);
                    for (size_t k = 0; k < sizeof buffer; ++k) {
                        const uint8_t* at = buffer + k;
                        const bool inside = at >= dst && at < dst + length;
                        const size_t i = static_cast<size_t>(at - dst);
                        const int expected = inside ? MulTable.rows[255 - alpha][a[sourceOffset + i]] +
                                                          MulTable.rows[alpha][b[sourceOffset + i]]
                                                    : 0xA5;
                        ASSERT_EQ(buffer[k], expected) << "length " << length << " offset " << offset << " alpha "
                                                       << alpha << (stream ? " streamed" : "");
                    }
                    std::fill(std::begin(buffer), std::end(buffer), uint8_t{0xA5});
                    GetParam().copyRow(dst, a.data() + sourceOffset, length, stream);
                    for (size_t k = 0; k < sizeof buffer; ++k) {
                        const uint8_t* at = buffer + k;
                        const bool inside = at >= dst && at < dst + length;
                        ASSERT_EQ(buffer[k], inside ? a[sourceOffset + static_cast<size_t>(at - dst)] : 0xA5)
                            << "copy length " << length << " offset " << offset;
                    }
                }
#if VEILSHIFT_WIDE_FORMS
    veilshift::FinishStreaming_Sse2();
#endif
}

// Chunks of a block row, any block size, against the scalar form's bytes (each
// pixel the mix of its block's first pixel).
// One surface in two roles: a copy between rows that share bytes gives what
// memmove gives, in either direction and at every distance.
TEST_P(MosaicRowForms, CopiesBetweenOverlappingRowsAsMemmoveDoes) {
    std::vector<uint8_t> expected(512), actual(512);
    for (size_t bytes : {size_t{1}, size_t{15}, size_t{16}, size_t{33}, size_t{97}, size_t{300}})
        for (ptrdiff_t shift = -70; shift <= 70; ++shift) {
            for (size_t k = 0; k < expected.size(); ++k) expected[k] = actual[k] = static_cast<uint8_t>(k * 7 + 3);
            const size_t from = 80, to = static_cast<size_t>(80 + shift);
            std::memmove(expected.data() + to, expected.data() + from, bytes);
            GetParam().copyRow(actual.data() + to, actual.data() + from, bytes, false);
            ASSERT_EQ(actual, expected) << GetParam().name << " bytes " << bytes << " shift " << shift;
        }
}

TEST_P(MosaicRowForms, PatternsMatchTheBlockGrid) {
    std::mt19937 rng(11);
    const int32_t widths[] = {1, 2, 7, 31, 100, 2101};
    const int32_t blockSizes[] = {1, 3, 5, 19, 97, 193, 1025, 4097};
    for (int32_t width : widths) {
        FencedBuffer a(static_cast<size_t>(width) * 3), b(a.size());
        for (uint8_t& v : a) v = static_cast<uint8_t>(rng());
        for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
        for (int32_t blockSize : blockSizes) {
            const MosaicColumns columns = veilshift::MosaicColumnsOf(width, blockSize);
            for (int32_t alpha : {0, 77, 254}) {
                const std::vector<std::pair<int32_t, int32_t>> chunks = {
                    {0, width}, {width / 3, width}, {width / 2, width / 2 + (width + 1) / 3}, {width - 1, width}};
                for (auto [from, to] : chunks) {
                    std::vector<uint8_t> got(static_cast<size_t>(to - from) * 3 + veilshift::kMosaicPatternSlack);
                    GetParam().pattern(got.data(), a.data(), b.data(), columns, from, to, WeightsFor(alpha));
                    for (int32_t x = from; x < to; ++x) {
                        // Edges at 0 and wherever x = width / 2 (mod blockSize).
                        const int32_t r = ((x - width / 2) % blockSize + blockSize) % blockSize;
                        const int32_t x0 = x - r < 0 ? 0 : x - r;
                        for (int k = 0; k < 3; ++k) {
                            const size_t s = static_cast<size_t>(x0) * 3 + static_cast<size_t>(k);
                            ASSERT_EQ(got[static_cast<size_t>(x - from) * 3 + static_cast<size_t>(k)],
                                      MulTable.rows[255 - alpha][a[s]] + MulTable.rows[alpha][b[s]])
                                << "width " << width << " block " << blockSize << " chunk " << from << ".." << to
                                << " x " << x;
                        }
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, MosaicRowForms, ::testing::ValuesIn(AllRowForms()),
                         [](const ::testing::TestParamInfo<RowForms>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace effects2d
