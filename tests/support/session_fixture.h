// End-to-end sessions through the module's exports, driven by the reference host.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/message_capture.h"
#include "host/reference_host.h"

namespace sessiontest {

using refhost::Component;
using refhost::HostCall;
using refhost::HostOp;
using refhost::HostOptions;
using refhost::TestSurface;

// The effects the module implements.
inline constexpr int32_t kEveryEffect[] = {1, 6, 31, 34, 40, 41};

// Surface numbers of the usual stage.
inline constexpr int32_t kDst = 1;
inline constexpr int32_t kSrcA = 2;
inline constexpr int32_t kSrcB = 3;

// The Begin arguments, in the export's order.
struct Request {
    int32_t dst = kDst, dx = 0, dy = 0;
    int32_t srcA = kSrcA, ax = 0, ay = 0;
    int32_t srcB = kSrcB, bx = 0, by = 0;
    int32_t width = 100, height = 50;
    int32_t effect = 1;
};

struct BeginResult {
    bool started = false;
    std::vector<refhost::ShownMessage> messages;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { StartHost(); }
    void TearDown() override { ExpectClean(); }

    // A fresh host and module; the old host (and its module) goes first.
    void StartHost(const HostOptions& options = {}) {
        host.reset();
        host = std::make_unique<refhost::Host>(options);
    }

    // Destination, source A and source B with three different pitches (A
    // padded, B bottom-up and padded) and different random pictures.
    void AddStage(int32_t width = 640, int32_t height = 480) {
        host->AddSurface(kDst, width, height).FillRandom(1);
        host->AddSurface(kSrcA, width, height, width * 3 + 20).FillRandom(2);
        host->AddSurface(kSrcB, width, height, -(width * 3 + 8)).FillRandom(3);
    }

    // Surfaces of different sizes around a rectangle of at most width x height
    // at the destination's corner: the destination with one byte of padding, A
    // larger and padded, B taller, bottom-up and padded; pictures from seed,
    // seed + 1 and seed + 2.
    void AddUnevenStage(int32_t width, int32_t height, uint32_t seed) {
        host->AddSurface(kDst, width, height, width * 3 + 1).FillRandom(seed);
        host->AddSurface(kSrcA, width + 6, height + 3, (width + 6) * 3 + 20).FillRandom(seed + 1);
        host->AddSurface(kSrcB, width + 2, height + 9, -((width + 2) * 3 + 8)).FillRandom(seed + 2);
    }

    TestSurface& Dst() { return *host->Surface(kDst); }
    TestSurface& SrcA() { return *host->Surface(kSrcA); }
    TestSurface& SrcB() { return *host->Surface(kSrcB); }

    // Begin with any message box caught.
    BeginResult CatchBegin(const Request& r) {
        refhost::MessageCapture capture(*host);
        BeginResult result;
        result.started = host->Begin(r.dst, r.dx, r.dy, r.srcA, r.ax, r.ay, r.srcB, r.bx, r.by, r.width, r.height,
                                     r.effect);
        result.messages = capture.Finish();
        return result;
    }

    // Guard bytes of every surface and the components' contract checks.
    void ExpectClean() {
        if (!host) return;
        EXPECT_TRUE(host->SurfacesIntact());
        EXPECT_EQ(host->Violations(), 0);
    }

    int32_t Count(HostOp op) const { return static_cast<int32_t>(host->CallsOf(op).size()); }
    refhost::ComponentControl& Control(Component c) { return *host->Control(c); }

    std::unique_ptr<refhost::Host> host;
};

// Every pixel outside the rectangle still holds what `before` (a Snapshot) held.
inline ::testing::AssertionResult UnchangedOutside(const TestSurface& surface, const std::vector<uint8_t>& before,
                                                   int32_t x, int32_t y, int32_t width, int32_t height) {
    std::vector<uint8_t> now = surface.Snapshot();
    const int32_t w = surface.PixelWidth();
    for (int32_t py = 0; py < surface.PixelHeight(); ++py)
        for (int32_t px = 0; px < w; ++px) {
            if (px >= x && px < x + width && py >= y && py < y + height) continue;
            size_t i = (static_cast<size_t>(py) * w + px) * 3;
            if (now[i] != before[i] || now[i + 1] != before[i + 1] || now[i + 2] != before[i + 2])
                return ::testing::AssertionFailure() << "pixel (" << px << ", " << py << ") changed";
        }
    return ::testing::AssertionSuccess();
}

inline std::vector<int32_t> Args(const HostCall& call) { return {call.args, call.args + call.argCount}; }

}  // namespace sessiontest

// Begins a session; skips the test while the module has no handler for the
// effect (Begin then shows the "not implemented" box).
#define BEGIN_OR_SKIP(...)                                                                  \
    do {                                                                                    \
        const ::sessiontest::Request request_ = __VA_ARGS__;                                \
        ::sessiontest::BeginResult begun_ = CatchBegin(request_);                           \
        if (!begun_.started && begun_.messages.size() == 1)                                 \
            GTEST_SKIP() << "effect " << request_.effect << " has no handler yet";          \
        ASSERT_TRUE(begun_.started) << "effect " << request_.effect;                        \
        ASSERT_TRUE(begun_.messages.empty());                                               \
    } while (0)
