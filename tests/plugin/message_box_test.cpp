// The one message box, for an effect number without a handler: its exact text
// and form. On Windows it is the MessageBoxA call itself, caught in the
// module's import table; natively the line on standard error.
#include <climits>

#include "session_fixture.h"

namespace sessiontest {
namespace {

class UnimplementedEffectMessage : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        AddStage(32, 16);
    }
};

#if defined(_WIN32)
// "【 42 】番のエフェクトは実装されていません" in Shift-JIS, around the number.
const std::string kBefore = "\x81\x79 ";
const std::string kAfter =
    " \x81\x7a\x94\xd4\x82\xcc\x83\x47\x83\x74\x83\x46\x83\x4e\x83\x67\x82\xcd\x8e\xc0\x91\x95\x82\xb3\x82\xea"
    "\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1";
#else
const std::string kBefore = "【 ";
const std::string kAfter = " 】番のエフェクトは実装されていません";
#endif

TEST_F(UnimplementedEffectMessage, NamesTheEffectNumber) {
    for (int32_t effect : {42, 0, -1, INT32_MIN}) {
        refhost::MessageCapture capture(*host);
        EXPECT_FALSE(host->Begin(kDst, 0, 0, kSrcA, 0, 0, kSrcB, 0, 0, 8, 8, effect));
        const auto& shown = capture.Finish();
        ASSERT_EQ(shown.size(), 1u) << effect;
        EXPECT_EQ(shown[0].caption, "Veilshift.dll");
        EXPECT_EQ(shown[0].text, kBefore + std::to_string(effect) + kAfter);
#if defined(_WIN32)
        EXPECT_EQ(shown[0].owner, nullptr);
        EXPECT_EQ(shown[0].style, 0x00040000u | 0x00010000u);  // MB_TOPMOST | MB_SETFOREGROUND, OK only
#else
        EXPECT_EQ(capture.Output(), "Veilshift.dll: " + kBefore + std::to_string(effect) + kAfter + "\n");
#endif
    }
}

}  // namespace
}  // namespace sessiontest
