// What a scenario holds the module to: the part of the rectangle a started
// transition may draw (worked out independently of the module's own clip),
// and every byte of the surfaces' blocks (guards, rows and padding) against
// what it should hold, whole or sampled after each call.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/scenario_format.h"
#include "host/reference_host.h"

namespace robustness {

// The part of the requested rectangle inside all three surfaces, the corners
// keeping their offsets: worked out as an intersection in destination
// coordinates, independently of the module's step-by-step clip.
struct Clip {
    bool ok = false;
    int32_t dx = 0, dy = 0, ax = 0, ay = 0, bx = 0, by = 0, width = 0, height = 0;
};

// One axis of Clip: false when nothing of it lies inside all three extents.
bool IntersectAxis(int64_t d, int64_t a, int64_t b, int64_t size, int64_t dExtent, int64_t aExtent, int64_t bExtent,
                   int32_t& outD, int32_t& outA, int32_t& outB, int32_t& outSize);

inline constexpr int32_t kNoSurface = INT32_MIN;
inline constexpr size_t kGuard = refhost::TestSurface::kGuardBytes;

// A surface as the checks see it: its whole block (the guard before, the rows
// with their padding, the guard after: test_surface.h) and what the block
// should hold, kept in buffers that outlive the scenario so that the next one
// reuses them.
struct Image {
    SurfaceShape shape{};
    refhost::TestSurface* surface = nullptr;
    const uint8_t* block = nullptr;
    size_t stride = 0, rowBytes = 0, size = 0;
    bool bottomUp = false;
    std::vector<uint8_t>* expected = nullptr;

    size_t RowOffset(int32_t y) const {
        return kGuard + static_cast<size_t>(bottomUp ? shape.height - 1 - y : y) * stride;
    }
};

// The scenario's surfaces on the host, each with what its block should hold.
class Stage {
public:
    std::vector<SurfaceShape> surfaces;

    void Attach(refhost::Host& host) { host_ = &host; }
    refhost::TestSurface* Find(int32_t number) const { return host_->Surface(number); }
    // A surface made on the host and filled with its picture.
    void Add(const SurfaceShape& shape);
    void RemoveAll();
    // Every byte of every block as expected, apart from the pixels of
    // `allowed` on surface `drawn`, which become what is expected from now on;
    // with `everyByte` false only the sample (see Checks).
    std::string Compare(bool everyByte, int32_t drawn, const Clip* allowed);

private:
    std::string CompareWhole(Image& image, const Clip* allowed);
    std::string CompareSample(Image& image, const Clip* allowed);
    std::string CompareRow(Image& image, int32_t y, const Clip* allowed);
    std::string CompareBytes(const Image& image, size_t from, size_t to) const;

    refhost::Host* host_ = nullptr;
    std::vector<Image> images_;
    uint64_t sample_ = 0;
};

}  // namespace robustness
