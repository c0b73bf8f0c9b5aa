// The transition session through the exports: the plug-in object, Begin's
// checks and clip, Draw and End, as the reference host sees them.
#include <climits>

#include "session_fixture.h"

namespace sessiontest {
namespace {

using veilshift::Guid;
using veilshift::kPluginGuid;

class Session : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        AddStage();
    }
};

TEST_F(Session, CreateInterfaceAnswersOnePluginForItsGuidOnly) {
    veilshift::PluginInterface* plugin = host->CreateInterface(&kPluginGuid);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin, host->Plugin());
    EXPECT_EQ(host->CreateInterface(&kPluginGuid), plugin);

    Guid lastByte = kPluginGuid;
    lastByte.data4[7] ^= 0x01;
    Guid firstByte = kPluginGuid;
    firstByte.data1 ^= 0x01;
    for (const Guid& other : {lastByte, firstByte, veilshift::kScreenUpdaterId, veilshift::kSurfaceTableId,
                              veilshift::kPixmillGuid, Guid{}})
        EXPECT_EQ(host->CreateInterface(&other), nullptr);
    EXPECT_TRUE(host->Calls().empty());
}

TEST_F(Session, PluginOperationsAnswerFixedValuesAndTouchNothing) {
    veilshift::PluginInterface* plugin = host->Plugin();
    EXPECT_EQ(plugin->GetVersion(), 1);
    EXPECT_EQ(plugin->GetFlags(), 0);
    plugin->Idle();
    plugin->Notify(1, 2, 3, 4, 5, 6, 7, 8, 9);
    plugin->Notify(-1, INT32_MIN, INT32_MAX, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(host->Calls().empty());
    BEGIN_OR_SKIP({});
}

TEST_F(Session, SetInterfaceIgnoresOtherIdsAndReplacesOnTheSameId) {
    // A second screen, to see which one Draw reports to.
    struct OtherScreen final : veilshift::ScreenUpdater {
        void VS_THISCALL UpdateRect(int32_t, int32_t, int32_t, int32_t, int32_t) override { ++updates; }
        int updates = 0;
    } other;
    Guid nearlyUpdater = veilshift::kScreenUpdaterId;
    nearlyUpdater.data4[7] ^= 0x80;
    host->Plugin()->SetInterface(&nearlyUpdater, &other);
    host->Plugin()->SetInterface(&kPluginGuid, &other);
    BEGIN_OR_SKIP({});
    host->Draw(5, 5);
    EXPECT_EQ(Count(HostOp::UpdateRect), 1);
    EXPECT_EQ(other.updates, 0);

    host->Plugin()->SetInterface(&veilshift::kScreenUpdaterId, &other);
    host->ClearCalls();
    host->Draw(5, 5);
    EXPECT_EQ(Count(HostOp::UpdateRect), 0);
    EXPECT_EQ(other.updates, 1);
}

TEST_F(Session, UnresolvedSurfaceFailsSilentlyEvenWithABadEffect) {
    for (int32_t missing : {kDst, kSrcA, kSrcB}) {
        for (int32_t effect : {1, 42, -1}) {
            Request r;
            r.effect = effect;
            if (missing == kDst) r.dst = 99;
            if (missing == kSrcA) r.srcA = 99;
            if (missing == kSrcB) r.srcB = 99;
            host->ClearCalls();
            BeginResult result = CatchBegin(r);
            EXPECT_FALSE(result.started) << missing << " " << effect;
            EXPECT_TRUE(result.messages.empty()) << missing << " " << effect;
            EXPECT_EQ(Count(HostOp::Width), 0);  // stopped before the clip
            host->Draw(5, 5);
            EXPECT_EQ(Count(HostOp::UpdateRect), 0);
        }
    }
}

TEST_F(Session, UnimplementedEffectShowsItsNumberAndFails) {
    for (int32_t effect : {0, 2, 5, 42, -1, INT32_MIN, INT32_MAX}) {
        host->ClearCalls();
        BeginResult result = CatchBegin({.effect = effect});
        EXPECT_FALSE(result.started) << effect;
        ASSERT_EQ(result.messages.size(), 1u) << effect;
        // The number stands between spaces in either encoding of the text.
        EXPECT_NE(result.messages[0].text.find(" " + std::to_string(effect) + " "), std::string::npos) << effect;
        EXPECT_EQ(result.messages[0].caption, "Veilshift.dll");
        EXPECT_EQ(Count(HostOp::Width), 0);
        host->Draw(5, 5);
        EXPECT_EQ(Count(HostOp::Copy) + Count(HostOp::UpdateRect), 0);
    }
}

TEST_F(Session, BeginAsksSurfacesThenSizesInClipOrder) {
    BEGIN_OR_SKIP({});
    host->ClearCalls();
    BEGIN_OR_SKIP({});
    const std::vector<HostOp> expected = {HostOp::GetSurface, HostOp::GetSurface, HostOp::GetSurface,
                                          HostOp::Width,      HostOp::Height,     HostOp::Width,
                                          HostOp::Height,     HostOp::Width,      HostOp::Height};
    ASSERT_EQ(host->Ops(), expected);
    const auto& calls = host->Calls();
    EXPECT_EQ(Args(calls[0]), std::vector<int32_t>{kDst});
    EXPECT_EQ(Args(calls[1]), std::vector<int32_t>{kSrcA});
    EXPECT_EQ(Args(calls[2]), std::vector<int32_t>{kSrcB});
    const void* owners[] = {&Dst(), &Dst(), &SrcA(), &SrcA(), &SrcB(), &SrcB()};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(calls[3 + i].target, owners[i]) << i;
}

// The clipped rectangle as Draw reports it: Copy from source B on the last
// frame, the screen update, and source A at progress 0.
struct Clipped {
    int32_t dx, dy, ax, ay, bx, by, width, height;
};

class SessionClip : public Session {
protected:
    void ExpectClippedTo(const Request& request, const Clipped& c) {
        BEGIN_OR_SKIP(request);
        std::vector<uint8_t> before = Dst().Snapshot();
        host->ClearCalls();
        host->Draw(0, 10);  // alpha 0: exactly source A
        EXPECT_TRUE(Dst().RectEquals(c.dx, c.dy, SrcA(), c.ax, c.ay, c.width, c.height));
        EXPECT_TRUE(UnchangedOutside(Dst(), before, c.dx, c.dy, c.width, c.height));
        host->ClearCalls();
        host->Draw(10, 10);
        auto copies = host->CallsOf(HostOp::Copy);
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(copies[0].dst, &Dst());
        EXPECT_EQ(copies[0].src, &SrcB());
        EXPECT_EQ(Args(copies[0]), (std::vector<int32_t>{c.dx, c.dy, c.bx, c.by, c.width, c.height}));
        auto updates = host->CallsOf(HostOp::UpdateRect);
        ASSERT_EQ(updates.size(), 1u);
        EXPECT_EQ(Args(updates[0]), (std::vector<int32_t>{kDst, c.dx, c.dy, c.width, c.height}));
        EXPECT_TRUE(Dst().RectEquals(c.dx, c.dy, SrcB(), c.bx, c.by, c.width, c.height));
        EXPECT_TRUE(UnchangedOutside(Dst(), before, c.dx, c.dy, c.width, c.height));
    }
};

TEST_F(SessionClip, LeftEdgeShiftsTheSourceCorners) {
    ExpectClippedTo({.dx = -10, .width = 100}, {0, 0, 10, 0, 10, 0, 90, 50});
}

TEST_F(SessionClip, TopEdgesChainAcrossTheSurfaces) {
    ExpectClippedTo({.dy = 5, .ay = -3, .by = -8, .height = 50}, {0, 13, 0, 5, 0, 0, 100, 42});
}

TEST_F(SessionClip, NarrowSourceALimitsTheWidth) {
    host->AddSurface(kSrcA, 320, 480, 320 * 3 + 4).FillRandom(7);
    ExpectClippedTo({.ax = 300, .width = 100}, {0, 0, 300, 0, 0, 0, 20, 50});
}

TEST_F(SessionClip, ShortSourceBLimitsTheHeight) {
    host->AddSurface(kSrcB, 640, 200, -(640 * 3)).FillRandom(8);
    ExpectClippedTo({.dx = 30, .dy = 400, .bx = 600, .by = 190, .width = 100, .height = 50},
                    {30, 400, 0, 0, 600, 190, 40, 10});
}

TEST_F(SessionClip, HugeValuesClipToTheTrueIntersection) {
    ExpectClippedTo({.dx = -10, .dy = 3, .width = INT32_MAX, .height = INT32_MAX}, {0, 3, 10, 0, 10, 0, 630, 477});
}

TEST_F(SessionClip, EmptyRectanglesFailSilently) {
    for (Request r : {Request{.dx = 700}, Request{.width = 0}, Request{.height = 0}, Request{.dx = -100},
                      Request{.width = -5}, Request{.dx = INT32_MAX, .width = INT32_MAX},
                      Request{.dx = INT32_MIN, .ax = INT32_MAX, .width = INT32_MAX},
                      Request{.ay = INT32_MIN, .height = INT32_MAX}}) {
        BeginResult result = CatchBegin(r);
        if (result.messages.size() == 1) GTEST_SKIP() << "effect 1 has no handler yet";
        EXPECT_FALSE(result.started) << r.dx << " " << r.ax << " " << r.width << " " << r.height;
        EXPECT_TRUE(result.messages.empty());
        host->ClearCalls();
        host->Draw(5, 5);
        EXPECT_TRUE(host->Calls().empty());
    }
}

// Draw checks the host's counters: the effects' frame drawers are only ever
// handed 0 <= progress < total, and from the total on every effect ends on
// source B.
TEST_F(Session, LastFrameAndBeyondCopySourceBAndUpdate) {
    for (int32_t effect : kEveryEffect) {
        BEGIN_OR_SKIP(
            {.dx = 20, .dy = 30, .ax = 5, .ay = 6, .bx = 40, .by = 50, .width = 64, .height = 48, .effect = effect});
        for (auto [progress, total] :
             {std::pair{5, 5}, std::pair{9, 5}, std::pair{INT32_MAX, 1}, std::pair{10, 10}, std::pair{60, 60}}) {
            host->ClearCalls();
            Dst().FillRandom(static_cast<uint32_t>(progress));
            std::vector<uint8_t> painted = Dst().Snapshot();
            host->Draw(progress, total);
            EXPECT_EQ(host->Ops(), (std::vector<HostOp>{HostOp::Copy, HostOp::UpdateRect}))
                << "effect " << effect << " " << progress;
            EXPECT_TRUE(Dst().RectEquals(20, 30, SrcB(), 40, 50, 64, 48)) << effect;
            EXPECT_TRUE(UnchangedOutside(Dst(), painted, 20, 30, 64, 48)) << effect;
        }
        host->End();
    }
}

TEST_F(Session, DrawOutsideASessionOrWithBadCountersDoesNothing) {
    host->Draw(0, 5);  // before any Begin
    host->Draw(5, 5);
    EXPECT_TRUE(host->Calls().empty());
    for (int32_t effect : kEveryEffect) {
        BEGIN_OR_SKIP({.effect = effect});
        std::vector<uint8_t> before = Dst().Snapshot();
        host->ClearCalls();
        for (auto [progress, total] :
             {std::pair{0, 0}, std::pair{-1, 5}, std::pair{3, -2}, std::pair{INT32_MIN, 5}, std::pair{0, INT32_MIN},
              std::pair{-1, 10}, std::pair{-1, 60}, std::pair{1, 0}, std::pair{5, 0}, std::pair{INT32_MIN, INT32_MIN},
              std::pair{INT32_MAX, INT32_MIN}})
            host->Draw(progress, total);
        EXPECT_TRUE(host->Calls().empty()) << effect;
        EXPECT_EQ(Dst().Snapshot(), before) << effect;

        host->End();
        host->ClearCalls();  // End gives back a work surface (effects 40 and 41)
        host->Draw(0, 5);
        host->Draw(5, 5);
        EXPECT_TRUE(host->Calls().empty()) << effect;
        EXPECT_EQ(Dst().Snapshot(), before) << effect;
    }
}

TEST_F(Session, EndIsHarmlessTwiceOrWithoutBegin) {
    host->End();
    host->End();
    BEGIN_OR_SKIP({});
    host->ClearCalls();
    host->End();
    host->End();
    EXPECT_TRUE(host->Calls().empty());
    // A failed Begin ends the running session too.
    BEGIN_OR_SKIP({});
    EXPECT_FALSE(CatchBegin({.width = 0}).started);
    host->ClearCalls();
    host->Draw(5, 5);
    EXPECT_TRUE(host->Calls().empty());
}

TEST_F(Session, FramesPastTheTotalKeepCopyingUntilEnd) {
    BEGIN_OR_SKIP({});
    host->ClearCalls();
    for (int i = 0; i < 3; ++i) host->Draw(7, 5);
    EXPECT_EQ(Count(HostOp::Copy), 3);
    EXPECT_EQ(Count(HostOp::UpdateRect), 3);
}

// Whatever an effect draws, it stays inside the destination rectangle, leaves
// the sources alone, reports every frame and ends on source B.
TEST_F(Session, EveryEffectKeepsToItsRectangle) {
    host->AddSurface(kDst, 96, 64, -(96 * 3 + 4)).FillRandom(21);
    host->AddSurface(kSrcA, 80, 70, 80 * 3 + 12).FillRandom(22);
    host->AddSurface(kSrcB, 90, 50).FillRandom(23);
    const std::vector<uint8_t> a = SrcA().Snapshot(), b = SrcB().Snapshot();
    for (int32_t effect : {1, 6, 31, 34, 40, 41}) {
        Dst().FillRandom(static_cast<uint32_t>(effect));
        const std::vector<uint8_t> before = Dst().Snapshot();
        BEGIN_OR_SKIP({.dx = 10, .dy = 7, .ax = 3, .ay = 5, .bx = 20, .by = 2, .width = 61, .height = 43,
                       .effect = effect});
        host->ClearCalls();
        const int32_t total = 9;
        for (int32_t progress = 0; progress <= total; ++progress) host->Draw(progress, total);
        EXPECT_EQ(Count(HostOp::UpdateRect), total + 1) << effect;
        EXPECT_TRUE(UnchangedOutside(Dst(), before, 10, 7, 61, 43)) << effect;
        EXPECT_TRUE(Dst().RectEquals(10, 7, SrcB(), 20, 2, 61, 43)) << effect;
        EXPECT_EQ(SrcA().Snapshot(), a) << effect;
        EXPECT_EQ(SrcB().Snapshot(), b) << effect;
        host->End();
        ExpectClean();
    }
    EXPECT_EQ(Control(Component::Platewright).surfacesCreated, Control(Component::Platewright).surfacesReleased);
}

// A host may answer null for a pixel address. Nothing is written through it and
// nothing fails: the frame stays as it was, is still reported, and once the
// host answers again the session draws on.
TEST_F(Session, SurfacesThatAnswerNoAddressAreLeftUndrawn) {
    const std::vector<uint8_t> a = SrcA().Snapshot(), b = SrcB().Snapshot();
    for (int32_t effect : kEveryEffect) {
        BEGIN_OR_SKIP(
            {.dx = 20, .dy = 30, .ax = 5, .ay = 6, .bx = 40, .by = 50, .width = 64, .height = 48, .effect = effect});
        // Every surface at once, then each alone. The shatter's background is the
        // host's own copy and its pieces need the destination and source A, so of
        // the single faults only the destination's leaves its frame whole.
        std::vector<std::vector<TestSurface*>> faults = {{&Dst(), &SrcA(), &SrcB()}, {&Dst()}};
        if (effect != 34) faults.insert(faults.end(), {{&SrcA()}, {&SrcB()}});
        for (const std::vector<TestSurface*>& failing : faults) {
            for (TestSurface* surface : failing) surface->SetAddressFails(true);
            Dst().FillRandom(static_cast<uint32_t>(effect));
            const std::vector<uint8_t> before = Dst().Snapshot();
            host->ClearCalls();
            for (int32_t progress : {0, 3, 7}) host->Draw(progress, 8);
            EXPECT_EQ(Dst().Snapshot(), before) << "effect " << effect << ", failing " << failing.size();
            EXPECT_EQ(Count(HostOp::UpdateRect), 3) << effect;
            for (TestSurface* surface : failing) surface->SetAddressFails(false);
        }
        const std::vector<uint8_t> undrawn = Dst().Snapshot();
        host->Draw(3, 8);
        EXPECT_NE(Dst().Snapshot(), undrawn) << effect;
        host->Draw(8, 8);
        EXPECT_TRUE(Dst().RectEquals(20, 30, SrcB(), 40, 50, 64, 48)) << effect;
        EXPECT_EQ(SrcA().Snapshot(), a) << effect;
        EXPECT_EQ(SrcB().Snapshot(), b) << effect;
        host->End();
        ExpectClean();
    }
}

// Effect 40's work surface: made at Begin with the clipped size, given back by
// the next Begin, by End and by unloading the module, and never leaked.
class WorkSurface : public Session {
protected:
    refhost::ComponentControl& Plates() { return Control(Component::Platewright); }
    int32_t Live() { return Plates().surfacesCreated - Plates().surfacesReleased; }
};

TEST_F(WorkSurface, SecondBeginReleasesTheFirst) {
    BEGIN_OR_SKIP({.dx = -10, .width = 100, .height = 40, .effect = 40});
    auto creates = host->CallsOf(HostOp::CreateSurface);
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(Args(creates[0]), (std::vector<int32_t>{90, 40, 24}));
    BEGIN_OR_SKIP({.effect = 40});
    EXPECT_EQ(Plates().surfacesCreated, 2);
    EXPECT_EQ(Plates().surfacesReleased, 1);
    host->End();
    EXPECT_EQ(Live(), 0);
    host->End();
    EXPECT_EQ(Plates().surfacesReleased, 2);
}

TEST_F(WorkSurface, FailedBeginsReleaseTheRunningOne) {
    BEGIN_OR_SKIP({.effect = 41});
    EXPECT_FALSE(CatchBegin({.srcB = 99, .effect = 41}).started);
    EXPECT_EQ(Live(), 0);
    BEGIN_OR_SKIP({.effect = 40});
    EXPECT_FALSE(CatchBegin({.effect = 7}).started);
    EXPECT_EQ(Live(), 0);
}

TEST_F(WorkSurface, UnloadingTheModuleReleasesIt) {
    BEGIN_OR_SKIP({.effect = 40});
    host->Draw(1, 4);
    host->UnloadModule();
    EXPECT_EQ(Plates().surfacesCreated, 1);
    EXPECT_EQ(Plates().surfacesReleased, 1);
}

TEST_F(WorkSurface, NotObtainedMeansNoSession) {
    Plates().createSurfaceFails = true;
    BeginResult result = CatchBegin({.effect = 40});
    if (result.messages.size() == 1) GTEST_SKIP() << "effect 40 has no handler yet";
    EXPECT_FALSE(result.started);
    EXPECT_TRUE(result.messages.empty());
    EXPECT_EQ(Plates().createSurfaceCalls, 1);
    host->ClearCalls();
    host->Draw(1, 4);
    host->Draw(4, 4);
    EXPECT_TRUE(host->Calls().empty());
    Plates().createSurfaceFails = false;
    BEGIN_OR_SKIP({.effect = 41});
    host->End();
    EXPECT_EQ(Live(), 0);
}

}  // namespace
}  // namespace sessiontest
