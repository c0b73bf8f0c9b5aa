// The reference host itself: fenced surfaces, and the components' answers and
// drawing, so that a session test failing points at the module.
#include "session_fixture.h"

namespace sessiontest {
namespace {

using refhost::Rgb;
using veilshift::HostSurface;
using veilshift::PixmillApi;

TEST(TestSurfaceLayout, RowsStepByThePitchInEveryLayout) {
    for (int32_t pitch : {0, 7 * 3 + 5, -(7 * 3), -(7 * 3 + 9)}) {
        TestSurface surface(7, 4, pitch);
        EXPECT_EQ(surface.Pitch(), pitch == 0 ? 21 : pitch);
        for (int32_t y = 0; y + 1 < 4; ++y)
            EXPECT_EQ(surface.PixelAddress(2, y + 1) - surface.PixelAddress(2, y), surface.Pitch());
        EXPECT_EQ(surface.PixelAddress(3, 1) - surface.PixelAddress(2, 1), 3);
        EXPECT_EQ(surface.PixelAddress(7, 0), nullptr);
        EXPECT_EQ(surface.PixelAddress(0, -1), nullptr);
        surface.FillRandom(5);
        surface.SetPixel(6, 3, {1, 2, 3});
        EXPECT_EQ(surface.GetPixel(6, 3), (Rgb{1, 2, 3}));
        EXPECT_TRUE(surface.GuardsIntact());
    }
}

TEST(TestSurfaceLayout, StrayWritesAroundThePixelsAreCaught) {
    // Offsets from the first pixel byte in memory: before it, in row padding,
    // after the last row.
    const ptrdiff_t stride = 26, end = stride * 4;
    for (int32_t pitch : {26, -26}) {
        for (ptrdiff_t offset : {ptrdiff_t{-1}, -ptrdiff_t{TestSurface::kGuardBytes}, stride + 21, stride + 25, end - 1,
                                 end, end + ptrdiff_t{TestSurface::kGuardBytes} - 1}) {
            TestSurface surface(7, 4, pitch);
            surface.At(0, pitch > 0 ? 0 : 3)[offset] ^= 0x40;
            EXPECT_FALSE(surface.GuardsIntact()) << pitch << " " << offset;
        }
    }
}

TEST(TestSurfaceLayout, SeededPicturesRepeat) {
    TestSurface a(9, 5), b(9, 5, -40), c(9, 5);
    a.FillRandom(11);
    b.FillRandom(11);
    c.FillRandom(12);
    EXPECT_EQ(a.Snapshot(), b.Snapshot());
    EXPECT_NE(a.Snapshot(), c.Snapshot());
    EXPECT_TRUE(a.RectEquals(2, 1, b, 2, 1, 7, 4));
    EXPECT_FALSE(a.RectEquals(0, 0, c, 0, 0, 9, 5));
    EXPECT_FALSE(a.RectEquals(3, 0, b, 3, 0, 7, 1));  // reaches outside
}

class Components : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        pixmill = static_cast<PixmillApi*>(host->Factory(Component::Pixmill)(&veilshift::kPixmillGuid));
        ASSERT_NE(pixmill, nullptr);
        src = &host->AddSurface(1, 8, 6, -30);
        dst = &host->AddSurface(2, 12, 9, 40);
        src->FillRandom(3);
        dst->FillRandom(4);
        host->ClearCalls();
    }
    PixmillApi* pixmill = nullptr;
    TestSurface* src = nullptr;
    TestSurface* dst = nullptr;
};

TEST_F(Components, FactoriesAnswerOnlyTheirGuids) {
    struct Known {
        Component component;
        veilshift::Guid guid;
    };
    for (Known k : {Known{Component::Corvane, veilshift::kCorvaneGuid},
                    Known{Component::Platewright, veilshift::kPlatewrightGuid},
                    Known{Component::Pixmill, veilshift::kPixmillGuid}}) {
        EXPECT_NE(host->Factory(k.component)(&k.guid), nullptr);
        veilshift::Guid other = k.guid;
        other.data4[7] ^= 1;
        EXPECT_EQ(host->Factory(k.component)(&other), nullptr);
        Control(k.component).factoryAnswersNull = true;
        EXPECT_EQ(host->Factory(k.component)(&k.guid), nullptr);
    }
    Control(Component::Corvane).factoryAnswersNull = false;
    auto* system = static_cast<veilshift::SystemApi*>(host->Factory(Component::Corvane)(&veilshift::kCorvaneGuid));
    auto* timer = static_cast<veilshift::TimerApi*>(system->LookupInterface(&veilshift::kTimerApiId));
    ASSERT_NE(timer, nullptr);
    Control(Component::Corvane).time = 0xDEADBEEF;
    EXPECT_EQ(timer->GetTime(), 0xDEADBEEFu);
    EXPECT_EQ(system->LookupInterface(&veilshift::kCorvaneGuid), nullptr);
}

