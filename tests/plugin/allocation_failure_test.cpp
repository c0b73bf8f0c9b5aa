// Storage running out at every allocation a transition makes: the test
// process's own module (static core) against the reference components, with
// the n-th and every later allocation failing, for every n that each effect's
// connection, Begin and frames reach. Whatever n is: Begin answers false or
// each frame is either drawn completely or left as it was; nothing leaks,
// nothing outside the rectangle changes, and once storage is back the next
// Begin and Draw work as if nothing had happened.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "Veilshift/memory.h"
#include "host/in_process_module.h"
#include "host/reference_host.h"

namespace {

using refhost::Component;
using refhost::InProcessModule;
using refhost::TestSurface;

constexpr int32_t kWidth = 48, kHeight = 32;
// The rectangle: inside all three surfaces, away from their edges.
constexpr int32_t kDx = 3, kDy = 2, kAx = 5, kAy = 1, kBx = 2, kBy = 4, kRectWidth = 40, kRectHeight = 24;
const std::pair<int32_t, int32_t> kFrames[] = {{0, 8}, {3, 8}, {4, 8}, {7, 8}, {8, 8}};

class AllocationFailureTest : public ::testing::Test {
public:
    // Walks every failing allocation of `effect`.
    void WalkFailures(int32_t effect);

protected:
    void SetUp() override {
        refhost::HostOptions options;
        options.loadModule = false;
        options.giveScreenUpdater = false;
        options.giveSurfaceTable = false;
        host = std::make_unique<refhost::Host>(options);
        host->AddSurface(1, kWidth, kHeight).FillRandom(1);
        host->AddSurface(2, kWidth, kHeight, kWidth * 3 + 12).FillRandom(2);
        host->AddSurface(3, kWidth, kHeight, -(kWidth * 3 + 4)).FillRandom(3);
        initial = Dst().Snapshot();
    }
    void TearDown() override {
        module.reset();
        veilshift::FailAllocationsFrom(0);
    }

    TestSurface& Dst() { return *host->Surface(1); }

    // A freshly loaded module with both interfaces, and the picture as at the start.
    void Load() {
        module.reset();
        module = std::make_unique<InProcessModule>();
        module->Plugin().SetInterface(&veilshift::kScreenUpdaterId, host->Updater());
        module->Plugin().SetInterface(&veilshift::kSurfaceTableId, host->Table());
        Dst().FillRandom(1);
    }
    bool Begin() {
        return module->Plugin().Begin(1, kDx, kDy, 2, kAx, kAy, 3, kBx, kBy, kRectWidth, kRectHeight, effect_);
    }
    int32_t WorkSurfacesHeld() const {
        const refhost::ComponentControl* c = host->Control(Component::Platewright);
        return c->surfacesCreated - c->surfacesReleased;
    }

