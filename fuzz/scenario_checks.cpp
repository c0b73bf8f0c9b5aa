#include "fuzz/scenario_checks.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace robustness {

using refhost::TestSurface;

bool IntersectAxis(int64_t d, int64_t a, int64_t b, int64_t size, int64_t dExtent, int64_t aExtent, int64_t bExtent,
                   int32_t& outD, int32_t& outA, int32_t& outB, int32_t& outSize) {
    const int64_t aOffset = a - d, bOffset = b - d;
    const int64_t start = std::max({d, int64_t{0}, -aOffset, -bOffset});
    const int64_t end = std::min({d + size, dExtent, aExtent - aOffset, bExtent - bOffset});
    if (end - start <= 0) return false;
    outD = static_cast<int32_t>(start);
    outA = static_cast<int32_t>(start + aOffset);
    outB = static_cast<int32_t>(start + bOffset);
    outSize = static_cast<int32_t>(end - start);
    return true;
}

namespace {

// The first byte at which two blocks differ, or `size`. A loop of its own:
// memcmp is intercepted by the sanitizers, and the fuzzer traces every call.
// Words are read one at a time, as plain loads (a longer memcpy becomes a
// call under AddressSanitizer), and unchecked: the loop reads only the ranges
// its callers were given, which lie inside a surface's block and the block
// it is compared with, and the sanitizers' checks of every word made it a
// seventh of the fuzzer's time. The copies that refresh those blocks stay
// checked.
#if defined(__clang__) || defined(__GNUC__)
#define VS_UNCHECKED_LOADS __attribute__((no_sanitize("address", "undefined")))
#else
#define VS_UNCHECKED_LOADS
#endif

VS_UNCHECKED_LOADS inline uint64_t Word(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

VS_UNCHECKED_LOADS size_t FirstDifference(const uint8_t* a, const uint8_t* b, size_t size) {
    size_t i = 0;
    for (; i + 32 <= size; i += 32)
        if (((Word(a + i) ^ Word(b + i)) | (Word(a + i + 8) ^ Word(b + i + 8)) | (Word(a + i + 16) ^ Word(b + i + 16)) |
             (Word(a + i + 24) ^ Word(b + i + 24))) != 0)
            break;
    for (; i < size; ++i)
        if (a[i] != b[i]) return i;
    return size;
}

// Pictures are cut from one block of noise, made once: every row from its own
// place in it (by the surface's seed and the row), so that rows hardly ever
// agree and a copy from a wrong row or surface shows. Equal seeds give equal
// pictures.
constexpr size_t kNoisePlaces = size_t{1} << 16;
const uint8_t* Noise() {
    static const std::vector<uint8_t> noise = [] {
        std::vector<uint8_t> bytes(kNoisePlaces + 2048 * 3);
        uint64_t state = 0x9E3779B97F4A7C15u;
        for (uint8_t& byte : bytes) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<uint8_t>(state >> 32);
        }
        return bytes;
    }();
    return noise.data();
}

void Fill(TestSurface& surface, uint8_t seed) {
    const size_t row = static_cast<size_t>(surface.PixelWidth()) * 3;
    for (int32_t y = 0; y < surface.PixelHeight(); ++y) {
        uint32_t h = (uint32_t{seed} + 1) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u;
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 12;
        std::memcpy(surface.At(0, y), Noise() + h % kNoisePlaces, row);
    }
}

// Blocks this small are compared whole after every call, sampled or not.
constexpr size_t kWholeBelow = 1024;
// Rows of every surface compared after each call, besides the guards and the
// rows around a drawn rectangle.
constexpr int kSampledRows = 2;

}  // namespace

void Stage::Add(const SurfaceShape& shape) {
    static std::vector<uint8_t> buffers[3];
    TestSurface& surface = host_->AddSurface(shape.number, shape.width, shape.height, shape.pitch);
    Fill(surface, shape.seed);
    Image image;
    image.shape = shape;
    image.surface = &surface;
    image.bottomUp = surface.RowPitch() < 0;
    image.stride = static_cast<size_t>(image.bottomUp ? -int64_t{surface.RowPitch()} : surface.RowPitch());
    image.rowBytes = static_cast<size_t>(shape.width) * 3;
    image.size = image.stride * static_cast<size_t>(shape.height) + 2 * kGuard;
    image.block = surface.At(0, image.bottomUp ? shape.height - 1 : 0) - kGuard;
    image.expected = &buffers[images_.size() % 3];
    image.expected->assign(image.block, image.block + image.size);
    images_.push_back(image);
    surfaces.push_back(shape);
}

