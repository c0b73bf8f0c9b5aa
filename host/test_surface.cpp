#include "host/test_surface.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace refhost {
namespace {

// Byte i of every allocation, wherever no pixel lives: varied enough that a
// stray copy of neighbouring memory does not reproduce it by chance.
uint8_t GuardByte(size_t i) {
    uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
    return static_cast<uint8_t>((h >> 24) ^ (h >> 11) ^ 0xA7);
}

HostCall SurfaceCall(HostOp op, const void* target, int32_t argCount = 0, int32_t a0 = 0, int32_t a1 = 0) {
    HostCall call{};
    call.op = op;
    call.target = target;
    call.argCount = argCount;
    call.args[0] = a0;
    call.args[1] = a1;
    return call;
}

}  // namespace

TestSurface::TestSurface(int32_t width, int32_t height, int32_t pitch, CallLog* log, ComponentControl* owner)
    : width_(width), height_(height), log_(log), owner_(owner) {
    constexpr int64_t kMaxBytes = int64_t{1} << 30;
    if (width < 1 || height < 1 || width > kMaxBytes / 3) throw std::invalid_argument("surface size");
    int64_t rowBytes = int64_t{width} * 3;
    int64_t stride = pitch == 0 ? rowBytes : (pitch < 0 ? -int64_t{pitch} : int64_t{pitch});
    if (stride < rowBytes || stride * height > kMaxBytes) throw std::invalid_argument("surface pitch");
    pitch_ = pitch == 0 ? static_cast<int32_t>(rowBytes) : pitch;
    stride_ = static_cast<size_t>(stride);
    size_ = 2 * kGuardBytes + stride_ * static_cast<size_t>(height);
    storage_ = new uint8_t[size_];
    // The pattern wherever no pixel lives (guards and row padding), black pixels.
    const size_t pixelBytes = static_cast<size_t>(rowBytes);
    for (size_t i = 0; i < kGuardBytes; ++i) storage_[i] = GuardByte(i);
    for (size_t row = kGuardBytes; row < size_ - kGuardBytes; row += stride_) {
        std::memset(storage_ + row, 0, pixelBytes);
        for (size_t i = row + pixelBytes; i < row + stride_; ++i) storage_[i] = GuardByte(i);
    }
    for (size_t i = size_ - kGuardBytes; i < size_; ++i) storage_[i] = GuardByte(i);
}

TestSurface::~TestSurface() { delete[] storage_; }

void TestSurface::Release() {
    Record(log_, SurfaceCall(HostOp::Release, this));
    // Only the work surfaces Platewright made are the plug-in's to give back.
    if (owner_ == nullptr) {
        RecordViolation(log_);
        return;
    }
    if (!GuardsIntact()) RecordViolation(log_);
    ++owner_->surfacesReleased;
    delete this;
}

uint8_t* TestSurface::PixelAddress(int32_t x, int32_t y) {
    Record(log_, SurfaceCall(HostOp::PixelAddress, this, 2, x, y));
    uint8_t* address = At(x, y);
    if (address == nullptr) RecordViolation(log_);
    return addressFails_ ? nullptr : address;
}

int32_t TestSurface::Width() {
    Record(log_, SurfaceCall(HostOp::Width, this));
    return width_;
}

int32_t TestSurface::Height() {
    Record(log_, SurfaceCall(HostOp::Height, this));
    return height_;
}

int32_t TestSurface::Pitch() {
    Record(log_, SurfaceCall(HostOp::Pitch, this));
    return pitch_;
}

bool TestSurface::Contains(int32_t x, int32_t y, int32_t width, int32_t height) const {
    return width >= 1 && height >= 1 && x >= 0 && y >= 0 && int64_t{x} + width <= width_ &&
           int64_t{y} + height <= height_;
}

const uint8_t* TestSurface::At(int32_t x, int32_t y) const {
    if (!Contains(x, y, 1, 1)) return nullptr;
    size_t memoryRow = static_cast<size_t>(pitch_ > 0 ? y : height_ - 1 - y);
    return storage_ + kGuardBytes + memoryRow * stride_ + static_cast<size_t>(x) * 3;
}

uint8_t* TestSurface::At(int32_t x, int32_t y) {
    return const_cast<uint8_t*>(static_cast<const TestSurface*>(this)->At(x, y));
}

Rgb TestSurface::GetPixel(int32_t x, int32_t y) const {
    const uint8_t* p = At(x, y);
    if (p == nullptr) std::abort();
    return {p[0], p[1], p[2]};
}

void TestSurface::SetPixel(int32_t x, int32_t y, Rgb value) {
    uint8_t* p = At(x, y);
    if (p == nullptr) std::abort();
    std::memcpy(p, value.data(), 3);
}

void TestSurface::Fill(Rgb value) {
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* row = At(0, y);
        for (int32_t x = 0; x < width_; ++x) std::memcpy(row + 3 * x, value.data(), 3);
    }
}

void TestSurface::FillRandom(uint32_t seed) {
    uint32_t state = seed * 747796405u + 2891336453u;
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* row = At(0, y);
        for (int32_t i = 0; i < width_ * 3; ++i) {
            // xorshift32; a zero state would stick at zero
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            if (state == 0) state = 0x9E3779B9u;
            row[i] = static_cast<uint8_t>(state >> 24);
        }
    }
}

bool TestSurface::GuardsIntact() const {
    // Only the fenced bytes are visited: the two guards and each row's padding.
    auto intact = [this](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (storage_[i] != GuardByte(i)) return false;
        return true;
    };
    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    if (!intact(0, kGuardBytes) || !intact(size_ - kGuardBytes, size_)) return false;
    if (stride_ > rowBytes)
        for (size_t row = kGuardBytes; row < size_ - kGuardBytes; row += stride_)
            if (!intact(row + rowBytes, row + stride_)) return false;
    return true;
}

std::vector<uint8_t> TestSurface::Snapshot() const {
    std::vector<uint8_t> picture;
    picture.reserve(static_cast<size_t>(width_) * 3 * static_cast<size_t>(height_));
    for (int32_t y = 0; y < height_; ++y) picture.insert(picture.end(), At(0, y), At(0, y) + width_ * 3);
    return picture;
}

bool TestSurface::RectEquals(int32_t x, int32_t y, const TestSurface& other, int32_t ox, int32_t oy, int32_t width,
                             int32_t height) const {
    if (!Contains(x, y, width, height) || !other.Contains(ox, oy, width, height)) return false;
    for (int32_t j = 0; j < height; ++j)
        if (std::memcmp(At(x, y + j), other.At(ox, oy + j), static_cast<size_t>(width) * 3) != 0) return false;
    return true;
}

}  // namespace refhost
