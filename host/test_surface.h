// A 24-bit host surface with fenced memory, for the reference host and its
// Platewright component.
//
// Layout: kGuardBytes of a known pattern, then |pitch| * height bytes of rows,
// then kGuardBytes more. A positive pitch stores row 0 first; a negative pitch
// stores it last (bottom-up). Row padding (|pitch| - width * 3 bytes) carries the
// same pattern, so any byte written outside the pixels shows in GuardsIntact().
//
// The HostSurface operations are what the plug-in calls and are logged; the
// other members are the test's own view of the memory and are not.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Veilshift/host_interfaces.h"
#include "host/component_control.h"

namespace refhost {

using Rgb = std::array<uint8_t, 3>;

class TestSurface final : public veilshift::HostSurface {
public:
    static constexpr size_t kGuardBytes = 128;

    // pitch 0 packs the rows (width * 3); otherwise |pitch| >= width * 3 and a
    // negative pitch makes the surface bottom-up. Throws std::invalid_argument
    // for impossible sizes. `owner` is set for Platewright's work surfaces: their
    // Release deletes them and counts there.
    TestSurface(int32_t width, int32_t height, int32_t pitch = 0, CallLog* log = nullptr,
                ComponentControl* owner = nullptr);
    ~TestSurface();
    TestSurface(const TestSurface&) = delete;
    TestSurface& operator=(const TestSurface&) = delete;

    // Fault: PixelAddress answers null (the call is still logged), as for a
    // surface the engine cannot reach. Set by the test; not reset by the surface.
    void SetAddressFails(bool fails) { addressFails_ = fails; }
    // Where the HostSurface operations are logged from now on (null: nowhere).
    void SetLog(CallLog* log) { log_ = log; }

    // HostSurface, logged.
    void VS_THISCALL Release() override;
    uint8_t* VS_THISCALL PixelAddress(int32_t x, int32_t y) override;
    int32_t VS_THISCALL Width() override;
    int32_t VS_THISCALL Height() override;
    int32_t VS_THISCALL Pitch() override;

    // The test's view, not logged.
    int32_t PixelWidth() const { return width_; }
    int32_t PixelHeight() const { return height_; }
    int32_t RowPitch() const { return pitch_; }
    bool Contains(int32_t x, int32_t y, int32_t width, int32_t height) const;
    uint8_t* At(int32_t x, int32_t y);              // null outside the surface
    const uint8_t* At(int32_t x, int32_t y) const;
    Rgb GetPixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, Rgb value);
    void Fill(Rgb value);
    void FillRandom(uint32_t seed);                 // the same seed gives the same picture
    bool GuardsIntact() const;
    // The picture, rows top to bottom, width * 3 bytes each, no padding.
    std::vector<uint8_t> Snapshot() const;
    // The width x height rectangle at (x, y) equals `other`'s at (ox, oy).
    bool RectEquals(int32_t x, int32_t y, const TestSurface& other, int32_t ox, int32_t oy, int32_t width,
                    int32_t height) const;

private:
    int32_t width_;
    int32_t height_;
    int32_t pitch_;
    size_t stride_;     // |pitch_|
    size_t size_;       // the whole allocation, guards included
    uint8_t* storage_;
    CallLog* log_;
    ComponentControl* owner_;
    bool addressFails_ = false;
};

}  // namespace refhost