void Stage::RemoveAll() {
    for (const Image& image : images_) host_->RemoveSurface(image.shape.number);
    images_.clear();
}

std::string Stage::Compare(bool everyByte, int32_t drawn, const Clip* allowed) {
    for (Image& image : images_) {
        const Clip* mine = allowed != nullptr && image.shape.number == drawn ? allowed : nullptr;
        std::string failure = everyByte || image.size < kWholeBelow ? CompareWhole(image, mine)
                                                                    : CompareSample(image, mine);
        if (!failure.empty()) return failure;
    }
    return {};
}

std::string Stage::CompareWhole(Image& image, const Clip* allowed) {
    if (std::string failure = CompareBytes(image, 0, kGuard); !failure.empty()) return failure;
    for (int32_t y = 0; y < image.shape.height; ++y)
        if (std::string failure = CompareRow(image, y, allowed); !failure.empty()) return failure;
    return CompareBytes(image, image.size - kGuard, image.size);
}

std::string Stage::CompareSample(Image& image, const Clip* allowed) {
    if (std::string failure = CompareBytes(image, 0, kGuard); !failure.empty()) return failure;
    if (std::string failure = CompareBytes(image, image.size - kGuard, image.size); !failure.empty())
        return failure;
    if (allowed != nullptr) {
        // The rectangle's rows (which become what is expected) and one more on either side.
        const int32_t from = std::max(allowed->dy - 1, 0);
        const int32_t to = std::min(allowed->dy + allowed->height, image.shape.height - 1);
        for (int32_t y = from; y <= to; ++y)
            if (std::string failure = CompareRow(image, y, allowed); !failure.empty()) return failure;
    }
    for (int i = 0; i < kSampledRows; ++i) {
        sample_ = sample_ * 6364136223846793005u + 1442695040888963407u;
        const int32_t y = static_cast<int32_t>((sample_ >> 33) % static_cast<uint64_t>(image.shape.height));
        if (std::string failure = CompareRow(image, y, allowed); !failure.empty()) return failure;
    }
    return {};
}

// Row y with its padding; the part inside `allowed` is taken as it is.
std::string Stage::CompareRow(Image& image, int32_t y, const Clip* allowed) {
    const size_t row = image.RowOffset(y);
    if (allowed == nullptr || y < allowed->dy || y - allowed->dy >= allowed->height)
        return CompareBytes(image, row, row + image.stride);
    const size_t from = row + static_cast<size_t>(allowed->dx) * 3;
    const size_t to = from + static_cast<size_t>(allowed->width) * 3;
    if (std::string failure = CompareBytes(image, row, from); !failure.empty()) return failure;
    if (std::string failure = CompareBytes(image, to, row + image.stride); !failure.empty()) return failure;
    std::memcpy(image.expected->data() + from, image.block + from, to - from);
    return {};
}

std::string Stage::CompareBytes(const Image& image, size_t from, size_t to) const {
    const size_t at = from + FirstDifference(image.block + from, image.expected->data() + from, to - from);
    if (at == to) return {};
    std::ostringstream out;
    const bool guard = at < kGuard || at >= image.size - kGuard || (at - kGuard) % image.stride >= image.rowBytes;
    if (guard) {
        out << "guard bytes around surface " << image.shape.number << " changed (byte " << at << ")";
    } else {
        const size_t memoryRow = (at - kGuard) / image.stride;
        const size_t y = image.bottomUp ? static_cast<size_t>(image.shape.height) - 1 - memoryRow : memoryRow;
        out << "pixel (" << (at - kGuard) % image.stride / 3 << ", " << y << ") of surface " << image.shape.number
            << " changed outside the destination rectangle";
    }
    return out.str();
}

}  // namespace robustness
