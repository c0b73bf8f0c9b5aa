// Whole sessions of the effects whose every frame has a per-pixel model
// (mosaic_test.cpp, ripple_test.cpp), through the module's exports.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "effects_2d_support.h"
#include "session_fixture.h"

namespace sessiontest {
namespace {

struct ModelledEffect {
    const char* name;
    int32_t effect;
    effects2d::SessionFrameModel frame;
    int32_t stageWidth, stageHeight;  // the uneven stage around the rectangle
    uint32_t seed;
    effects2d::Rect rect;
};

class ModelledSession : public SessionTest, public ::testing::WithParamInterface<ModelledEffect> {};

// The lone frame of a one-frame transition is source A; frame counts that
// would overflow 32-bit products draw the frames of the formulas.
TEST_P(ModelledSession, OneFrameAndHugeCountsDrawSensibleFrames) {
    const ModelledEffect& e = GetParam();
    const effects2d::Rect& r = e.rect;
    AddUnevenStage(e.stageWidth, e.stageHeight, e.seed);
    BEGIN_OR_SKIP({.dx = r.dx, .dy = r.dy, .ax = r.ax, .ay = r.ay, .bx = r.bx, .by = r.by, .width = r.width,
                   .height = r.height, .effect = e.effect});
    host->Draw(0, 1);
    EXPECT_TRUE(Dst().RectEquals(r.dx, r.dy, SrcA(), r.ax, r.ay, r.width, r.height));
    for (auto [progress, total] : {std::pair{INT32_MAX / 2, INT32_MAX}, std::pair{INT32_MAX - 1, INT32_MAX},
                                   std::pair{100'000'000, 150'000'000}}) {
        std::vector<uint8_t> expected = e.frame(*host, r, progress, total);
        host->Draw(progress, total);
        EXPECT_TRUE(effects2d::SamePicture(Dst(), expected)) << progress << "/" << total;
    }
}

INSTANTIATE_TEST_SUITE_P(Effects, ModelledSession,
                         ::testing::Values(ModelledEffect{"mosaic", 6, effects2d::MosaicSessionFrame, 64, 48, 11,
                                                          {2, 3, 1, 1, 4, 2, 61, 45}},
                                           ModelledEffect{"ripple", 31, effects2d::RippleSessionFrame, 96, 64, 21,
                                                          {2, 3, 1, 1, 4, 2, 90, 60}}),
                         [](const ::testing::TestParamInfo<ModelledEffect>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace sessiontest