TEST_F(Components, WorkSurfacesCountAndReleaseThemselves) {
    auto* plates = static_cast<veilshift::PlatewrightApi*>(
        host->Factory(Component::Platewright)(&veilshift::kPlatewrightGuid));
    HostSurface* made = plates->CreateSurface(5, 3, 24);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Width(), 5);
    EXPECT_EQ(made->Pitch(), 15);
    made->Release();
    EXPECT_EQ(Control(Component::Platewright).surfacesCreated, 1);
    EXPECT_EQ(Control(Component::Platewright).surfacesReleased, 1);
    Control(Component::Platewright).createSurfaceFails = true;
    EXPECT_EQ(plates->CreateSurface(5, 3, 24), nullptr);
    EXPECT_EQ(host->Violations(), 0);
    Control(Component::Platewright).createSurfaceFails = false;
    EXPECT_EQ(plates->CreateSurface(5, 3, 32), nullptr);
    EXPECT_EQ(plates->CreateSurface(0, 3, 24), nullptr);
    EXPECT_EQ(host->Violations(), 2);
    host->Surface(1)->Release();  // not the plug-in's to give back
    EXPECT_EQ(host->Violations(), 3);
    host.reset();
}

TEST_F(Components, CopyIsExactAndLoggedOnce) {
    pixmill->Copy(dst, 3, 2, src, 1, 1, 6, 5);
    EXPECT_TRUE(dst->RectEquals(3, 2, *src, 1, 1, 6, 5));
    ASSERT_EQ(host->Ops(), std::vector<HostOp>{HostOp::Copy});  // its own surface calls are not logged
    EXPECT_EQ(Args(host->Calls()[0]), (std::vector<int32_t>{3, 2, 1, 1, 6, 5}));
    EXPECT_EQ(host->Calls()[0].dst, dst);
    EXPECT_EQ(host->Calls()[0].src, src);
}

TEST_F(Components, CopyAxisXSqueezesTowardTheVerticalCentre) {
    const Rgb black{0, 0, 0};
    std::vector<uint8_t> before = dst->Snapshot();
    pixmill->CopyAxisX(dst, 2, 1, src, 0, 0, 8, 6, 0);
    EXPECT_TRUE(dst->RectEquals(2, 1, *src, 0, 0, 8, 6));
    // amount 2 of width 8: columns 2..5 show source columns 1, 3, 5, 7.
    pixmill->CopyAxisX(dst, 2, 1, src, 0, 0, 8, 6, 2);
    for (int32_t y = 0; y < 6; ++y) {
        for (int32_t x : {0, 1, 6, 7}) EXPECT_EQ(dst->GetPixel(2 + x, 1 + y), black);
        for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(dst->GetPixel(4 + i, 1 + y), src->GetPixel(2 * i + 1, y));
    }
    pixmill->CopyAxisX(dst, 2, 1, src, 0, 0, 8, 6, 4);  // nothing left between the bars
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(dst->GetPixel(2 + x, 1 + y), black);
    EXPECT_TRUE(UnchangedOutside(*dst, before, 2, 1, 8, 6));
    EXPECT_EQ(host->Violations(), 0);
}

TEST_F(Components, CopyAxisYSqueezesTowardTheHorizontalCentre) {
    const Rgb black{0, 0, 0};
    std::vector<uint8_t> before = dst->Snapshot();
    // amount 1 of height 5: rows 1..3 show source rows 0, 2, 4.
    pixmill->CopyAxisY(dst, 0, 4, src, 1, 1, 7, 5, 1);
    for (int32_t x = 0; x < 7; ++x) {
        EXPECT_EQ(dst->GetPixel(x, 4), black);
        EXPECT_EQ(dst->GetPixel(x, 8), black);
        for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(dst->GetPixel(x, 5 + i), src->GetPixel(1 + x, 1 + 2 * i));
    }
    pixmill->CopyAxisY(dst, 0, 4, src, 1, 1, 7, 5, 2);  // odd height: the middle row stays
    for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(dst->GetPixel(x, 6), src->GetPixel(1 + x, 3));
    EXPECT_TRUE(UnchangedOutside(*dst, before, 0, 4, 7, 5));
    EXPECT_EQ(host->Violations(), 0);
}

TEST_F(Components, OutOfContractRequestsAreCountedAndContained) {
    std::vector<uint8_t> before = dst->Snapshot();
    pixmill->Copy(dst, 8, 0, src, 0, 0, 5, 2);  // reaches past the destination
    pixmill->CopyAxisX(dst, 0, 0, src, 4, 0, 5, 2, 1);  // past the source
    pixmill->Copy(dst, 0, 0, src, 0, 0, 0, 2);
    EXPECT_EQ(dst->Snapshot(), before);
    EXPECT_EQ(host->Violations(), 3);
    pixmill->CopyAxisX(dst, 0, 0, src, 0, 0, 8, 6, 5);  // amount clamped to 4: all black
    pixmill->CopyAxisY(dst, 0, 0, src, 0, 0, 8, 6, INT32_MIN);  // clamped to 0: a plain copy
    EXPECT_TRUE(dst->RectEquals(0, 0, *src, 0, 0, 8, 6));
    EXPECT_EQ(host->Violations(), 5);
    host.reset();
}

}  // namespace
}  // namespace sessiontest
