// Scenarios (scenario.h) from a seed, for runs without a fuzzer: the stream
// of a seed is always the same, on every build.
//
// Most are sessions built call by call with ScenarioWriter: one to three
// surfaces of the decoder's sizes (mostly small, some of telling shapes,
// rarely large), every pitch form, Begin with rectangles around and across
// them, every effect and a few others, runs of frames, single frames with
// edge values, End, the interfaces given and withdrawn, component faults.
// The rest are plain random bytes, which the decoder turns into its edge values.
#pragma once

#include <cstdint>
#include <vector>

namespace robustness {

class ScenarioGenerator {
public:
    explicit ScenarioGenerator(uint64_t seed) : state_(seed) {}
    std::vector<uint8_t> Next();

private:
    uint64_t Random();
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Random() % bound); }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    enum class Fit { kFits, kNearly, kAnything };
    int32_t Side();
    int32_t Coordinate(Fit fit, int32_t places);
    int32_t Size(Fit fit, int32_t extent);
    std::vector<uint8_t> Session();
    std::vector<uint8_t> RandomBytes();

    uint64_t state_;
};

}  // namespace robustness