    std::unique_ptr<refhost::Host> host;
    std::unique_ptr<InProcessModule> module;
    std::vector<uint8_t> initial;
    int32_t effect_ = 1;
};

void AllocationFailureTest::WalkFailures(int32_t effect) {
    effect_ = effect;
    // Without failures: the frames to expect and how many allocations they take.
    Load();
    veilshift::FailAllocationsFrom(0);
    ASSERT_TRUE(Begin());
    std::vector<std::vector<uint8_t>> expected;
    for (auto [progress, total] : kFrames) {
        module->Plugin().Draw(progress, total);
        expected.push_back(Dst().Snapshot());
    }
    const int64_t reached = veilshift::AllocationCount();
    module->Plugin().End();
    module->Unload();
    ASSERT_EQ(module->Outstanding(), 0);
    ASSERT_GT(reached, 0);  // at least the connection allocates

    int64_t begunFalse = 0, framesLeft = 0;
    for (int64_t n = 1; n <= reached; ++n) {
        SCOPED_TRACE(testing::Message() << "effect " << effect << ", allocation " << n << " of " << reached);
        Load();
        host->ResetViolations();
        veilshift::FailAllocationsFrom(n);
        if (Begin()) {
            for (size_t f = 0; f < std::size(kFrames); ++f) {
                const std::vector<uint8_t> before = Dst().Snapshot();
                module->Plugin().Draw(kFrames[f].first, kFrames[f].second);
                const std::vector<uint8_t> after = Dst().Snapshot();
                if (after == before && after != expected[f]) ++framesLeft;
                ASSERT_TRUE(after == expected[f] || after == before) << "frame " << f << " drawn only in part";
            }
        } else {
            ++begunFalse;
            EXPECT_LE(WorkSurfacesHeld(), 1);
        }
        // Storage is back: the next Begin works and draws the expected frame.
        veilshift::FailAllocationsFrom(0);
        ASSERT_TRUE(Begin());
        module->Plugin().Draw(kFrames[1].first, kFrames[1].second);
        EXPECT_EQ(Dst().Snapshot(), expected[1]);
        module->Plugin().End();
        EXPECT_EQ(WorkSurfacesHeld(), 0);
        module->Unload();
        EXPECT_EQ(module->Outstanding(), 0) << "blocks leaked";
        EXPECT_TRUE(host->SurfacesIntact());
        EXPECT_EQ(host->Violations(), 0);
        if (HasFailure()) break;
    }
    std::printf("effect %d: allocations 1 to %lld failed in turn (%lld Begin false, %lld frames left undrawn)\n",
                effect, static_cast<long long>(reached), static_cast<long long>(begunFalse),
                static_cast<long long>(framesLeft));
    RecordProperty("allocations", static_cast<int>(reached));
}

// The ripple's scratch is made at Begin and never fails it: without its shift
// tables each frame allocates its own, without the passes' block the frames
// are walked directly, and either way they are the frames of a session with it.
TEST_F(AllocationFailureTest, RippleBeginsAndDrawsWithoutItsScratch) {
    effect_ = 31;
    Load();
    ASSERT_TRUE(Begin());  // connected: what follows allocates only for the effect
    std::vector<std::vector<uint8_t>> expected;
    for (auto [progress, total] : kFrames) {
        module->Plugin().Draw(progress, total);
        expected.push_back(Dst().Snapshot());
    }
    for (int64_t failing : {1, 2}) {  // the shift tables, then the passes' block
        SCOPED_TRACE(testing::Message() << "allocation " << failing << " of Begin fails");
        Dst().FillRandom(1);
        veilshift::FailAllocationsFrom(failing);
        ASSERT_TRUE(Begin());
        EXPECT_EQ(veilshift::AllocationCount(), failing);
        veilshift::FailAllocationsFrom(0);
        for (size_t f = 0; f < std::size(kFrames); ++f) {
            module->Plugin().Draw(kFrames[f].first, kFrames[f].second);
            EXPECT_EQ(Dst().Snapshot(), expected[f]) << "frame " << f;
        }
        // Frames before the last allocate their tables only where the scratch has none.
        EXPECT_EQ(veilshift::AllocationCount(), failing == 1 ? 8 : 0);
    }
    module->Plugin().End();
    module->Unload();
    EXPECT_EQ(module->Outstanding(), 0);
}

// The shatter makes room at Begin for everything its frames need, the pieces
// that the near plane cuts included (around the middle of a transition of 30
// frames pieces fly through it): no frame allocates, so none can run out of
// storage half drawn.
TEST_F(AllocationFailureTest, NoShatterFrameAllocates) {
    effect_ = 34;
    Load();
    ASSERT_TRUE(Begin());
    constexpr int32_t kTotal = 30;
    for (int32_t progress = 0; progress <= kTotal; ++progress) {
        veilshift::FailAllocationsFrom(0);
        module->Plugin().Draw(progress, kTotal);
        EXPECT_EQ(veilshift::AllocationCount(), 0) << "frame " << progress << " of " << kTotal;
    }
    module->Plugin().End();
    module->Unload();
    EXPECT_EQ(module->Outstanding(), 0);
    EXPECT_EQ(host->Violations(), 0);
}

class AllocationFailure : public AllocationFailureTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(AllocationFailure, EveryAllocationOfBeginAndDrawMayFail) { WalkFailures(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Effects, AllocationFailure, ::testing::Values(1, 6, 31, 34, 40, 41));

}  // namespace
