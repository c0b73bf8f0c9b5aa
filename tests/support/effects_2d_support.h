// Shared by the mosaic, ripple and axis crossfade tests: a stage of three
// fenced surfaces with different pitches, a per-byte model of the MulTable mix,
// and whole-surface comparison against an expected picture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Veilshift/module_state.h"
#include "host/test_surface.h"
#include "call_recorder.h"
#include "processor_forms.h"

namespace refhost {
class Host;
}

namespace effects2d {

using refhost::CallLog;
using refhost::HostCall;
using refhost::HostOp;
using refhost::Rgb;
using refhost::TestSurface;
using veilshift::test::AvailableForms;
using veilshift::test::AvailableFormsAndGathers;
using veilshift::test::CallRecorder;
using veilshift::test::ProcessorForm;

// floor(a * (255 - alpha) / 255) + floor(b * alpha / 255), straight from the
// definition of the blend table.
inline uint8_t MixModel(int a, int b, int alpha) {
    return static_cast<uint8_t>(a * (255 - alpha) / 255 + b * alpha / 255);
}

// The blend table of the test process, for kernels called directly.
class MulTableScope {
public:
    MulTableScope() { built_ = veilshift::BuildMulTable(); }
    ~MulTableScope() { veilshift::ReleaseMulTable(); }
    bool Built() const { return built_; }

private:
    bool built_;
};

// A transition rectangle on three surfaces.
struct Rect {
    int32_t dx, dy, ax, ay, bx, by, width, height;
};

// Destination packed or padded, source A padded, source B bottom-up and padded:
// three different pitches, each surface a little larger than the rectangle
// so that offsets and untouched margins exist on every side.
struct Stage {
    Stage(const Rect& r, uint32_t seed, CallLog* log = nullptr)
        : rect(r),
          dst(std::make_unique<TestSurface>(r.dx + r.width + 3, r.dy + r.height + 2, (r.dx + r.width + 3) * 3 + 5,
                                            log)),
          srcA(std::make_unique<TestSurface>(r.ax + r.width + 1, r.ay + r.height + 4,
                                             (r.ax + r.width + 1) * 3 + 12, log)),
          srcB(std::make_unique<TestSurface>(r.bx + r.width + 2, r.by + r.height + 1,
                                             -((r.bx + r.width + 2) * 3 + 7), log)) {
        dst->FillRandom(seed * 3 + 1);
        srcA->FillRandom(seed * 3 + 2);
        srcB->FillRandom(seed * 3 + 3);
    }

    bool GuardsIntact() const { return dst->GuardsIntact() && srcA->GuardsIntact() && srcB->GuardsIntact(); }

    Rect rect;
    std::unique_ptr<TestSurface> dst, srcA, srcB;
};

// The destination's expected picture: what it held, with every rectangle pixel
// for which `model` answers true replaced by the colour it gives.
using PixelModel = std::function<bool(int32_t x, int32_t y, Rgb& colour)>;

inline std::vector<uint8_t> ExpectedPicture(const TestSurface& surface, const std::vector<uint8_t>& before,
                                            int32_t rx, int32_t ry, int32_t width, int32_t height,
                                            const PixelModel& model) {
    std::vector<uint8_t> expected = before;
    const size_t w = static_cast<size_t>(surface.PixelWidth());
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            Rgb colour;
            if (!model(x, y, colour)) continue;
            const size_t i = ((static_cast<size_t>(ry + y)) * w + static_cast<size_t>(rx + x)) * 3;
            expected[i] = colour[0];
            expected[i + 1] = colour[1];
            expected[i + 2] = colour[2];
        }
    return expected;
}

// Whole pictures, reporting the first pixel that differs.
inline ::testing::AssertionResult SamePicture(const TestSurface& surface, const std::vector<uint8_t>& expected) {
    const std::vector<uint8_t> now = surface.Snapshot();
    if (now.size() != expected.size()) return ::testing::AssertionFailure() << "size differs";
    const size_t w = static_cast<size_t>(surface.PixelWidth());
    for (size_t i = 0; i < now.size(); ++i)
        if (now[i] != expected[i])
            return ::testing::AssertionFailure()
                   << "pixel (" << (i / 3) % w << ", " << (i / 3) / w << ") byte " << i % 3 << ": "
                   << int{now[i]} << " instead of " << int{expected[i]};
    return ::testing::AssertionSuccess();
}

// A session's frame as each effect's tests model it: the destination (surface
// 1) after frame `progress` of `total` into rectangle r, from sources A and B
// (surfaces 2 and 3) as the host holds them now.
using SessionFrameModel = std::vector<uint8_t> (*)(refhost::Host& host, const Rect& r, int32_t progress,
                                                   int32_t total);
std::vector<uint8_t> MosaicSessionFrame(refhost::Host& host, const Rect& r, int32_t progress, int32_t total);
std::vector<uint8_t> RippleSessionFrame(refhost::Host& host, const Rect& r, int32_t progress, int32_t total);

inline std::vector<int32_t> CallArgs(const HostCall& call) { return {call.args, call.args + call.argCount}; }

// FNV-1a over 32-bit values: one number that pins whole tables across builds.
inline uint32_t Fingerprint(uint32_t hash, const std::vector<int32_t>& values) {
    for (int32_t v : values)
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (static_cast<uint32_t>(v) >> shift) & 0xFFu;
            hash *= 16777619u;
        }
    return hash;
}

}  // namespace effects2d
