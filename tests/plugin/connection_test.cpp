// Connecting to the engine's components at the first Begin: what is looked up,
// in which order, and how a failed attempt is retried.
#include "session_fixture.h"

namespace sessiontest {
namespace {

using veilshift::Guid;

class Connection : public SessionTest {
protected:
    void SetUp() override {}
    void Start(const HostOptions& options = {}) {
        StartHost(options);
        AddStage(16, 8);
    }
    // Begin on the stage; a failure must stay silent (no message box).
    bool TryBegin(int32_t effect = 1) {
        BeginResult result = CatchBegin({.width = 16, .height = 8, .effect = effect});
        EXPECT_TRUE(result.messages.empty());
        return result.started;
    }
    int32_t FactoryCalls(Component c) { return Control(c).factoryCalls; }
};

TEST_F(Connection, NothingIsLookedUpUntilBothInterfacesAreHandedOver) {
    for (HostOptions options : {HostOptions{.giveScreenUpdater = false}, HostOptions{.giveSurfaceTable = false},
                                HostOptions{.giveScreenUpdater = false, .giveSurfaceTable = false}}) {
        Start(options);
        EXPECT_FALSE(TryBegin(1));
        EXPECT_FALSE(TryBegin(42));  // silent even with a bad effect number
        EXPECT_TRUE(host->Calls().empty());
        host->Draw(5, 5);
        EXPECT_TRUE(host->Calls().empty());
        ExpectClean();
    }
    // Handing over the missing one later completes the set.
    Start({.giveSurfaceTable = false});
    EXPECT_FALSE(TryBegin());
    host->GiveSurfaceTable();
    host->ClearCalls();
    EXPECT_FALSE(CatchBegin({.effect = 42}).started);
    EXPECT_EQ(FactoryCalls(Component::Pixmill), 1);
}

TEST_F(Connection, FirstBeginConnectsInOrderThenResolves) {
    for (bool tableFirst : {false, true}) {
        Start({.surfaceTableFirst = tableFirst});
        BEGIN_OR_SKIP({.width = 16, .height = 8});
        const std::vector<HostOp> expected = {
            HostOp::Factory,    HostOp::Factory,    HostOp::IsReady,    HostOp::SetFlag, HostOp::Factory,
            HostOp::LookupInterface, HostOp::GetSurface, HostOp::GetSurface, HostOp::GetSurface, HostOp::Width,
            HostOp::Height,     HostOp::Width,      HostOp::Height,     HostOp::Width,   HostOp::Height};
        ASSERT_EQ(host->Ops(), expected);
        const auto& calls = host->Calls();
        EXPECT_EQ(calls[0].target, host->Control(Component::Platewright));
        EXPECT_TRUE(veilshift::SameGuid(calls[0].guid, veilshift::kPlatewrightGuid));
        EXPECT_EQ(calls[1].target, host->Control(Component::Pixmill));
        EXPECT_TRUE(veilshift::SameGuid(calls[1].guid, veilshift::kPixmillGuid));
        EXPECT_EQ(Args(calls[3]), std::vector<int32_t>{1});
        EXPECT_EQ(calls[4].target, host->Control(Component::Corvane));
        EXPECT_TRUE(veilshift::SameGuid(calls[4].guid, veilshift::kCorvaneGuid));
        EXPECT_TRUE(veilshift::SameGuid(calls[5].guid, veilshift::kTimerApiId));

        // Connected for good: later Begins look nothing up.
        host->ClearCalls();
        BEGIN_OR_SKIP({.width = 16, .height = 8});
        EXPECT_EQ(Count(HostOp::Factory) + Count(HostOp::IsReady) + Count(HostOp::SetFlag) +
                      Count(HostOp::LookupInterface),
                  0);
        ExpectClean();
    }
}

TEST_F(Connection, MissingPlatewrightStopsBeforePixmill) {
    Start({.loadPlatewright = false});
    EXPECT_FALSE(TryBegin());
    EXPECT_FALSE(TryBegin(42));
    EXPECT_EQ(FactoryCalls(Component::Pixmill), 0);
    EXPECT_EQ(FactoryCalls(Component::Corvane), 0);
    EXPECT_TRUE(host->Calls().empty());
}

TEST_F(Connection, MissingPixmillRepeatsPlatewrightOnEveryBegin) {
    Start({.loadPixmill = false});
    for (int i = 1; i <= 3; ++i) {
        EXPECT_FALSE(TryBegin());
        EXPECT_EQ(FactoryCalls(Component::Platewright), i);
    }
    EXPECT_EQ(FactoryCalls(Component::Corvane), 0);
    EXPECT_EQ(Count(HostOp::GetSurface), 0);
}

TEST_F(Connection, RefusedFactoriesAreRetriedOnTheNextBegin) {
    for (Component refusing : {Component::Platewright, Component::Pixmill, Component::Corvane}) {
        Start();
        Control(refusing).factoryAnswersNull = true;
        EXPECT_FALSE(TryBegin());
        EXPECT_FALSE(TryBegin());
        EXPECT_EQ(FactoryCalls(refusing), 2);
        EXPECT_EQ(Control(Component::Pixmill).isReadyCalls, refusing == Component::Corvane ? 2 : 0);
        EXPECT_EQ(Count(HostOp::GetSurface), 0);
        Control(refusing).factoryAnswersNull = false;
        BEGIN_OR_SKIP({.width = 16, .height = 8});
        EXPECT_EQ(FactoryCalls(refusing), 3);
        // Steps that succeeded before are redone by every attempt.
        EXPECT_EQ(FactoryCalls(Component::Platewright), 3);
        EXPECT_EQ(FactoryCalls(Component::Corvane), refusing == Component::Corvane ? 3 : 1);
        ExpectClean();
    }
}

// A component that the host has loaded from a module without the factory
// export: Begin fails, calls nothing of it, and tries again next time, the
// steps before it redone; a later host with the whole component connects.
TEST_F(Connection, ComponentWithoutItsFactoryExportFailsBegin) {
    for (Component missing : {Component::Platewright, Component::Pixmill, Component::Corvane}) {
        SCOPED_TRACE(testing::Message() << "without the factory of component " << static_cast<int>(missing));
        Start({.withoutFactory = missing});
        EXPECT_FALSE(TryBegin());
        EXPECT_FALSE(TryBegin(42));
        EXPECT_EQ(FactoryCalls(missing), 0);
        EXPECT_EQ(FactoryCalls(Component::Platewright), missing == Component::Platewright ? 0 : 2);
        EXPECT_EQ(FactoryCalls(Component::Pixmill), missing == Component::Corvane ? 2 : 0);
        EXPECT_EQ(FactoryCalls(Component::Corvane), 0);
        EXPECT_EQ(Count(HostOp::GetSurface), 0);
        ExpectClean();
    }
    Start();
    BEGIN_OR_SKIP({.width = 16, .height = 8});
}

TEST_F(Connection, PixmillNotReadyGetsNoFlagUntilReady) {
    Start();
    Control(Component::Pixmill).isReady = false;
    EXPECT_FALSE(TryBegin());
    EXPECT_FALSE(TryBegin());
    EXPECT_EQ(Control(Component::Pixmill).isReadyCalls, 2);
    EXPECT_EQ(Control(Component::Pixmill).setFlagCalls, 0);
    EXPECT_EQ(FactoryCalls(Component::Corvane), 0);

    Control(Component::Pixmill).isReady = true;
    BEGIN_OR_SKIP({.width = 16, .height = 8});
    EXPECT_EQ(Control(Component::Pixmill).setFlagCalls, 1);
    EXPECT_EQ(Control(Component::Pixmill).setFlagValues[0], 1);
}

TEST_F(Connection, CorvaneIsAskedOnceItHasAnswered) {
    Start({.loadCorvane = false});
    EXPECT_FALSE(TryBegin());
    EXPECT_FALSE(TryBegin());
    // Platewright and Pixmill were connected twice over, to no avail.
    EXPECT_EQ(FactoryCalls(Component::Pixmill), 2);
    EXPECT_EQ(Control(Component::Pixmill).setFlagCalls, 2);

    // The system interface is kept even when the timer is refused.
    Start();
    Control(Component::Corvane).timerLookupFails = true;
    EXPECT_FALSE(TryBegin());
    EXPECT_FALSE(TryBegin());
    Control(Component::Corvane).timerLookupFails = false;
    BEGIN_OR_SKIP({.width = 16, .height = 8});
    BEGIN_OR_SKIP({.width = 16, .height = 8});
    EXPECT_EQ(FactoryCalls(Component::Corvane), 1);
    EXPECT_EQ(Control(Component::Corvane).lookupCalls, 3);
}

TEST_F(Connection, EveryHostStartsFromAFreshModule) {
    for (int round = 0; round < 2; ++round) {
        Start();
        BEGIN_OR_SKIP({.width = 16, .height = 8});
        EXPECT_EQ(FactoryCalls(Component::Platewright), 1) << round;
        EXPECT_EQ(FactoryCalls(Component::Corvane), 1) << round;
    }
}

}  // namespace
}  // namespace sessiontest
