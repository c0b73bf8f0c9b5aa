// The unit tests' host surface: 24-bit pixels with guard bytes around them and
// padding after every row, which records the calls made on it. The reference
// host's surfaces (host/test_surface.h) serve the tests that go through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

#include "Veilshift/host_interfaces.h"

namespace veilshift::test {

// One host call as the code under test made it, in the order of all calls on
// all surfaces sharing one log.
struct SurfaceCall {
    const void* surface;
    char what;  // 'A': PixelAddress, 'P': Pitch, 'W': Width, 'H': Height, 'R': Release
    int32_t x;
    int32_t y;
    bool operator==(const SurfaceCall&) const = default;
};

inline void PrintTo(const SurfaceCall& call, std::ostream* os) {
    *os << call.surface << ' ' << call.what << '(' << call.x << ", " << call.y << ')';
}

class GuardedSurface final : public HostSurface {
public:
    static constexpr int32_t kGuardBytes = 96;
    static constexpr uint8_t kGuardByte = 0xA7;

    // Rows of width * 3 bytes plus `padding` bytes; a bottom-up surface has a
    // negative pitch (row 0 last in memory).
    GuardedSurface(int32_t width, int32_t height, int32_t padding = 5, bool bottomUp = false)
        : width_(width), height_(height), stride_(width * 3 + padding), bottomUp_(bottomUp),
          storage_(static_cast<size_t>(2 * kGuardBytes + stride_ * height), kGuardByte) {}

    void VS_THISCALL Release() override { Log('R', 0, 0); }
    uint8_t* VS_THISCALL PixelAddress(int32_t x, int32_t y) override {
        Log('A', x, y);
        return RowStart(y) + x * 3;
    }
    int32_t VS_THISCALL Width() override {
        Log('W', 0, 0);
        return width_;
    }
    int32_t VS_THISCALL Height() override {
        Log('H', 0, 0);
        return height_;
    }
    int32_t VS_THISCALL Pitch() override {
        Log('P', 0, 0);
        return bottomUp_ ? -stride_ : stride_;
    }

    uint8_t* Pixel(int32_t x, int32_t y) { return RowStart(y) + x * 3; }
    void SetPixel(int32_t x, int32_t y, uint8_t b0, uint8_t b1, uint8_t b2) {
        uint8_t* p = Pixel(x, y);
        p[0] = b0;
        p[1] = b1;
        p[2] = b2;
    }
    void Fill(uint8_t b0, uint8_t b1, uint8_t b2) {
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) SetPixel(x, y, b0, b1, b2);
    }
    // Guard bytes before and after the pixels and every row's padding unchanged.
    bool GuardsIntact() const {
        for (int32_t i = 0; i < kGuardBytes; ++i) {
            if (storage_[i] != kGuardByte || storage_[storage_.size() - 1 - i] != kGuardByte) return false;
        }
        for (int32_t row = 0; row < height_; ++row) {
            const size_t start = static_cast<size_t>(kGuardBytes + row * stride_ + width_ * 3);
            for (int32_t i = 0; i < stride_ - width_ * 3; ++i)
                if (storage_[start + static_cast<size_t>(i)] != kGuardByte) return false;
        }
        return true;
    }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // All pixels, row by row, without padding.
    std::vector<uint8_t> Pixels() {
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < height_; ++y) out.insert(out.end(), Pixel(0, y), Pixel(0, y) + width_ * 3);
        return out;
    }

    std::vector<SurfaceCall>* log = nullptr;

private:
    uint8_t* RowStart(int32_t y) {
        const int32_t physical = bottomUp_ ? height_ - 1 - y : y;
        return storage_.data() + kGuardBytes + static_cast<ptrdiff_t>(physical) * stride_;
    }
    void Log(char what, int32_t x, int32_t y) {
        if (log != nullptr) log->push_back({this, what, x, y});
    }

    int32_t width_;
    int32_t height_;
    int32_t stride_;
    bool bottomUp_;
    std::vector<uint8_t> storage_;
};

}  // namespace veilshift::test
